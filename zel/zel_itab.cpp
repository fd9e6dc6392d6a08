// The instruction table of the 4GL stack machine, the operand formats and
// the operand width table of the switch table's kind codes, made from the
// ordered lists of zel_asm.h.
#include "zel_asm.h"

#define ZEL_FORMAT_ROW(name, shape, k1, w1, k2, w2)                                                \
    {Shape::shape, {{Operand::k1, w1}, {Operand::k2, w2}}},
const FormatInfo operand_formats[FORMAT_COUNT] = {ZEL_FORMATS(ZEL_FORMAT_ROW)};
#undef ZEL_FORMAT_ROW

#define ZEL_ITAB_ROW(name, size, format, paired, shortop)                                          \
    {size, #name, op::paired, op::shortop, fmt::format},
const InstrInfo itab[OPCODE_COUNT] = {ZEL_OPCODES(ZEL_ITAB_ROW)};
#undef ZEL_ITAB_ROW

#define ZEL_FORMAT_OF(name, size, format, paired, shortop)                                         \
    static_assert(fmt::format < FORMAT_COUNT);
ZEL_OPCODES(ZEL_FORMAT_OF)
#undef ZEL_FORMAT_OF

#define ZEL_COUNT(...) +1
static_assert(0 ZEL_FORMATS(ZEL_COUNT) == FORMAT_COUNT);
static_assert(0 ZEL_OPCODES(ZEL_COUNT) == OPCODE_COUNT);
#undef ZEL_COUNT

const uint8_t size_in_instructions[KIND_CODE_COUNT] = {0, 0, 1, 2, 1, 2, 3, 1, 2,
                                                       3, 4, 1, 2, 0, 0, 0, 0};
