// The instruction set of the 4GL stack machine and the ASSEMBLER CODE listing.
//
// Two ordered lists are the only source of the instruction set: the operand
// formats (ZEL_FORMATS, by format number) and the opcodes (ZEL_OPCODES, by
// opcode value). The enums, the tables `itab` and `operand_formats`, the
// mnemonics and every tool that reads or writes byte code take them from
// there.
#pragma once

#include <cstddef>
#include <cstdint>

struct STREAM;

// What an operand field designates.
enum class Operand : uint8_t {
    none,
    symbol,      // symbol number (format 1 of S_JSR_0, S_JSR_0P: a function number)
    function,    // function number
    global_fun,  // global function number
    dbl,         // double constant number
    string,      // string offset
    immediate,   // unsigned integer
    count,       // argument count
    jump_signed, // branch: distance from the field, signed
    jump_fwd,    // branch: distance forward from the field
    jump_back,   // branch: distance back from the field
    call_fwd,    // called function's SUB_TEXT: distance forward from the field
    call_back,   // called function's SUB_TEXT: distance back from the field
    frame_size,  // SUB_TEXT: length of the function
    frame_funnr, // SUB_TEXT: the function's number
    line,        // LINE: the source line
    line_file,   // LINE: string offset of the source file's name
};

// How an instruction of a format is laid out.
enum class Shape : uint8_t {
    plain,        // the opcode and up to two fields
    sub_link,     // function trailer: counts and symbol words
    switch_table, // kind-coded fields and entries
    no_layout,    // belongs to no valid instruction: the opcode alone
};

// The operand formats, by number: name, shape, then the fields in the order
// of their bytes, each as what it designates and its width.
#define ZEL_FORMATS(X)                                                                             \
    X(NO_OPERANDS, plain, none, 0, none, 0)                  /*  0 */                              \
    X(SYMBOL16, plain, symbol, 2, none, 0)                   /*  1 */                              \
    X(SYMBOL8, plain, symbol, 1, none, 0)                    /*  2 */                              \
    X(BRANCH16, plain, jump_signed, 2, none, 0)              /*  3 */                              \
    X(BRANCH_FWD8, plain, jump_fwd, 1, none, 0)              /*  4 */                              \
    X(BRANCH_BACK8, plain, jump_back, 1, none, 0)            /*  5 */                              \
    X(CALL_FWD16, plain, call_fwd, 2, none, 0)               /*  6 */                              \
    X(CALL_BACK16, plain, call_back, 2, none, 0)             /*  7 */                              \
    X(COUNT_CALL_FWD16, plain, count, 1, call_fwd, 2)        /*  8 */                              \
    X(COUNT_CALL_BACK16, plain, count, 1, call_back, 2)      /*  9 */                              \
    X(UNUSED10, no_layout, none, 0, none, 0)                 /* 10 */                              \
    X(GLOBAL8, plain, global_fun, 1, none, 0)                /* 11 */                              \
    X(GLOBAL16, plain, global_fun, 2, none, 0)               /* 12 */                              \
    X(GLOBAL8_COUNT, plain, global_fun, 1, count, 1)         /* 13 */                              \
    X(GLOBAL16_COUNT, plain, global_fun, 2, count, 1)        /* 14 */                              \
    X(SYMBOL16_PAIR, plain, symbol, 2, symbol, 2)            /* 15 */                              \
    X(SYMBOL8_PAIR, plain, symbol, 1, symbol, 1)             /* 16 */                              \
    X(UNUSED17, no_layout, none, 0, none, 0)                 /* 17 */                              \
    X(COUNT_FUNCTION16, plain, count, 1, function, 2)        /* 18 */                              \
    X(FUNCTION_HEADER, plain, frame_size, 4, frame_funnr, 2) /* 19 */                              \
    X(FUNCTION_TRAILER, sub_link, none, 0, none, 0)          /* 20 */                              \
    X(IMMEDIATE8, plain, immediate, 1, none, 0)              /* 21 */                              \
    X(IMMEDIATE16, plain, immediate, 2, none, 0)             /* 22 */                              \
    X(IMMEDIATE32, plain, immediate, 4, none, 0)             /* 23 */                              \
    X(DOUBLE8, plain, dbl, 1, none, 0)                       /* 24 */                              \
    X(DOUBLE16, plain, dbl, 2, none, 0)                      /* 25 */                              \
    X(STRING8, plain, string, 1, none, 0)                    /* 26 */                              \
    X(STRING16, plain, string, 2, none, 0)                   /* 27 */                              \
    X(STRING24, plain, string, 3, none, 0)                   /* 28 */                              \
    X(SOURCE_LINE, plain, line, 2, line_file, 3)             /* 29 */                              \
    X(NO_LAYOUT, no_layout, none, 0, none, 0)                /* 30: CAT_N */                       \
    X(SWITCH_TABLE, switch_table, none, 0, none, 0)          /* 31 */

