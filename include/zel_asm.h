// The instruction set of the 4GL stack machine and the ASSEMBLER CODE listing.
#pragma once

#include <cstddef>
#include <cstdint>

struct STREAM;

struct InstrInfo {
    int8_t size; // total length, opcode included; 0 for variable ones
    char mnemonic[9];
    uint8_t paired;  // inverse branch or in-place form; 0 when none
    uint8_t shortop; // short, twin or one-byte form; 0 when none
    uint16_t format; // operand format 0 to 31
};

constexpr int OPCODE_COUNT = 124;
extern const InstrInfo itab[OPCODE_COUNT];
extern const uint8_t size_in_instructions[17];

namespace op {
enum : uint8_t {
    NOP = 0,
    PUSH,
    PUSH_B,
    RESETBUF,
    PUSHBYTE,
    PUSHINT,
    PUSHLONG,
    PUSHNEGB,
    PUSHNEGI,
    PUSHNEGL,
    PUSHFP_B,
    PUSHFP,
    PUSHS_B,
    PUSHS,
    PUSHS_3B,
    MOVE,
    XY_MOVE,
    XY_MOV_B,
    POFF,
    POES,
    POP,
    ADD,
    SUB,
    MUL,
    DIV,
    MOD,
    CAT,
    NEG,
    INCR,
    DECR,
    TTX_ADD,
    TTX_SUB,
    TTX_MUL,
    TTX_DIV,
    TTX_MOD,
    TTX_CAT,
    TXY_ADD,
    TXY_SUB,
    TXY_MUL,
    TXY_DIV,
    TXY_MOD,
    TXY_CAT,
    TX_NEG,
    TX_INCR,
    TX_DECR,
    XXY_ADD,
    XXY_SUB,
    XXY_MUL,
    XXY_DIV,
    XXY_MOD,
    XXY_CAT,
    X_NEG,
    X_INCR,
    X_DECR,
    TBGT,
    TBLE,
    TBEQ,
    TBNE,
    EQ21,
    CBGT,
    CBGE,
    CBLT,
    CBLE,
    CBEQ,
    CBNE,
    BRA,
    F_TBGT,
    F_TBLE,
    F_TBEQ,
    F_TBNE,
    F_EQ21,
    F_CBGT,
    F_CBGE,
    F_CBLT,
    F_CBLE,
    F_CBEQ,
    F_CBNE,
    F_BRA,
    B_TBGT,
    B_TBLE,
    B_TBEQ,
    B_TBNE,
    B_EQ21,
    B_CBGT,
    B_CBGE,
    B_CBLT,
    B_CBLE,
    B_CBEQ,
    B_CBNE,
    B_BRA,
    BASE,
    LINE,
    TO_LONG,
    F_JSR,
    F_JSR_0,
    F_JSR_P,
    F_JSR_0P,
    B_JSR,
    B_JSR_0,
    B_JSR_P,
    B_JSR_0P,
    I_JSR,
    I_JSR_0,
    I_JSR_P,
    I_JSR_0P,
    S_JSR,
    S_JSR_0,
    S_JSR_P,
    S_JSR_0P,
    JSR,
    JSR_0,
    JSR_P,
    JSR_0P,
    JSR_B,
    JSR_0_B,
    JSR_P_B,
    JSR_0P_B,
    SUB_LINK,
    RET,
    CAT_N,
    SWITCH_T,
    SUB_TEXT,
    LAST,
    PUSH_PR
};
} // namespace op

// Length of the instruction at `instr`, of which `avail` bytes are readable.
// Returns -1 when its fields reach past those bytes.
long sizeof_instruction(const uint8_t *instr, size_t avail);

// Lists the whole code section of `zel` on `out`.
void write_assembler(STREAM *out);
// Lists the instruction at `instr` (inside the code of `zel`); returns its
// length in bytes.
long print_instruction(const uint8_t *instr, STREAM *out);
