// The named bits and codes of the object format and of the command line:
// info bits, symbol flag bits, object flags and token kinds. A header of
// constants alone, for the runtime library's data dictionary reader as much
// as for the tool.
#pragma once

#include <cstdint>

// Info bits chosen on the command line.
enum InfoBit : uint32_t {
    INFO_ASM = 0x001,      // -i  ASSEMBLER CODE
    INFO_DLLS = 0x002,     // -d  USED DLL'S (and DLL HINTS)
    INFO_PROTO = 0x004,    // -e  DLL PROTOTYPES
    INFO_SYMTAB = 0x008,   // -s  symbol and constant tables
    INFO_HEADER = 0x010,   // -h  GENERAL INFO and OBJECT HEADER
    INFO_IDENTS = 0x020,   // -w  OBJECT IDENTS
    INFO_CHECKSUM = 0x040, // -c  checksum mode
    INFO_RESERVED = 0x080, //     part of the full set only
    INFO_FLAGS = 0x100,    // -f  OBJECT FLAGS or the flag test
    INFO_USAGE = 0x200,    // -u  DLL USAGE DESCRIPTION
    INFO_ALL = 0x3FF,
};

// Flag word bits of a symbol.
enum SymFlag : uint32_t {
    LONG = 0x1,
    DOUBLE = 0x2,
    STRING = 0x4,
    EXTERN = 0x8,
    ARRAY = 0x10,
    FIXED = 0x20,
    BASED = 0x40,
    TSS_STRING = 0x80,
    COMMON = 0x100,
    FUNCTION = 0x200,
    DD_NAME = 0x400,
    KEYWORD = 0x800,
    COMBINED = 0x1000,
    CONSTANT = 0x2000,
    BOOLEXPR = 0x4000,
    MACRO = 0x8000,
    BOOLEAN = 0x10000,
    EXT_SYM = 0x20000,
    TABLE = 0x40000,
    DOMA = 0x80000,
    STATIC = 0x100000,
    ENUM = 0x200000,
    BITSET = 0x400000,
    LABEL_NAME = 0x800000,
    OPTIONAL_ARG = 0x1000000,
    WHERE_USED = 0x4000000,
    REF_ARG = 0x8000000,
    IDENTIFIER = 0x10000000,
    GLOBAL = 0x20000000,
    CONST_ARG = 0x40000000,
};

// The bits that make a symbol's type.
constexpr uint32_t TYPE_BITS = LONG | DOUBLE | STRING | TSS_STRING | BOOLEAN | ENUM | BITSET;

// Inside a stored symbol-table entry: width of the size values that follow.
constexpr uint32_t SIZE16 = 0x800;
constexpr uint32_t SIZE32 = 0x1000;

// Object flags word (header field flags), low 16 bits.
namespace objflag {
constexpr uint32_t NOTRANSACTIONS = 1;
constexpr uint32_t DEBUG = 2;
constexpr uint32_t PROFILE = 4;
constexpr uint32_t DLL = 8;
constexpr uint32_t STICKY = 16;
constexpr uint32_t ADDINFO = 64; // additional information block present
} // namespace objflag

// Token kinds of the symbols made by the tool.
enum Tok : int32_t {
    TOK_VARIABLE = 258,
    TOK_DOUBLE = 293,
    TOK_STRING = 296,
    TOK_FUNCTION = 310,
};
