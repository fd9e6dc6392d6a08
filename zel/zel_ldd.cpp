// zel_ldd: will this object link at run time? For each object named on the
// command line it prints the tree of the DLLs that the object uses,
// transitively, each found as the runtime finds it, and resolves every
// function that the object takes from a DLL against its used DLLs, in their
// order, as the runtime does.
//
// Every DLL is read once per run: its header, the thirteen sections for the
// checksum, and, when the checksum holds, its used-DLL names and its
// prototypes, which are kept for linking. Linking goes through the library's
// `link_dll_function` and `load_next_dll` with a loader that serves the kept
// prototypes, so a DLL that is missing, not in proper format or damaged
// supplies no functions instead of ending the run.
#include "zel_ldd.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <iterator>
#include <unordered_map>
#include <unordered_set>

#include "al_env.h"
#include "al_strm.h"
#include "qpd.h"
#include "zel.h"
#include "zel_asm.h"
#include "zel_cursor.h"
#include "zel_dll.h"
#include "zel_error.h"
#include "zel_info.h"
#include "zel_obj.h"
#include "zel_readobj.h"

namespace {

constexpr int WARN_DLL_LINKAGE = 19;
constexpr size_t INDENT = 4; // columns per level of the tree

namespace text {
constexpr char UNRESOLVED[] = "Unresolved reference to function '%s'.";
constexpr char TAKEN_FROM[] = "Function '%s' taken from DLL '%s'.";
constexpr char ILLEGAL_CHECKSUM[] = "Illegal checksum %d expected %d";
constexpr char DLL_CHECKSUM[] = "Illegal checksum %d expected %d in DLL '%s'";
constexpr char DLL_CORRUPT[] = "DLL '%s' is damaged.";
constexpr char NOT_FOUND[] = "not found";
constexpr char NOT_PROPER[] = " (not in proper format)";
constexpr char DAMAGED[] = " (damaged)";
constexpr char ALREADY_SHOWN[] = " (already shown)";
constexpr char CYCLE[] = " (cycle)";
} // namespace text

const char *const usage_lines[] = {
    "Show the DLLs of objects and check their linkage\n",
    "\nUsage: %s [-m] object ...\n\n",
};

[[noreturn]] void ldd_usage(const char *progname) {
    print_usage(progname, usage_lines, std::size(usage_lines));
    print_usage(progname, common_usage_lines, COMMON_USAGE_LINES);
    fputs(NO_SHM_USAGE_LINE, stderr);
    throw StopRun{1};
}

std::string formatted(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string formatted(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    char buf[1024];
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

// ---------------------------------------------------------------------------
// Reading a DLL

// The header that the prototypes of `d` are decoded with: the fields that
// decoding them needs.
ObjHeader prototypes_header(const DllImage &d) {
    ObjHeader hdr;
    hdr.objname = d.name;
    hdr.pathname = d.path;
    hdr.relno = d.relno;
    hdr.obj_revision = d.obj_revision;
    hdr.count[SEC_PROTOTYPES] = d.prototype_count;
    return hdr;
}

// The kept prototypes section of `d`.
ByteView prototypes_of(const DllImage &d) {
    return {d.prototypes.data(), d.prototypes.size(), d.prototypes.size(), 0};
}

Symbol *skip_function(ObjHeader &, DllEntry *, const char *, const DomainRec *, uint32_t, int, int,
                      int) {
    return nullptr;
}

// Decodes the used-DLL names and the prototypes of a DLL whose checksum
// holds. Messages name the DLL, as they would in a report of the DLL itself.
void decode_dll(DllImage &d, const ByteView &used, unsigned used_count,
                const ByteView &prototypes) {
    const char *object = zel.cur_file;
    zel.cur_file = d.path.c_str();
    Cursor c(used, section_info[SEC_USED_DLLS].name);
    for (unsigned i = 0; i < used_count; i++) {
        const char *name = c.cstr();
        check_record(c);
        if (*name) d.used.emplace_back(name);
    }
    ObjHeader hdr = prototypes_header(d);
    if (prototypes.avail < prototypes.size)
        fatal_system_error(section_info[SEC_PROTOTYPES].label, "Corrupt header in '%s'\n",
                           hdr.objname.c_str());
    decode_prototypes(hdr, prototypes, nullptr, skip_function, create_function_arg, nullptr,
                      nullptr);
    zel.cur_file = object;
}

// Reads the DLL open on `s` into `d`, whose name and path are set: its
// sections sum as the loader sums them. What linking needs (the used-DLL
// names and the prototypes) is kept; every other section is released once
// summed.
void read_open_dll(DllImage &d, STREAM *s) {
    ObjHeader hdr;
    Rtot_bytes = 0;
    int rc = read_header(hdr, s, d.name.c_str(), d.path.c_str());
    hdr.tiv.reset();
    if (rc != 0) {
        d.state = DllState::not_proper;
        return;
    }
    ByteView used, prototypes;
    for (int i = 0; i < NSECTIONS; i++) {
        if (i == SEC_USED_DLLS)
            used = read_section(hdr, i);
        else if (i == SEC_PROTOTYPES)
            prototypes = read_section(hdr, i);
        else
            sum_section(hdr, i);
    }
    d.expected = hdr.checksum;
    d.computed = Rtot_bytes;
    d.relno = hdr.relno;
    d.obj_revision = hdr.obj_revision;
    d.prototype_count = hdr.count[SEC_PROTOTYPES];
    // Damaged until its sections have decoded: a check that a corrupt
    // section ends leaves it so for the later objects of the run.
    d.state = DllState::damaged;
    if (d.expected != d.computed) return;
    d.prototypes.assign(prototypes.data, prototypes.data + prototypes.avail);
    decode_dll(d, used, hdr.count[SEC_USED_DLLS], prototypes);
    d.state = DllState::found;
}

// The DLLs of a run, each read on first use and known afterwards by its name
// and by its resolved path.
class DllCache {
  public:
    const DllImage &get(const std::string &name);

  private:
    std::deque<DllImage> images_; // stable addresses
    std::unordered_map<std::string, DllImage *> by_name_;
    std::unordered_map<std::string, DllImage *> by_path_;
};

const DllImage &DllCache::get(const std::string &name) {
    auto known = by_name_.find(name);
    if (known != by_name_.end()) return *known->second;

    STREAM *s = open_object_stream(name.c_str());
    std::string path = s ? get_last_exploded_fname_ptr() : "";
    if (auto same = by_path_.find(path); s && same != by_path_.end()) {
        sclose(s);
        return *(by_name_[name] = same->second);
    }
    DllImage &d = images_.emplace_back();
    d.name = name;
    d.path = path;
    by_name_[name] = &d;
    if (!s) return d;
    by_path_[path] = &d;
    read_open_dll(d, s);
    sclose(s);
    return d;
}

// ---------------------------------------------------------------------------
// The tree

void report_problem(const DllImage &d) {
    switch (d.state) {
    case DllState::found:
        break;
    case DllState::not_found:
        error(dll_text::CANT_OPEN, d.name.c_str());
        break;
    case DllState::not_proper:
        error(dll_text::NOT_PROPER, d.name.c_str());
        break;
    case DllState::damaged:
        if (d.expected != d.computed)
            error(text::DLL_CHECKSUM, int(d.expected), int(d.computed), d.name.c_str());
        else
            error(text::DLL_CORRUPT, d.name.c_str());
        break;
    }
}

const char *state_mark(DllState state) {
    switch (state) {
    case DllState::not_proper:
        return text::NOT_PROPER;
    case DllState::damaged:
        return text::DAMAGED;
    default:
        return "";
    }
}

// One line of the tree: the name as the using object gives it, " => ",
// where it was found, then a mark.
void print_line(size_t depth, const std::string &name, const std::string &where, const char *mark) {
    std::string line(depth * INDENT, ' ');
    line += name;
    line += " => ";
    line += where;
    line += mark;
    line += '\n';
    fwrite(line.data(), 1, line.size(), stdout);
}

std::string where_found(const DllImage &d) {
    return d.state == DllState::not_found ? text::NOT_FOUND : d.path;
}

// Walks the DLLs below the object at `root_path` depth first, in the order
// in which each object names them. A DLL is shown and reported once; a later
// reference is marked as already shown, and one to a DLL on the way down
// (the object included) as a cycle; neither is descended into.
void show_tree(DllCache &cache, const std::string &root_path,
               const std::vector<std::string> &names) {
    struct Level {
        const std::vector<std::string> *names;
        size_t next;
        const DllImage *dll;
    };
    std::vector<Level> levels{{&names, 0, nullptr}};
    std::unordered_set<const DllImage *> shown, ancestors;
    while (!levels.empty()) {
        Level &top = levels.back();
        if (top.next == top.names->size()) {
            ancestors.erase(top.dll);
            levels.pop_back();
            continue;
        }
        const std::string &name = (*top.names)[top.next++];
        size_t depth = levels.size();
        const DllImage &d = cache.get(name);
        bool cycle = ancestors.count(&d) || (d.state != DllState::not_found && d.path == root_path);
        if (cycle || shown.count(&d)) {
            print_line(depth, name, where_found(d), cycle ? text::CYCLE : text::ALREADY_SHOWN);
            continue;
        }
        print_line(depth, name, where_found(d), state_mark(d.state));
        shown.insert(&d);
        report_problem(d);
        if (d.state == DllState::found) {
            ancestors.insert(&d);
            levels.push_back({&d.used, 0, &d});
        }
    }
}

// ---------------------------------------------------------------------------
// Linking

// The loader of `load_next_dll` during a check: the kept prototypes of a
// usable DLL of `cache`; nothing of any other. The prototypes are linked to
// the object's functions without entering its function-number table.
void load_kept_dll(DllCache &cache, DllEntry &entry) {
    const DllImage &d = cache.get(entry.name);
    if (d.state != DllState::found) return;
    ObjHeader hdr = prototypes_header(d);
    hdr.objname = entry.name;
    decode_prototypes(hdr, prototypes_of(d), &entry, link_function_symbol, create_function_arg,
                      check_function_symbol, nullptr);
}

// A function that a DLL has to supply: bound to a DLL by the function table,
// or without code of its own; with the DLL the object recorded for it.
struct Import {
    Symbol *fn;
    const DllEntry *recorded;
};

bool bound_to_dll(const Symbol *fn) {
    return (fn->flags & ~uint32_t(IDENTIFIER)) == (FUNCTION | EXTERN);
}

bool has_code(const Symbol *fn) {
    return fn->offset < zel.code.size && zel.code.at(fn->offset) == op::SUB_TEXT;
}

std::string hint(const DllEntry *dll) {
    std::string text;
    if (dll) text.append(" ").append(formatted(dll_text::HINT, dll->name.c_str()));
    return text;
}

// Resolves the imports of the loaded object as the runtime does: each
// against the used DLLs in their order, the first export of a name winning;
// then the remaining used DLLs are read, so that every duplicate export is
// reported.
void link_functions(DllCache &cache) {
    std::vector<Import> imports;
    for (Symbol *fn = zel.fun.head; fn; fn = fn->next) {
        if (bound_to_dll(fn) || !has_code(fn)) imports.push_back({fn, fn->dll});
    }
    zel.dll_loader = [&cache](DllEntry &entry) { load_kept_dll(cache, entry); };
    for (const Import &im : imports) {
        if (!link_dll_function(im.fn)) {
            error("%s%s", formatted(text::UNRESOLVED, im.fn->name).c_str(),
                  hint(im.recorded).c_str());
        } else if (im.recorded && im.fn->dll && im.fn->dll != im.recorded) {
            warning(WARN_DLL_LINKAGE, "%s%s",
                    formatted(text::TAKEN_FROM, im.fn->name, im.fn->dll->name.c_str()).c_str(),
                    hint(im.recorded).c_str());
        }
    }
    while (load_next_dll()) {
    }
}

// ---------------------------------------------------------------------------
// Objects

std::vector<std::string> used_dll_names() {
    std::vector<std::string> names;
    for (const DllEntry *e = zel.dll_head; e; e = e->next)
        names.push_back(e->name);
    return names;
}

// Checks one object; true when nothing was reported as an error.
bool check_object(DllCache &cache, const std::string &name) {
    enter_object(name);
    zel.info = INFO_ALL; // loaded and checked as zel_info loads it
    zel.mute_after_error = false;
    LoadedObject obj = load_object();
    const std::string root_path = zel.hdr.pathname;
    bool sound = obj.checksum == zel.hdr.checksum;
    print_line(0, name, root_path, sound ? "" : text::DAMAGED);
    if (!sound) error(text::ILLEGAL_CHECKSUM, int(zel.hdr.checksum), int(obj.checksum));
    show_tree(cache, root_path, used_dll_names());
    link_functions(cache);
    close_object(obj);
    return zel.errors == 0;
}

void check_named_objects(const CommandLine &set, const char *prog) {
    if (set.objects.empty() ||
        std::any_of(set.objects.begin(), set.objects.end(), [](auto &o) { return o.empty(); }))
        ldd_usage(prog);
    stop(check_linkage(set.objects));
}

} // namespace

DllImage read_dll(const std::string &name) {
    DllCache cache;
    return cache.get(name);
}

int check_linkage(const std::vector<std::string> &objects) {
    DllCache cache;
    int status = 0;
    for (size_t k = 0; k < objects.size(); k++) {
        if (k > 0) fresh_zel();
        size_t streams = sopen_count();
        try {
            if (!check_object(cache, objects[k])) status = 1;
        } catch (const StopRun &) {
            // The fatal path has reported it; the run goes on.
            sclose_newest(streams);
            status = 1;
        }
    }
    zel.dll_loader = nullptr; // it served this run's DLLs
    return status;
}

int zel_ldd_main(int argc, char **argv) {
    static const CommandSyntax syntax{"zel_ldd", false, ldd_usage};
    return run_command(argc, argv, syntax, check_named_objects);
}
