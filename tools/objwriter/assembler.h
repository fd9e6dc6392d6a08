// A small assembler for the byte code of test and sample objects:
// instructions by mnemonic, labels for branch and call targets, function
// frames and switch tables.
//
// Syntax, one statement per line:
//
//   ; comment            '#' starts a comment too; both run to the end of the line
//   name:                a label: the position of the next byte emitted; it may
//                        stand alone or in front of a statement on the same line
//   MNEMONIC a b ...     an instruction; operands are separated by blanks or commas
//   .directive ...       see below
//
// Numbers are decimal or 0x-hexadecimal, optionally negative. Mnemonics are
// those of the instruction table (any letter case); labels are case-sensitive
// names of letters, digits, '_', '.' and '$', not starting with a digit.
//
// Operands are written in the order of their bytes in the instruction, each
// checked against its width:
//
//   PUSH 12              symbol number (also POFF, POES, the T/X groups, ...)
//   XY_MOVE 3 4          two symbol numbers
//   PUSHINT 1000         immediate; PUSHFP 2 double number; PUSHS 6 string offset
//   LINE 120 0           line number, string offset of the file name
//   JSR 7 2              global function number, argument count
//   I_JSR 2 5            argument count, function number (S_JSR alike)
//   SUB_TEXT 40 3        raw function header: length, function number
//
// Branches (formats 3 to 5) and relative calls (F_JSR..., B_JSR...) take a
// label as their target; the assembler stores the distance from the distance
// operand's first byte, forward or backward as the mnemonic says, and rejects
// a target on the wrong side or out of range. A number in place of the label
// is stored as the distance itself (negative allowed for the signed 16-bit
// distance of BRA, CBEQ, ...). F_JSR and B_JSR take the count first:
// "F_JSR 2 callee".
//
// SUB_LINK and SWITCH_T are written with the directives below; CAT_N and
// LAST emit their opcode byte alone.
//
// Directives:
//
//   .function N [size L]
//       Opens function number N: emits SUB_TEXT whose length runs from the
//       SUB_TEXT up to the function's .link, that is through the function's
//       final RET (or L when given, for damaged frames). A label in front of
//       .function names the SUB_TEXT, the target of relative calls.
//   .link [args W ...] [locals N ...] [globals N ...] [length L]
//       Emits SUB_LINK and closes the open function (if any). An argument
//       written &N is passed by reference (bit 15 set). The stored length is
//       10 + 2 * (A + L + G) unless given.
//   .switch [stack | var N] [default LABEL] [subtract B] [divide K]
//           [keys CODE] [addr CODE]
//     jump TARGET ...        entries of a direct jump table
//     case KEY TARGET        entries of a numeric search table
//     string OFFSET TARGET   entries of a string search table
//   .endswitch
//       Emits SWITCH_T. TARGET is a label or '-' (no label, distance 0); all
//       labels must lie before the table. The argument is on the stack
//       (kind 1, the default) or variable N (kind 2 below 256, else 3). Count,
//       default, subtract and divide values get kind 7, 8 or 10 by size (a
//       negative subtract kind 10); divide is stored as written (0 means a
//       step of 1). The key kind follows the entries (0 direct; 7/8/10 or
//       4/5/6 by the largest key) and the address kind the largest distance,
//       unless `keys` or `addr` name a kind code.
//   .byte V ...   .short V ...   .long V ...
//       Raw 8-, 16- or 32-bit big-endian values, for damaged code.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

struct AsmError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Assembles `source` into the bytes of a code section. Throws AsmError with
// the line number on a syntax error.
std::vector<uint8_t> assemble(std::string_view source);
