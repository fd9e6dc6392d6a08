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

// The storage of the bucket copies of the name index. Each request is
// rounded up to a power of two; a freed block waits on the list of its size
// for the next request of that size (a growing vector frees exactly the sizes
// that other vectors ask for next). New blocks are cut from a small first
// chunk and then from chunks of a huge page. Defined before the index, so
// that it outlives it.
class IndexStorage {
  public:
    void *allocate(size_t bytes) {
        unsigned c = size_class(bytes);
        if (void *p = free_[c]) {
            free_[c] = *static_cast<void **>(p);
            return p;
        }
        size_t size = MIN_BLOCK << c;
        if (size > CHUNK) return allocate_large(size);
        if (size > left_) new_chunk();
        void *p = next_;
        next_ += size;
        left_ -= size;
        return p;
    }

    void free(void *p, size_t bytes) noexcept {
        unsigned c = size_class(bytes);
        if ((MIN_BLOCK << c) > CHUNK) return free_large(p);
        *static_cast<void **>(p) = free_[c];
        free_[c] = p;
    }

  private:
    static constexpr size_t MIN_BLOCK = 16;
    static constexpr size_t FIRST_CHUNK = 64 * 1024;
    static constexpr size_t CHUNK = HUGE_PAGE_SIZE;
    static constexpr unsigned CLASSES = 64;

    static unsigned size_class(size_t bytes) {
        unsigned c = 0;
        while ((MIN_BLOCK << c) < bytes)
            ++c;
        return c;
    }

    void new_chunk() {
        size_t size = chunks_.empty() ? FIRST_CHUNK : CHUNK;
        chunks_.emplace_back(static_cast<unsigned char *>(allocate_large(size)));
        next_ = chunks_.back().get();
        left_ = size;
    }

    struct FreeChunk {
        void operator()(unsigned char *p) const noexcept { free_large(p); }
    };
    std::vector<std::unique_ptr<unsigned char[], FreeChunk>> chunks_;
    unsigned char *next_ = nullptr;
    size_t left_ = 0;
    void *free_[CLASSES] = {};
};

IndexStorage g_index_storage;

// The one name index of the process; `create_keytab` empties it.
NameIndex g_index;

NameIndex &name_index() {
    if (!zel.name_index) create_keytab();
    return *zel.name_index;
}

int compare_names(const char *a, const char *b) {
    return strcmp(a, b);
}

// The first eight bytes of a name as a big-endian number, the bytes behind
// its NUL taken as 0: two names compare like their prefixes unless these are
// equal.
uint64_t name_prefix(const char *name) {
    uint64_t prefix = 0;
    int i = 0;
    for (; i < 8 && name[i]; ++i)
        prefix = prefix << 8 | static_cast<unsigned char>(name[i]);
    return i == 0 ? 0 : prefix << (8 * (8 - i)); // an empty name: no shift by 64
}

// Orders an entry against a name with its prefix: negative, 0 or positive as
// the entry's name is smaller, equal or greater (byte by byte, unsigned).
int compare_entry(const IndexEntry &e, uint64_t prefix, const char *name) {
    if (e.prefix != prefix) return e.prefix < prefix ? -1 : 1;
    if ((prefix & 0xFF) == 0) return 0; // both names end within the prefix
    return compare_names(e.symbol->name + 8, name + 8);
}

// The first entry of the bucket of `name` whose name is greater than or equal
// to it: the place where a walk along the chain would stop.
IndexChain::iterator chain_place(IndexChain &chain, uint64_t prefix, const char *name) {
    return std::lower_bound(
        chain.begin(), chain.end(), name,
        [prefix](const IndexEntry &e, const char *n) { return compare_entry(e, prefix, n) < 0; });
}

// Where a name stands in the name index: its indexed entry, or none and the
// place in its bucket where an entry of that name belongs.
struct IndexPlace {
    Symbol *found = nullptr;
    uint32_t bucket = 0;
    size_t at = 0; // position in the bucket's sorted copy
};

IndexPlace find_place(const char *name) {
    uint32_t b = name_hash(name) % NAME_BUCKETS;
    IndexChain &chain = name_index().sorted[b];
    uint64_t prefix = name_prefix(name);
    auto it = chain_place(chain, prefix, name);
    IndexPlace place{nullptr, b, size_t(it - chain.begin())};
    if (it != chain.end() && compare_entry(*it, prefix, name) == 0) place.found = it->symbol;
    return place;
}

