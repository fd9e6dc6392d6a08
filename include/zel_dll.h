// DLL linkage: prototypes, the used-DLL list and the DLL function list.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct ObjHeader;
struct Symbol;
struct DllEntry;
struct DomainRec;
struct ByteView;

using FuncCallback = Symbol *(*)(ObjHeader &hdr, DllEntry *dll, const char *name,
                                 const DomainRec *domain, uint32_t flags, int required,
                                 int argcount, int funnr);
using ArgCallback = Symbol *(*)(ObjHeader &hdr, Symbol *previous, const char *name,
                                const DomainRec *domain, uint32_t flags, const char *reserved,
                                int whereused, int dimcount, const int32_t dims[4]);
using CheckCallback = void (*)(Symbol *fn);

// Reads the prototypes section of the object of `hdr` (it must be there
// whole) and decodes it.
void read_prototypes(ObjHeader &hdr, DllEntry *dll, FuncCallback fcb, ArgCallback acb,
                     CheckCallback check, CheckCallback notify);
// Calls back for each of the header's count of prototype records in
// `section`; a record that runs past the section ends the run. Without a
// function callback the records are only checked.
void decode_prototypes(ObjHeader &hdr, const ByteView &section, DllEntry *dll, FuncCallback fcb,
                       ArgCallback acb, CheckCallback check, CheckCallback notify);
// The name and the offset of each prototype record of `section`, in order;
// a record that runs past the section ends the run.
std::vector<std::pair<std::string, uint32_t>> index_prototypes(ObjHeader &hdr,
                                                               const ByteView &section);
// As decode_prototypes, for the records that begin at `offsets` alone.
void decode_prototypes_at(ObjHeader &hdr, const ByteView &section,
                          const std::vector<uint32_t> &offsets, DllEntry *dll, FuncCallback fcb,
                          ArgCallback acb, CheckCallback check, CheckCallback notify);
Symbol *create_function_symbol(ObjHeader &hdr, DllEntry *dll, const char *name,
                               const DomainRec *domain, uint32_t flags, int required, int argcount,
                               int funnr);
Symbol *create_function_arg(ObjHeader &hdr, Symbol *previous, const char *name,
                            const DomainRec *domain, uint32_t flags, const char *reserved,
                            int whereused, int dimcount, const int32_t dims[4]);
// The function callback of linking: as create_function_symbol, but a
// prototype of a used DLL never enters the object's function-number table or
// the DLL function list, whatever the info bits say.
Symbol *link_function_symbol(ObjHeader &hdr, DllEntry *dll, const char *name,
                             const DomainRec *domain, uint32_t flags, int required, int argcount,
                             int funnr);
void check_function_symbol(Symbol *fn);
// Loads the prototypes of the first used DLL not loaded yet, through
// `zel.dll_loader` or the standard loader, which opens the DLL through the
// file-definition table and ends the run when it cannot be opened.
DllEntry *load_next_dll();
int link_dll_function(Symbol *fn);
// Reads the prototypes of the DLL whose header is `hdr` on behalf of its
// used-DLL entry, linking them to the functions of the object.
void read_dll_prototypes(ObjHeader &hdr, DllEntry &entry);

// Messages of DLL linkage.
namespace dll_text {
inline constexpr char CANT_OPEN[] = "Can't open DLL '%s' for reading";
inline constexpr char NOT_PROPER[] = "DLL '%s' not in proper format.";
inline constexpr char HINT[] = "(Hint: Located in DLL: %s)";
} // namespace dll_text

DllEntry *add_dll_list(const char *name);
DllEntry *search_dll(unsigned number);
void add_dllfunc_list(Symbol *fn);