namespace fmt {
#define ZEL_FORMAT_ENUM(name, shape, k1, w1, k2, w2) name,
enum : uint16_t { ZEL_FORMATS(ZEL_FORMAT_ENUM) };
#undef ZEL_FORMAT_ENUM
} // namespace fmt

struct OperandField {
    Operand what;
    uint8_t width; // bytes; 0 for no field
};

struct FormatInfo {
    Shape shape;
    OperandField fields[2]; // in the order of their bytes
};

constexpr int FORMAT_COUNT = 32;
extern const FormatInfo operand_formats[FORMAT_COUNT];

// The opcodes, by value: mnemonic, size (total length, opcode included),
// operand format, paired opcode (the inverse branch, or the in-place form of
// a T form), short opcode (the one-byte, twin or relative-call form). NONE
// stands for no paired or short opcode. A size of 0 means that the length is
// not in the table: SUB_LINK and SWITCH_T carry theirs in their fields, and
// CAT_N and LAST have none (CAT_N is no valid instruction; LAST is listed as
// its opcode alone).
#define ZEL_OPCODES(X)                                                                             \
    X(NOP, 1, NO_OPERANDS, NONE, NONE)                                                             \
    X(PUSH, 3, SYMBOL16, NONE, NONE)                                                               \
    X(PUSH_B, 2, SYMBOL8, NONE, NONE)                                                              \
    X(RESETBUF, 1, NO_OPERANDS, NONE, NONE)                                                        \
    X(PUSHBYTE, 2, IMMEDIATE8, NONE, NONE)                                                         \
    X(PUSHINT, 3, IMMEDIATE16, NONE, NONE)                                                         \
    X(PUSHLONG, 5, IMMEDIATE32, NONE, NONE)                                                        \
    X(PUSHNEGB, 2, IMMEDIATE8, NONE, NONE)                                                         \
    X(PUSHNEGI, 3, IMMEDIATE16, NONE, NONE)                                                        \
    X(PUSHNEGL, 5, IMMEDIATE32, NONE, NONE)                                                        \
    X(PUSHFP_B, 2, DOUBLE8, NONE, NONE)                                                            \
    X(PUSHFP, 3, DOUBLE16, NONE, NONE)                                                             \
    X(PUSHS_B, 2, STRING8, NONE, NONE)                                                             \
    X(PUSHS, 3, STRING16, NONE, NONE)                                                              \
    X(PUSHS_3B, 4, STRING24, NONE, NONE)                                                           \
    X(MOVE, 1, NO_OPERANDS, NONE, NONE)                                                            \
    X(XY_MOVE, 5, SYMBOL16_PAIR, NONE, XY_MOV_B)                                                   \
    X(XY_MOV_B, 3, SYMBOL8_PAIR, NONE, NONE)                                                       \
    X(POFF, 3, SYMBOL16, NONE, NONE)                                                               \
    X(POES, 3, SYMBOL16, NONE, NONE)                                                               \
    X(POP, 1, NO_OPERANDS, NONE, NONE)                                                             \
    X(ADD, 1, NO_OPERANDS, NONE, NONE)                                                             \
    X(SUB, 1, NO_OPERANDS, NONE, NONE)                                                             \
    X(MUL, 1, NO_OPERANDS, NONE, NONE)                                                             \
    X(DIV, 1, NO_OPERANDS, NONE, NONE)                                                             \
    X(MOD, 1, NO_OPERANDS, NONE, NONE)                                                             \
    X(CAT, 1, NO_OPERANDS, NONE, NONE)                                                             \
    X(NEG, 1, NO_OPERANDS, NONE, NONE)                                                             \
    X(INCR, 1, NO_OPERANDS, X_INCR, NONE)                                                          \
    X(DECR, 1, NO_OPERANDS, X_DECR, NONE)                                                          \
    X(TTX_ADD, 3, SYMBOL16, NONE, NONE)                                                            \
    X(TTX_SUB, 3, SYMBOL16, NONE, NONE)                                                            \
    X(TTX_MUL, 3, SYMBOL16, NONE, NONE)                                                            \
    X(TTX_DIV, 3, SYMBOL16, NONE, NONE)                                                            \
    X(TTX_MOD, 3, SYMBOL16, NONE, NONE)                                                            \
    X(TTX_CAT, 3, SYMBOL16, NONE, NONE)                                                            \
    X(TXY_ADD, 5, SYMBOL16_PAIR, XXY_ADD, NONE)                                                    \
    X(TXY_SUB, 5, SYMBOL16_PAIR, XXY_SUB, NONE)                                                    \
    X(TXY_MUL, 5, SYMBOL16_PAIR, XXY_MUL, NONE)                                                    \
    X(TXY_DIV, 5, SYMBOL16_PAIR, XXY_DIV, NONE)                                                    \
    X(TXY_MOD, 5, SYMBOL16_PAIR, XXY_MOD, NONE)                                                    \
    X(TXY_CAT, 5, SYMBOL16_PAIR, XXY_CAT, NONE)                                                    \
    X(TX_NEG, 3, SYMBOL16, X_NEG, NONE)                                                            \
    X(TX_INCR, 3, SYMBOL16, X_INCR, NONE)                                                          \
    X(TX_DECR, 3, SYMBOL16, X_DECR, NONE)                                                          \
    X(XXY_ADD, 5, SYMBOL16_PAIR, NONE, NONE)                                                       \
    X(XXY_SUB, 5, SYMBOL16_PAIR, NONE, NONE)                                                       \
    X(XXY_MUL, 5, SYMBOL16_PAIR, NONE, NONE)                                                       \
    X(XXY_DIV, 5, SYMBOL16_PAIR, NONE, NONE)                                                       \
    X(XXY_MOD, 5, SYMBOL16_PAIR, NONE, NONE)                                                       \
    X(XXY_CAT, 5, SYMBOL16_PAIR, NONE, NONE)                                                       \
    X(X_NEG, 3, SYMBOL16, NONE, NONE)                                                              \
    X(X_INCR, 3, SYMBOL16, NONE, NONE)                                                             \
    X(X_DECR, 3, SYMBOL16, NONE, NONE)                                                             \
    X(TBGT, 3, BRANCH16, TBLE, F_TBGT)                                                             \
    X(TBLE, 3, BRANCH16, TBGT, F_TBLE)                                                             \
    X(TBEQ, 3, BRANCH16, TBNE, F_TBEQ)                                                             \
    X(TBNE, 3, BRANCH16, TBEQ, F_TBNE)                                                             \
    X(EQ21, 3, BRANCH16, NONE, F_EQ21)                                                             \
    X(CBGT, 3, BRANCH16, CBLE, F_CBGT)                                                             \
    X(CBGE, 3, BRANCH16, CBLT, F_CBGE)                                                             \
    X(CBLT, 3, BRANCH16, CBGE, F_CBLT)                                                             \
    X(CBLE, 3, BRANCH16, CBGT, F_CBLE)                                                             \
    X(CBEQ, 3, BRANCH16, CBNE, F_CBEQ)                                                             \
    X(CBNE, 3, BRANCH16, CBEQ, F_CBNE)                                                             \
    X(BRA, 3, BRANCH16, NONE, F_BRA)                                                               \
    X(F_TBGT, 2, BRANCH_FWD8, NONE, B_TBGT)                                                        \
    X(F_TBLE, 2, BRANCH_FWD8, NONE, B_TBLE)                                                        \
    X(F_TBEQ, 2, BRANCH_FWD8, NONE, B_TBEQ)                                                        \
    X(F_TBNE, 2, BRANCH_FWD8, NONE, B_TBNE)                                                        \
    X(F_EQ21, 2, BRANCH_FWD8, NONE, B_EQ21)                                                        \
    X(F_CBGT, 2, BRANCH_FWD8, NONE, B_CBGT)                                                        \
    X(F_CBGE, 2, BRANCH_FWD8, NONE, B_CBGE)                                                        \
    X(F_CBLT, 2, BRANCH_FWD8, NONE, B_CBLT)                                                        \
    X(F_CBLE, 2, BRANCH_FWD8, NONE, B_CBLE)                                                        \
    X(F_CBEQ, 2, BRANCH_FWD8, NONE, B_CBEQ)                                                        \
    X(F_CBNE, 2, BRANCH_FWD8, NONE, B_CBNE)                                                        \
    X(F_BRA, 2, BRANCH_FWD8, NONE, B_BRA)                                                          \
    X(B_TBGT, 2, BRANCH_BACK8, NONE, F_TBGT)                                                       \
    X(B_TBLE, 2, BRANCH_BACK8, NONE, F_TBLE)                                                       \
    X(B_TBEQ, 2, BRANCH_BACK8, NONE, F_TBEQ)                                                       \
    X(B_TBNE, 2, BRANCH_BACK8, NONE, F_TBNE)                                                       \
    X(B_EQ21, 2, BRANCH_BACK8, NONE, F_EQ21)                                                       \
    X(B_CBGT, 2, BRANCH_BACK8, NONE, F_CBGT)                                                       \
    X(B_CBGE, 2, BRANCH_BACK8, NONE, F_CBGE)                                                       \
    X(B_CBLT, 2, BRANCH_BACK8, NONE, F_CBLT)                                                       \
    X(B_CBLE, 2, BRANCH_BACK8, NONE, F_CBLE)                                                       \
    X(B_CBEQ, 2, BRANCH_BACK8, NONE, F_CBEQ)                                                       \
    X(B_CBNE, 2, BRANCH_BACK8, NONE, F_CBNE)                                                       \
    X(B_BRA, 2, BRANCH_BACK8, NONE, F_BRA)                                                         \
    X(BASE, 1, NO_OPERANDS, NONE, NONE)                                                            \
    X(LINE, 6, SOURCE_LINE, NONE, NONE)                                                            \
    X(TO_LONG, 1, NO_OPERANDS, NONE, NONE)                                                         \
    X(F_JSR, 4, COUNT_CALL_FWD16, NONE, B_JSR)                                                     \
    X(F_JSR_0, 3, CALL_FWD16, NONE, B_JSR_0)                                                       \
    X(F_JSR_P, 4, COUNT_CALL_FWD16, NONE, B_JSR_P)                                                 \
    X(F_JSR_0P, 3, CALL_FWD16, NONE, B_JSR_0P)                                                     \
    X(B_JSR, 4, COUNT_CALL_BACK16, NONE, F_JSR)                                                    \
    X(B_JSR_0, 3, CALL_BACK16, NONE, F_JSR_0)                                                      \
    X(B_JSR_P, 4, COUNT_CALL_BACK16, NONE, F_JSR_P)                                                \
    X(B_JSR_0P, 3, CALL_BACK16, NONE, F_JSR_0P)                                                    \
    X(I_JSR, 4, COUNT_FUNCTION16, NONE, NONE)                                                      \
    X(I_JSR_0, 3, SYMBOL16, NONE, NONE)                                                            \
    X(I_JSR_P, 4, COUNT_FUNCTION16, NONE, NONE)                                                    \
    X(I_JSR_0P, 3, SYMBOL16, NONE, NONE)                                                           \
    X(S_JSR, 4, COUNT_FUNCTION16, NONE, F_JSR)                                                     \
    X(S_JSR_0, 3, SYMBOL16, NONE, F_JSR_0)                                                         \
    X(S_JSR_P, 4, COUNT_FUNCTION16, NONE, F_JSR_P)                                                 \
    X(S_JSR_0P, 3, SYMBOL16, NONE, F_JSR_0P)                                                       \
    X(JSR, 4, GLOBAL16_COUNT, NONE, JSR_B)                                                         \
    X(JSR_0, 3, GLOBAL16, NONE, JSR_0_B)                                                           \
    X(JSR_P, 4, GLOBAL16_COUNT, NONE, JSR_P_B)                                                     \
    X(JSR_0P, 3, GLOBAL16, NONE, JSR_0P_B)                                                         \
    X(JSR_B, 3, GLOBAL8_COUNT, NONE, NONE)                                                         \
    X(JSR_0_B, 2, GLOBAL8, NONE, NONE)                                                             \
    X(JSR_P_B, 3, GLOBAL8_COUNT, NONE, NONE)                                                       \
    X(JSR_0P_B, 2, GLOBAL8, NONE, NONE)                                                            \
    X(SUB_LINK, 0, FUNCTION_TRAILER, NONE, NONE)                                                   \
    X(RET, 1, NO_OPERANDS, NONE, NONE)                                                             \
    X(CAT_N, 0, NO_LAYOUT, NONE, NONE)                                                             \
    X(SWITCH_T, 0, SWITCH_TABLE, NONE, NONE)                                                       \
    X(SUB_TEXT, 7, FUNCTION_HEADER, NONE, NONE)                                                    \
    X(LAST, 0, NO_OPERANDS, NONE, NONE)                                                            \
    X(PUSH_PR, 3, SYMBOL16, NONE, NONE)

