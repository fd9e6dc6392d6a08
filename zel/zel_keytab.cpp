// Symbol table model and keyword table: the name index shared by keywords and
// symbols, the making of symbols and constants, the symbol lists of `zel`, the
// number tables and the lookups by name, number and offset.
#include "zel_symtab.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <memory>
#include <unordered_map>
#include <vector>

#include "al_env.h"
#include "zel.h"
#include "zel_asm.h"
#include "zel_error.h"
#include "zel_memory.h"

// ---------------------------------------------------------------------------
// Keyword table
// ---------------------------------------------------------------------------

namespace {

constexpr uint32_t LEGACY_EXCLUDED = 1;

constexpr Symbol kw(const char *name, int32_t tok, uint32_t legacy = 0, uint32_t mark = 0,
                    uint16_t number = 0, uint32_t flags = 0) {
    Symbol s{};
    s.kw_legacy = legacy;
    s.kw_mark = mark;
    s.tok = tok;
    s.name = name;
    s.number = number;
    s.flags = flags;
    return s;
}

constexpr uint32_t L = LEGACY_EXCLUDED;

} // namespace

// The reserved words, in table order, ended by an all-zero entry. Only the
// index links, the namesake links and the KEYWORD flag change at run time.
// The comparison words carry the opcode of the compare-and-branch
// instruction that is taken when the comparison is false.
Symbol keyword[] = {
    kw("default", 325, 0, 0, 0, LABEL_NAME),
    kw("eq", 273, 0, 0, op::CBNE),
    kw("ne", 274, 0, 0, op::CBEQ),
    kw("ge", 274, 0, 0, op::CBLT),
    kw("gt", 274, 0, 0, op::CBLE),
    kw("le", 274, 0, 0, op::CBGT),
    kw("lt", 274, 0, 0, op::CBGE),
    kw("and", 271),
    kw("at", 311),
    kw("base", 312),
    kw("based", 307),
    kw("break", 326),
    kw("bset", 340),
    kw("btol", 338),
    kw("call", 315),
    kw("case", 321),
    kw("common", 318),
    kw("const", 346),
    kw("continue", 327),
    kw("dllusage", 349),
    kw("enddllusage", 350),
    kw("functionusage", 351),
    kw("endfunctionusage", 352),
    kw("dim", 306),
    kw("domain", 302),
    kw("domainof", 304),
    kw("double", 300),
    kw("else", 259),
    kw("end", 295),
    kw("stop", 295),
    kw("endcase", 322),
    kw("endfor", 288),
    kw("endif", 282),
    kw("endselect", 363),
    kw("endwhile", 320),
    kw("etol", 336),
    kw("extern", 309),
    kw("empty", 332),
    kw("fixed", 308),
    kw("function", 333),
    kw("for", 283),
    kw("global", 298),
    kw("goto", 284),
    kw("if", 285),
    kw("in", 275),
    kw("input", 317),
    kw("long", 299),
    kw("ltoe", 337),
    kw("ltob", 339),
    kw("mb", 347),
    kw("multibyte", 347),
    kw("not", 272),
    kw("on", 305),
    kw("or", 270),
    kw("print", 289),
    kw("prompt", 316),
    kw("reference", 334),
    kw("ref", 334),
    kw("repeat", 323),
    kw("return", 314),
    kw("select", 356),
    kw("selectbind", 358),
    kw("selectdo", 359),
    kw("selectempty", 360),
    kw("selecterror", 361),
    kw("selecteos", 362),
    kw("selectid", 348),
    kw("bindinput", 366),
    kw("update", 364, L),
    kw("updateempty", 368, L),
    kw("updateerror", 367, L),
    kw("endupdate", 371, L),
    kw("delete", 365, L),
    kw("deleteempty", 370, L),
    kw("deleteerror", 369, L),
    kw("enddelete", 372, L),
    kw("static", 343),
    kw("step", 290),
    kw("string", 297),
    kw("table", 301),
    kw("then", 291),
    kw("to", 294),
    kw("until", 324),
    kw("void", 335),
    kw("wherebind", 357),
    kw("whereused", 344),
    kw("while", 319),
    kw("__file__", 373),
    kw("__line__", 374),
    kw("__date__", 375),
    kw("__time__", 376),
    kw("__function__", 377),
    kw("__object__", 378),
    kw("__enable_yacc_debug", 379),
    kw("__disable_yacc_debug", 380),
    kw("__extended_symbol", 381, L, 1),
    kw("boolean", 353, L, 1),
    kw("false", 355, L, 1),
    kw("true", 354, L, 1),
    Symbol{},
};
static_assert(std::size(keyword) == KEYWORD_COUNT + 1);

