// The deployment check of zel_ldd: every DLL that an object reaches is read
// once per run, as zel_info loads an object, and judged; then the object is
// loaded and its imports are linked against its used DLLs, in their order,
// as the runtime links them, and each call of a DLL-supplied function is
// checked against the prototype's argument counts.
//
// Reading a DLL takes a fresh `zel`, so every DLL of an object's tree (and,
// with -r, the linkage of each) is read before the object itself is loaded.
// A DLL's messages are kept, not printed (zel.held): each object that
// reaches it reports them in its own words, so an object gets the same
// report whatever was checked before it. What linking needs of a sound DLL,
// its used-DLL names and its prototypes section, is kept; the rest of it is
// gone with its `zel`.
#include <sys/stat.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "al_env.h"
#include "al_strm.h"
#include "zel.h"
#include "zel_asm.h"
#include "zel_dll.h"
#include "zel_error.h"
#include "zel_info.h"
#include "zel_ldd.h"
#include "zel_ldd_out.h"
#include "zel_obj.h"
#include "zel_readobj.h"
#include "zel_symtab.h"

namespace {

constexpr int WARN_DLL_LINKAGE = 19;

namespace text {
constexpr char UNRESOLVED[] = "Unresolved reference to function '%s'.";
constexpr char TAKEN_FROM[] = "Function '%s' taken from DLL '%s'.";
constexpr char ILLEGAL_CHECKSUM[] = "Illegal checksum %d expected %d";
constexpr char DLL_CHECKSUM[] = "Illegal checksum %d expected %d in DLL '%s'";
constexpr char DLL_DAMAGED[] = "DLL '%s' is damaged: %s";
constexpr char DLL_SAYS[] = "DLL '%s': %s";
constexpr char ARGUMENTS[] = "Function '%s' called with %u arguments at %u, but DLL '%s' takes %s.";
constexpr char UNUSED[] = "DLL '%s' is used but supplies no function.";
} // namespace text

std::string formatted(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string formatted(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    char buf[1024];
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

// An error or a warning of the check: printed, counted, and noted in the
// report.
void report_error(LinkReport &r, const std::string &message) {
    error("%s", message.c_str());
    r.errors.push_back(message);
}

void report_warning(LinkReport &r, const std::string &message) {
    warning(WARN_DLL_LINKAGE, "%s", message.c_str());
    r.warnings.push_back(message);
}

// Notes messages that were kept in the report: warnings and errors.
void note_held(const std::vector<HeldMessage> &held, LinkReport &r) {
    for (const HeldMessage &m : held) {
        if (m.clstext.empty()) continue;
        (m.cls != 0 ? r.warnings : r.errors).push_back(m.text);
    }
}

// Prints messages that were kept and notes them in the report.
void release_into(const std::vector<HeldMessage> &held, LinkReport &r) {
    release_held(held);
    note_held(held, r);
}

// The names of the used-DLL list of the object loaded in `zel`, in order.
std::vector<std::string> used_dll_names() {
    std::vector<std::string> names;
    for (const DllEntry *e = zel.dll_head; e; e = e->next)
        names.push_back(e->name);
    return names;
}

// The file that an open stream reads (device and inode); {0, 0} when it
// cannot be told.
std::pair<uint64_t, uint64_t> file_of(STREAM *s) {
    struct stat st;
    if (!s || fstat(sfileno(s), &st) != 0) return {0, 0};
    return {st.st_dev, st.st_ino};
}

// Runs `read` with its messages kept in `held`; false when it ended
// through the fatal path (its streams are closed then).
template <class Read> bool run_held(std::vector<HeldMessage> &held, Read &&read) {
    std::vector<HeldMessage> *before = zel.held;
    const size_t streams = sopen_count();
    zel.held = &held;
    bool completed = true;
    try {
        read();
    } catch (const StopRun &) {
        sclose_newest(streams);
        completed = false;
    }
    zel.held = before;
    return completed;
}

// A fresh `zel` for the object or DLL `name`, with the settings of a
// deployment check: every error is reported, and warnings after errors too.
// The keywords are not entered in the name index: a check shows no symbol,
// and a function is found by its name whether or not a keyword of that name
// stands in front of it.
void fresh_check_zel(const std::string &name, uint32_t info) {
    std::vector<HeldMessage> *held = zel.held;
    init_zel_struct();
    create_keytab();
    zel.held = held;
    zel.info = info;
    zel.mute_after_error = false;
    zel.error_limit = 0;
    enter_object(name);
}

// ---------------------------------------------------------------------------
// Linking the object loaded in `zel`

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
    return dll ? formatted(dll_text::HINT, dll->name.c_str()).insert(0, 1, ' ') : std::string();
}

// The argument counts that a prototype takes, as the message names them.
std::string takes(int required, int count) {
    if (count == VARIABLE_ARGS) return "at least " + std::to_string(required);
    if (required == count) return std::to_string(count);
    return std::to_string(required) + " to " + std::to_string(count);
}

// A call of the function numbered `funnr` with `arguments` at `position`:
// when a DLL supplies the function, the count must lie between the
// prototype's required and declared arguments (any number above the
// required ones for a variable list).
void check_call(uint32_t position, unsigned arguments, unsigned funnr, LinkReport &r) {
    if (funnr >= zel.funnr.size()) return;
    const Symbol *fn = zel.funnr[funnr];
    if (!fn || !fn->ref_to_dll || !fn->dll) return;
    const int required = required_args(*fn), count = arg_count(*fn);
    if (int(arguments) >= required && (count == VARIABLE_ARGS || int(arguments) <= count)) return;
    ArgumentError e{fn->name, position, arguments, fn->dll->name, takes(required, count)};
    error(text::ARGUMENTS, e.function.c_str(), arguments, position, e.dll.c_str(), e.takes.c_str());
    r.argument_errors.push_back(std::move(e));
}

// Walks the code of the loaded object as far as its file holds it and checks
// every call by function number: S_JSR, S_JSR_P, I_JSR and I_JSR_P with
// their count byte, S_JSR_0 and S_JSR_0P without one. The walk ends where
// an instruction cannot be decoded.
void check_calls(LinkReport &r) {
    const ByteView &code = zel.code;
    for (size_t pos = 0; pos < code.avail;) {
        const uint8_t *p = code.data + pos;
        long size = sizeof_instruction(p, code.avail - pos);
        if (size <= 0) break;
        switch (p[0]) {
        case op::S_JSR:
        case op::S_JSR_P:
        case op::I_JSR:
        case op::I_JSR_P:
            check_call(uint32_t(pos), p[1], unsigned(p[2]) << 8 | p[3], r);
            break;
        case op::S_JSR_0:
        case op::S_JSR_0P:
            check_call(uint32_t(pos), 0, unsigned(p[1]) << 8 | p[2], r);
            break;
        default:
            break;
        }
        pos += size_t(size);
    }
}

// With -u: each sound used DLL that supplies none of the functions of the
// object's function list (one that is missing or would not load is an
// error already).
template <class Sound> void check_unused(LinkReport &r, Sound &&sound) {
    std::unordered_set<const DllEntry *> supplying;
    for (const Symbol *fn = zel.fun.head; fn; fn = fn->next)
        if (fn->ref_to_dll && fn->dll) supplying.insert(fn->dll);
    for (const DllEntry *e = zel.dll_head; e; e = e->next)
        if (!supplying.count(e) && sound(e->name))
            report_warning(r, formatted(text::UNUSED, e->name.c_str()));
}

} // namespace

// ---------------------------------------------------------------------------
// The DLLs of a run

// The DLLs of a run, each read when first named, known afterwards by every
// name that reached it and by its file (device and inode).
class DllCache {
  public:
    explicit DllCache(const LddOptions &options) : options_(options) {}
    // The DLL `name`, read (in a fresh `zel`) when it is new.
    DllImage &read(const std::string &name);
    // The DLL `name` as read; nullptr when it has not been.
    const DllImage *find(const std::string &name) const;
    // Reads every DLL below `names` and, with -r, links each one found.
    void read_tree(const std::vector<std::string> &names);
    // Links the object or DLL loaded in `zel` against its used DLLs.
    void link_loaded(LinkReport &r);
    // The number of DLLs read so far (DllImage::index lies below it).
    size_t size() const { return images_.size(); }

