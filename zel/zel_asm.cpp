// The ASSEMBLER CODE listing: decodes the code section instruction by
// instruction and prints every operand resolved to the symbol, function,
// constant or code position that it designates. The instruction table itself
// lives in zel_itab.cpp.
//
// Reading. Before an instruction is printed its whole extent is measured
// against the end of the code section; an instruction (or a switch table
// entry) that would reach past it ends the run with "Object is corrupt:
// instruction at %ld runs past the end of the code". Operands are then read
// without further checks, since they are known to lie inside the buffer.
//
// Output. Text is collected in a buffer of our own and handed to the stream
// in large blocks; the stream is flushed at the end of the listing and before
// every fatal error, so what was listed before the error comes out before the
// message. Lookups that can end the run (a symbol number or string offset
// that names nothing) are checked first, so the flush is only done when the
// run is really about to end.
#include "zel_asm.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "al_strm.h"
#include "zel.h"
#include "zel_error.h"
#include "zel_symtab.h"

namespace {

// ---------------------------------------------------------------------------
// Byte access

uint32_t be(const uint8_t *p, unsigned width) {
    uint32_t v = 0;
    for (unsigned i = 0; i < width; ++i)
        v = v << 8 | p[i];
    return v;
}

constexpr unsigned KIND_CODES = sizeof size_in_instructions;

// A reader that never passes `size`: a read beyond it yields 0 and marks the
// reader as overrun.
struct Reader {
    const uint8_t *p;
    size_t size;
    size_t pos = 0;
    bool overrun = false;