// ---------------------------------------------------------------------------
// Name index
// ---------------------------------------------------------------------------

namespace {

constexpr size_t MIN_CAPACITY = 256;

NameIndex &name_index() {
    if (!zel.name_index) create_keytab();
    return *zel.name_index;
}

// Hash of a name of `length` bytes, taken eight bytes at a time.
uint32_t text_hash(const char *text, size_t length) {
    uint64_t h = 0x9E3779B97F4A7C15ull ^ length;
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t w;
        memcpy(&w, text + i, 8);
        h = (h ^ w) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    }
    uint64_t w = 0;
    memcpy(&w, text + i, length - i);
    h = (h ^ w) * 0xC4CEB9FE1A85EC53ull;
    return uint32_t(h ^ (h >> 29));
}

bool full(const NameIndex &ix, size_t more) {
    return (ix.count + more) * 10 > ix.capacity * 7;
}

// A slot holds an entry's address in its low 48 bits and a tag of its name's
// hash in the high 16. A tag is never 0; an address that needs more than 48
// bits is stored without a tag (0), which every name matches.
constexpr unsigned TAG_SHIFT = 48;
constexpr uint64_t ADDRESS_BITS = (uint64_t(1) << TAG_SHIFT) - 1;

uint64_t tag_of(uint32_t hash) {
    return uint64_t(hash >> 17 | 0x8000) << TAG_SHIFT;
}

uint64_t slot_of(Symbol *entry, uint32_t hash) {
    auto address = uint64_t(reinterpret_cast<uintptr_t>(entry));
    return address > ADDRESS_BITS ? address : address | tag_of(hash);
}

Symbol *entry_of(uint64_t slot) {
    uint64_t address = slot >> TAG_SHIFT == 0 ? slot : slot & ADDRESS_BITS;
    return reinterpret_cast<Symbol *>(uintptr_t(address));
}

size_t capacity_for(const NameIndex &ix, size_t more) {
    size_t capacity = std::max(ix.capacity, MIN_CAPACITY);
    while ((ix.count + more) * 10 > capacity * 7)
        capacity *= 2;
    return capacity;
}

uint32_t text_hash_of(const char *name) {
    return text_hash(name, strlen(name));
}

// Gives the index room for `more` names: a table of the next power of two
// that keeps it below 7/10 full, its entries entered again. The tables come
// from the symbol store, which outlives them.
void grow(NameIndex &ix, size_t more) {
    size_t capacity = capacity_for(ix, more);
    if (capacity == ix.capacity) return;
    auto *slots = static_cast<uint64_t *>(zel.store.allocate(capacity * sizeof(uint64_t)));
    memset(slots, 0, capacity * sizeof(uint64_t));
    for (size_t i = 0; i < ix.capacity; ++i) {
        if (!ix.slots[i]) continue;
        uint32_t h = text_hash_of(entry_of(ix.slots[i])->name);
        size_t j = h & (capacity - 1);
        while (slots[j])
            j = (j + 1) & (capacity - 1);
        slots[j] = ix.slots[i];
    }
    ix.slots = slots;
    ix.capacity = capacity;
}

// Where a name stands in the index: its indexed entry, or none and the free
// slot where an entry of that name goes.
struct IndexPlace {
    Symbol *found = nullptr;
    size_t slot = 0;
    uint32_t hash = 0;
};

IndexPlace find_place(const char *name) {
    NameIndex &ix = name_index();
    if (full(ix, 1)) grow(ix, 1);
    uint32_t h = text_hash_of(name);
    const uint64_t tag = tag_of(h);
    const size_t mask = ix.capacity - 1;
    for (size_t i = h & mask;; i = (i + 1) & mask) {
        uint64_t slot = ix.slots[i];
        if (!slot) return {nullptr, i, h};
        uint64_t slot_tag = slot & ~ADDRESS_BITS;
        if ((slot_tag == tag || slot_tag == 0) && strcmp(entry_of(slot)->name, name) == 0)
            return {entry_of(slot), i, h};
    }
}

// Enters `entry` at `place`, which was found for its name with nothing
// entered since (the index has room: find_place made it).
void index_insert_at(Symbol *entry, const IndexPlace &place) {
    NameIndex &ix = name_index();
    ix.slots[place.slot] = slot_of(entry, place.hash);
    ix.count++;
}

} // namespace

