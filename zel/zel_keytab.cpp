// Symbol table model and keyword table: the name index shared by keywords and
// symbols, the making of symbols and constants, the symbol lists of `zel`, the
// number tables and the lookups by name, number and offset.
#include "zel_symtab.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <unordered_map>
#include <vector>

#include "al_env.h"
#include "zel.h"
#include "zel_error.h"

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

// Comparison words carry the opcode of the compare-and-branch instruction that
// is taken when the comparison is false.
constexpr uint16_t OP_CBGT = 59, OP_CBGE = 60, OP_CBLT = 61, OP_CBLE = 62, OP_CBEQ = 63,
                   OP_CBNE = 64;
constexpr uint32_t L = LEGACY_EXCLUDED;

} // namespace

// The reserved words, in table order, ended by an all-zero entry. Only the
// index links, the namesake links and the KEYWORD flag change at run time.
Symbol keyword[] = {
    kw("default", 325, 0, 0, 0, LABEL_NAME),
    kw("eq", 273, 0, 0, OP_CBNE),
    kw("ne", 274, 0, 0, OP_CBEQ),
    kw("ge", 274, 0, 0, OP_CBLT),
    kw("gt", 274, 0, 0, OP_CBLE),
    kw("le", 274, 0, 0, OP_CBGT),
    kw("lt", 274, 0, 0, OP_CBGE),
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

// The one name index of the process; `create_keytab` empties it.
NameIndex g_index;

NameIndex &name_index() {
    if (!zel.name_index) create_keytab();
    return *zel.name_index;
}

int compare_names(const char *a, const char *b) {
    return strcmp(a, b);
}

// Links `entry` into its bucket chain in front of the first entry whose name
// is greater than or equal to its own.
void index_insert(Symbol *entry) {
    Symbol **link = &name_index().bucket[name_hash(entry->name) % NAME_BUCKETS];
    while (*link && compare_names((*link)->name, entry->name) < 0)
        link = &(*link)->index_link;
    entry->index_link = *link;
    *link = entry;
}

} // namespace

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

Symbol *index_lookup(const char *name) {
    for (Symbol *e = name_index().bucket[name_hash(name) % NAME_BUCKETS]; e; e = e->index_link) {
        int c = compare_names(e->name, name);
        if (c == 0) return e;
        if (c > 0) break;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Making symbols
// ---------------------------------------------------------------------------

Symbol *addsymbol(Symbol *scope, const char *name, uint32_t flags, int32_t tok, int used,
                  int ref_to_dll, int optional, int declared) {
    return addsymbol_pd(scope, name, flags, tok, index_lookup(name), used, ref_to_dll, optional,
                        declared);
}

// `first` given: the new symbol shares its text and hangs on its namesake
// chain directly behind it. None: the symbol owns a copy of the name and is
// entered in the name index.
Symbol *addsymbol_pd(Symbol *scope, const char *name, uint32_t flags, int32_t tok, Symbol *first,
                     int used, int ref_to_dll, int optional, int declared) {
    Symbol &s = zel.symbol_store.emplace_back();
    if (first) {
        s.name = first->name;
        s.namesake = first->namesake;
        first->namesake = &s;
    } else {
        s.name = zel.text_store.emplace_back(name).c_str();
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
    Symbol *first = index_lookup(text);
    if (Symbol *found = looktoken_pd(nullptr, first, tok)) return found;
    Symbol *s = addsymbol_pd(nullptr, text, CONSTANT, tok, first, 0, 0, 0, 0);
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

// Lookup indexes of one list of `zel`: the first symbol (in list order) of
// each number and of each offset. Built on first use and rebuilt when the
// list's generation has changed since.
struct ListIndex {
    uint32_t generation = 0;
    const Symbol *head = nullptr;
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
ListIndex *index_for(const Symbol *head) {
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
    if (!ix->numbers_built) {
        for (Symbol *s = head; s; s = s->next)
            ix->by_number.try_emplace(s->number, s);
        ix->numbers_built = true;
    }
    if (number < 0 || number > 0xFFFF) return nullptr;
    auto it = ix->by_number.find(uint16_t(number));
    return it == ix->by_number.end() ? nullptr : it->second;
}

// The first symbol of the list with that offset, and with `used` set when
// `need_used`. The index gives the first symbol of the offset; the walk goes
// on from there only when that one is not marked used, so the answer is the
// one a walk from the head would give.
Symbol *find_offset(uint32_t offset, Symbol *head, bool need_used) {
    ListIndex *ix = index_for(head);
    if (!ix) return walk_offset(offset, head, need_used);
    if (!ix->offsets_built) {
        for (Symbol *s = head; s; s = s->next)
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
