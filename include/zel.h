// The global compiler record `zel` and the records it holds: symbols, lists,
// the object header and the used-DLL entries. Shared by the object information
// tool and the parts of the compiler library that it uses.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "zel_cursor.h"
#include "zel_error.h"
#include "zel_flags.h"
#include "zel_memory.h"
#include "zel_obj.h"
#include "zel_symtab.h"

struct STREAM;
struct DomainRec;
struct ListLookups;
struct ListLookupsFree {
    void operator()(ListLookups *p) const noexcept;
};

struct DllEntry;

// One name of the object. The fields are laid out so that the record is
// small (a large object makes tens of thousands of them) and that those the
// listing reads share its first cache line; the symbol store keeps the names
// apart from the records, side by side.
struct Symbol {
    const char *name = nullptr;
    Symbol *scope = nullptr;
    int32_t tok = 0;
    uint32_t flags = 0;
    int32_t dims[4] = {0, 0, 0, 0};
    uint16_t number = 0;
    uint16_t whereused = 0;
    uint8_t dim_count = 0;
    // The four booleans, and the two marks that only keyword entries use
    // (not a keyword in the legacy mode; the second mark).
    uint8_t used : 1 = 0;
    uint8_t ref_to_dll : 1 = 0;
    uint8_t optional : 1 = 0; // used only by the compiler
    uint8_t declared : 1 = 0;
    uint8_t kw_legacy : 1 = 0;
    uint8_t kw_mark : 1 = 0; // used only by the compiler
    uint32_t offset = 0;
    int32_t line = 0;
    const DomainRec *domain = nullptr;
    const char *origin = nullptr;
    Symbol *next_arg = nullptr;
    const char *description = nullptr;
    DllEntry *dll = nullptr;
    Symbol *next = nullptr;
    Symbol *namesake = nullptr;
};

// Functions keep their argument counts in the dimension slots; an argument
// count of VARIABLE_ARGS marks a variable argument list.
constexpr int VARIABLE_ARGS = 255;
inline int32_t &required_args(Symbol &s) {
    return s.dims[0];
}
inline int32_t required_args(const Symbol &s) {
    return s.dims[0];
}
inline int32_t &arg_count(Symbol &s) {
    return s.dims[1];
}
inline int32_t arg_count(const Symbol &s) {
    return s.dims[1];
}

// A string constant keeps the length of its text in its one dimension slot.
inline int32_t &text_length(Symbol &s) {
    return s.dims[0];
}
inline int32_t text_length(const Symbol &s) {
    return s.dims[0];
}

struct SymList {
    Symbol *head = nullptr;
    Symbol *tail = nullptr;
    uint32_t generation = 0; // bumped on every append; lets lookups cache indexes
};

struct DllEntry {
    std::string name;
    uint8_t referenced = 0;
    uint8_t loaded = 0;
    uint16_t number = 0;
    DllEntry *next = nullptr;
};

struct TivRecord {
    int32_t type = 0;
    int32_t length = 0;
    int32_t value = 0;
};

struct ObjHeader {
    char magic[layout::MAGIC_SIZE] = {};
    int32_t relno = 0;
    int32_t bytesheader = 0;
    int32_t startdate = 0;
    int32_t enddate = 0;
    int32_t options = 0;
    int32_t flags = 0;
    int32_t count_extern = 0;
    int32_t obj_revision = 0;
    int32_t fsm = 0;
    uint32_t start[NSECTIONS] = {};
    uint32_t size[NSECTIONS] = {};
    uint16_t count[NSECTIONS] = {};
    uint32_t checksum = 0; // expected checksum, already adjusted
    std::string objname;
    std::string pathname;
    int32_t compnr_check[3] = {0, 0, 0};
    STREAM *stream = nullptr;
    std::unique_ptr<TivRecord> tiv;
    std::unique_ptr<ObjectFile> file; // the open object, and the blocks read from it
};

// The global compiler record.
struct Zel {
    // Settings from the command line.
    uint32_t info = 0;
    uint32_t flagmask = 0;
    uint32_t no_shm = 0;
    std::string objname;
    const char *cur_file = nullptr; // prefixes every message; the object name

    ObjHeader hdr;

    // Symbol table. The store holds the symbols, their names and the name
    // index's slots; `name_index` is `index` once create_keytab has made it.
    // The lookup indexes of the lists are built on first use (zel_keytab).
    SymList sym, fun, glob_fun, str, dbl;
    std::vector<const char *> idents;
    const char *cur_origin = nullptr;
    SymbolArena store;
    NameIndex index;
    NameIndex *name_index = nullptr;
    std::unique_ptr<ListLookups, ListLookupsFree> lookups;
    uint32_t generation = 0;     // of the latest append to a list
    std::vector<Symbol *> symnr; // symbol-number table
    std::vector<Symbol *> funnr; // function-number table

    // Object code (section 2), as read.
    ByteView code;
    // The string section as the loader keeps it; the texts of the string
    // list point into it (in a sound object, the text of the string at
    // offset k lies at k + 2, behind its record's length).
    ByteView strings;

    // DLL linkage.
    DllEntry *dll_head = nullptr;
    DllEntry *dll_tail = nullptr;
    std::vector<Symbol *> dll_funcs; // DLL function list, sorted by name
    const char *dll_usage = nullptr; // DLL usage description, in the descriptions block
    Symbol *saved_args = nullptr;
    // How load_next_dll reads the prototypes of a used DLL; empty: the
    // standard loader, which opens the DLL (a command that has read its
    // DLLs already serves them itself).
    std::function<void(DllEntry &)> dll_loader;

    // Message state.
    int errors = 0;
    int warnings = 0;
    int suppressed = 0;
    bool too_many = false;
    uint32_t warn_mask = 0;
    bool mute_after_error = true;
    int error_limit = 60; // the error after this many ends the run; 0: no limit
    // When set, messages are kept here instead of printed, and a fatal error
    // ends what is being read (StopRun) without the summary: zel_ldd reads a
    // DLL so, and reports what it kept for every object that reaches it.
    std::vector<HeldMessage> *held = nullptr;

    // Used only by the compiler. The tool never sets them: it keeps no label
    // or domain list, its global symbols have no scope, and it compiles no
    // line, macro or construct; the code it shares with the compiler reads
    // them as init_zel_struct leaves them.
    SymList label, domain;
    Symbol *global_scope = nullptr;
    int32_t cur_line = 0;             // the source line, for symbols and messages
    const char *macro_name = nullptr; // the macro being expanded, for messages
    const char *context = nullptr;    // for messages
    std::string listing_name;         // the listing file (open_assembler)

    // Storage of everything a load creates; lives until the process ends.
    std::deque<std::string> text_store;
    std::deque<DllEntry> dll_store;
    // The used-DLL list by name (the names of the entries in dll_store), so
    // that a name given again finds its entry at once, and by number.
    std::unordered_map<std::string_view, DllEntry *> dll_by_name;
    std::vector<DllEntry *> dll_by_number; // entry n at n - 1
};

extern Zel zel;

// Whether `zel` holds an object that the tool shows: its info bits are set,
// as they always are in the tool. The compiler, which leaves them 0, links
// instead: lookups by number search the lists, a function offset that names
// nothing ends the run, and the prototypes of a DLL leave the object's
// function-number table alone.
inline bool showing_object() {
    return zel.info != 0;
}

// Resets `zel`, keeping the no-shared-memory switch; the name index is
// empty and stays in use when it was.
void init_zel_struct();