NameIndex *create_keytab() {
    zel.index = NameIndex{};
    zel.store.clear();
    zel.lookups.reset();
    zel.name_index = &zel.index;
    return zel.name_index;
}

void init_keytab() {
    const bool legacy = legacy_mode();
    for (Symbol *k = keyword; k->tok != 0; ++k) {
        // The links and the KEYWORD mark of an earlier start-up are dropped,
        // so that a fresh index can be filled again.
        k->namesake = nullptr;
        k->flags &= ~uint32_t(KEYWORD);
        if (legacy && k->kw_legacy == LEGACY_EXCLUDED) continue;
        index_insert_at(k, find_place(k->name));
        k->flags |= KEYWORD;
    }
}

void reserve_symbols(size_t symbols, size_t names, size_t text) {
    NameIndex &ix = name_index();
    zel.store.reserve(symbols * sizeof(Symbol) + text + capacity_for(ix, names) * sizeof(uint64_t));
    if (full(ix, names)) grow(ix, names);
}

Symbol *index_lookup(const char *name) {
    return find_place(name).found;
}

// ---------------------------------------------------------------------------
// Making symbols
// ---------------------------------------------------------------------------

namespace {

// `first` given: the new symbol shares its text and hangs on its namesake
// chain directly behind it. None: the symbol keeps a copy of the name in the
// store (or, with `name_lasts`, the name itself) and is entered in the name
// index at `place`, which was just found for it.
Symbol *new_symbol(Symbol *scope, const char *name, uint32_t flags, int32_t tok, Symbol *first,
                   const IndexPlace *place, int used, int ref_to_dll, int optional, int declared,
                   bool name_lasts = false) {
    Symbol &s = zel.store.make_symbol(first || name_lasts ? nullptr : name);
    if (first) {
        s.name = first->name;
        s.namesake = first->namesake;
        first->namesake = &s;
    } else {
        if (name_lasts) s.name = name;
        index_insert_at(&s, place ? *place : find_place(name));
    }
    s.scope = scope;
    s.flags = flags;
    s.tok = tok;
    s.used = used != 0;
    s.ref_to_dll = ref_to_dll != 0;
    s.optional = optional != 0;
    s.declared = declared != 0;
    s.origin = zel.cur_origin;
    s.line = zel.cur_line;
    return &s;
}

} // namespace

Symbol *addsymbol(Symbol *scope, const char *name, uint32_t flags, int32_t tok, int used,
                  int ref_to_dll, int optional, int declared) {
    IndexPlace place = find_place(name);
    return new_symbol(scope, name, flags, tok, place.found, &place, used, ref_to_dll, optional,
                      declared);
}

Symbol *addsymbol_pd(Symbol *scope, const char *name, uint32_t flags, int32_t tok, Symbol *first,
                     int used, int ref_to_dll, int optional, int declared) {
    return new_symbol(scope, name, flags, tok, first, nullptr, used, ref_to_dll, optional,
                      declared);
}

Symbol *looktoken_pd(Symbol *scope, Symbol *first, int32_t tok) {
    for (Symbol *s = first; s; s = s->namesake)
        if (s->scope == scope && s->tok == tok) return s;
    return nullptr;
}

Symbol *looktoken(Symbol *scope, const char *name, int32_t tok) {
    return looktoken_pd(scope, index_lookup(name), tok);
}

Symbol *lookflags_pd(Symbol *scope, Symbol *first, uint32_t mask) {
    for (Symbol *s = first; s; s = s->namesake)
        if (s->scope == scope && (s->flags & mask) != 0) return s;
    return nullptr;
}

Symbol *lookflags(Symbol *scope, const char *name, uint32_t mask) {
    return lookflags_pd(scope, index_lookup(name), mask);
}

Symbol *constant(const char *text, int32_t tok, bool text_lasts) {
    IndexPlace place = find_place(text);
    if (Symbol *found = looktoken_pd(nullptr, place.found, tok)) return found;
    Symbol *s =
        new_symbol(nullptr, text, CONSTANT, tok, place.found, &place, 0, 0, 0, 0, text_lasts);
    if (tok == TOK_STRING) {
        s->dim_count = 1;
        text_length(*s) = int32_t(strlen(text));
    }
    return s;
}

// ---------------------------------------------------------------------------
// Lists
// ---------------------------------------------------------------------------