  private:
    void judge(DllImage &d, STREAM *s);
    void link_dll(DllImage &d);

    LddOptions options_;
    std::deque<DllImage> images_; // stable addresses
    std::unordered_map<std::string, DllImage *> by_name_;
    std::map<std::pair<uint64_t, uint64_t>, DllImage *> by_file_;
};

DllImage &DllCache::read(const std::string &name) {
    if (auto known = by_name_.find(name); known != by_name_.end()) return *known->second;
    STREAM *s = open_object_stream(name.c_str());
    std::string path = s ? get_last_exploded_fname_ptr() : "";
    const std::pair<uint64_t, uint64_t> file = file_of(s);
    const bool identified = file.second != 0; // no file has inode 0
    if (auto same = by_file_.find(file); identified && same != by_file_.end()) {
        sclose(s);
        return *(by_name_[name] = same->second);
    }
    DllImage &d = images_.emplace_back();
    d.index = images_.size() - 1;
    d.name = name;
    d.path = path;
    d.device = file.first;
    d.inode = file.second;
    by_name_[name] = &d;
    if (!s) return d;
    if (identified) by_file_[file] = &d;
    judge(d, s);
    return d;
}

const DllImage *DllCache::find(const std::string &name) const {
    auto known = by_name_.find(name);
    return known == by_name_.end() ? nullptr : known->second;
}

// A DLL is sound when zel_info would load it: its header is accepted, every
// section decodes as the loader decodes it (here without making symbols, as
// with -c) and its checksum holds. Its messages stay with it.
void DllCache::judge(DllImage &d, STREAM *s) {
    ObjHeader header;
    std::vector<HeldMessage> ignored;
    int rc = -1;
    run_held(ignored, [&] { rc = read_header(header, s, d.name.c_str(), d.path.c_str()); });
    if (rc != 0 || sseek(s, 0, SEEK_SET) != 0) {
        sclose(s);
        d.state = DllState::not_proper;
        return;
    }
    d.state = DllState::damaged;
    bool closed = false;
    run_held(d.load_messages, [&] {
        fresh_check_zel(d.name, INFO_CHECKSUM);
        LoadedObject obj = load_object(s, d.path);
        d.expected = zel.hdr.checksum;
        d.computed = obj.checksum;
        d.used = used_dll_names();
        d.relno = zel.hdr.relno;
        d.obj_revision = zel.hdr.obj_revision;
        d.prototype_count = zel.hdr.count[SEC_PROTOTYPES];
        ByteView v =
            zel.hdr.file->read(zel.hdr.start[SEC_PROTOTYPES], zel.hdr.size[SEC_PROTOTYPES]);
        d.prototypes.assign(v.data, v.data + v.avail);
        d.exports = index_prototypes(zel.hdr, v);
        close_object(obj);
        closed = true;
        if (d.expected == d.computed) d.state = DllState::found;
    });
    if (!closed) sclose(s); // the load ended through the fatal path
    if (d.state != DllState::found) d.used.clear(), d.prototypes.clear();
}

void DllCache::read_tree(const std::vector<std::string> &names) {
    std::vector<DllImage *> reached;
    std::vector<bool> seen;
    std::vector<std::pair<const std::vector<std::string> *, size_t>> stack{{&names, 0}};
    while (!stack.empty()) {
        auto &[list, next] = stack.back();
        if (next == list->size()) {
            stack.pop_back();
            continue;
        }
        DllImage &d = read((*list)[next++]);
        if (d.index >= seen.size()) seen.resize(images_.size());
        if (seen[d.index] || d.state != DllState::found) continue;
        seen[d.index] = true;
        reached.push_back(&d);
        stack.push_back({&d.used, 0});
    }
    if (options_.recursive)
        for (DllImage *d : reached)
            if (!d->linked) link_dll(*d);
}

// With -r: the DLL's own imports and calls, as the runtime links them when
// it loads the DLL; kept for every object that reaches it.
void DllCache::link_dll(DllImage &d) {
    d.linked = true;
    std::vector<HeldMessage> ignored;
    run_held(ignored, [&] {
        fresh_check_zel(d.name, INFO_ALL);
        LoadedObject obj = load_object();
        zel.held = &d.link_messages;
        link_loaded(d.linkage);
        close_object(obj);
    });
    note_held(d.link_messages, d.linkage);
}

// The loader of `load_next_dll` while an object links: the kept prototypes
// of a sound DLL; nothing of any other, nor of a DLL file that an earlier
// used-DLL entry has loaded under another name. The prototypes are linked to
// the object's functions without entering its function-number table.
// Resolves the imports as the runtime does: each against the used DLLs in
// their order, the first export of a name winning; then the remaining used
// DLLs are read, so that every duplicate export is reported.
void DllCache::link_loaded(LinkReport &r) {
    std::vector<Import> imports;
    for (Symbol *fn = zel.fun.head; fn; fn = fn->next)
        if (bound_to_dll(fn) || !has_code(fn)) imports.push_back({fn, fn->dll});
    std::vector<bool> loaded(images_.size());
    zel.dll_loader = [this, &loaded](DllEntry &entry) {
        const DllImage *d = find(entry.name);
        if (!d || d->state != DllState::found || loaded[d->index]) return;
        loaded[d->index] = true;
        ObjHeader hdr;
        hdr.objname = entry.name;
        hdr.pathname = d->path;
        hdr.relno = d->relno;
        hdr.obj_revision = d->obj_revision;
        hdr.count[SEC_PROTOTYPES] = d->prototype_count;
        // A prototype of a function that the object does not name is passed
        // over: it resolves no import, and a later export of its name warns
        // only against a function that the object lists.
        std::vector<uint32_t> records;
        for (const auto &[function, at] : d->exports)
            if (looktoken(zel.global_scope, function.c_str(), TOK_FUNCTION)) records.push_back(at);
        const ByteView section{d->prototypes.data(), d->prototypes.size(), d->prototypes.size(), 0};
        decode_prototypes_at(hdr, section, records, &entry, link_function_symbol,
                             create_function_arg, check_function_symbol, nullptr);
    };
    for (const Import &im : imports) {
        if (!link_dll_function(im.fn)) {
            r.unresolved.push_back({im.fn->name, im.recorded ? im.recorded->name : ""});
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
    zel.dll_loader = nullptr;
    check_calls(r);
    if (options_.unused)
        check_unused(r, [this](const std::string &name) {
            const DllImage *d = find(name);
            return d && d->state == DllState::found;
        });
}

// ---------------------------------------------------------------------------
// Objects

namespace {

// The object `name` opened ahead of its load, and the names of the DLLs
// that it uses, as its used-DLL list holds them; no names when they cannot
// be read (its load reports why).
struct Peeked {
    STREAM *stream = nullptr;
    std::string path;
    std::vector<std::string> names;
};

Peeked peek_used_dlls(const std::string &name) {
    Peeked p;
    std::vector<HeldMessage> ignored;
    if (!run_held(ignored, [&] {
            p.stream = open_object_stream(name.c_str());
            if (!p.stream) return;
            p.path = get_last_exploded_fname_ptr();
            ObjHeader h;
            if (read_header(h, p.stream, name.c_str(), p.path.c_str()) != 0) return;
            Cursor c(read_section(h, SEC_USED_DLLS), "");
            std::unordered_set<std::string> seen;
            for (unsigned i = 0; i < h.count[SEC_USED_DLLS]; i++) {
                std::string dll = c.cstr();
                if (!c.ok()) break;
                if (!dll.empty() && seen.insert(dll).second) p.names.push_back(dll);
            }
        }))
        p.stream = nullptr;                              // closed with the reading that ended
    if (p.stream && sseek(p.stream, 0, SEEK_SET) != 0) { // read again from the start
        sclose(p.stream);
        p.stream = nullptr;
    }
    return p;
}

// What a DLL's verdict is, in the words of an object that reaches it.
void report_dll(const DllImage &d, LinkReport &r) {
    switch (d.state) {
    case DllState::not_found:
        report_error(r, formatted(dll_text::CANT_OPEN, d.name.c_str()));
        return;
    case DllState::not_proper:
        report_error(r, formatted(dll_text::NOT_PROPER, d.name.c_str()));
        return;
    default:
        break;
    }
    // A damaged DLL gives its one reason: the loader's fatal message, else
    // the checksum (what else its loading said came of the damage). A sound
    // one may have said what does not stop a load, such as a domain that the
    // dictionary lacks.
    for (const HeldMessage &m : d.load_messages) {
        if (m.clstext.empty() || m.fatal() != (d.state == DllState::damaged)) continue;
        std::string text = formatted(m.fatal() ? text::DLL_DAMAGED : text::DLL_SAYS, d.name.c_str(),
                                     m.text.c_str());
        if (m.fatal()) return report_error(r, text);
        if (m.cls != 0)
            report_warning(r, text);
        else
            report_error(r, text);
    }
    if (d.state == DllState::damaged)
        report_error(
            r, formatted(text::DLL_CHECKSUM, int(d.expected), int(d.computed), d.name.c_str()));
}

const char *state_mark(DllState state) {
    switch (state) {
    case DllState::not_proper:
        return "not in proper format";
    case DllState::damaged:
        return "damaged";
    default:
        return "";
    }
}

// Walks the DLLs below the object depth first, in the order in which each
// object names them. A DLL is shown and reported once; a later reference is
// marked as already shown, and one to a DLL on the way down (the object
// included) as a cycle; neither is descended into.
void walk_tree(const DllCache &cache, ObjectReport &rep, const std::vector<std::string> &names,
               std::pair<uint64_t, uint64_t> root, LddSink &sink) {
    struct Level {
        const std::vector<std::string> *names;
        size_t next;
        const DllImage *dll;
    };
    std::vector<Level> levels{{&names, 0, nullptr}};
    std::vector<bool> shown(cache.size()), ancestors(cache.size());
    while (!levels.empty()) {
        Level &top = levels.back();
        if (top.next == top.names->size()) {
            if (top.dll) ancestors[top.dll->index] = false;
            levels.pop_back();
            continue;
        }
        const std::string &name = (*top.names)[top.next++];
        const DllImage *d = cache.find(name);
        if (!d) continue; // not reached when the DLLs were read
        TreeLine line{levels.size(), name, d->path, d, ""};
        const bool found = d->state != DllState::not_found;
        const bool cycle =
            ancestors[d->index] || (found && root.second && root == std::pair{d->device, d->inode});
        if (cycle || shown[d->index]) {
            line.mark = cycle ? "cycle" : "already shown";
            sink.line(rep.tree.emplace_back(std::move(line)));
            continue;
        }
        line.mark = state_mark(d->state);
        sink.line(rep.tree.emplace_back(std::move(line)));
        shown[d->index] = true;
        report_dll(*d, rep.link);
        if (d->state == DllState::found) {
            ancestors[d->index] = true;
            levels.push_back({&d->used, 0, d});
            if (d->linked) rep.linked_dlls.push_back(d);
        }
    }
}

// With -r: what linking each DLL of the tree found, its messages prefixed by
// the DLL's name.
void report_linked_dlls(const ObjectReport &rep) {
    const char *object = zel.cur_file;
    for (const DllImage *d : rep.linked_dlls) {
        zel.cur_file = d->name.c_str();
        release_held(d->link_messages);
    }
    zel.cur_file = object;
}

// Checks one object; fills `rep`.
void check_object(DllCache &cache, const std::string &name, LddSink &sink, ObjectReport &rep) {
    rep.name = name;
    Peeked peeked = peek_used_dlls(name);
    cache.read_tree(peeked.names);

    fresh_check_zel(name, INFO_ALL); // loaded and checked as zel_info loads it
    std::vector<HeldMessage> held;
    LoadedObject obj;
    rep.loaded = run_held(held, [&] {
        obj = peeked.stream ? load_object(peeked.stream, peeked.path) : load_object();
    });
    if (!rep.loaded && peeked.stream) sclose(peeked.stream); // opened before the load
    release_into(held, rep.link);
    if (!rep.loaded) {
        rep.errors = zel.errors;
        return;
    }
    rep.path = zel.hdr.pathname;
    rep.sound = obj.checksum == zel.hdr.checksum;
    sink.line(
        rep.tree.emplace_back(TreeLine{0, name, rep.path, nullptr, rep.sound ? "" : "damaged"}));
    if (!rep.sound)
        report_error(rep.link,
                     formatted(text::ILLEGAL_CHECKSUM, int(zel.hdr.checksum), int(obj.checksum)));

    const std::vector<std::string> used = used_dll_names();
    walk_tree(cache, rep, used, file_of(zel.hdr.stream), sink);

    held.clear();
    run_held(held, [&] { cache.link_loaded(rep.link); });
    release_into(held, rep.link);
    close_object(obj);
    report_linked_dlls(rep);
    rep.errors = zel.errors;
}

} // namespace

int check_linkage(const std::vector<std::string> &objects, const LddOptions &options,
                  LddOutput output) {
    DllCache cache(options);
    LddSink sink(output);
    int status = 0;
    for (const std::string &name : objects) {
        ObjectReport rep;
        check_object(cache, name, sink, rep);
        sink.object(rep);
        if (rep.errors) status = 1;
    }
    sink.finish(status);
    return status;
}

DllImage read_dll(const std::string &name) {
    DllCache cache(LddOptions{});
    return cache.read(name);
}
