// DLL linkage: the prototypes section of an object and the function and
// argument symbols made from it, the on-demand loading of used DLLs, the
// used-DLL list and the DLL function list. The report prints them.
#include "zel_dll.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "al_env.h"
#include "al_strm.h"
#include "qpd.h"
#include "zel.h"
#include "zel_cursor.h"
#include "zel_error.h"
#include "zel_obj.h"
#include "zel_symtab.h"

namespace {

// Release 61 objects keep four booleans of a symbol in flag bits 16, 17, 24
// and 25; the flags word proper is the stored word without them. Every other
// release that the header reader accepts takes the word as stored (the
// rules of release 72, EXT_SYM rejection included).
constexpr int32_t RELNO_LEGACY = 61;
constexpr uint32_t LEGACY_USED = 0x00010000;
constexpr uint32_t LEGACY_DECLARED = 0x00020000;
constexpr uint32_t LEGACY_OPTIONAL = 0x01000000;
constexpr uint32_t LEGACY_REF_TO_DLL = 0x02000000;
constexpr uint32_t LEGACY_BOOLEANS =
    LEGACY_USED | LEGACY_DECLARED | LEGACY_OPTIONAL | LEGACY_REF_TO_DLL;

constexpr int MAX_DIMS = 4;
constexpr int WARN_DLL_DUPLICATE = 19;

const char *const PROTOTYPES_LABEL = section_info[SEC_PROTOTYPES].label;

// Texts of the messages of this module.
namespace text {
constexpr const char OBJECT_CORRUPT[] = "Object is corrupt";
constexpr const char EXT_SYM_REJECTED[] = "EXT_SYM symbol type is not supported";
constexpr const char TAKEN_FROM_DLL[] = "Function '%s' in DLL '%s' ignored. Taken from DLL '%s'";
constexpr const char TAKEN_FROM_SOURCE[] = "Function '%s' in DLL '%s' ignored. Taken from %s(%d)";
constexpr const char DECLARATION_MISMATCH[] =
    "Declaration of function '%s' does not match its prototype in DLL '%s'";
} // namespace text

const char *or_empty(const char *s) {
    return s ? s : "";
}

// Fatal error of the prototypes section, after the system error for its label.
[[noreturn]] void prototypes_failure(const char *message) {
    fatal_system_error(PROTOTYPES_LABEL, "%s", message);
}

// Symbols keep their origin for the whole run, while the header of a DLL read
// on demand does not live that long: the name is kept in the run's text store.
const char *lasting_object_name(const ObjHeader &hdr) {
    if (zel.text_store.empty() || zel.text_store.back() != hdr.objname)
        zel.text_store.push_back(hdr.objname);
    return zel.text_store.back().c_str();
}

bool function_number_fits(int funnr) {
    return funnr >= 0 && static_cast<size_t>(funnr) < zel.funnr.size();
}

bool name_less(const Symbol *a, const Symbol *b) {
    return strcmp(a->name, b->name) < 0;
}

// Walks the records of one prototypes section. Every field is taken through
// the bounded cursor, so a length that runs past the section ends the run
// with the cursor's message naming the prototypes section.
class PrototypeWalk {
  public:
    PrototypeWalk(ObjHeader &hdr, DllEntry *dll, FuncCallback fcb, ArgCallback acb,
                  CheckCallback check, CheckCallback notify, const ByteView &section)
        : hdr_(hdr), dll_(dll), fcb_(fcb), acb_(acb), check_(check), notify_(notify),
          cur_(section, section_info[SEC_PROTOTYPES].name), legacy_(hdr.relno == RELNO_LEGACY) {}

    void function_record();
    // The record at `pos` is the next one.
    void seek(size_t pos) { cur_.seek(pos); }
    size_t pos() const { return cur_.pos(); }

  private:
    // A NUL-terminated field of `len` bytes, in place when its NUL is among
    // its bytes; a field without its NUL ends at the field's end, in a copy
    // kept in `copy`.
    const char *field(size_t len, std::string &copy) {
        const char *p = reinterpret_cast<const char *>(cur_.bytes(len));
        if (!p) return "";
        if (memchr(p, 0, len)) return p;
        copy.assign(p, len);
        return copy.c_str();
    }
    const char *counted_field(std::string &copy) { return field(cur_.u16(), copy); }
    const DomainRec *domain_of(const char *name) const {
        return *name ? search_domain(name) : nullptr;
    }
    uint32_t stored_flags(uint32_t raw) const { return legacy_ ? raw & ~LEGACY_BOOLEANS : raw; }
    void reject_ext_sym(uint32_t raw) const {
        if (!legacy_ && (raw & EXT_SYM)) prototypes_failure(text::EXT_SYM_REJECTED);
    }
    void mark_function(Symbol *fn, uint32_t raw) const;
    void mark_argument(Symbol *arg, uint32_t raw) const;
    Symbol *argument_record(Symbol *previous);