namespace {

constexpr uint16_t MAX_SYMBOL_NUMBER = 32767;

// Every append gives its list a generation that no list of `zel` had before,
// so a lookup index built for a generation can only be reused while that
// list is unchanged (the lookup indexes go with `zel` when it is reset).

void append(SymList &list, Symbol *s) {
    if (!list.tail) {
        s->number = 0;
        list.head = s;
    } else {
        s->number = uint16_t(list.tail->number + 1);
        list.tail->next = s;
    }
    list.tail = s;
    s->used = 1;
    list.generation = ++zel.generation;
}

// A string or double text that the object holds twice gets the symbol of its
// first record back from `constant`. Appending that symbol again would make
// the list circular, so a symbol already in a list is replaced by a twin of
// its own (same text, kind, flags and length). Every record thus keeps its
// own list entry, number and string offset. The twin stays off the name's
// namesake chain: a lookup would find the first one in front of it anyway,
// and thousands of twins there would make every later lookup of the name
// walk past them.
Symbol *unlisted(Symbol *s) {
    if (!s->used) return s;
    Symbol *twin = addsymbol_pd(s->scope, s->name, s->flags, s->tok, s, 0, 0, 0, 0);
    s->namesake = twin->namesake;
    twin->namesake = nullptr;
    twin->dim_count = s->dim_count;
    std::copy(std::begin(s->dims), std::end(s->dims), std::begin(twin->dims));
    return twin;
}

} // namespace

void check_symbol_count(size_t listed, const char *name) {
    if (listed > MAX_SYMBOL_NUMBER) fatal_error("%s: Too many symbols (maximum = 32767)", name);
}

void add_symbol_list(Symbol *s) {
    check_symbol_count(zel.sym.tail ? size_t(zel.sym.tail->number) + 1 : 0, s->name);
    append(zel.sym, s);
}

void add_fun_list(Symbol *s) {
    append(zel.fun, s);
}

void add_glob_fun_list(Symbol *s) {
    append(zel.glob_fun, s);
}

void add_str_list(Symbol *s) {
    s = unlisted(s);
    // Each string record is a 16-bit length, the text and a NUL, so the
    // offset is the position of the record in the string section.
    const Symbol *tail = zel.str.tail;
    s->offset =
        tail ? tail->offset + uint32_t(text_length(*tail) + layout::STRING_RECORD_EXTRA) : 0;
    append(zel.str, s);
}

void add_dbl_list(Symbol *s) {
    append(zel.dbl, unlisted(s));
}

void add_ident_list(Symbol *s) {
    zel.idents.push_back(s->name);
}

// ---------------------------------------------------------------------------
// Lookups by number and offset
// ---------------------------------------------------------------------------

namespace {

// Lookup indexes of one list of `zel`, built on first use and rebuilt when
// the list's generation has changed since. The list's symbols are kept in
// list order: when their numbers run 0, 1, 2, ... and their offsets never
// decrease along the list (as in every list the loader builds), a lookup is
// an index or a binary search in them. Any other list is served by hash maps
// of the first symbol (in list order) of each number and each offset.
struct ListIndex {
    uint32_t generation = 0;
    const Symbol *head = nullptr;
    bool ordered_built = false;
    std::vector<Symbol *> in_order;
    bool numbered_in_order = true;
    bool offsets_ascending = true;
    std::vector<uint32_t> offsets; // of in_order, searched without reading the records
    bool numbers_built = false;
    bool offsets_built = false;
    std::unordered_map<uint16_t, Symbol *> by_number;
    std::unordered_map<uint32_t, Symbol *> by_offset;
};

constexpr SymList Zel::*indexed_lists[] = {&Zel::sym, &Zel::fun, &Zel::glob_fun, &Zel::label,
                                           &Zel::str, &Zel::dbl, &Zel::domain};

} // namespace

struct ListLookups {
    std::array<ListIndex, std::size(indexed_lists)> lists;
};

void ListLookupsFree::operator()(ListLookups *p) const noexcept {
    std::default_delete<ListLookups>()(p);
}

