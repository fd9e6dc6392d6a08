// STUB: replaced by the assembler.
#include "assembler.h"

std::vector<uint8_t> assemble(std::string_view) { throw AsmError("assembler not built yet"); }
