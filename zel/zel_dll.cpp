// STUB: replaced by the DLL module.
#include "zel_dll.h"

#include "zel.h"

void read_prototypes(ObjHeader &, DllEntry *, FuncCallback, ArgCallback, CheckCallback,
                     CheckCallback) {}
Symbol *create_function_symbol(ObjHeader &, DllEntry *, const char *, const DomainRec *, uint32_t,
                               int, int, int) {
    return nullptr;
}
Symbol *create_function_arg(ObjHeader &, Symbol *, const char *, const DomainRec *, uint32_t,
                            const char *, int, int, const int32_t[4]) {
    return nullptr;
}
void check_function_symbol(Symbol *) {}
DllEntry *load_next_dll() { return nullptr; }
int link_dll_function(Symbol *) { return 0; }
DllEntry *add_dll_list(const char *) { return nullptr; }
DllEntry *search_dll(unsigned) { return nullptr; }
void add_dllfunc_list(Symbol *) {}
void print_dll_usage_and_prototypes() {}
void print_used_dlls_and_hints() {}
void print_prototype(const Symbol *) {}