namespace {

// The index of the list of `zel` that starts at `head`, brought up to date;
// nullptr when `head` starts no such list (the caller then walks).
ListIndex *index_for(Symbol *head) {
    if (!head) return nullptr;
    for (size_t i = 0; i < std::size(indexed_lists); ++i) {
        const SymList &list = zel.*indexed_lists[i];
        if (list.head != head) continue;
        if (list.generation == 0) return nullptr; // not built by the append functions
        if (!zel.lookups) zel.lookups.reset(std::make_unique<ListLookups>().release());
        ListIndex &ix = zel.lookups->lists[i];
        if (ix.generation != list.generation || ix.head != head) {
            ix = ListIndex{};
            ix.generation = list.generation;
            ix.head = head;
        }
        if (!ix.ordered_built) {
            // Numbered from 0, the list has its tail's number plus one
            // symbols: room for them all at once.
            ix.in_order.reserve(size_t(list.tail ? list.tail->number : 0) + 1);
            for (Symbol *s = head; s; s = s->next) {
                if (s->number != ix.in_order.size()) ix.numbered_in_order = false;
                if (!ix.in_order.empty() && s->offset < ix.in_order.back()->offset)
                    ix.offsets_ascending = false;
                ix.in_order.push_back(s);
            }
            ix.ordered_built = true;
        }
        return &ix;
    }
    return nullptr;
}

Symbol *walk_number(long number, Symbol *from) {
    for (Symbol *s = from; s; s = s->next)
        if (long(s->number) == number) return s;
    return nullptr;
}

Symbol *walk_offset(uint32_t offset, Symbol *from, bool need_used) {
    for (Symbol *s = from; s; s = s->next)
        if (s->offset == offset && (!need_used || s->used)) return s;
    return nullptr;
}

Symbol *find_number(long number, Symbol *head) {
    ListIndex *ix = index_for(head);
    if (!ix) return walk_number(number, head);
    if (number < 0 || number > 0xFFFF) return nullptr;
    if (ix->numbered_in_order)
        return size_t(number) < ix->in_order.size() ? ix->in_order[size_t(number)] : nullptr;
    if (!ix->numbers_built) {
        for (Symbol *s : ix->in_order)
            ix->by_number.try_emplace(s->number, s);
        ix->numbers_built = true;
    }
    auto it = ix->by_number.find(uint16_t(number));
    return it == ix->by_number.end() ? nullptr : it->second;
}

// The first symbol of the list with that offset, and with `used` set when
// `need_used`: the answer that a walk from the head gives. With ascending
// offsets the symbols of one offset stand together and the search looks at
// them alone; otherwise the walk starts at the first symbol of the offset.
Symbol *find_offset(uint32_t offset, Symbol *head, bool need_used) {
    ListIndex *ix = index_for(head);
    if (!ix) return walk_offset(offset, head, need_used);
    if (ix->offsets_ascending) {
        if (ix->offsets.size() != ix->in_order.size())
            for (const Symbol *s : ix->in_order)
                ix->offsets.push_back(s->offset);
        auto it = std::lower_bound(ix->offsets.begin(), ix->offsets.end(), offset);
        for (; it != ix->offsets.end() && *it == offset; ++it) {
            Symbol *s = ix->in_order[size_t(it - ix->offsets.begin())];
            if (!need_used || s->used) return s;
        }
        return nullptr;
    }
    if (!ix->offsets_built) {
        for (Symbol *s : ix->in_order)
            ix->by_offset.try_emplace(s->offset, s);
        ix->offsets_built = true;
    }
    auto it = ix->by_offset.find(offset);
    if (it == ix->by_offset.end()) return nullptr;
    return walk_offset(offset, it->second, need_used);
}

[[noreturn]] void number_not_found(long number) {
    fatal_error("Symbol number '%d' not found.", int(number));
}

Symbol *from_number_table(const std::vector<Symbol *> &table, long number) {
    if (number < 0 || size_t(number) >= table.size() || !table[size_t(number)])
        number_not_found(number);
    return table[size_t(number)];
}

} // namespace

Symbol *search(long number, Symbol *head) {
    Symbol *s = find_number(number, head);
    if (!s) number_not_found(number);
    return s;
}

Symbol *get_sym(long number, Symbol *head) {
    if (showing_object() && head) {
        if (head == zel.sym.head) return from_number_table(zel.symnr, number);
        if (head == zel.fun.head) return from_number_table(zel.funnr, number);
    }
    return search(number, head);
}

Symbol *search_off(uint32_t offset, Symbol *head) {
    Symbol *s = find_offset(offset, head, true);
    if (!s && !showing_object()) fatal_error("Function with offset '%d' not found.", int(offset));
    return s;
}

Symbol *search_str(uint32_t offset, Symbol *head) {
    Symbol *s = find_offset(offset, head, false);
    if (!s) fatal_error("String with offset '%d' not found.", int(offset));
    return s;
}
