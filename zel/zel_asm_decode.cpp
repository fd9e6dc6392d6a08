// Decoding of the code section for the listing: instruction lengths
// (`sizeof_instruction`), the function trailer, switch tables and the
// extended line form of LINE. Plain instructions are decoded by `decode` in
// zel_asm_decode.h.
#include "zel_asm_decode.h"

#include <cstring>
#include <initializer_list>

namespace zel_asm {

namespace {

// ---------------------------------------------------------------------------
// Switch table

bool is_count_code(uint8_t code) {
    return code == 7 || code == 8 || code == 10;
}

// A field of the switch table. A kind code outside the width table is not
// valid object code.
bool read_kind_value(Cursor &c, KindValue &f) {
    f.kind = c.u8();
    if (f.kind >= KIND_CODE_COUNT) return false;
    f.value = c.uint(size_in_instructions[f.kind]);
    return true;
}

// ---------------------------------------------------------------------------
// Extended line form of LINE: a line above 65535 is stored as the low 16 bits
// in the instruction and a string constant that begins with a marker byte,
// followed by four Base64 characters (the string offset of the real file
// name, 3 bytes) and three more (the upper 16 bits of the line).
//
// The compiler writes the marker byte 2; the byte 1 is accepted as well, since
// neither can begin a real file name. A text with a marker but
// without seven valid Base64 characters behind it is taken as a plain file
// name.

constexpr bool is_line_marker(unsigned char c) {
    return c == 1 || c == 2;
}

int base64_value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// The bits of `n` Base64 characters, or -1 when one is not Base64.
long base64_bits(const char *text, int n) {
    long bits = 0;
    for (int i = 0; i < n; ++i) {
        int v = base64_value(static_cast<unsigned char>(text[i]));
        if (v < 0) return -1;
        bits = bits << 6 | v;
    }
    return bits;
}

} // namespace

// Fields are read with the widths of their kind codes whatever the code; the
// count is taken only from the codes the compiler writes for it (7, 8, 10),
// any other code means no entries.
bool decode_switch(Cursor &c, SwitchTable &t) {
    for (KindValue *f : {&t.arg, &t.count, &t.deflt, &t.subtract, &t.divide})
        if (!read_kind_value(c, *f)) return false;
    t.key_kind = c.u8();
    t.addr_kind = c.u8();
    if (!c.ok()) return true;
    if (t.key_kind >= KIND_CODE_COUNT || t.addr_kind >= KIND_CODE_COUNT) return false;
    t.entries = is_count_code(t.count.kind) ? t.count.value : 0;
    t.first_entry = c.pos();
    t.key_width = size_in_instructions[t.key_kind];
    t.addr_width = size_in_instructions[t.addr_kind];
    c.skip(size_t(t.entries) * t.entry_width());
    return true;
}

// The listing advances by 10 + 2 * (A + L + G) bytes whatever the stored
// length says (`sizeof_instruction` returns the stored length).
SubLink decode_sub_link(Cursor &c) {
    SubLink h{};
    h.stored_length = c.u32();
    h.args = c.u8();
    h.locals = c.u16();
    h.globals = c.u16();
    c.skip(2 * (size_t(h.args) + h.locals + h.globals));
    return h;
}

bool decode_extended_line(const char *text, ExtendedLine &x) {
    if (!is_line_marker(static_cast<unsigned char>(text[0])) || strnlen(text, 8) < 8) return false;
    long offset = base64_bits(text + 1, 4); // 24 bits: 3 bytes
    long high = base64_bits(text + 5, 3);   // 18 bits: 2 bytes and 2 fill bits
    if (offset < 0 || high < 0) return false;
    x = {uint32_t(offset), uint32_t(high >> 2)};
    return true;
}

} // namespace zel_asm

long sizeof_instruction(const uint8_t *instr, size_t avail) {
    if (avail == 0) return -1;
    uint8_t opcode = instr[0];
    if (opcode >= OPCODE_COUNT) return 0; // no length rule outside the table
    Cursor c(instr, avail, "instruction");
    c.u8();
    if (opcode == op::SUB_LINK) {
        uint32_t stored = c.u32();
        return c.ok() && stored <= avail ? long(stored) : -1;
    }
    if (opcode == op::SWITCH_T) {
        zel_asm::SwitchTable t;
        if (!zel_asm::decode_switch(c, t)) return 0; // a kind code without a width
        return c.ok() ? long(c.pos()) : -1;
    }
    long size = itab[opcode].size;
    return size_t(size) <= avail ? size : -1;
}