namespace op {
#define ZEL_OPCODE_ENUM(name, size, format, paired, shortop) name,
enum : uint8_t { ZEL_OPCODES(ZEL_OPCODE_ENUM) };
#undef ZEL_OPCODE_ENUM
constexpr uint8_t NONE = 0; // no paired or short opcode
} // namespace op

struct InstrInfo {
    int8_t size; // total length, opcode included; 0: see ZEL_OPCODES
    char mnemonic[9];
    uint8_t paired;  // 0 when none
    uint8_t shortop; // 0 when none
    uint16_t format;
};

constexpr int OPCODE_COUNT = 124;
extern const InstrInfo itab[OPCODE_COUNT];

// Width of the value that follows each operand kind code of a switch table.
constexpr int KIND_CODE_COUNT = 17;
extern const uint8_t size_in_instructions[KIND_CODE_COUNT];

// Length of the instruction at `instr`, of which `avail` bytes are readable:
// the stored length of a SUB_LINK, the length a SWITCH_T's fields give, the
// table size of the others. 0 for an opcode outside the table, CAT_N, LAST
// and a switch table with a kind code that has no width; -1 when its fields
// reach past the `avail` bytes.
long sizeof_instruction(const uint8_t *instr, size_t avail);
// Code bytes past the end of the file that the listing lists at most, and
// entries of no bytes that a switch table lists at most: more would be work
// that no object can mean, and ends the run as a corrupt object.
constexpr uint64_t UNREAL_BYTES = uint64_t(16) << 20;

// Lists the whole code section of `zel` on `out`.
void write_assembler(STREAM *out);
// Lists the instruction at position `pos` of the code of `zel`; returns its
// length in bytes.
long print_instruction(size_t pos, STREAM *out);
// Opens the listing file named by `zel.listing_name` for writing and writes
// its heading; the compiler lists into it with write_assembler.
STREAM *open_assembler();