    ObjHeader &hdr_;
    DllEntry *dll_;
    FuncCallback fcb_;
    ArgCallback acb_;
    CheckCallback check_;
    CheckCallback notify_;
    Cursor cur_;
    bool legacy_;
    std::string name_copy_, domain_copy_, reserved_copy_; // fields without their NUL
};

void PrototypeWalk::mark_function(Symbol *fn, uint32_t raw) const {
    fn->declared = 1;
    fn->ref_to_dll = 1;
    fn->optional = (raw & OPTIONAL_ARG) != 0;
    if (legacy_ && (raw & LEGACY_USED)) fn->used = 1;
}

void PrototypeWalk::mark_argument(Symbol *arg, uint32_t raw) const {
    arg->used = legacy_ && (raw & LEGACY_USED);
    arg->declared = legacy_ && (raw & LEGACY_DECLARED);
    arg->optional = legacy_ && (raw & LEGACY_OPTIONAL);
    arg->ref_to_dll = legacy_ && (raw & LEGACY_REF_TO_DLL);
}

void PrototypeWalk::function_record() {
    const char *name = counted_field(name_copy_);
    int funnr = cur_.u16();
    const char *domain = counted_field(domain_copy_);
    uint32_t raw = cur_.u32();
    check_record(cur_);
    reject_ext_sym(raw);
    int required = cur_.u8();
    int argcount = cur_.u8();
    check_record(cur_);

    Symbol *fn = fcb_ ? fcb_(hdr_, dll_, name, domain_of(domain), stored_flags(raw), required,
                             argcount, funnr)
                      : nullptr;
    if (fn) mark_function(fn, raw);

    // The argument records of an ignored function are decoded all the same,
    // so that the next record starts where it should.
    // A variable argument list is followed by its required arguments only.
    int records = argcount == VARIABLE_ARGS ? required : argcount;
    Symbol *previous = fn;
    for (int i = 0; i < records; i++)
        previous = argument_record(previous);

    if (fn && check_) check_(fn);
    if (fn && notify_) notify_(fn);
}

// Decodes one argument record and, when `previous` is given, hands it to the
// argument callback. Returns the callback's symbol; once the callback yields
// none, the remaining arguments of the function are only stepped over.
Symbol *PrototypeWalk::argument_record(Symbol *previous) {
    const char *name = counted_field(name_copy_);
    const char *domain = counted_field(domain_copy_);
    uint32_t raw = cur_.u32();
    uint32_t flags = stored_flags(raw);
    const char *reserved = counted_field(reserved_copy_);
    int whereused = 0;
    if (flags & WHERE_USED) {
        if (hdr_.obj_revision != 0)
            whereused = cur_.u16();
        else
            flags &= ~WHERE_USED;
    }
    int dimcount = cur_.u8();
    check_record(cur_);
    if (dimcount > MAX_DIMS) prototypes_failure(text::OBJECT_CORRUPT);
    int32_t dims[MAX_DIMS] = {0, 0, 0, 0};
    for (int k = 0; k < dimcount; k++)
        dims[k] = static_cast<int32_t>(cur_.u32());
    check_record(cur_);
    reject_ext_sym(raw);

    if (!previous) return nullptr;
    Symbol *arg =
        acb_(hdr_, previous, name, domain_of(domain), flags, reserved, whereused, dimcount, dims);
    if (arg) mark_argument(arg, raw);
    return arg;
}

int count_args(const Symbol *first) {
    int n = 0;
    for (const Symbol *a = first; a; a = a->next_arg)
        n++;
    return n;
}

// True when an earlier declaration's argument list agrees with the
// prototype's in number, type and passing of each argument.
bool declaration_matches(const Symbol *decl, const Symbol *fn) {
    int n = count_args(decl);
    int required = required_args(*fn);
    int argcount = arg_count(*fn);
    if (n < required || (argcount != VARIABLE_ARGS && n > argcount)) return false;
    const Symbol *p = fn->next_arg;
    for (const Symbol *d = decl; d && p; d = d->next_arg, p = p->next_arg) {
        if ((d->flags & TYPE_BITS) != (p->flags & TYPE_BITS)) return false;
        if ((d->flags & REF_ARG) != (p->flags & REF_ARG)) return false;
    }
    return true;
}

// The standard loader: opens the DLL through the file-definition table,
// reads its header and its prototypes. A DLL that cannot be opened ends the
// run; one with a bad header is reported and gives no prototypes.
void open_and_read_dll(DllEntry &entry) {
    STREAM *s = open_object_stream(entry.name.c_str());
    if (!s) fatal_system_error(entry.name.c_str(), dll_text::CANT_OPEN, entry.name.c_str());
    ObjHeader hdr;
    hdr.stream = s;
    hdr.objname = entry.name;
    std::string path = or_empty(get_last_exploded_fname_ptr());
    hdr.pathname = path;
    if (read_header(hdr, s, entry.name.c_str(), path.c_str()) != 0) {
        error(dll_text::NOT_PROPER, entry.name.c_str());
    } else {
        hdr.stream = s;
        read_dll_prototypes(hdr, entry);
    }
    hdr.tiv.reset();
    sclose(s);
}

} // namespace

