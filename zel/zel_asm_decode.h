// Decoding of the code section for the listing (zel_asm.cpp): the records of
// a decoded instruction and the decoders that fill them. Plain instructions,
// nearly all of the code, are decoded here inline; function trailers, switch
// tables, the extended line form of LINE and `sizeof_instruction` are in
// zel_asm_decode.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zel_asm.h"
#include "zel_cursor.h"

namespace zel_asm {

// A field of a switch table: a kind code and a value of that code's width.
struct KindValue {
    uint8_t kind;
    uint32_t value;
};

// The records of a decoded instruction are filled in by their decoders
// (they are not cleared first: the listing decodes every instruction).
struct SwitchTable {
    KindValue arg, count, deflt, subtract, divide;
    uint8_t key_kind;
    uint8_t addr_kind;
    uint32_t entries;   // number of entries that follow
    size_t first_entry; // from the opcode
    unsigned key_width;
    unsigned addr_width;
    size_t entry_width() const { return key_width + addr_width; }
};

// Keys of the kinds 4, 5 and 6 are string offsets.
inline bool is_string_key(uint8_t kind) {
    return kind >= 4 && kind <= 6;
}

// The counts of a function trailer.
struct SubLink {
    uint32_t stored_length;
    unsigned args, locals, globals;
};

// One decoded instruction: its layout, its length and its operand values.
struct Decoded {
    uint8_t opcode;
    const FormatInfo *format;
    bool invalid; // no valid instruction: listed up to its mnemonic
    size_t length;
    uint32_t values[2]; // plain fields, in byte order
    SubLink link;
    SwitchTable table;
};

// Decodes the switch table whose opcode the cursor has just taken, up to the
// end of its entries. False when a kind code has no width; a table that runs
// past the code leaves the cursor failed.
bool decode_switch(Cursor &c, SwitchTable &t);
// Decodes the function trailer whose opcode the cursor has just taken, up to
// its last word.
SubLink decode_sub_link(Cursor &c);

// Decodes the instruction at the start of `c`, whose opcode is in the table.
// An instruction of invalid object code counts its opcode only. The cursor
// yields zeros for code bytes past the end of the file and fails when the
// instruction runs past the end of the code.
inline Decoded decode(Cursor &c) {
    Decoded d;
    d.invalid = false;
    d.opcode = c.u8();
    d.format = &operand_formats[itab[d.opcode].format];
    switch (d.format->shape) {
    case Shape::no_layout:
        d.invalid = true;
        break;
    case Shape::sub_link:
        d.link = decode_sub_link(c);
        break;
    case Shape::switch_table:
        d.invalid = !decode_switch(c, d.table);
        if (d.invalid) c.seek(1);
        break;
    case Shape::plain:
        d.values[0] = c.uint(d.format->fields[0].width);
        d.values[1] = d.format->fields[1].width ? c.uint(d.format->fields[1].width) : 0;
        break;
    }
    d.length = c.pos();
    return d;
}

// The extended line form of LINE: the offset of the real file name and the
// upper 16 bits of the line, from the text of the string constant that the
// instruction names.
struct ExtendedLine {
    uint32_t file_offset;
    uint32_t line_high;
};

// False when `text` is a plain file name.
bool decode_extended_line(const char *text, ExtendedLine &x);

} // namespace zel_asm
