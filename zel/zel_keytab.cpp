// STUB: replaced by the symbol table module.
#include "zel_symtab.h"

#include "zel.h"

uint32_t name_hash(const char *) { return 0; }
NameIndex *create_keytab() { return nullptr; }
void init_keytab() {}
Symbol *index_lookup(const char *) { return nullptr; }
Symbol *addsymbol(Symbol *, const char *, uint32_t, int32_t, int, int, int, int) { return nullptr; }
Symbol *addsymbol_pd(Symbol *, const char *, uint32_t, int32_t, Symbol *, int, int, int, int) {
    return nullptr;
}
Symbol *constant(const char *, int32_t) { return nullptr; }
Symbol *looktoken(Symbol *, const char *, int32_t) { return nullptr; }
Symbol *looktoken_pd(Symbol *, Symbol *, int32_t) { return nullptr; }
Symbol *lookflags(Symbol *, const char *, uint32_t) { return nullptr; }
Symbol *lookflags_pd(Symbol *, Symbol *, uint32_t) { return nullptr; }
void add_symbol_list(Symbol *) {}
void add_fun_list(Symbol *) {}
void add_glob_fun_list(Symbol *) {}
void add_str_list(Symbol *) {}
void add_dbl_list(Symbol *) {}
void add_ident_list(Symbol *) {}
Symbol *search(long, Symbol *) { return nullptr; }
Symbol *get_sym(long, Symbol *) { return nullptr; }
Symbol *search_off(uint32_t, Symbol *) { return nullptr; }
Symbol *search_str(uint32_t, Symbol *) { return nullptr; }