void read_prototypes(ObjHeader &hdr, DllEntry *dll, FuncCallback fcb, ArgCallback acb,
                     CheckCallback check, CheckCallback notify) {
    // A section cut short is corrupt whatever cut it; a read error that
    // still delivered the whole section is a read error.
    ObjectFile &file = *hdr.file;
    ByteView section = file.read(hdr.start[SEC_PROTOTYPES], hdr.size[SEC_PROTOTYPES]);
    Rtot_bytes += byte_sum(section);
    if (section.avail < section.size) {
        if (file.error()) errno = file.error();
        fatal_system_error(PROTOTYPES_LABEL, "Corrupt header in '%s'\n", hdr.objname.c_str());
    }
    if (file.error()) read_failure(hdr, PROTOTYPES_LABEL, file.error());
    decode_prototypes(hdr, section, dll, fcb, acb, check, notify);
    hdr.file->release(section);
}

void decode_prototypes(ObjHeader &hdr, const ByteView &section, DllEntry *dll, FuncCallback fcb,
                       ArgCallback acb, CheckCallback check, CheckCallback notify) {
    PrototypeWalk walk(hdr, dll, fcb, acb, check, notify, section);
    for (unsigned i = 0; i < hdr.count[SEC_PROTOTYPES]; i++)
        walk.function_record();
}

std::vector<std::pair<std::string, uint32_t>> index_prototypes(ObjHeader &hdr,
                                                               const ByteView &section) {
    PrototypeWalk walk(hdr, nullptr, nullptr, nullptr, nullptr, nullptr, section);
    std::vector<std::pair<std::string, uint32_t>> index;
    for (unsigned i = 0; i < hdr.count[SEC_PROTOTYPES]; i++) {
        const size_t at = walk.pos();
        Cursor c(section, section_info[SEC_PROTOTYPES].name);
        c.seek(at);
        const size_t length = c.u16();
        const char *name = reinterpret_cast<const char *>(c.bytes(length));
        walk.function_record(); // ends the run when the record runs past the section
        index.emplace_back(std::string(name, strnlen(name, length)), uint32_t(at));
    }
    return index;
}

void decode_prototypes_at(ObjHeader &hdr, const ByteView &section,
                          const std::vector<uint32_t> &offsets, DllEntry *dll, FuncCallback fcb,
                          ArgCallback acb, CheckCallback check, CheckCallback notify) {
    PrototypeWalk walk(hdr, dll, fcb, acb, check, notify, section);
    for (uint32_t at : offsets) {
        walk.seek(at);
        walk.function_record();
    }
}

namespace {

// The function symbol of a prototype; with `numbered`, also entered at its
// function number and in the DLL function list. A function number outside
// the function-number table cannot name an entry of the object's function
// table: the object is corrupt and the run ends (after the system error for
// the section, like the other failures of the prototypes section).
Symbol *function_of_prototype(ObjHeader &hdr, DllEntry *dll, const char *name,
                              const DomainRec *domain, uint32_t flags, int required, int argcount,
                              int funnr, bool numbered) {
    zel.saved_args = nullptr;
    if (numbered && !function_number_fits(funnr)) prototypes_failure(text::OBJECT_CORRUPT);

    Symbol *fn = looktoken(zel.global_scope, name, TOK_FUNCTION);
    if (!fn) {
        fn = addsymbol(zel.global_scope, name, flags, TOK_FUNCTION, 0, 0, 0, 0);
    } else if (fn->ref_to_dll) {
        if (fn->used)
            warning(WARN_DLL_DUPLICATE, text::TAKEN_FROM_DLL, name, hdr.objname.c_str(),
                    or_empty(fn->origin));
        return nullptr;
    } else if (fn->declared) {
        if (fn->used)
            warning(WARN_DLL_DUPLICATE, text::TAKEN_FROM_SOURCE, name, hdr.objname.c_str(),
                    or_empty(fn->origin), fn->line);
        return nullptr;
    } else {
        // Only declared so far: the prototype's arguments replace the
        // declared ones, which are kept for the comparison afterwards.
        if (fn->used) {
            zel.saved_args = fn->next_arg;
            fn->next_arg = nullptr;
        }
        fn->flags = flags;
    }

    fn->domain = domain;
    required_args(*fn) = required;
    arg_count(*fn) = argcount;
    fn->dim_count = (flags & STRING) ? 1 : 0;
    fn->line = 0;
    fn->origin = lasting_object_name(hdr);
    fn->dll = dll;
    if (numbered) {
        fn->number = static_cast<uint16_t>(funnr);
        zel.funnr[funnr] = fn;
        add_dllfunc_list(fn);
    }
    return fn;
}

} // namespace