    uint32_t take(unsigned width) {
        if (width > size - pos) {
            overrun = true;
            pos = size;
            return 0;
        }
        uint32_t v = be(p + pos, width);
        pos += width;
        return v;
    }
};

// ---------------------------------------------------------------------------
// Switch table layout

enum class Layout { ok, truncated, invalid };

struct KindValue {
    uint8_t kind = 0;
    uint32_t value = 0;
};

struct SwitchTable {
    KindValue arg, count, deflt, subtract, divide;
    uint8_t key_kind = 0;
    uint8_t addr_kind = 0;
    uint32_t entries = 0; // number of entries that follow
    size_t first_entry = 0;
    size_t length = 0;
};

bool is_count_code(uint8_t code) {
    return code == 7 || code == 8 || code == 10;
}

// A field of the switch table: a kind code and a value of that code's width.
// A kind code outside the width table is not valid object code.
bool read_kind_value(Reader &r, KindValue &f) {
    f.kind = uint8_t(r.take(1));
    if (r.overrun) return true;
    if (f.kind >= KIND_CODES) return false;
    f.value = r.take(size_in_instructions[f.kind]);
    return true;
}

Layout decode_switch(const uint8_t *p, size_t avail, SwitchTable &t) {
    Reader r{p, avail};
    r.take(1); // opcode
    for (KindValue *f : {&t.arg, &t.count, &t.deflt, &t.subtract, &t.divide})
        if (!read_kind_value(r, *f)) return Layout::invalid;
    t.key_kind = uint8_t(r.take(1));
    t.addr_kind = uint8_t(r.take(1));
    if (r.overrun) return Layout::truncated;
    if (t.key_kind >= KIND_CODES || t.addr_kind >= KIND_CODES) return Layout::invalid;
    t.entries = is_count_code(t.count.kind) ? t.count.value : 0;
    t.first_entry = r.pos;
    uint64_t entry_width = size_in_instructions[t.key_kind] + size_in_instructions[t.addr_kind];
    // Entries of no bytes at all (key and address kinds without width) would
    // let a count list any number of lines out of nothing: not valid code.
    if (entry_width == 0 && t.entries > 0) return Layout::invalid;
    uint64_t length = r.pos + uint64_t(t.entries) * entry_width;
    if (length > avail) return Layout::truncated;
    t.length = size_t(length);
    return Layout::ok;
}

// ---------------------------------------------------------------------------
// Function trailer layout

constexpr size_t SUB_LINK_HEAD = 10;

struct SubLink {
    uint32_t stored_length;
    unsigned args, locals, globals;
    size_t length() const { return SUB_LINK_HEAD + 2 * size_t(args + locals + globals); }
};

SubLink decode_sub_link(const uint8_t *p) {
    return {be(p + 1, 4), be(p + 5, 1), be(p + 6, 2), be(p + 8, 2)};
}

// ---------------------------------------------------------------------------
// Operand formats of the plain instructions, as data: each format reads up
// to two operands and prints them in the order given here.

enum class Kind : uint8_t {
    none,
    symbol,      // symbol number, printed by the symbol rendering rule
    function,    // function number, name
    global_fun,  // global function number, name
    dbl,         // double number, the constant's text
    string,      // string offset, the text in double quotes
    immediate,   // unsigned integer
    count,       // argument count
    jump_signed, // branch target: operand position + signed distance
    jump_fwd,    // branch target: operand position + distance
    jump_back,   // branch target: operand position - distance
    call_fwd,    // called function's SUB_TEXT: operand position + distance
    call_back,   // called function's SUB_TEXT: operand position - distance
    frame_size,  // SUB_TEXT length
    frame_funnr, // SUB_TEXT function number
    line,        // source line and file name (two fields)
};

struct Operand {
    Kind kind;
    uint8_t offset; // from the opcode
    uint8_t width;
};

enum class Shape : uint8_t { plain, sub_link, switch_table, invalid };

struct FormatRule {
    Shape shape;
    Operand first;
    Operand second;
};

constexpr Operand NO_OPERAND{Kind::none, 0, 0};
constexpr FormatRule plain(Operand a = NO_OPERAND, Operand b = NO_OPERAND) {
    return {Shape::plain, a, b};
}
constexpr FormatRule INVALID_FORMAT{Shape::invalid, NO_OPERAND, NO_OPERAND};

constexpr int FORMAT_COUNT = 32;
constexpr FormatRule format_rules[FORMAT_COUNT] = {
    /* 0 */ plain(),
    /* 1 */ plain({Kind::symbol, 1, 2}),
    /* 2 */ plain({Kind::symbol, 1, 1}),
    /* 3 */ plain({Kind::jump_signed, 1, 2}),
    /* 4 */ plain({Kind::jump_fwd, 1, 1}),
    /* 5 */ plain({Kind::jump_back, 1, 1}),
    /* 6 */ plain({Kind::call_fwd, 1, 2}),
    /* 7 */ plain({Kind::call_back, 1, 2}),
    /* 8 */ plain({Kind::call_fwd, 2, 2}, {Kind::count, 1, 1}),
    /* 9 */ plain({Kind::call_back, 2, 2}, {Kind::count, 1, 1}),
    /* 10 */ INVALID_FORMAT,
    /* 11 */ plain({Kind::global_fun, 1, 1}),
    /* 12 */ plain({Kind::global_fun, 1, 2}),
    /* 13 */ plain({Kind::global_fun, 1, 1}, {Kind::count, 2, 1}),
    /* 14 */ plain({Kind::global_fun, 1, 2}, {Kind::count, 3, 1}),
    /* 15 */ plain({Kind::symbol, 1, 2}, {Kind::symbol, 3, 2}),
    /* 16 */ plain({Kind::symbol, 1, 1}, {Kind::symbol, 2, 1}),
    /* 17 */ INVALID_FORMAT,
    /* 18 */ plain({Kind::function, 2, 2}, {Kind::count, 1, 1}),
    /* 19 */ plain({Kind::frame_size, 1, 4}, {Kind::frame_funnr, 5, 2}),
    /* 20 */ {Shape::sub_link, NO_OPERAND, NO_OPERAND},
    /* 21 */ plain({Kind::immediate, 1, 1}),
    /* 22 */ plain({Kind::immediate, 1, 2}),
    /* 23 */ plain({Kind::immediate, 1, 4}),
    /* 24 */ plain({Kind::dbl, 1, 1}),
    /* 25 */ plain({Kind::dbl, 1, 2}),
    /* 26 */ plain({Kind::string, 1, 1}),
    /* 27 */ plain({Kind::string, 1, 2}),
    /* 28 */ plain({Kind::string, 1, 3}),
    /* 29 */ plain({Kind::line, 1, 2}),
    /* 30 */ INVALID_FORMAT, // CAT_N has no layout
    /* 31 */ {Shape::switch_table, NO_OPERAND, NO_OPERAND},
};

// Format 1 numbers name symbols, except for these calls, whose number is a
// function number.
bool numbers_a_function(uint8_t opcode) {
    return opcode == op::S_JSR_0 || opcode == op::S_JSR_0P;
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

class Listing {
  public:
    Listing(STREAM *out, bool whole_run) : out_(out), whole_run_(whole_run) {
        text_.reserve(whole_run ? 2 * DRAIN_AT : 256);
    }

    // Lists the instruction at `pos`; returns the bytes consumed.
    long instruction(size_t pos);

    // Hands the collected text to the stream.
    void drain() {
        if (out_ && !text_.empty()) swrite_blok(text_.data(), text_.size(), out_);
        text_.clear();
    }
    void drain_if_full() {
        if (text_.size() >= DRAIN_AT) drain();
    }
    // Makes everything listed so far visible, ahead of a message on stderr.
    void flush() {
        drain();
        if (out_) sflush(out_);
    }

  private:
    [[noreturn]] void fail_invalid() {
        flush();
        fatal_error("ERROR IN OBJECT CODE");
    }
    [[noreturn]] void fail_truncated(size_t pos) {
        flush();
        fatal_error("Object is corrupt: instruction at %ld runs past the end of the code",
                    long(pos));
    }

    // Text helpers.
    void put(std::string_view s) { text_.append(s); }
    void put(char c) { text_.push_back(c); }
    void put_num(long long v, int width = 0, bool left = false) {
        char buf[24];
        auto res = std::to_chars(buf, buf + sizeof buf, v);
        size_t n = size_t(res.ptr - buf);
        if (!left && n < size_t(width)) text_.append(width - n, ' ');
        text_.append(buf, n);
        if (left && n < size_t(width)) text_.append(width - n, ' ');
    }
    void named(const Symbol *s) {
        put("   ");
        put(s->name);
    }
    void quoted(const Symbol *s) {
        put("   \"");
        put(s->name);
        put('"');
    }
    void put_padded(const char *s, size_t width) {
        size_t n = strlen(s);
        text_.append(s, n);
        if (n < width) text_.append(width - n, ' ');
    }

    // Lookups.
    Symbol *numbered(long number, const SymList &list);
    Symbol *string_at(uint32_t offset);
    Symbol *function_at(long pos);

    // Pieces of the listing.
    void function_line(size_t pos);
    void symbol(const Symbol *s);
    void call_target(long target);
    void operand(const Operand &o, const uint8_t *p, size_t pos);
    void line_operand(const uint8_t *p);
    void sub_link(const uint8_t *p);
    void switch_table(const uint8_t *p, size_t pos, const SwitchTable &t);
    void switch_entry(const uint8_t *p, size_t pos, const SwitchTable &t, uint32_t i);

    STREAM *out_;
    bool whole_run_;
    std::string text_;
    // The string constants by offset, built on first use during a whole
    // listing: the offsets in ascending order beside their symbols, and the
    // last one found, which the next LINE usually names again.
    void index_strings();
    std::vector<uint32_t> string_offsets_;
    std::vector<Symbol *> string_symbols_;
    bool strings_indexed_ = false;
    uint32_t last_offset_ = 0;
    Symbol *last_string_ = nullptr;
};

// True when `get_sym` finds `number` in `list`: the number tables serve the
// symbol and function lists, the other lists are numbered 0 up to their tail.
bool list_has_number(long number, const SymList &list) {
    if (number < 0) return false;
    auto in_table = [number](const std::vector<Symbol *> &table) {
        return size_t(number) < table.size() && table[size_t(number)] != nullptr;
    };
    if (zel.info != 0 && list.head && list.head == zel.sym.head) return in_table(zel.symnr);
    if (zel.info != 0 && list.head && list.head == zel.fun.head) return in_table(zel.funnr);
    return list.tail != nullptr && number <= list.tail->number;
}

Symbol *Listing::numbered(long number, const SymList &list) {
    if (!list_has_number(number, list)) flush(); // get_sym is about to end the run
    return get_sym(number, list.head);
}

// In list order, the first string of an offset is the one `search_str`
// finds; a stable sort keeps it first among strings of equal offset.
void Listing::index_strings() {
    std::vector<std::pair<uint32_t, Symbol *>> by_offset;
    for (Symbol *s = zel.str.head; s; s = s->next)
        by_offset.emplace_back(s->offset, s);
    auto offset_less = [](const auto &a, const auto &b) { return a.first < b.first; };
    if (!std::is_sorted(by_offset.begin(), by_offset.end(), offset_less))
        std::stable_sort(by_offset.begin(), by_offset.end(), offset_less);
    string_offsets_.reserve(by_offset.size());
    string_symbols_.reserve(by_offset.size());
    for (const auto &[offset, s] : by_offset) {
        string_offsets_.push_back(offset);
        string_symbols_.push_back(s);
    }
    strings_indexed_ = true;
}

Symbol *Listing::string_at(uint32_t offset) {
    if (whole_run_) {
        if (last_string_ && last_offset_ == offset) return last_string_;
        if (!strings_indexed_) index_strings();
        auto it = std::lower_bound(string_offsets_.begin(), string_offsets_.end(), offset);
        if (it != string_offsets_.end() && *it == offset) {
            last_offset_ = offset;
            last_string_ = string_symbols_[size_t(it - string_offsets_.begin())];
            return last_string_;
        }
    }
    flush(); // search_str ends the run when nothing has that offset
    return search_str(offset, zel.str.head);
}

Symbol *Listing::function_at(long pos) {
    if (pos < 0 || pos > long(UINT32_MAX)) return nullptr;
    if (zel.info == 0) flush(); // without info bits a miss ends the run
    return search_off(uint32_t(pos), zel.fun.head);
}

void Listing::function_line(size_t pos) {
    put("\nfunction ");
    if (const Symbol *f = function_at(long(pos))) {
        put(f->name);
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
    if (s->tok == TOK_STRING) return quoted(s);
    put("   ");
    if (s->scope && s->scope != zel.global_scope) {
        put(s->scope->name);
        put('.');
    }
    put(s->name);
}

void Listing::call_target(long target) {
    put("   ");
    if (const Symbol *f = function_at(target)) {
        put(f->name);
    } else {
        put('[');
        put_num(int32_t(target));
        put(']');
    }
}

void Listing::operand(const Operand &o, const uint8_t *p, size_t pos) {
    uint32_t v = be(p + o.offset, o.width);
    long at = long(pos) + o.offset; // where a distance is measured from
    switch (o.kind) {
    case Kind::none:
        return;
    case Kind::symbol:
        symbol(numbered(v, numbers_a_function(p[0]) ? zel.fun : zel.sym));
        return;
    case Kind::function:
        named(numbered(v, zel.fun));
        return;
    case Kind::global_fun:
        named(numbered(v, zel.glob_fun));
        return;
    case Kind::dbl:
        named(numbered(v, zel.dbl));
        return;
    case Kind::string:
        quoted(string_at(v));
        return;
    case Kind::immediate:
    case Kind::count:
        put("   ");
        put_num(v);
        return;
    case Kind::jump_signed:
        put("   ");
        put_num(int32_t(at + int16_t(v)));
        return;
    case Kind::jump_fwd:
        put("   ");
        put_num(int32_t(at + long(v)));
        return;
    case Kind::jump_back:
        put("   ");
        put_num(int32_t(at - long(v)));
        return;
    case Kind::call_fwd:
        call_target(at + long(v));
        return;
    case Kind::call_back:
        call_target(at - long(v));
        return;
    case Kind::frame_size:
        put("   size(");
        put_num(int32_t(v));
        put(')');
        return;
    case Kind::frame_funnr:
        put(" funnr <");
        put_num(v);
        put('>');
        return;
    case Kind::line:
        line_operand(p);
        return;
    }
}

void Listing::line_operand(const uint8_t *p) {
    uint32_t line = be(p + 1, 2);
    const Symbol *file = string_at(be(p + 3, 3));
    ExtendedLine x;
    if (decode_extended_line(file->name, x)) {
        line += x.line_high << 16;
        file = string_at(x.file_offset);
    }
    put("   ");
    put_num(int32_t(line));
    put("   ");
    put(file->name);
}

// The function trailer. Its words are listed by the counts A, L and G, and
// the listing advances by the bytes they cover, 10 + 2 * (A + L + G); the
// stored length is not consulted here (`sizeof_instruction` returns it).
void Listing::sub_link(const uint8_t *p) {
    SubLink h = decode_sub_link(p);
    put("   ");
    put_num(h.args);
    put(" arguments, ");
    put_num(h.locals);
    put(" locals, ");
    put_num(h.globals);
    put(" externs/global/statics:\n");
    const uint8_t *w = p + SUB_LINK_HEAD;
    for (unsigned i = 0; i < h.args; ++i, w += 2) {
        uint32_t word = be(w, 2);
        const Symbol *s = numbered(word & 0x7FFF, zel.sym);
        if (word & 0x8000)
            put("\t\t   (ref)     ");
        else if (s->flags & CONST_ARG)
            put("\t\t   (const)   ");
        else
            put("\t\t   (val)     ");
        put(s->name);
        put('\n');
    }
    for (unsigned i = 0; i < h.locals; ++i, w += 2) {
        put("\t\t   (loc)     ");
        put(numbered(be(w, 2), zel.sym)->name);
        put('\n');
    }
    for (unsigned i = 0; i < h.globals; ++i, w += 2) {
        const Symbol *s = numbered(be(w, 2), zel.sym);
        if (s->flags & STATIC)
            put("\t\t   (static)  ");
        else if (s->flags & EXTERN)
            put("\t\t   (extern)  ");
        else
            put("\t\t   (global)  ");
        put(s->name);
        put('\n');
    }
}

bool is_string_key(uint8_t kind) {
    return kind >= 4 && kind <= 6;
}

// The switch table. Fields are read with the widths of their kind codes
// whatever the code; the count is taken only from the codes the compiler
// writes for it (7, 8, 10), any other code means no entries. Keys of the
// string kinds (4, 5, 6) name string constants; keys of every other kind are
// printed as numbers, and kinds without width give the key 0.
void Listing::switch_table(const uint8_t *p, size_t pos, const SwitchTable &t) {
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
    for (uint32_t i = 0; i < t.entries; ++i) {
        switch_entry(p, pos, t, i);
        drain_if_full();
    }
}

void Listing::switch_entry(const uint8_t *p, size_t pos, const SwitchTable &t, uint32_t i) {
    unsigned key_width = size_in_instructions[t.key_kind];
    unsigned addr_width = size_in_instructions[t.addr_kind];
    const uint8_t *e = p + t.first_entry + size_t(i) * (key_width + addr_width);
    uint32_t key = t.key_kind ? be(e, key_width) : i;
    uint32_t distance = be(e + key_width, addr_width);
    int32_t target = distance ? int32_t(long(pos) + 1 - long(distance)) : 0;
    if (is_string_key(t.key_kind)) {
        const Symbol *text = string_at(key);
        put("\t        -> ");
        put_num(target, 5, true);
        put(" \"");
        put(text->name);
        put("\"\n");
    } else {
        put('\t');
        put_num(int32_t(key), 5, true);
        put("   -> ");
        put_num(target, 5, true);
        put('\n');
    }
}

// The extent of the instruction at `p` as the listing reads it.
struct Extent {
    size_t length = 0; // bytes consumed; 0 when they would reach past the code
    bool invalid = false;
    SwitchTable table;
};

// An instruction of invalid object code counts its opcode only; the listing
// reports it once its line has begun.
Extent measure(const uint8_t *p, size_t avail, const FormatRule &rule) {
    Extent x;
    switch (rule.shape) {
    case Shape::invalid:
        x.invalid = true;
        x.length = 1;
        break;
    case Shape::sub_link:
        if (avail >= SUB_LINK_HEAD && decode_sub_link(p).length() <= avail)
            x.length = decode_sub_link(p).length();
        break;
    case Shape::switch_table:
        switch (decode_switch(p, avail, x.table)) {
        case Layout::ok:
            x.length = x.table.length;
            break;
        case Layout::truncated:
            break;
        case Layout::invalid:
            x.invalid = true;
            x.length = 1;
            break;
        }
        break;
    case Shape::plain: {
        size_t size = itab[p[0]].size > 0 ? size_t(itab[p[0]].size) : 1; // LAST: opcode only
        if (size <= avail) x.length = size;
        break;
    }
    }
    return x;
}

long Listing::instruction(size_t pos) {
    const uint8_t *p = zel.code.data() + pos;
    size_t avail = zel.code.size() - pos;
    uint8_t opcode = p[0];
    if (opcode >= OPCODE_COUNT) fail_invalid();
    const InstrInfo &info = itab[opcode];
    const FormatRule &rule =
        info.format < FORMAT_COUNT ? format_rules[info.format] : INVALID_FORMAT;
    Extent x = measure(p, avail, rule);
    if (x.length == 0) fail_truncated(pos);

    if (opcode == op::SUB_TEXT) function_line(pos);
    put_num(long(pos), 5);
    put('\t');
    put_padded(info.mnemonic, 8);
    if (x.invalid) fail_invalid();

    switch (rule.shape) {
    case Shape::sub_link:
        sub_link(p);
        break;
    case Shape::switch_table:
        switch_table(p, pos, x.table);
        break;
    default:
        operand(rule.first, p, pos);
        operand(rule.second, p, pos);
        put('\n');
        break;
    }
    return long(x.length);
}

} // namespace

// SUB_LINK: the stored length. An opcode outside the table, CAT_N, LAST and a
// switch table with a kind code that has no width (or entries of no bytes)
// have no length: 0.
long sizeof_instruction(const uint8_t *instr, size_t avail) {
    if (avail == 0) return -1;
    uint8_t opcode = instr[0];
    if (opcode >= OPCODE_COUNT) return 0; // no length rule outside the table
    if (opcode == op::SUB_LINK) {
        if (avail < 5) return -1;
        uint32_t stored = be(instr + 1, 4);
        return stored <= avail ? long(stored) : -1;
    }
    if (opcode == op::SWITCH_T) {
        SwitchTable t;
        switch (decode_switch(instr, avail, t)) {
        case Layout::ok:
            return long(t.length);
        case Layout::truncated:
            return -1;
        case Layout::invalid:
            return 0; // a kind code without a width
        }
    }
    long size = itab[opcode].size;
    return size_t(size) <= avail ? size : -1;
}

void write_assembler(STREAM *out) {
    if (!out || zel.code.empty()) return;
    Listing listing(out, true);
    size_t pos = 0;
    while (pos < zel.code.size()) {
        long n = listing.instruction(pos);
        if (n <= 0) break;
        pos += size_t(n);
        listing.drain_if_full();
    }
    listing.flush();
}

long print_instruction(const uint8_t *instr, STREAM *out) {
    auto at = reinterpret_cast<uintptr_t>(instr);
    auto begin = reinterpret_cast<uintptr_t>(zel.code.data());
    if (zel.code.empty() || at < begin || at - begin >= zel.code.size())
        fatal_error("Object is corrupt: instruction outside the code");
    Listing listing(out, false);
    long n = listing.instruction(at - begin);
    listing.flush();
    return n;
}
