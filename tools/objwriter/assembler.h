// A small assembler for the byte code of test and sample objects:
// instructions by mnemonic, labels for branch and call targets, function
// frames and switch tables.
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
