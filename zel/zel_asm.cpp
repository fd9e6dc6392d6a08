// The ASSEMBLER CODE listing: decodes the code section instruction by
// instruction and prints every operand resolved to the symbol, function,
// constant or code position that it designates. The instruction set itself
// is the pair of lists in zel_asm.h.
//
// Reading. Each instruction is decoded through a cursor over the code from
// its position, which yields zeros for code bytes past the end of the file.
// The whole instruction is decoded before its line is begun; one that runs
// past the end of the code section ends the run with "Object is corrupt:
// instruction at %ld runs past the end of the code". The only other bound is
// on work that would be unreal: listing code that runs on for more than
// 16 MiB past the end of the file, or a switch table of more than that many
// entries of no bytes.
//
// Output. Text is collected in a buffer of our own and handed to the stream
// in large blocks; the stream is flushed at the end of the listing and before
// every fatal error, so what was listed before the error comes out before the
// message. Lookups that can end the run (a symbol number or string offset
// that names nothing) are checked first, so the flush is only done when the
// run is really about to end.
#include "zel_asm.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "al_strm.h"
#include "zel.h"
#include "zel_cursor.h"
#include "zel_error.h"
#include "zel_symtab.h"

namespace {

// Code bytes past the end of the file that the listing lists at most, and
// entries of no bytes that a switch table lists at most.
constexpr uint64_t UNREAL_BYTES = uint64_t(16) << 20;

// Every entry of the table names one of the formats.
const FormatInfo &format_of(const InstrInfo &info) {
    return operand_formats[info.format];
}

// ---------------------------------------------------------------------------
// Switch table layout

// The records of a decoded instruction are filled in by their decoders
// (they are not cleared first: the listing decodes every instruction).
struct KindValue {
    uint8_t kind;
    uint32_t value;
};

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

bool is_count_code(uint8_t code) {
    return code == 7 || code == 8 || code == 10;
}

// A field of the switch table: a kind code and a value of that code's width.
// A kind code outside the width table is not valid object code.
bool read_kind_value(Cursor &c, KindValue &f) {
    f.kind = c.u8();
    if (f.kind >= KIND_CODE_COUNT) return false;
    f.value = c.uint(size_in_instructions[f.kind]);
    return true;
}

// Decodes the switch table whose opcode the cursor has just taken, up to the
// end of its entries. False when a kind code has no width; a table that runs
// past the code leaves the cursor failed. Fields are read with the widths of
// their kind codes whatever the code; the count is taken only from the codes
// the compiler writes for it (7, 8, 10), any other code means no entries.
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

// ---------------------------------------------------------------------------
// Function trailer layout

struct SubLink {
    uint32_t stored_length;
    unsigned args, locals, globals;
};

// Decodes the trailer whose opcode the cursor has just taken, up to its last
// word: the listing advances by 10 + 2 * (A + L + G) bytes whatever the
// stored length says (`sizeof_instruction` returns the stored length).
SubLink decode_sub_link(Cursor &c) {
    SubLink h{};
    h.stored_length = c.u32();
    h.args = c.u8();
    h.locals = c.u16();
    h.globals = c.u16();
    c.skip(2 * (size_t(h.args) + h.locals + h.globals));
    return h;
}

// Format 1 numbers name symbols, except for these calls, whose number is a
// function number.
bool numbers_a_function(uint8_t opcode) {
    return opcode == op::S_JSR_0 || opcode == op::S_JSR_0P;
}

// The mnemonic of an opcode in eight columns at least, as lines show it.
std::string_view padded_mnemonic(uint8_t opcode) {
    static const auto table = [] {
        std::array<char[9], OPCODE_COUNT> t{};
        for (int op = 0; op < OPCODE_COUNT; ++op)
            snprintf(t[size_t(op)], sizeof t[0], "%-8s", itab[op].mnemonic);
        return t;
    }();
    return {table[opcode], 8};
}

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

// Decodes the instruction at the start of `c`, whose opcode is in the table.
// An instruction of invalid object code counts its opcode only.
Decoded decode(Cursor &c) {
    Decoded d;
    d.invalid = false;
    d.opcode = c.u8();
    const InstrInfo &info = itab[d.opcode];
    d.format = &format_of(info);
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

struct ExtendedLine {
    uint32_t file_offset;
    uint32_t line_high;
};

bool decode_extended_line(const char *text, ExtendedLine &x) {
    if (!is_line_marker(static_cast<unsigned char>(text[0])) || strnlen(text, 8) < 8) return false;
    long offset = base64_bits(text + 1, 4); // 24 bits: 3 bytes
    long high = base64_bits(text + 5, 3);   // 18 bits: 2 bytes and 2 fill bits
    if (offset < 0 || high < 0) return false;
    x = {uint32_t(offset), uint32_t(high >> 2)};
    return true;
}

// ---------------------------------------------------------------------------
// The listing

constexpr size_t DRAIN_AT = 64 * 1024;

// Decimal digits of `v` written backwards from `end`, two at a time;
// returns the first.
template <typename Unsigned> char *decimal(char *end, Unsigned v) {
    static constexpr char pairs[] = "00010203040506070809101112131415161718192021222324252627282930"
                                    "31323334353637383940414243444546474849505152535455565758596061"
                                    "62636465666768697071727374757677787980818283848586878889909192"
                                    "93949596979899";
    while (v >= 100) {
        unsigned pair = unsigned(v % 100) * 2;
        v /= 100;
        end -= 2;
        memcpy(end, pairs + pair, 2);
    }
    if (v >= 10) {
        end -= 2;
        memcpy(end, pairs + unsigned(v) * 2, 2);
    } else {
        *--end = char('0' + v);
    }
    return end;
}

char *decimal(char *end, long long v) {
    uint64_t magnitude = v < 0 ? 0 - uint64_t(v) : uint64_t(v);
    char *first =
        magnitude <= UINT32_MAX ? decimal(end, uint32_t(magnitude)) : decimal(end, magnitude);
    if (v < 0) *--first = '-';
    return first;
}

// The decimal text of the position of the line being listed, kept from one
// line to the next: positions grow by a few bytes a line, and adding to the
// digits costs less than writing them anew.
class PositionText {
  public:
    std::string_view of(uint64_t v) {
        if (v < value_ || v - value_ > 999)
            first_ = decimal(end(), v);
        else
            add(unsigned(v - value_));
        value_ = v;
        return {first_, size_t(end() - first_)};
    }

  private:
    char *end() { return digits_ + sizeof digits_; }
    // Adds `k` to the last digit and carries.
    void add(unsigned k) {
        char *d = end() - 1;
        unsigned digit = unsigned(*d - '0') + k;
        while (digit >= 10) {
            *d-- = char('0' + digit % 10);
            if (d < first_) *(first_ = d) = '0';
            digit = digit / 10 + unsigned(*d - '0');
        }
        *d = char('0' + digit);
    }

    char digits_[24] = {};
    char *first_ = decimal(digits_ + sizeof digits_, uint32_t(0));
    uint64_t value_ = 0;
};

// The length of a symbol's name: a string constant keeps it in slot 0.
size_t name_length(const Symbol *s) {
    return s->tok == TOK_STRING && s->dim_count == 1 ? size_t(s->dims[0]) : strlen(s->name);
}

std::string_view text_of(const Symbol *s) {
    return {s->name, name_length(s)};
}

// The names of the symbols by symbol number, gathered in one pass over the
// number table when a whole listing first needs them. Operands name symbols
// in any order; a lookup then reads an entry of four bytes and the name (the
// store keeps the names side by side) instead of the symbol's record, which
// lies far from the others in a large object.
class SymbolNames {
  public:
    void gather();
    // The name of symbol `number`; no text when the symbol is to be printed
    // from its record.
    std::string_view of(uint32_t number) const {
        if (number >= entries_.size() || entries_[number] == NONE) return {};
        int32_t e = entries_[number];
        return {base_ + (e >> LENGTH_BITS), size_t(e & LENGTH_MASK)};
    }

  private:
    // An entry holds where the name lies, from the first symbol's name, in
    // its upper 24 bits and the name's length in its lower 8.
    static constexpr int LENGTH_BITS = 8;
    static constexpr int32_t LENGTH_MASK = (1 << LENGTH_BITS) - 1;
    static constexpr int32_t NONE = 0;
    std::vector<int32_t> entries_;
    const char *base_ = nullptr;
};

// A symbol that an entry could not hold keeps none: a string constant
// (printed in quotes), one of a function's scope (printed with the
// function's name in front), one whose name is empty or longer than 255
// bytes, or lies 8 MiB or more away from the first symbol's (a name shared
// with a keyword lies in the keyword table).
void SymbolNames::gather() {
    constexpr intptr_t REACH = intptr_t(1) << (31 - LENGTH_BITS);
    entries_.resize(zel.symnr.size(), NONE);
    for (size_t i = 0; i < zel.symnr.size(); ++i) {
        const Symbol *s = zel.symnr[i];
        if (!s || s->tok == TOK_STRING || (s->scope && s->scope != zel.global_scope)) continue;
        if (!base_) base_ = s->name;
        intptr_t from_base =
            reinterpret_cast<intptr_t>(s->name) - reinterpret_cast<intptr_t>(base_);
        size_t length = name_length(s);
        if (from_base < -REACH || from_base >= REACH || length == 0 || length > LENGTH_MASK)
            continue;
        entries_[i] = int32_t(from_base * (LENGTH_MASK + 1)) | int32_t(length);
    }
}

// The texts of the string constants by offset, gathered in one pass over
// the string list when a whole listing first needs them. A string is kept
// when its text lies where its offset says in the string section as the
// loader keeps it (at the offset + 2, behind the record's length), which is
// every string of a sound object; a lookup is then one bit of the offset
// and the text itself, whose length is that of the string (the loader
// measures each string by its text). The first string of an offset is the
// one that `search_str` finds, so a list out of ascending offset order
// (offsets that wrapped around past 4 GiB) keeps nothing here.
class StringTexts {
  public:
    void gather();
    // The text at `offset`; no text (and no data) when none is kept there.
    std::string_view at(uint32_t offset) const {
        if (offset >= kept_.size() * 64 || !(kept_[offset / 64] >> (offset % 64) & 1)) return {};
        const char *text = reinterpret_cast<const char *>(zel.strings.data) + offset + 2;
        return {text, strlen(text)};
    }

  private:
    std::vector<uint64_t> kept_; // bit `offset` set: a kept string's record
};

void StringTexts::gather() {
    const uintptr_t base = reinterpret_cast<uintptr_t>(zel.strings.data);
    const size_t size = zel.strings.avail;
    if (size < 3) return;
    kept_.assign((size - 3) / 64 + 1, 0);
    uint32_t last = 0;
    for (const Symbol *s = zel.str.head; s; s = s->next) {
        if (s != zel.str.head && s->offset <= last) {
            kept_.clear();
            return;
        }
        last = s->offset;
        if (s->offset < size - 2 && reinterpret_cast<uintptr_t>(s->name) == base + s->offset + 2)
            kept_[s->offset / 64] |= uint64_t(1) << (s->offset % 64);
    }
}

class Listing {
  public:
    Listing(STREAM *out, bool whole_run)
        : out_(out), whole_run_(whole_run), capacity_(whole_run ? 2 * DRAIN_AT : 4096),
          text_(std::make_unique_for_overwrite<char[]>(capacity_)) {}

    // Lists the instruction at `pos`; returns the bytes consumed.
    size_t instruction(size_t pos);

    // Hands the collected text to the stream.
    void drain() {
        if (out_ && used_) swrite_blok(text_.get(), used_, out_);
        used_ = 0;
    }
    void drain_if_full() {
        if (used_ >= DRAIN_AT) drain();
    }
    // Makes everything listed so far visible, ahead of a message on stderr.
    void flush() {
        drain();
        if (out_) sflush(out_);
    }

  private:
    [[noreturn]] void fail(const char *fmt, long pos) {
        flush();
        fatal_error(fmt, pos);
    }
    [[noreturn]] void fail_invalid() {
        flush();
        fatal_error("ERROR IN OBJECT CODE");
    }
    void check_extent(size_t pos, const Decoded &d);

    // Text helpers. A piece longer than the buffer goes to the stream at
    // once, behind what the buffer holds.
    char *room(size_t n) {
        if (capacity_ - used_ < n) drain();
        return text_.get() + used_;
    }
    void put(const char *s, size_t n) {
        if (n > capacity_ - used_) return put_long(s, n);
        memcpy(text_.get() + used_, s, n);
        used_ += n;
    }
    [[gnu::noinline]] void put_long(const char *s, size_t n) {
        drain();
        if (n > capacity_) {
            if (out_) swrite_blok(s, n, out_);
            return;
        }
        memcpy(text_.get(), s, n);
        used_ = n;
    }
    void put(std::string_view s) { put(s.data(), s.size()); }
    void put(char c) { *room(1) = c, used_++; }
    void put_name(const Symbol *s) { put(text_of(s)); }
    // A number, padded with blanks to `width` columns on the left (or, with
    // `left`, on the right).
    void put_num(long long v, size_t width = 0, bool left = false) {
        char digits[24];
        char *end = digits + sizeof digits;
        char *first = decimal(end, v);
        size_t n = size_t(end - first);
        size_t pad = width > n ? width - n : 0;
        char *d = room(n + pad);
        if (!left) d = static_cast<char *>(memset(d, ' ', pad)) + pad;
        memcpy(d, first, n);
        if (left) memset(d + n, ' ', pad);
        used_ += n + pad;
    }
    void named(const Symbol *s) {
        put("   ");
        put_name(s);
    }
    void quoted(std::string_view text) {
        put("   \"");
        put(text);
        put('"');
    }

    // Lookups.
    Symbol *numbered(long number, const SymList &list);
    std::string_view string_at(uint32_t offset);
    Symbol *function_at(long pos);

    // Pieces of the listing.
    void function_line(size_t pos);
    // The position right-aligned in five columns, a tab and the mnemonic in
    // eight.
    void line_start(size_t pos, uint8_t opcode) {
        std::string_view digits = position_.of(pos);
        size_t pad = digits.size() < 5 ? 5 - digits.size() : 0;
        char *d = room(pad + digits.size() + 9);
        memset(d, ' ', pad);
        memcpy(d + pad, digits.data(), digits.size());
        d[pad + digits.size()] = '\t';
        memcpy(d + pad + digits.size() + 1, padded_mnemonic(opcode).data(), 8);
        used_ += pad + digits.size() + 9;
    }
    void symbol(const Symbol *s);
    void symbol_number(uint32_t number);
    void call_target(long target);
    void operand(Operand what, uint32_t v, long at, uint8_t opcode);
    void plain(size_t pos, const Decoded &d);
    void line_operand(uint32_t line, uint32_t file_offset);
    void sub_link(size_t pos, const SubLink &h);
    void switch_table(size_t pos, const SwitchTable &t);
    void switch_entry(Cursor &c, size_t pos, const SwitchTable &t, uint32_t i);

    STREAM *out_;
    bool whole_run_;
    PositionText position_;
    size_t capacity_;
    std::unique_ptr<char[]> text_;
    size_t used_ = 0;
    StringTexts string_texts_;
    bool strings_gathered_ = false;
    struct LineFile {
        bool known = false;
        uint32_t offset = 0;    // the LINE's string offset
        uint32_t line_high = 0; // from an extended line text
        std::string_view name;  // the file's name
    } line_file_;
    SymbolNames symbol_names_;
    bool symbols_gathered_ = false;
};

// `get_sym` of `number` in `list`. The symbol and function lists are served
// by the number tables, the other lists are numbered 0 up to their tail;
// when `get_sym` is about to end the run, what was listed goes out first.
Symbol *Listing::numbered(long number, const SymList &list) {
    const std::vector<Symbol *> *table = nullptr;
    if (zel.info != 0 && list.head) {
        if (list.head == zel.sym.head) table = &zel.symnr;
        if (list.head == zel.fun.head) table = &zel.funnr;
    }
    if (table) {
        if (number >= 0 && size_t(number) < table->size() && (*table)[size_t(number)])
            return (*table)[size_t(number)];
        flush();
    } else if (number < 0 || !list.tail || number > list.tail->number) {
        flush();
    }
    return get_sym(number, list.head);
}

// The text of the string constant at `offset`. Its `data()` ends in a NUL.
std::string_view Listing::string_at(uint32_t offset) {
    if (whole_run_) {
        if (!strings_gathered_) string_texts_.gather(), strings_gathered_ = true;
        if (std::string_view text = string_texts_.at(offset); text.data()) return text;
    }
    flush(); // search_str ends the run when nothing has that offset
    return text_of(search_str(offset, zel.str.head));
}

Symbol *Listing::function_at(long pos) {
    if (pos < 0 || pos > long(UINT32_MAX)) return nullptr;
    if (zel.info == 0) flush(); // without info bits a miss ends the run
    return search_off(uint32_t(pos), zel.fun.head);
}

void Listing::function_line(size_t pos) {
    put("\nfunction ");
    if (const Symbol *f = function_at(long(pos))) {
        put_name(f);
    } else {
        put('[');
        put_num(long(pos));
        put(']');
    }
    put(":\n");
}

// A symbol operand: a string constant in double quotes, a symbol of a
// function's scope with the function's name in front, others by name.
void Listing::symbol(const Symbol *s) {
    if (s->tok == TOK_STRING) return quoted(text_of(s));
    put("   ");
    if (s->scope && s->scope != zel.global_scope) {
        put_name(s->scope);
        put('.');
    }
    put_name(s);
}

// The symbol operand of symbol number `number`, printed as `symbol` prints
// it. A whole listing with the number table reads the gathered names.
void Listing::symbol_number(uint32_t number) {
    if (whole_run_ && zel.info != 0) {
        if (!symbols_gathered_) symbol_names_.gather(), symbols_gathered_ = true;
        if (std::string_view name = symbol_names_.of(number); !name.empty()) {
            put("   ");
            return put(name);
        }
    }
    symbol(numbered(number, zel.sym));
}

void Listing::call_target(long target) {
    put("   ");
    if (const Symbol *f = function_at(target)) {
        put_name(f);
    } else {
        put('[');
        put_num(int32_t(target));
        put(']');
    }
}

void Listing::operand(Operand what, uint32_t v, long at, uint8_t opcode) {
    switch (what) {
    case Operand::none:
    case Operand::line_file: // printed with the line
        return;
    case Operand::symbol:
        if (numbers_a_function(opcode))
            symbol(numbered(v, zel.fun));
        else
            symbol_number(v);
        return;
    case Operand::function:
        named(numbered(v, zel.fun));
        return;
    case Operand::global_fun:
        named(numbered(v, zel.glob_fun));
        return;
    case Operand::dbl:
        named(numbered(v, zel.dbl));
        return;
    case Operand::string:
        quoted(string_at(v));
        return;
    case Operand::immediate:
    case Operand::count:
        put("   ");
        put_num(v);
        return;
    case Operand::jump_signed:
        put("   ");
        put_num(int32_t(at + int16_t(v)));
        return;
    case Operand::jump_fwd:
        put("   ");
        put_num(int32_t(at + long(v)));
        return;
    case Operand::jump_back:
        put("   ");
        put_num(int32_t(at - long(v)));
        return;
    case Operand::call_fwd:
        call_target(at + long(v));
        return;
    case Operand::call_back:
        call_target(at - long(v));
        return;
    case Operand::frame_size:
        put("   size(");
        put_num(int32_t(v));
        put(')');
        return;
    case Operand::frame_funnr:
        put(" funnr <");
        put_num(v);
        put('>');
        return;
    case Operand::line:
        return; // with its file, below
    }
}

// The fields of a plain instruction, printed in the order of their bytes,
// except that an argument count follows what is called. A distance is
// measured from its field's first byte.
void Listing::plain(size_t pos, const Decoded &d) {
    const OperandField *f = d.format->fields;
    long at[2] = {long(pos) + 1, long(pos) + 1 + f[0].width};
    if (f[0].what == Operand::line) {
        line_operand(d.values[0], d.values[1]);
    } else if (f[0].what == Operand::count) {
        operand(f[1].what, d.values[1], at[1], d.opcode);
        operand(f[0].what, d.values[0], at[0], d.opcode);
    } else {
        operand(f[0].what, d.values[0], at[0], d.opcode);
        operand(f[1].what, d.values[1], at[1], d.opcode);
    }
    put('\n');
}

// The file of the last LINE is kept with what its text decoded to: most
// lines name the file of the line before, with other strings in between.
void Listing::line_operand(uint32_t line, uint32_t file_offset) {
    if (!line_file_.known || line_file_.offset != file_offset) {
        std::string_view file = string_at(file_offset);
        ExtendedLine x;
        uint32_t high = 0;
        if (decode_extended_line(file.data(), x)) {
            high = x.line_high;
            file = string_at(x.file_offset);
        }
        line_file_ = {true, file_offset, high, file};
    }
    put("   ");
    put_num(int32_t(line + (line_file_.line_high << 16)));
    put("   ");
    put(line_file_.name);
}

// The function trailer: the counts, then one line per argument, local and
// extern, global or static.
void Listing::sub_link(size_t pos, const SubLink &h) {
    put("   ");
    put_num(h.args);
    put(" arguments, ");
    put_num(h.locals);
    put(" locals, ");
    put_num(h.globals);
    put(" externs/global/statics:\n");
    Cursor words(zel.code.from(pos + 10), "object section");
    for (unsigned i = 0; i < h.args; ++i) {
        uint32_t word = words.u16();
        const Symbol *s = numbered(word & 0x7FFF, zel.sym);
        if (word & 0x8000)
            put("\t\t   (ref)     ");
        else if (s->flags & CONST_ARG)
            put("\t\t   (const)   ");
        else
            put("\t\t   (val)     ");
        put_name(s);
        put('\n');
    }
    for (unsigned i = 0; i < h.locals; ++i) {
        put("\t\t   (loc)     ");
        put_name(numbered(words.u16(), zel.sym));
        put('\n');
    }
    for (unsigned i = 0; i < h.globals; ++i) {
        const Symbol *s = numbered(words.u16(), zel.sym);
        if (s->flags & STATIC)
            put("\t\t   (static)  ");
        else if (s->flags & EXTERN)
            put("\t\t   (extern)  ");
        else
            put("\t\t   (global)  ");
        put_name(s);
        put('\n');
        drain_if_full();
    }
}

bool is_string_key(uint8_t kind) {
    return kind >= 4 && kind <= 6;
}

// The switch table. Keys of the string kinds (4, 5, 6) name string
// constants; keys of every other kind are printed as numbers, and a key kind
// without width gives each entry its index as key.
void Listing::switch_table(size_t pos, const SwitchTable &t) {
    long base = long(pos) + 1;
    put("\n\tType arg:  ");
    put_num(t.arg.kind);
    put("\n\tDept:      ");
    put_num(t.entries);
    put("\n\tDefault:   ");
    put_num(t.deflt.value ? int32_t(base - long(t.deflt.value)) : 0);
    put("\n\tSubtract:  ");
    put_num(int32_t(t.subtract.value));
    put("\n\tDivide:\t   ");
    put_num(int32_t(t.divide.value));
    put(t.key_kind ? "\n\tSearch  -> addr\n" : "\n\tJump    -> addr\n");
    put("\t---------------\n");
    Cursor entries(zel.code.from(pos + t.first_entry), "object section");
    for (uint32_t i = 0; i < t.entries; ++i) {
        switch_entry(entries, pos, t, i);
        drain_if_full();
    }
}

void Listing::switch_entry(Cursor &c, size_t pos, const SwitchTable &t, uint32_t i) {
    uint32_t key = t.key_kind ? c.uint(t.key_width) : i;
    uint32_t distance = c.uint(t.addr_width);
    int32_t target = distance ? int32_t(long(pos) + 1 - long(distance)) : 0;
    if (is_string_key(t.key_kind)) {
        std::string_view text = string_at(key);
        put("\t        -> ");
        put_num(target, 5, true);
        put(" \"");
        put(text);
        put("\"\n");
    } else {
        put('\t');
        put_num(int32_t(key), 5, true);
        put("   -> ");
        put_num(target, 5, true);
        put('\n');
    }
}

// Ends the run for an instruction that runs past the end of the code, and
// for unreal work: code listed more than 16 MiB past the end of the file, a
// switch table of more entries of no bytes than that.
void Listing::check_extent(size_t pos, const Decoded &d) {
    const uint64_t unreal = zel.code.avail + UNREAL_BYTES;
    if (uint64_t(pos) + d.length > unreal || (pos >= zel.code.avail && zel.code.size > unreal))
        fail("Object is corrupt: the code at %ld runs more than 16 MiB past the end of the file",
             long(pos));
    if (d.format->shape == Shape::switch_table && !d.invalid && d.table.entry_width() == 0 &&
        d.table.entries > UNREAL_BYTES)
        fail("Object is corrupt: switch table at %ld has more than 16777216 entries of no bytes",
             long(pos));
}

size_t Listing::instruction(size_t pos) {
    Cursor c(zel.code.from(pos), "object section");
    if (zel.code.at(pos) >= OPCODE_COUNT) fail_invalid();
    Decoded d = decode(c);
    if (!c.ok())
        fail("Object is corrupt: instruction at %ld runs past the end of the code", long(pos));
    check_extent(pos, d);

    if (d.opcode == op::SUB_TEXT) function_line(pos);
    line_start(pos, d.opcode);
    if (d.invalid) fail_invalid();

    switch (d.format->shape) {
    case Shape::sub_link:
        sub_link(pos, d.link);
        break;
    case Shape::switch_table:
        switch_table(pos, d.table);
        break;
    default:
        plain(pos, d);
        break;
    }
    return d.length;
}

} // namespace

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
        SwitchTable t;
        if (!decode_switch(c, t)) return 0; // a kind code without a width
        return c.ok() ? long(c.pos()) : -1;
    }
    long size = itab[opcode].size;
    return size_t(size) <= avail ? size : -1;
}

// The code is read once, front to back: what is listed is given back.
constexpr size_t RELEASE_EVERY = 256 << 10;

void write_assembler(STREAM *out) {
    if (!out || zel.code.size == 0) return;
    Listing listing(out, true);
    size_t released = 0;
    for (size_t pos = 0; pos < zel.code.size;) {
        pos += listing.instruction(pos);
        listing.drain_if_full();
        if (pos - released >= RELEASE_EVERY && pos <= zel.code.avail && zel.hdr.file) {
            zel.hdr.file->release_pages(zel.code.data + released, pos - released);
            released = pos;
        }
    }
    listing.flush();
}

long print_instruction(size_t pos, STREAM *out) {
    if (pos >= zel.code.size) fatal_error("Object is corrupt: instruction outside the code");
    Listing listing(out, false);
    size_t n = listing.instruction(pos);
    listing.flush();
    return long(n);
}

STREAM *open_assembler() {
    const char *file = zel.listing_name.c_str();
    STREAM *s = sopen(file, "w");
    if (!s) fatal_system_error(file, "Can't open output file '%s'.\n", file);
    std::string heading = "Instructions from programm: " + zel.objname + "\n\n";
    sputs(heading.c_str(), s);
    return s;
}
