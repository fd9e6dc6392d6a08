// The listing's text buffer, number formatting and mnemonic columns, the
// caches of symbol names and string texts, and the operand lookups that use
// them; see zel_asm_cache.h.
#include "zel_asm_cache.h"

#include "al_strm.h"
#include "zel_symtab.h"

namespace zel_asm {

namespace {

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

} // namespace

char *decimal(char *end, long long v) {
    uint64_t magnitude = v < 0 ? 0 - uint64_t(v) : uint64_t(v);
    char *first =
        magnitude <= UINT32_MAX ? decimal(end, uint32_t(magnitude)) : decimal(end, magnitude);
    if (v < 0) *--first = '-';
    return first;
}

namespace {

// A mnemonic of the instruction list, padded with blanks.
constexpr MnemonicColumn in_columns(std::string_view mnemonic) {
    MnemonicColumn c{};
    for (size_t i = 0; i < sizeof c.text; ++i)
        c.text[i] = i < mnemonic.size() ? mnemonic[i] : ' ';
    return c;
}

} // namespace

#define ZEL_MNEMONIC_COLUMNS(name, size, format, paired, shortop) in_columns(#name),
const MnemonicColumn mnemonic_columns[OPCODE_COUNT] = {ZEL_OPCODES(ZEL_MNEMONIC_COLUMNS)};
#undef ZEL_MNEMONIC_COLUMNS

void PositionText::restart(uint64_t v) {
    first_ = decimal(end(), v);
}

// ---------------------------------------------------------------------------
// The text buffer

void ListingText::drain() {
    if (out_ && used_) swrite_blok(text_.get(), used_, out_);
    used_ = 0;
}

void ListingText::flush() {
    drain();
    if (out_) sflush(out_);
}

void ListingText::put_long(const char *s, size_t n) {
    drain();
    if (n > capacity_) {
        if (out_) swrite_blok(s, n, out_);
        return;
    }
    memcpy(text_.get(), s, n);
    used_ = n;
}

// ---------------------------------------------------------------------------
// Lookup caches

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

// ---------------------------------------------------------------------------
// Operand lookups

// The symbol and function lists are served by the number tables, the other
// lists are numbered 0 up to their tail; when `get_sym` is about to end the
// run, what was listed goes out first.
Symbol *OperandLookup::numbered(long number, const SymList &list) {
    const std::vector<Symbol *> *table = nullptr;
    if (showing_object() && list.head) {
        if (list.head == zel.sym.head) table = &zel.symnr;
        if (list.head == zel.fun.head) table = &zel.funnr;
    }
    if (table) {
        if (number >= 0 && size_t(number) < table->size() && (*table)[size_t(number)])
            return (*table)[size_t(number)];
        text_.flush();
    } else if (number < 0 || !list.tail || number > list.tail->number) {
        text_.flush();
    }
    return get_sym(number, list.head);
}

std::string_view OperandLookup::string_at(uint32_t offset) {
    if (whole_run_) {
        if (!strings_gathered_) string_texts_.gather(), strings_gathered_ = true;
        if (std::string_view text = string_texts_.at(offset); text.data()) return text;
    }
    text_.flush(); // search_str ends the run when nothing has that offset
    return text_of(search_str(offset, zel.str.head));
}

Symbol *OperandLookup::function_at(long pos) {
    if (pos < 0 || pos > long(UINT32_MAX)) return nullptr;
    if (!showing_object()) text_.flush(); // in the compiler a miss ends the run
    return search_off(uint32_t(pos), zel.fun.head);
}

std::string_view OperandLookup::symbol_name(uint32_t number) {
    if (!whole_run_ || !showing_object()) return {};
    if (!symbols_gathered_) symbol_names_.gather(), symbols_gathered_ = true;
    return symbol_names_.of(number);
}

} // namespace zel_asm
