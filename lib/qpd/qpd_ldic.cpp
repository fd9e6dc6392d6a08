// Data dictionary access for domains. Domain lists are loaded lazily, one
// package at a time, from the shared memory or from the package's domain
// file, and kept for the rest of the run.
//
// Domain file format (text): a record begins with a line "D"; the lines after
// it are attributes ":KEY:value" up to the next "D". Lines of another form
// are ignored. Keys read here:
//   NAME  full domain name, package code first (xxcode); records whose name
//         does not begin with the file's package code, or whose name within
//         the package is longer than 12 characters, are skipped
//   TYPE  type letter (table `type_letters` below) or the type code 1..18
//   PLEN, CLEN, DIGV
//         lengths; the record's length is PLEN, else CLEN, else DIGV
//   VALU  one enumeration or set value (repeat the line for more values)
// Other keys (OFOR and the like) are accepted and not kept.
#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <string_view>

#include "al_env.h"
#include "al_shm.h"
#include "al_strm.h"
#include "qpd.h"
#include "zel_flags.h"

namespace {

constexpr unsigned MODE_LOCAL = 1;
constexpr size_t NAME_MAX_LEN = sizeof(DomainRec::name) - 1;
constexpr int LINE_MAX_BYTES = 512;

// Type letters of the domain files and the type codes they stand for.
struct TypeLetter {
    char letter;
    uint8_t code;
};
constexpr TypeLetter type_letters[] = {
    {'l', 1},  // long
    {'i', 2},  // integer
    {'b', 3},  // byte
    {'d', 4},  // double
    {'n', 5},  // numeric (fixed point)
    {'s', 6},  // string
    {'a', 7},  // date
    {'t', 8},  // time
    {'z', 9},  // time stamp
    {'k', 10}, // serial number
    {'e', 11}, // enumeration
    {'x', 12}, // set
    {'c', 13}, // combined
    {'m', 14}, // multibyte string
    {'r', 15}, // raw text
    {'o', 16}, // binary object
    {'p', 17}, // picture
    {'v', 18}, // variable-length string
};

// Type bits of a data dictionary type code (index = code).
constexpr uint32_t type_bits[] = {
    0,      LONG,   LONG,   LONG,     DOUBLE,
    DOUBLE, STRING, LONG,   LONG,     LONG,
    LONG,   ENUM,   BITSET, COMBINED, STRING | TSS_STRING,
    STRING, 0,      0,      STRING,
};

// Domains of package "__", used in place of that package's file.
constexpr const char builtin_list[] = "D\n:NAME:___dlock\n:TYPE:l\n:PLEN:11\n:DIGV:11\n"
                                      "D\n:NAME:___compnr\n:TYPE:i\n:OFOR:C\n"
                                      "D\n:NAME:__rcd_cmac\n:TYPE:b\n:DIGV:3\n"
                                      "D\n:NAME:__rcd_toid\n:TYPE:s\n:CLEN:34\n:PLEN:34\n"
                                      "D\n:NAME:__rcd_prst\n:TYPE:b\n:DIGV:3\n";

struct LocalDictionary {
    bool initialised = false;
    unsigned mode = MODE_LOCAL;
    bool new_dictionary = false;
    std::map<std::string, const DomainList *> lists; // key: package code and mode
    std::deque<DomainList> store;                    // lists read from files
    const DomainList *last = nullptr;
    int file_opens = 0;
};

LocalDictionary dict;

std::string list_key(std::string_view package, unsigned mode) {
    return std::string(package.substr(0, 2)) + char('0' + mode);
}

uint8_t type_code(const char *value) {
    if (value[0] >= '0' && value[0] <= '9') {
        long n = strtol(value, nullptr, 10);
        return n >= 1 && n <= 18 ? uint8_t(n) : 0;
    }
    for (const TypeLetter &t : type_letters) {
        if (t.letter == value[0] && value[1] == 0) return t.code;
    }
    return 0;
}

// One record while it is read; the lengths are resolved when it ends.
struct PendingRecord {
    DomainRec rec;
    std::string name;
    int plen = -1, clen = -1, digv = -1;
};

uint16_t clamp_length(int n) {
    return uint16_t(std::clamp(n, 0, 0xFFFF));
}

void finish_record(PendingRecord &p, DomainList &list) {
    if (p.name.size() <= 2 || p.name.size() - 2 > NAME_MAX_LEN) return;
    if (p.name.compare(0, 2, list.package) != 0) return;
    memcpy(p.rec.name, p.name.data() + 2, p.name.size() - 2);
    p.rec.name[p.name.size() - 2] = 0;
    p.rec.length = clamp_length(p.plen >= 0 ? p.plen : p.clen >= 0 ? p.clen : std::max(p.digv, 0));
    list.records.push_back(std::move(p.rec));
}

void apply_attribute(PendingRecord &p, const char *key, size_t keylen, const char *value) {
    std::string_view k(key, keylen);
    if (k == "NAME")
        p.name = value;
    else if (k == "TYPE")
        p.rec.type = type_code(value);
    else if (k == "PLEN")
        p.plen = atoi(value);
    else if (k == "CLEN")
        p.clen = atoi(value);
    else if (k == "DIGV")
        p.digv = atoi(value);
    else if (k == "VALU")
        p.rec.values.emplace_back(value);
}

// Reads records line by line; `next_line` yields lines without their
// newline, or nullptr at the end.
template <typename NextLine> void read_records(DomainList &list, NextLine next_line) {
    PendingRecord pending;
    bool in_record = false;
    while (const char *line = next_line()) {
        if (strcmp(line, "D") == 0) {
            if (in_record) finish_record(pending, list);
            pending = PendingRecord{};
            in_record = true;
        } else if (in_record && line[0] == ':') {
            const char *end = strchr(line + 1, ':');
            if (end) apply_attribute(pending, line + 1, size_t(end - line - 1), end + 1);
        }
    }
    if (in_record) finish_record(pending, list);
}

void sort_list(DomainList &list) {
    std::stable_sort(list.records.begin(), list.records.end(),
                     [](const DomainRec &a, const DomainRec &b) {
                         return strcmp(a.name, b.name) < 0; // strcmp compares unsigned bytes
                     });
    list.count = uint16_t(std::min<size_t>(list.records.size(), 0xFFFF));
    for (DomainRec &r : list.records)
        r.list = &list;
}

DomainList &new_list(const char *package) {
    DomainList &list = dict.store.emplace_back();
    memcpy(list.package, package, 2);
    list.mode = dict.mode;
    return list;
}

DomainList &read_builtin_list(const char *package) {
    DomainList &list = new_list(package);
    const char *p = builtin_list;
    std::string line;
    read_records(list, [&]() -> const char * {
        if (!*p) return nullptr;
        const char *nl = strchr(p, '\n');
        line.assign(p, size_t(nl - p));
        p = nl + 1;
        return line.c_str();
    });
    sort_list(list);
    return list;
}

DomainList &read_file_list(const char *package, STREAM *s) {
    DomainList &list = new_list(package);
    std::string line;
    read_records(list, [&]() -> const char * {
        return sgetline(s, line, LINE_MAX_BYTES) ? line.c_str() : nullptr;
    });
    sort_list(list);
    return list;
}

const DomainList *enter_list(const char *package, const DomainList *list) {
    dict.lists[list_key(package, dict.mode)] = list;
    dict.last = list;
    return list;
}

const DomainList *find_list(std::string_view package) {
    if (dict.last && dict.last->mode == dict.mode && package.compare(0, 2, dict.last->package) == 0)
        return dict.last;
    auto it = dict.lists.find(list_key(package, dict.mode));
    if (it == dict.lists.end()) return nullptr;
    dict.last = it->second;
    return it->second;
}

const DomainRec *find_record(const DomainList *list, const char *name) {
    auto it =
        std::lower_bound(list->records.begin(), list->records.end(), name,
                         [](const DomainRec &r, const char *n) { return strcmp(r.name, n) < 0; });
    if (it == list->records.end() || strcmp(it->name, name) != 0) return nullptr;
    return &*it;
}

bool is_builtin_package(const char *package) {
    return package[0] == '_' && package[1] == '_';
}

} // namespace