Symbol *create_function_symbol(ObjHeader &hdr, DllEntry *dll, const char *name,
                               const DomainRec *domain, uint32_t flags, int required, int argcount,
                               int funnr) {
    return function_of_prototype(hdr, dll, name, domain, flags, required, argcount, funnr,
                                 showing_object());
}

Symbol *link_function_symbol(ObjHeader &hdr, DllEntry *dll, const char *name,
                             const DomainRec *domain, uint32_t flags, int required, int argcount,
                             int funnr) {
    return function_of_prototype(hdr, dll, name, domain, flags, required, argcount, funnr, false);
}

Symbol *create_function_arg(ObjHeader &hdr, Symbol *previous, const char *name,
                            const DomainRec *domain, uint32_t flags, const char *, int whereused,
                            int dimcount, const int32_t dims[4]) {
    if (previous->next_arg) return previous->next_arg;
    Symbol *scope = previous->scope == zel.global_scope ? previous : previous->scope;
    Symbol *arg = addsymbol(scope, name, flags, TOK_VARIABLE, 0, 0, 0, 0);
    arg->whereused = static_cast<uint16_t>(whereused);
    arg->domain = domain;
    arg->dim_count = static_cast<uint16_t>(dimcount);
    std::copy(dims, dims + MAX_DIMS, arg->dims);
    arg->line = 0;
    arg->origin = lasting_object_name(hdr);
    previous->next_arg = arg;
    return arg;
}

// The comparison with an earlier declaration: the declaration must have at
// least the required and at most the declared number of arguments (any number
// above the required ones for a variable list), and each of its arguments the
// type and the passing (by reference or not) of the prototype's argument at
// the same place. A mismatch is reported through `error`.
void check_function_symbol(Symbol *fn) {
    Symbol *decl = zel.saved_args;
    if (!decl) return;
    zel.saved_args = nullptr;
    if (!declaration_matches(decl, fn))
        error(text::DECLARATION_MISMATCH, fn->name, or_empty(fn->origin));
}

void read_dll_prototypes(ObjHeader &hdr, DllEntry &entry) {
    read_prototypes(hdr, &entry, create_function_symbol, create_function_arg, check_function_symbol,
                    nullptr);
}

DllEntry *load_next_dll() {
    DllEntry *entry = zel.dll_head;
    while (entry && entry->loaded)
        entry = entry->next;
    if (!entry) return nullptr;

    Rtot_bytes = 0;
    if (zel.dll_loader)
        zel.dll_loader(*entry);
    else
        open_and_read_dll(*entry);
    entry->loaded = 1;
    return entry;
}

int link_dll_function(Symbol *fn) {
    if (fn->ref_to_dll) return 1;
    if (fn->declared) return 0;
    while (load_next_dll()) {
        if (fn->ref_to_dll) return 1;
    }
    return 0;
}

DllEntry *add_dll_list(const char *name) {
    if (!name || !*name) {
        error("add_dll_list");
        return nullptr;
    }
    auto known = zel.dll_by_name.find(name);
    if (known != zel.dll_by_name.end()) return known->second;
    DllEntry &entry = zel.dll_store.emplace_back();
    entry.name = name;
    zel.dll_by_name.emplace(entry.name, &entry);
    entry.number = zel.dll_tail ? static_cast<uint16_t>(zel.dll_tail->number + 1) : 1;
    if (zel.dll_tail)
        zel.dll_tail->next = &entry;
    else
        zel.dll_head = &entry;
    zel.dll_tail = &entry;
    zel.dll_by_number.push_back(&entry);
    return &entry;
}

DllEntry *search_dll(unsigned number) {
    if (number == 0) return nullptr;
    if (number <= zel.dll_by_number.size()) return zel.dll_by_number[number - 1];
    fatal_error("DLL with number '%u' not found.", number);
}

// Sorted by name as unsigned bytes; a new node goes after every node of an
// equal name. Prototypes usually arrive in name order, so appending is the
// common case.
void add_dllfunc_list(Symbol *fn) {
    std::vector<Symbol *> &list = zel.dll_funcs;
    if (list.empty() || !name_less(fn, list.back())) {
        list.push_back(fn);
        return;
    }
    list.insert(std::upper_bound(list.begin(), list.end(), fn, name_less), fn);
}
