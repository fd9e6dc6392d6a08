// Installation variables.
//
// `getvar` looks a name up in the process environment first and then among
// the variables read, once per process, from the installation's variables
// files, in this order:
//   "kte_vars" in the current directory,
//   "<home>/lib/kte_vars" (so "/lib/kte_vars" when the home is empty),
//   "/usr/kte/kte_vars" (skipped when it is the previous path).
// A variables file holds lines "name = value", split at the first "=", with
// the blanks around name and value removed. Lines that begin with "#" and
// lines without "=" are ignored. "${NAME}" in a value is replaced by the
// value of NAME (as getvar finds it at that moment); a reference to an
// unknown name is kept as written. A value whose expansion does not fit
// VALUE_MAX is logged and the variable stays undefined. The first definition
// of a name wins: the environment before every file, an earlier line or file
// before a later one.
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <unistd.h>

#include "al_env.h"
#include "al_log.h"
#include "al_strm.h"

namespace {

constexpr size_t VALUE_MAX = 1024; // an expanded value and its NUL
constexpr size_t LINE_MAX_BYTES = 4096;

struct Variables {
    bool loaded = false;  // the files have been read (or are being read)
    bool loading = false; // reading them right now
    std::map<std::string, std::string> values;
    bool home_known = false;
    std::string home;
    std::string provisional_home; // the home as far as known while loading
};

Variables &variables() {
    static Variables v;
    return v;
}

} // namespace

std::string_view trim(std::string_view text) {
    size_t b = text.find_first_not_of(" \t\r");
    if (b == std::string_view::npos) return {};
    size_t e = text.find_last_not_of(" \t\r");
    return text.substr(b, e - b + 1);
}

namespace {

std::string without_trailing_separator(const char *path) {
    std::string h = path ? path : "";
    if (!h.empty() && (h.back() == '/' || h.back() == '\\')) h.pop_back();
    return h;
}

// Replaces ${NAME} references; false when the result does not fit.
bool expand_value(const std::string &in, std::string &out) {
    out.clear();
    for (size_t i = 0; i < in.size();) {
        size_t close = std::string::npos;
        if (in.compare(i, 2, "${") == 0) close = in.find('}', i + 2);
        if (close == std::string::npos) {
            out += in[i++];
        } else {
            std::string name = in.substr(i + 2, close - i - 2);
            const char *value = name == "KTE" ? get_kte() : getvar(name.c_str());
            if (value)
                out += value;
            else
                out.append(in, i, close - i + 1);
            i = close + 1;
        }
        if (out.size() >= VALUE_MAX) return false;
    }
    return true;
}

bool defined(const Variables &v, const std::string &name) {
    return getenv(name.c_str()) || v.values.count(name);
}

void define_from_line(Variables &v, const std::string &line) {
    std::string text(trim(line));
    if (text.empty() || text[0] == '#') return;
    size_t eq = text.find('=');
    if (eq == std::string::npos) return;
    std::string name(trim(text.substr(0, eq)));
    if (name.empty() || defined(v, name)) return;
    std::string raw(trim(text.substr(eq + 1)));
    std::string value;
    if (!expand_value(raw, value)) {
        log_mesg("al_1/al_gtenv", __LINE__, "get_var", 0, "no space to expand '%s'", raw.c_str());
        return;
    }
    v.values.emplace(std::move(name), std::move(value));
}

void read_variables_file(Variables &v, const std::string &path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return; // a missing variables file is not an error
    STREAM *s = sdopen(fd, "r");
    if (!s) {
        ::close(fd);
        return;
    }
    std::string line;
    while (sgetline(s, line, LINE_MAX_BYTES))
        define_from_line(v, line);
    sclose(s);
}

void load_variables(Variables &v) {
    v.loaded = v.loading = true;
    read_variables_file(v, "kte_vars");
    std::string second = without_trailing_separator(getvar("KTE")) + "/lib/kte_vars";
    read_variables_file(v, second);
    const std::string third = "/usr/kte/kte_vars";
    if (third != second) read_variables_file(v, third);
    v.loading = false;
}

} // namespace

const char *getvar(const char *name) {
    if (!name || !*name) return nullptr;
    if (const char *env = getenv(name)) return env;
    Variables &v = variables();
    if (!v.loaded) load_variables(v);
    auto it = v.values.find(name);
    return it == v.values.end() ? nullptr : it->second.c_str();
}

const char *get_kte() {
    Variables &v = variables();
    if (v.home_known) return v.home.c_str();
    std::string home = without_trailing_separator(getvar("KTE"));
    if (v.loading) { // not final until every variables file is read
        v.provisional_home = home;
        return v.provisional_home.c_str();
    }
    v.home = home;
    v.home_known = true;
    return v.home.c_str();
}

void al_gtenv_reset() {
    variables() = Variables{};
}
