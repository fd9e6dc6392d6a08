// Symbol table model and keyword table: the name index, the symbol lists,
// the number tables and the lookups.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct Symbol;
struct SymList;

constexpr int NAME_BUCKETS = 1024;

// An entry of a bucket chain with the first eight bytes of its name, which
// decide most comparisons without reading the name itself.
struct IndexEntry {
    uint64_t prefix;
    Symbol *symbol;
};

// Storage of the bucket copies below: blocks recycled by size and drawn from
// large blocks, so that tens of thousands of names cost few allocations.
void *index_storage_allocate(size_t bytes);
void index_storage_free(void *p, size_t bytes) noexcept;

template <typename T> struct IndexAllocator {
    using value_type = T;
    IndexAllocator() = default;
    template <typename U> IndexAllocator(const IndexAllocator<U> &) {}
    T *allocate(size_t n) { return static_cast<T *>(index_storage_allocate(n * sizeof(T))); }
    void deallocate(T *p, size_t n) noexcept { index_storage_free(p, n * sizeof(T)); }
    template <typename U> bool operator==(const IndexAllocator<U> &) const { return true; }
};

using IndexChain = std::vector<IndexEntry, IndexAllocator<IndexEntry>>;

struct NameIndex {
    Symbol *bucket[NAME_BUCKETS] = {};
    // The entries of each bucket chain in chain order, so that the place of a
    // name in its chain is found by binary search instead of a walk.
    IndexChain sorted[NAME_BUCKETS];
};

constexpr int KEYWORD_COUNT = 99;

// The keyword table: KEYWORD_COUNT entries and an all-zero terminator.
extern Symbol keyword[KEYWORD_COUNT + 1];

uint32_t name_hash(const char *name);
NameIndex *create_keytab();
void init_keytab();
// The indexed entry of a name, or nullptr.
Symbol *index_lookup(const char *name);

Symbol *addsymbol(Symbol *scope, const char *name, uint32_t flags, int32_t tok, int used,
                  int ref_to_dll, int optional, int declared);
Symbol *addsymbol_pd(Symbol *scope, const char *name, uint32_t flags, int32_t tok, Symbol *first,
                     int used, int ref_to_dll, int optional, int declared);
Symbol *constant(const char *text, int32_t tok);
Symbol *looktoken(Symbol *scope, const char *name, int32_t tok);
Symbol *looktoken_pd(Symbol *scope, Symbol *first, int32_t tok);
Symbol *lookflags(Symbol *scope, const char *name, uint32_t mask);
Symbol *lookflags_pd(Symbol *scope, Symbol *first, uint32_t mask);

void add_symbol_list(Symbol *s);
void add_fun_list(Symbol *s);
void add_glob_fun_list(Symbol *s);
void add_str_list(Symbol *s);
void add_dbl_list(Symbol *s);
void add_ident_list(Symbol *s);

Symbol *search(long number, Symbol *head);
Symbol *get_sym(long number, Symbol *head);
Symbol *search_off(uint32_t offset, Symbol *head);
Symbol *search_str(uint32_t offset, Symbol *head);
