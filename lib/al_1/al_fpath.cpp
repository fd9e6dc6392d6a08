// File-name expansion: variable references in paths, the file-definition
// table and the candidate paths of stream names.
//
// A stream name is a run of option prefixes ("{nolog}", "{nosyslog}",
// "{nofdlog}", "{package=NAME}", "{cnum=N}") followed by alternatives
// separated by ";". An alternative is a plain path, or a logical name
// "[host!]CLASS:name". `_explode_fname` hands out the candidate paths of the
// alternatives one by one; the stream layer tries to open each in turn.
//
// Placement of logical names whose name part has no "/":
//  - F_OBJ (objects) and F_BRDD (dictionary files) look the name up in the
//    file-definition table by name keys without a company number;
//  - the other classes look it up by company keys and give one candidate
//    "<directory>/<name>" per directory of the definition.
// A logical name with a host ("host!F_OBJ:name") is left to that host: the
// alternative as written is its only candidate.
//
// The file-definition table "lib/fd<release>.<package combination>" under
// the installation home holds lines
//     [{comb,comb,...}] key,key,...: dir:dir:...
// A line that begins with a list of package combinations in braces applies
// only when the current combination is one of them; its keys are entered
// qualified as "{comb}key", so they are found before the same key of a line
// that applies to every combination. In a directory, "#" stands for the
// company number ("%03d"; the "{cnum=}" prefix, else KTE_COMPNR, else 0),
// "${DYN_PATH_ELEMS}" gives one directory per colon-separated element of
// that variable (none when it is unset), and a directory that contains
// "__SKIPDIR__" gives no candidate. The first definition of a key wins.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "al_env.h"
#include "al_log.h"
#include "al_stop.h"
#include "al_strm.h"