void init_local_dd() {
    if (dict.initialised) return;
    dict.initialised = true;
    dict.mode = MODE_LOCAL;
    dict.new_dictionary = false;
}

const DomainRec *dddomain(const char *name) {
    if (!name || strnlen(name, 3) < 3) return nullptr;
    const DomainList *list = find_list(name);
    return list ? find_record(list, name + 2) : nullptr;
}

const DomainRec *search_domain(const char *name) {
    if (!name || strnlen(name, 3) < 3) return nullptr;
    if (const DomainRec *rec = dddomain(name)) return rec;
    char package[3] = {name[0], name[1], 0};
    const DomainList *list = read_domain_list(package);
    return list ? find_record(list, name + 2) : nullptr;
}

const DomainList *read_domain_list(const char *package) {
    if (!package || strnlen(package, 2) < 2) return nullptr;
    init_local_dd();
    if (const DomainList *list = find_list(package)) return list;
    if (shm_is_loader()) return nullptr;
    if (!dict.new_dictionary) {
        if (const DomainList *list = shm_domain_list(package)) return enter_list(package, list);
    }

    char name[64];
    snprintf(name, sizeof name,
             dict.new_dictionary ? "{nofdlog}F_BRDD:d%.2s.pd.new" : "{nofdlog}F_BRDD:d%.2s.pd",
             package);
    dict.file_opens++;
    STREAM *s = sopen(name, "r");
    if (!s) {
        if (is_builtin_package(package)) return enter_list(package, &read_builtin_list(package));
        enter_list(package, &new_list(package));
        return nullptr;
    }
    const DomainList *list = shm_domain_list_by_path(get_last_exploded_fname_ptr());
    if (!list) {
        list =
            is_builtin_package(package) ? &read_builtin_list(package) : &read_file_list(package, s);
    }
    enter_list(package, list);
    sclose(s);
    return list;
}

const char *dddomainname_from_domain(const DomainRec *dom, char *buf) {
    static char own[16];
    char *out = buf ? buf : own;
    if (!dom) {
        out[0] = 0;
        return out;
    }
    const char *package = dom->list ? dom->list->package : "";
    snprintf(out, 16, "%.2s%.12s", package, dom->name);
    return out;
}

uint32_t zelflag_of_domain(const DomainRec *dom) {
    if (!dom || dom->type >= sizeof type_bits / sizeof type_bits[0]) return 0;
    return type_bits[dom->type];
}

uint32_t zelflag_of_column(uint8_t type, uint16_t options) {
    uint32_t bits = type < sizeof type_bits / sizeof type_bits[0] ? type_bits[type] : 0;
    if (options & 1) bits |= ARRAY;
    return bits;
}

int dd_file_opens() {
    return dict.file_opens;
}

void dd_reset() {
    dict = LocalDictionary{};
}
