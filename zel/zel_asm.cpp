// STUB: replaced by the listing module.
#include "zel_asm.h"

#include "zel.h"

const InstrInfo itab[OPCODE_COUNT] = {};
const uint8_t size_in_instructions[17] = {0, 0, 1, 2, 1, 2, 3, 1, 2, 3, 4, 1, 2, 0, 0, 0, 0};
long sizeof_instruction(const uint8_t *, size_t) { return -1; }
void write_assembler(STREAM *) {}
long print_instruction(const uint8_t *, STREAM *) { return 0; }