namespace {

constexpr size_t EXPAND_MAX = EXPLODE_PATH_MAX; // an expanded text and its NUL
constexpr size_t PACKAGE_COMB_MAX = 15;
constexpr size_t PACKAGE_PREFIX_MAX = 31;
constexpr size_t LINE_MAX_BYTES = 4096;
constexpr const char *SKIPDIR = "__SKIPDIR__";
constexpr const char *DYN_REF = "${DYN_PATH_ELEMS}";
// The built-in first line of the first table of a process: the dictionary
// of the runtime's own package.
constexpr const char *BUILTIN_LINE = "d__.pd:${KTE_LL}/lib";

const char *const module = "al_1/al_fpath";

// ---------------------------------------------------------------------------
// Text helpers

// The trimmed, non-empty pieces of `text` between separators.
std::vector<std::string> split(const std::string &text, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(sep, start);
        std::string piece = std::string(
            trim(text.substr(start, end == std::string::npos ? std::string::npos : end - start)));
        if (!piece.empty()) parts.push_back(std::move(piece));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

// Like substr, but empty instead of failing when `pos` is past the end.
std::string part(const std::string &text, size_t pos, size_t len = std::string::npos) {
    return pos < text.size() ? text.substr(pos, len) : std::string();
}

bool starts_with(const char *text, const char *prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool ends_with(const std::string &text, const std::string &suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string under_home(const char *rel) {
    std::string home = get_kte();
    return home.empty() ? std::string(rel) : home + "/" + rel;
}

bool file_exists(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool writable_dir(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(path.c_str(), W_OK | X_OK) == 0;
}

// ---------------------------------------------------------------------------
// Process-wide state

struct FdEntry {
    std::string key;
    std::vector<std::string> dirs;
};

struct FdTable {
    bool remote = false;
    std::string host;             // of a remote table
    std::vector<FdEntry> entries; // sorted by key
};

struct Fpath {
    std::map<std::string, FdTable> tables; // by package combination
    bool release_known = false;
    std::string release;
    bool tmp_known = false;
    std::string tmp;
    std::string last_exploded;
};

Fpath &fpath() {
    static Fpath f;
    return f;
}

// ---------------------------------------------------------------------------
// Variable references

// KTE_TMP when it names a writable directory, else "<home>/tmp", else
// "/usr/tmp". Decided once.
const std::string &temp_dir() {
    Fpath &f = fpath();
    if (f.tmp_known) return f.tmp;
    f.tmp_known = true;
    const char *tmp = getvar("KTE_TMP");
    if (tmp && *tmp) {
        if (writable_dir(tmp)) return f.tmp = tmp;
        log_mesg(module, __LINE__, "KTE_TMP", LOG_WARNING,
                 "%s: not accessible/writable; defaulting to $KTE/tmp", tmp);
    }
    std::string home_tmp = std::string(get_kte()) + '/' + "tmp";
    if (writable_dir(home_tmp)) return f.tmp = home_tmp;
    log_mesg(module, __LINE__, "KTE_TMP", LOG_WARNING,
             "%s: not accessible/writable; defaulting to /usr/tmp", home_tmp.c_str());
    return f.tmp = "/usr/tmp";
}

// The value a reference stands for; nullptr when the name is unknown.
const char *reference_value(const std::string &name) {
    if (name == "KTE") return get_kte();
    if (name == "KTE_LL") {
        const char *ll = getvar("KTE_LL");
        return ll ? ll : get_kte();
    }
    if (name == "KTE_TMP") return temp_dir().c_str();
    return getvar(name.c_str()); // KTE_REM and every other name
}

// Replaces the ${NAME} references of `text`; "${DYN_PATH_ELEMS}" stays for
// the definition lookup, and nothing after a "!" is expanded.
bool expand_refs(const std::string &text, std::string &out) {
    out.clear();
    for (size_t i = 0; i < text.size();) {
        if (text[i] == '!') {
            out.append(text, i, std::string::npos);
            break;
        }
        size_t close = std::string::npos;
        if (text.compare(i, 2, "${") == 0) close = text.find('}', i + 2);
        if (close == std::string::npos) {
            out += text[i++];
            continue;
        }
        std::string name = text.substr(i + 2, close - i - 2);
        if (name == "DYN_PATH_ELEMS") {
            out.append(text, i, close - i + 1);
        } else {
            const char *value = reference_value(name);
            if (!value) return false;
            out += value;
        }
        i = close + 1;
        if (out.size() >= EXPAND_MAX) return false;
    }
    return out.size() < EXPAND_MAX;
}

// ---------------------------------------------------------------------------
// Release and file-definition tables

const std::string &release() {
    Fpath &f = fpath();
    if (f.release_known) return f.release;
    bool r61 = file_exists(under_home("lib/tabledef6.1"));
    bool r62 = file_exists(under_home("lib/tabledef6.2"));
    if (r61 && r62) {
        log_mesg(module, __LINE__, "release", 0,
                 "Configuration error: both tabledef6.1, and tabledef6.2 exist in this KTE (%s), "
                 "but only one is allowed.",
                 get_kte());
        al_stop(1);
    }
    if (!r61 && !r62)
        log_mesg(module, __LINE__, "release", 0,
                 "Configuration error: neither tabledef6.1, nor tabledef6.2 was existent in this "
                 "KTE (%s)",
                 get_kte());
    f.release_known = true;
    return f.release = r61 ? "6.1" : "6.2";
}

bool lists_combination(const std::string &list, const std::string &comb) {
    std::vector<std::string> combs = split(list, ',');
    return std::find(combs.begin(), combs.end(), comb) != combs.end();
}

void add_definition_line(FdTable &t, const std::string &comb, const std::string &line) {
    std::string text(trim(line));
    if (text.empty() || text[0] == '#') return;
    std::string qualifier;
    if (text[0] == '{') {
        size_t close = text.find('}');
        if (close == std::string::npos || !lists_combination(text.substr(1, close - 1), comb))
            return;
        qualifier = "{" + comb + "}";
        text = std::string(trim(text.substr(close + 1)));
    }
    size_t colon = text.find(':');
    if (colon == std::string::npos) return;
    std::vector<std::string> dirs = split(text.substr(colon + 1), ':');
    for (std::string &key : split(text.substr(0, colon), ','))
        t.entries.push_back({qualifier + key, dirs});
}

void read_definition_file(FdTable &t, const std::string &comb, const std::string &path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    STREAM *s = fd >= 0 ? sdopen(fd, "r") : nullptr;
    if (!s) {
        int err = errno;
        if (fd >= 0) ::close(fd);
        log_mesg(module, __LINE__, "init filedev", 0, "Can not open '%s' error %d", path.c_str(),
                 err);
        return;
    }
    std::string line;
    while (sgetline(s, line, LINE_MAX_BYTES))
        add_definition_line(t, comb, line);
    sclose(s);
}

const FdTable &table_for(const std::string &comb) {
    Fpath &f = fpath();
    auto found = f.tables.find(comb);
    if (found != f.tables.end()) return found->second;
    int saved = errno;
    FdTable t;
    if (f.tables.empty()) add_definition_line(t, comb, BUILTIN_LINE);
    std::string path = under_home(("lib/fd" + release() + "." + comb).c_str());
    size_t bang = path.find('!');
    if (bang != std::string::npos) {
        t.remote = true;
        t.host = path.substr(0, bang);
    } else {
        read_definition_file(t, comb, path);
    }
    auto by_key = [](const FdEntry &a, const FdEntry &b) { return a.key < b.key; };
    std::stable_sort(t.entries.begin(), t.entries.end(), by_key);
    auto same_key = [](const FdEntry &a, const FdEntry &b) { return a.key == b.key; };
    t.entries.erase(std::unique(t.entries.begin(), t.entries.end(), same_key), t.entries.end());
    errno = saved;
    return f.tables.emplace(comb, std::move(t)).first->second;
}

const std::vector<std::string> *find_key(const FdTable &t, const std::string &key) {
    auto it = std::lower_bound(t.entries.begin(), t.entries.end(), key,
                               [](const FdEntry &e, const std::string &k) { return e.key < k; });
    return it != t.entries.end() && it->key == key ? &it->dirs : nullptr;
}

// The directory list of the first key found, each key tried with the
// package-combination qualifier first.
const std::vector<std::string> *lookup(const FdTable &t, const std::string &comb,
                                       const std::vector<std::string> &keys) {
    std::string qualifier = "{" + comb + "}";
    for (const std::string &key : keys) {
        if (auto *dirs = find_key(t, qualifier + key)) return dirs;
        if (auto *dirs = find_key(t, key)) return dirs;
    }
    return nullptr;
}

// Keys of a name without a company number, most specific first.
std::vector<std::string> name_keys(const std::string &n) {
    return {
        n,  part(n, 0, 6), part(n, 0, 3), "?" + part(n, 1, 5), "?" + part(n, 1, 2), part(n, 0, 1),
        "*"};
}

// Keys of a name with company number `company`, most specific first.
std::vector<std::string> company_keys(const std::string &n, int company) {
    char c[16];
    snprintf(c, sizeof c, "|%03d", company);
    const std::string w = "|*";
    return {n + c,
            n + w,
            part(n, 0, 5) + c,
            part(n, 0, 5) + w,
            part(n, 0, 2) + c,
            part(n, 0, 2) + w,
            "*" + std::string(c),
            "*" + w};
}

// ---------------------------------------------------------------------------
// Stream names

enum class Placement { Object, Dictionary, ByCompany };

struct FileClass {
    const char *name;
    Placement placement;
};

constexpr FileClass file_classes[] = {
    {"F_OBJ", Placement::Object},     {"F_FORM", Placement::ByCompany},
    {"F_MENU", Placement::ByCompany}, {"F_BRDD", Placement::Dictionary},
    {"F_SRC", Placement::ByCompany},  {"F_AUD", Placement::ByCompany},
    {"F_ADDF", Placement::ByCompany},
};

struct FlagPrefix {
    const char *text;
    unsigned bit;
};

constexpr FlagPrefix flag_prefixes[] = {
    {"{nolog}", EXPL_NOLOG},
    {"{nosyslog}", EXPL_NOSYSLOG},
    {"{nofdlog}", EXPL_NOFDLOG},
};

// Reads the option prefixes of `name` into `st` (when `apply`); returns where
// the alternatives begin. An unknown "{...}" ends the prefixes.
const char *parse_prefixes(const char *name, ExplodeState &st, bool apply) {
    const char *p = name;
    for (;;) {
        const FlagPrefix *flag = nullptr;
        for (const FlagPrefix &f : flag_prefixes)
            if (starts_with(p, f.text)) flag = &f;
        if (flag) {
            if (apply) st.prefixes |= flag->bit;
            p += std::strlen(flag->text);
            continue;
        }
        bool package = starts_with(p, "{package=");
        bool cnum = starts_with(p, "{cnum=");
        const char *close = std::strchr(p, '}');
        if ((!package && !cnum) || !close) return p;
        const char *value = std::strchr(p, '=') + 1;
        std::string text(value, size_t(close - value));
        if (apply && package) st.package = text.substr(0, PACKAGE_PREFIX_MAX);
        if (apply && cnum) {
            char *end = nullptr;
            long n = std::strtol(text.c_str(), &end, 10);
            if (!text.empty() && *end == 0 && n >= -1 && n <= 9999) st.cnum = int(n);
        }
        p = close + 1;
    }
}

struct Alternative {
    std::string text;
    std::string host;
    const FileClass *cls = nullptr; // nullptr: a plain path
    std::string name;
};

Alternative parse_alternative(const std::string &text) {
    Alternative a;
    a.text = text;
    size_t bang = text.find('!');
    std::string rest = bang == std::string::npos ? text : text.substr(bang + 1);
    for (const FileClass &c : file_classes) {
        std::string tag = std::string(c.name) + ":";
        if (rest.compare(0, tag.size(), tag) == 0) {
            a.cls = &c;
            a.name = rest.substr(tag.size());
            if (bang != std::string::npos) a.host = text.substr(0, bang);
        }
    }
    return a;
}

std::string package_combination(const ExplodeState &st) {
    if (!st.package.empty()) return st.package;
    const char *comb = getvar("PACKAGE_COMB");
    return comb ? std::string(comb).substr(0, PACKAGE_COMB_MAX) : std::string();
}

int company_number(const ExplodeState &st) {
    if (st.cnum != -1) return st.cnum;
    const char *c = getvar("KTE_COMPNR");
    return c ? std::atoi(std::string(c).substr(0, 4).c_str()) : 0;
}

// The directories one element of a directory list stands for.
std::vector<std::string> element_dirs(const std::string &element, int company) {
    if (element.find(SKIPDIR) != std::string::npos) return {};
    std::string e;
    char number[16];
    snprintf(number, sizeof number, "%03d", company);
    for (char ch : element)
        e += ch == '#' ? std::string(number) : std::string(1, ch);
    std::vector<std::string> variants;
    size_t dyn = e.find(DYN_REF);
    if (dyn == std::string::npos) {
        variants.push_back(e);
    } else {
        const char *elems = getvar("DYN_PATH_ELEMS");
        for (const std::string &piece : split(elems ? elems : "", ':'))
            variants.push_back(e.substr(0, dyn) + piece + e.substr(dyn + std::strlen(DYN_REF)));
    }
    std::vector<std::string> dirs;
    for (const std::string &v : variants) {
        std::string dir;
        if (expand_refs(v, dir)) dirs.push_back(std::move(dir));
    }
    return dirs;
}

bool remote_dir(const std::string &dir) {
    return !dir.empty() && dir.back() == '!';
}

std::string remote_name(const std::string &where, const std::string &comb, const FileClass &cls,
                        const std::string &name) {
    return where + "{package=" + comb + "}" + cls.name + ":" + name;
}

// What the file-definition table of the current package combination says
// about `n`: its directory list, or, for a table kept on a remote host, the
// one candidate that host resolves. A name without a definition is marked.
struct Definition {
    std::string comb;
    std::string remote;
    const std::vector<std::string> *list = nullptr;
};

Definition definition_of(const Alternative &a, const std::string &n, ExplodeState &st) {
    Definition d;
    d.comb = package_combination(st);
    const FdTable &t = table_for(d.comb);
    if (t.remote) {
        d.remote = remote_name(t.host + "!", d.comb, *a.cls, n);
        return d;
    }
    d.list = lookup(t, d.comb, name_keys(n));
    if (!d.list) st.prefixes |= EXPL_NODEF;
    return d;
}

// Objects: "r" names become object names; every directory gives
// "<dir>/<first six>/o<name from the fourth character>".
std::vector<std::string> object_candidates(const Alternative &a, ExplodeState &st) {
    std::string n = a.name;
    std::string dbg;
    if (!n.empty() && n[0] == 'r') {
        if (ends_with(n, ".dbg")) {
            n.resize(n.size() - 4);
            dbg = ".dbg";
        } else {
            n.pop_back();
        }
        if (!n.empty()) n[0] = 'o';
    }
    if (n.empty()) return {};
    if (n[0] != 'o') return {n};
    Definition d = definition_of(a, n, st);
    if (!d.remote.empty()) return {d.remote};
    if (!d.list) return {};
    std::vector<std::string> out;
    int company = company_number(st);
    for (const std::string &element : *d.list)
        for (const std::string &dir : element_dirs(element, company))
            out.push_back(remote_dir(dir) ? remote_name(dir, d.comb, *a.cls, n)
                                          : dir + "/" + part(n, 0, 6) + "/o" + part(n, 3) + dbg);
    return out;
}

// Dictionary files: only the first directory, "<dir>/<first six>/<name>".
std::vector<std::string> dictionary_candidates(const Alternative &a, ExplodeState &st) {
    const std::string &n = a.name;
    Definition d = definition_of(a, n, st);
    if (!d.remote.empty()) return {d.remote};
    if (!d.list) return {};
    int company = company_number(st);
    for (const std::string &element : *d.list) {
        std::vector<std::string> dirs = element_dirs(element, company);
        if (dirs.empty()) continue;
        const std::string &dir = dirs.front();
        return {remote_dir(dir) ? remote_name(dir, d.comb, *a.cls, n)
                                : dir + "/" + part(n, 0, 6) + "/" + n};
    }
    return {};
}

// Other classes: by company keys, "<dir>/<name>" for every directory.
std::vector<std::string> company_candidates(const Alternative &a, ExplodeState &st) {
    const std::string &n = a.name;
    std::string comb = package_combination(st);
    const FdTable &t = table_for(comb);
    if (t.remote) return {remote_name(t.host + "!", comb, *a.cls, n)};
    int company = company_number(st);
    const std::vector<std::string> *list = lookup(t, comb, company_keys(n, company));
    if (!list) {
        st.prefixes |= EXPL_NODEF;
        return {};
    }
    std::vector<std::string> out;
    for (const std::string &element : *list)
        for (const std::string &dir : element_dirs(element, company))
            out.push_back(remote_dir(dir) ? remote_name(dir, comb, *a.cls, n) : dir + "/" + n);
    return out;
}

std::vector<std::string> candidates_for(const Alternative &a, ExplodeState &st) {
    std::string path;
    if (!a.cls)
        return expand_refs(a.text, path) ? std::vector<std::string>{path}
                                         : std::vector<std::string>{};
    if (!a.host.empty()) return {a.text};
    if (a.name.find('/') != std::string::npos)
        return expand_refs(a.name, path) ? std::vector<std::string>{path}
                                         : std::vector<std::string>{};
    if (a.name.empty()) return {};
    switch (a.cls->placement) {
    case Placement::Object:
        return object_candidates(a, st);
    case Placement::Dictionary:
        return dictionary_candidates(a, st);
    case Placement::ByCompany:
        return company_candidates(a, st);
    }
    return {};
}

} // namespace

int expand_fname(const char *text, char *out, size_t size) {
    if (!out || size == 0) return 0;
    out[0] = 0;
    std::string result;
    if (!text || !expand_refs(text, result) || result.size() >= size) return 0;
    std::memcpy(out, result.c_str(), result.size() + 1);
    return 1;
}

int _explode_fname(const char *caller, const char *name, char *out, size_t size, ExplodeState &st) {
    int err = errno;
    if (!name || !out || size == 0) return 0;
    const char *alternatives = parse_prefixes(name, st, !st.started);
    if (!st.started) {
        st.started = true;
        st.alternative = 0;
        st.attempt = 0;
        st.pending.clear();
    }
    if (st.prefixes & EXPL_DONE) {
        errno = err;
        return 0;
    }
    std::vector<std::string> alts = split(alternatives, ';');
    for (;;) {
        while (size_t(st.attempt) < st.pending.size()) {
            const std::string &c = st.pending[size_t(st.attempt++)];
            if (c.size() >= size) continue; // does not fit the caller's buffer
            std::memcpy(out, c.c_str(), c.size() + 1);
            st.last = c;
            errno = err;
            return 1;
        }
        if (st.alternative >= alts.size()) break;
        st.pending = candidates_for(parse_alternative(alts[st.alternative++]), st);
        st.attempt = 0;
    }
    explode_fname_report(caller ? caller : "", name, st, err);
    st.prefixes |= EXPL_DONE;
    errno = st.last.empty() ? ENOENT : err;
    return 0;
}

void explode_fname_report(const char *caller, const char *name, const ExplodeState &st, int err) {
    if (st.prefixes & (EXPL_NOLOG | EXPL_DONE)) return;
    const char *last = st.last.c_str();
    if (!st.last.empty() && err != 0 && err != ENOENT && err != EEXIST &&
        !(st.prefixes & EXPL_NOSYSLOG)) {
        errno = err;
        log_mesg(module, __LINE__, "explode_fname", LOG_SYSERR, "\nError during %s(%s, %s)", caller,
                 name, last);
    }
    if ((st.prefixes & EXPL_NODEF) && !(st.prefixes & EXPL_NOFDLOG))
        log_mesg(module, __LINE__, "explode_fname", 0,
                 "\nNo definition in definition file for %s(%s, %s)", caller, name, last);
    errno = err;
}

const char *get_last_exploded_fname_ptr() {
    return fpath().last_exploded.c_str();
}

void set_last_exploded_fname(const char *path) {
    fpath().last_exploded.assign(path ? path : "", path ? strnlen(path, EXPLODE_PATH_MAX - 1) : 0);
}

void al_fpath_reset() {
    fpath() = Fpath{};
}