// Links `entry` into its bucket chain in front of the first entry whose name
// is greater than or equal to its own, at `place`, which was found for its
// name with nothing entered since. The chain's copy in `sorted` finds that
// place by binary search, so a crowded bucket costs no walk.
void index_insert_at(Symbol *entry, const IndexPlace &place) {
    NameIndex &ix = name_index();
    IndexChain &chain = ix.sorted[place.bucket];
    // The copy holds the chain in order: the entry's successor is the one at
    // its place, so the predecessor's link needs no reading.
    entry->index_link = place.at < chain.size() ? chain[place.at].symbol : nullptr;
    if (place.at == 0)
        ix.bucket[place.bucket] = entry;
    else
        chain[place.at - 1].symbol->index_link = entry;
    chain.insert(chain.begin() + std::ptrdiff_t(place.at), {name_prefix(entry->name), entry});
}

void index_insert(Symbol *entry) {
    index_insert_at(entry, find_place(entry->name));
}

} // namespace

void *index_storage_allocate(size_t bytes) {
    return g_index_storage.allocate(bytes);
}

void index_storage_free(void *p, size_t bytes) noexcept {
    g_index_storage.free(p, bytes);
}

uint32_t name_hash(const char *name) {
    const auto *b = reinterpret_cast<const unsigned char *>(name);
    uint32_t h = b[0];
    for (size_t i = 0; b[i] != 0; i += 2) {
        h += b[i];
        if (b[i + 1] == 0) break;
        h *= b[i + 1];
    }
    return h;
}

NameIndex *create_keytab() {
    g_index = NameIndex{};
    zel.name_index = &g_index;
    return &g_index;
}

void init_keytab() {
    const bool legacy = legacy_mode();
    for (Symbol *k = keyword; k->tok != 0; ++k) {
        // The links and the KEYWORD mark of an earlier start-up are dropped,
        // so that a fresh index can be filled again.
        k->index_link = nullptr;
        k->namesake = nullptr;
        k->flags &= ~uint32_t(KEYWORD);
        if (legacy && k->kw_legacy == LEGACY_EXCLUDED) continue;
        index_insert(k);
        k->flags |= KEYWORD;
    }
}

// The same answer as a walk along the bucket chain that gives up at the first
// greater name, found by binary search in the chain's copy.
Symbol *index_lookup(const char *name) {
    return find_place(name).found;
}

// ---------------------------------------------------------------------------
// Making symbols
// ---------------------------------------------------------------------------

namespace {

// The first block is small, so that a small object touches little memory;
// the later ones are two huge pages each.
constexpr size_t FIRST_BLOCK = 64 * 1024;
constexpr size_t BLOCK_BYTES = 2 * HUGE_PAGE_SIZE;

} // namespace

Symbol &SymbolArena::make_symbol(const char *name) {
    size_t text = name ? strlen(name) + 1 : 0;
    size_t need = (sizeof(Symbol) + text + alignof(Symbol) - 1) & ~(alignof(Symbol) - 1);
    if (blocks_.empty() || capacity_ - used_ < need) {
        size_t size = std::max(blocks_.empty() ? FIRST_BLOCK : BLOCK_BYTES, need);
        blocks_.emplace_back(static_cast<unsigned char *>(allocate_large(size)));
        used_ = 0;
        capacity_ = size;
    }
    unsigned char *at = blocks_.back().get() + used_;
    used_ += need;
    Symbol *s = std::construct_at(reinterpret_cast<Symbol *>(at));
    if (name) {
        char *copy = reinterpret_cast<char *>(at + sizeof(Symbol));
        memcpy(copy, name, text);
        s->name = copy;
    }
    return *s;
}

