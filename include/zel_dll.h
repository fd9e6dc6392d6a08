// DLL linkage: prototypes, the used-DLL list and the DLL function list.
#pragma once

#include <cstdint>

struct ObjHeader;
struct Symbol;
struct DllEntry;
struct DomainRec;

using FuncCallback = Symbol *(*)(ObjHeader &hdr, DllEntry *dll, const char *name,
                                 const DomainRec *domain, uint32_t flags, int required,
                                 int argcount, int funnr);
using ArgCallback = Symbol *(*)(ObjHeader &hdr, Symbol *previous, const char *name,
                                const DomainRec *domain, uint32_t flags, const char *reserved,
                                int whereused, int dimcount, const int32_t dims[4]);
using CheckCallback = void (*)(Symbol *fn);

void read_prototypes(ObjHeader &hdr, DllEntry *dll, FuncCallback fcb, ArgCallback acb,
                     CheckCallback check, CheckCallback notify);
Symbol *create_function_symbol(ObjHeader &hdr, DllEntry *dll, const char *name,
                               const DomainRec *domain, uint32_t flags, int required, int argcount,
                               int funnr);
Symbol *create_function_arg(ObjHeader &hdr, Symbol *previous, const char *name,
                            const DomainRec *domain, uint32_t flags, const char *reserved,
                            int whereused, int dimcount, const int32_t dims[4]);
void check_function_symbol(Symbol *fn);
DllEntry *load_next_dll();
int link_dll_function(Symbol *fn);

DllEntry *add_dll_list(const char *name);
DllEntry *search_dll(unsigned number);
void add_dllfunc_list(Symbol *fn);
