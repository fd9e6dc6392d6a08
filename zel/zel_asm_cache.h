// What keeps the listing (zel_asm.cpp) fast on large objects: its text
// buffer with the number formatting and the mnemonic columns, the caches
// that find a symbol's name by number and a string constant's text by
// offset without walking the lists, and the operand lookups that use them.
// What is called for every line is inline here; the rest is in
// zel_asm_cache.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "zel.h"
#include "zel_asm.h"

namespace zel_asm {

// The length of a symbol's name; a string constant keeps the length of its
// text.
inline size_t name_length(const Symbol *s) {
    return s->tok == TOK_STRING && s->dim_count == 1 ? size_t(text_length(*s)) : strlen(s->name);
}

inline std::string_view text_of(const Symbol *s) {
    return {s->name, name_length(s)};
}

// Writes the decimal digits of `v` (with its sign) backwards from `end`;
// returns the first.
char *decimal(char *end, long long v);

// The mnemonic of an opcode in eight columns, as lines show it; by opcode.
struct MnemonicColumn {
    char text[8];
};
extern const MnemonicColumn mnemonic_columns[OPCODE_COUNT];

// The decimal text of the position of the line being listed, kept from one
// line to the next: positions grow by a few bytes a line, and adding to the
// digits costs less than writing them anew.
class PositionText {
  public:
    PositionText() { restart(0); }
    std::string_view of(uint64_t v) {
        if (v < value_ || v - value_ > 999)
            restart(v);
        else
            add(unsigned(v - value_));
        value_ = v;
        return {first_, size_t(end() - first_)};
    }

  private:
    char *end() { return digits_ + sizeof digits_; }
    // Writes the digits of `v` anew.
    void restart(uint64_t v);
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
    char *first_ = nullptr;
    uint64_t value_ = 0;
};

// The text of a listing, collected in a buffer of its own and handed to the
// stream in large blocks. A piece longer than the buffer goes to the stream
// at once, behind what the buffer holds.
class ListingText {
  public:
    // Text is handed on once this much is collected.
    static constexpr size_t DRAIN_AT = 64 * 1024;

    ListingText(STREAM *out, size_t capacity)
        : out_(out), capacity_(capacity), text_(std::make_unique_for_overwrite<char[]>(capacity)) {}

    // Hands the collected text to the stream.
    void drain();
    void drain_if_full() {
        if (used_ >= DRAIN_AT) drain();
    }
    // Makes everything listed so far visible, ahead of a message on stderr.
    void flush();

  protected:
    char *room(size_t n) {
        if (capacity_ - used_ < n) drain();
        return text_.get() + used_;
    }
    void put(const char *s, size_t n) {
        if (n > capacity_ - used_) return put_long(s, n);
        memcpy(text_.get() + used_, s, n);
        used_ += n;
    }
    void put(std::string_view s) { put(s.data(), s.size()); }
    void put(char c) { *room(1) = c, used_++; }
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
    void put_name(const Symbol *s) { put(text_of(s)); }
    // An operand: a name, or a text in double quotes, behind three blanks.
    void named(const Symbol *s) {
        put("   ");
        put_name(s);
    }
    void quoted(std::string_view text) {
        put("   \"");
        put(text);
        put('"');
    }
    // The start of an instruction's line: the position right-aligned in five
    // columns, a tab and the mnemonic in eight.
    void line_start(size_t pos, uint8_t opcode) {
        std::string_view digits = position_.of(pos);
        size_t pad = digits.size() < 5 ? 5 - digits.size() : 0;
        char *d = room(pad + digits.size() + 9);
        memset(d, ' ', pad);
        memcpy(d + pad, digits.data(), digits.size());
        d[pad + digits.size()] = '\t';
        memcpy(d + pad + digits.size() + 1, mnemonic_columns[opcode].text, 8);
        used_ += pad + digits.size() + 9;
    }

  private:
    void put_long(const char *s, size_t n);

    STREAM *out_;
    size_t capacity_;
    std::unique_ptr<char[]> text_;
    size_t used_ = 0;
    PositionText position_;
};

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

// The lookups of the listing's operands: a symbol, function or constant by
// number, a string constant's text by offset, a function by the position of
// its frame. A whole listing serves symbol names and string texts from the
// caches above, gathered when it first needs them; everything else, and
// what the caches do not hold, is looked up in the lists. A number or
// string offset that names nothing ends the run, after the text listed so
// far has gone out; so does, without info bits, a frame of no function.
class OperandLookup {
  public:
    OperandLookup(ListingText &text, bool whole_run) : text_(text), whole_run_(whole_run) {}

    // `get_sym` of `number` in `list`.
    Symbol *numbered(long number, const SymList &list);
    // The text of the string constant at `offset`. Its `data()` ends in a NUL.
    std::string_view string_at(uint32_t offset);
    // The function whose frame (its SUB_TEXT) is at `pos`, or nullptr.
    Symbol *function_at(long pos);
    // The gathered name of symbol `number`; no text when the symbol is to be
    // printed from its record.
    std::string_view symbol_name(uint32_t number);

  private:
    ListingText &text_;
    bool whole_run_;
    SymbolNames symbol_names_;
    bool symbols_gathered_ = false;
    StringTexts string_texts_;
    bool strings_gathered_ = false;
};

} // namespace zel_asm