namespace {

// `first` given: the new symbol shares its text and hangs on its namesake
// chain directly behind it. None: the symbol owns a copy of the name and is
// entered in the name index, at `place` when the caller has just looked the
// name up.
Symbol *new_symbol(Symbol *scope, const char *name, uint32_t flags, int32_t tok, Symbol *first,
                   const IndexPlace *place, int used, int ref_to_dll, int optional, int declared) {
    Symbol &s = zel.arena.make_symbol(first ? nullptr : name);
    if (first) {
        s.name = first->name;
        s.namesake = first->namesake;
        first->namesake = &s;
    } else {
        if (place)
            index_insert_at(&s, *place);
        else
            index_insert(&s);
    }
    s.scope = scope;
    s.flags = flags;
    s.tok = tok;
    s.used = used;
    s.ref_to_dll = ref_to_dll;
    s.optional = optional;
    s.declared = declared;
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

Symbol *constant(const char *text, int32_t tok) {
    IndexPlace place = find_place(text);
    if (Symbol *found = looktoken_pd(nullptr, place.found, tok)) return found;
    Symbol *s = new_symbol(nullptr, text, CONSTANT, tok, place.found, &place, 0, 0, 0, 0);
    if (tok == TOK_STRING) {
        s->dim_count = 1;
        s->dims[0] = int32_t(strlen(text));
    }
    return s;
}

// ---------------------------------------------------------------------------
// Lists
// ---------------------------------------------------------------------------

namespace {

constexpr uint16_t MAX_SYMBOL_NUMBER = 32767;

// Every append gives its list a generation that no list had before (the
// counter is never reset, also not when `zel` is cleared), so a lookup index
// built for a generation can only be reused while that list is unchanged.
uint32_t g_generation = 0;

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
    list.generation = ++g_generation;
}

// A string or double text that the object holds twice gets the symbol of its
// first record back from `constant`. Appending that symbol again would make
// the list circular, so a symbol already in a list is replaced by a namesake
// of its own (same text, kind, flags and length), linked directly behind it so
// that `constant` keeps finding the first one. Every record thus keeps its own
// list entry, number and string offset.
Symbol *unlisted(Symbol *s) {
    if (!s->used) return s;
    Symbol *twin = addsymbol_pd(s->scope, s->name, s->flags, s->tok, s, 0, 0, 0, 0);
    twin->dim_count = s->dim_count;
    std::copy(std::begin(s->dims), std::end(s->dims), std::begin(twin->dims));
    return twin;
}

} // namespace

void add_symbol_list(Symbol *s) {
    if (zel.sym.tail && zel.sym.tail->number >= MAX_SYMBOL_NUMBER)
        fatal_error("%s: Too many symbols (maximum = 32767)", s->name);
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
    s->offset = tail ? tail->offset + uint32_t(tail->dims[0]) + 3 : 0;
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
    bool numbers_built = false;
    bool offsets_built = false;
    std::unordered_map<uint16_t, Symbol *> by_number;
    std::unordered_map<uint32_t, Symbol *> by_offset;
};

constexpr SymList Zel::*indexed_lists[] = {&Zel::sym, &Zel::fun, &Zel::glob_fun, &Zel::label,
                                           &Zel::str, &Zel::dbl, &Zel::domain};
std::array<ListIndex, std::size(indexed_lists)> g_list_index;

// The index of the list of `zel` that starts at `head`, brought up to date;
// nullptr when `head` starts no such list (the caller then walks).
ListIndex *index_for(Symbol *head) {
    if (!head) return nullptr;
    for (size_t i = 0; i < std::size(indexed_lists); ++i) {
        const SymList &list = zel.*indexed_lists[i];
        if (list.head != head) continue;
        if (list.generation == 0) return nullptr; // not built by the append functions
        ListIndex &ix = g_list_index[i];
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
        auto it = std::lower_bound(ix->in_order.begin(), ix->in_order.end(), offset,
                                   [](const Symbol *s, uint32_t o) { return s->offset < o; });
        for (; it != ix->in_order.end() && (*it)->offset == offset; ++it)
            if (!need_used || (*it)->used) return *it;
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
    if (zel.info != 0 && head) {
        if (head == zel.sym.head) return from_number_table(zel.symnr, number);
        if (head == zel.fun.head) return from_number_table(zel.funnr, number);
    }
    return search(number, head);
}

Symbol *search_off(uint32_t offset, Symbol *head) {
    Symbol *s = find_offset(offset, head, true);
    if (!s && zel.info == 0) fatal_error("Function with offset '%d' not found.", int(offset));
    return s;
}

Symbol *search_str(uint32_t offset, Symbol *head) {
    Symbol *s = find_offset(offset, head, false);
    if (!s) fatal_error("String with offset '%d' not found.", int(offset));
    return s;
}
