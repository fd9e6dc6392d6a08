// The ASSEMBLER CODE listing: lists the code section instruction by
// instruction and prints every operand resolved to the symbol, function,
// constant or code position that it designates. The instruction set is the
// pair of lists in zel_asm.h; zel_asm_decode.h decodes the instructions, and
// zel_asm_cache.h holds the text buffer and the operand lookups with the
// caches that keep the listing fast.
//
// What was listed is flushed before every fatal error, so that it comes out
// before the message. Lookups that can end the run (a symbol number or
// string offset that names nothing) are checked first, so the flush is only
// done when the run is really about to end.
#include "zel_asm.h"

#include <string>
#include <string_view>

#include "al_strm.h"
#include "zel.h"
#include "zel_asm_cache.h"
#include "zel_asm_decode.h"
#include "zel_cursor.h"
#include "zel_error.h"

using namespace zel_asm;

namespace {

// Format 1 numbers name symbols, except for these calls, whose number is a
// function number.
bool numbers_a_function(uint8_t opcode) {
    return opcode == op::S_JSR_0 || opcode == op::S_JSR_0P;
}

// The listing of a whole code section (`write_assembler`) or of a single
// instruction (`print_instruction`); only a whole listing gathers the
// lookup caches.
class Listing : public ListingText {
  public:
    Listing(STREAM *out, bool whole_run)
        : ListingText(out, whole_run ? 2 * DRAIN_AT : 4096), lookup_(*this, whole_run) {}

    // Lists the instruction at `pos`; returns the bytes consumed.
    size_t instruction(size_t pos);

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

    // Pieces of the listing.
    void function_line(size_t pos);
    void symbol(const Symbol *s);
    void symbol_number(uint32_t number);
    void call_target(long target);
    void operand(Operand what, uint32_t v, long at, uint8_t opcode);
    void plain(size_t pos, const Decoded &d);
    void line_operand(uint32_t line, uint32_t file_offset);
    void sub_link(size_t pos, const SubLink &h);
    void switch_table(size_t pos, const SwitchTable &t);
    void switch_entry(Cursor &c, size_t pos, const SwitchTable &t, uint32_t i);

    OperandLookup lookup_;
    struct LineFile {
        bool known = false;
        uint32_t offset = 0;    // the LINE's string offset
        uint32_t line_high = 0; // from an extended line text
        std::string_view name;  // the file's name
    } line_file_;
};

} // namespace

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

// ---------------------------------------------------------------------------
// The pieces of the listing

void Listing::function_line(size_t pos) {
    put("\nfunction ");
    if (const Symbol *f = lookup_.function_at(long(pos))) {
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
// it; a gathered name is printed as it is.
void Listing::symbol_number(uint32_t number) {
    if (std::string_view name = lookup_.symbol_name(number); !name.empty()) {
        put("   ");
        return put(name);
    }
    symbol(lookup_.numbered(number, zel.sym));
}

void Listing::call_target(long target) {
    put("   ");
    if (const Symbol *f = lookup_.function_at(target)) {
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
            symbol(lookup_.numbered(v, zel.fun));
        else
            symbol_number(v);
        return;
    case Operand::function:
        named(lookup_.numbered(v, zel.fun));
        return;
    case Operand::global_fun:
        named(lookup_.numbered(v, zel.glob_fun));
        return;
    case Operand::dbl:
        named(lookup_.numbered(v, zel.dbl));
        return;
    case Operand::string:
        quoted(lookup_.string_at(v));
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
        std::string_view file = lookup_.string_at(file_offset);
        ExtendedLine x;
        uint32_t high = 0;
        if (decode_extended_line(file.data(), x)) {
            high = x.line_high;
            file = lookup_.string_at(x.file_offset);
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
        const Symbol *s = lookup_.numbered(word & 0x7FFF, zel.sym);
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
        put_name(lookup_.numbered(words.u16(), zel.sym));
        put('\n');
    }
    for (unsigned i = 0; i < h.globals; ++i) {
        const Symbol *s = lookup_.numbered(words.u16(), zel.sym);
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
        std::string_view text = lookup_.string_at(key);
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

// Ends the run for unreal work: code listed more than 16 MiB past the end of
// the file, a switch table of more entries of no bytes than that.
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

// The whole instruction is decoded before its line is begun; one that runs
// past the end of the code section ends the run.
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
