// Symbol table model and keyword table: the name index, the symbol lists,
// the number tables and the lookups.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct Symbol;
struct SymList;

// The name index: the first symbol (or keyword) of each name, found by the
// name's text. An open-addressing hash table of one word per slot: the
// entry's address, with 16 bits of its name's hash in the address's unused
// top bits, so that a probe compares names only when those agree. It grows
// by doubling before it is 7/10 full.
struct NameIndex {
    uint64_t *slots = nullptr; // 0: a free slot
    size_t capacity = 0;       // a power of two
    size_t count = 0;
};

constexpr int KEYWORD_COUNT = 99;

// The keyword table: KEYWORD_COUNT entries and an all-zero terminator.
extern Symbol keyword[KEYWORD_COUNT + 1];

NameIndex *create_keytab();
// Makes room for `names` more names in the index, `symbols` more symbols and
// `text` bytes of names made for them, so that a load of known size grows
// neither.
void reserve_symbols(size_t symbols, size_t names, size_t text);
void init_keytab();
// The indexed entry of a name, or nullptr.
Symbol *index_lookup(const char *name);

Symbol *addsymbol(Symbol *scope, const char *name, uint32_t flags, int32_t tok, int used,
                  int ref_to_dll, int optional, int declared);
Symbol *addsymbol_pd(Symbol *scope, const char *name, uint32_t flags, int32_t tok, Symbol *first,
                     int used, int ref_to_dll, int optional, int declared);
// The constant of `text` and kind `tok`, made when the text has none of that
// kind yet. With `text_lasts`, the text lives as long as the symbols (it lies
// in the symbol store already) and is kept where it is instead of copied.
Symbol *constant(const char *text, int32_t tok, bool text_lasts = false);
Symbol *looktoken(Symbol *scope, const char *name, int32_t tok);
Symbol *looktoken_pd(Symbol *scope, Symbol *first, int32_t tok);
Symbol *lookflags(Symbol *scope, const char *name, uint32_t mask);
Symbol *lookflags_pd(Symbol *scope, Symbol *first, uint32_t mask);

void add_symbol_list(Symbol *s);
// Ends the run when the symbol list holds `listed` symbols already and
// `name` would be one more than it can.
void check_symbol_count(size_t listed, const char *name);
void add_fun_list(Symbol *s);
void add_glob_fun_list(Symbol *s);
void add_str_list(Symbol *s);
void add_dbl_list(Symbol *s);
void add_ident_list(Symbol *s);

Symbol *search(long number, Symbol *head);
Symbol *get_sym(long number, Symbol *head);
Symbol *search_off(uint32_t offset, Symbol *head);
Symbol *search_str(uint32_t offset, Symbol *head);
