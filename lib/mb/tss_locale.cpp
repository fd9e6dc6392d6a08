// Character set and locale selection of the text support. The locale
// definitions are loaded once per process from the installation's locale
// definitions file, "lib/tss_locale" under the installation home (this
// platform's release suffix is empty).
//
// Locale definitions file: one locale per line, fields separated by blanks:
//
//   name  charset  nls-locale  converter  ifactor  efactor  [bidi]
//
//   name        the name TSSsetlocale is called with (the user's character
//               set name, for example ISO-8859-1)
//   charset     the character set's name
//   nls-locale  the system locale to set, or NULL to take it from LC_ALL/LANG
//   converter   the converter of the runtime's texts (ISO88591, UTF8, ...)
//   ifactor, efactor
//               internal and external multibyte factors (numbers >= 1; a
//               smaller value counts as 1)
//   bidi        optional: 1 when bidirectional text is enabled
//
// Empty lines and lines beginning with "#" are ignored, and so are lines with
// fewer than six fields. A later line of the same name replaces an earlier
// one.
//
// The runtime is in Unicode mode when the installation variable KTE_UNICODE
// is set and not "0"; bit 64 of the debug level (KTE_DEBUG) traces the
// character-set set-up on standard error.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

#include "al_env.h"
#include "al_log.h"
#include "al_shm.h"
#include "al_stop.h"
#include "al_strm.h"
#include "tss.h"

namespace {

constexpr const char LOCALE_FILE[] = "lib/tss_locale";
constexpr const char RELEASE_SUFFIX[] = "";
constexpr unsigned DEBUG_CHARSET = 64;
constexpr int UNICODE_MIN_FACTOR = 4;
constexpr int LINE_MAX_BYTES = 512;

enum Severity { FATAL = 1, NONFATAL = 2 };

// Numbered error texts; each takes one text argument.
struct ErrorText {
    int number;
    const char *format;
};
constexpr ErrorText error_texts[] = {
    {23, "Can't open %s\n"},
    {26, "Can't set NLS locale '%s'\n"},
};
constexpr int ERR_OPEN = 23;
constexpr int ERR_NLS = 26;

struct LocaleDef {
    std::string name;
    std::string charset;
    std::string nls = "NULL";
    std::string converter;
    int ifactor = 1;
    int efactor = 1;
    bool bidi = false;
};

// Used when no name is given or the name is not defined.
LocaleDef default_locale() {
    return {"DEFAULT", "ISO-8859-1", "NULL", "ISO88591", 1, 1, false};
}

struct TssState {
    TSSErrorCallback callback = nullptr;
    bool loaded = false;
    std::unordered_map<std::string, LocaleDef> defs;
    LocaleDef current;
    bool has_current = false;
    bool default_in_use = false;
    bool iso88591 = false;
    bool old_bidi = false;
    bool normalisation = false;
    std::string converter;
    std::string error_locale; // name being set, for error reports
};

TssState tss;

bool unicode_mode() {
    const char *v = getvar("KTE_UNICODE");
    return v && *v && strcmp(v, "0") != 0;
}

bool tracing() {
    return (al_debug_level() & DEBUG_CHARSET) != 0;
}

std::string locale_file_path() {
    std::string home = get_kte();
    std::string rel = std::string(LOCALE_FILE) + RELEASE_SUFFIX;
    return home.empty() ? rel : home + "/" + rel;
}

// "(locale) *** Error in function:\n" and the numbered text, to the callback
// or, without one, to standard error (severity 1 then ends the run).
void report_error(int severity, const char *function, int number, const std::string &arg) {
    std::string msg;
    if (tss.has_current)
        msg = "(" + tss.current.name + ") ";
    else if (!tss.error_locale.empty())
        msg = "(" + tss.error_locale + ") ";
    else
        msg = "(Unknown locale) ";
    msg += "*** Error in " + std::string(function) + ":\n";
    for (const ErrorText &e : error_texts) {
        if (e.number != number) continue;
        char text[LINE_MAX_BYTES * 2];
        snprintf(text, sizeof text, e.format, arg.c_str());
        msg += text;
    }
    if (tss.callback) {
        tss.callback(severity, msg.c_str());
        return;
    }
    fputs(msg.c_str(), stderr);
    if (severity == FATAL) al_stop(1);
}

int effective_factor(int factor) {
    return factor < 1 ? 1 : factor;
}

// The next blank-separated word of `line` from `at` on; "" at the end.
std::string_view next_word(std::string_view line, size_t &at) {
    size_t b = line.find_first_not_of(" \t", at);
    if (b == std::string_view::npos) {
        at = line.size();
        return {};
    }
    at = std::min(line.find_first_of(" \t", b), line.size());
    return line.substr(b, at - b);
}

bool parse_int(std::string_view word, int &v) {
    auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
    return ec == std::errc() && end == word.data() + word.size();
}

// name charset nls-locale converter ifactor efactor [bidi]
bool parse_definition(std::string_view line, LocaleDef &def) {
    size_t at = 0;
    std::string_view w[7];
    for (std::string_view &word : w)
        word = next_word(line, at);
    if (w[0].empty() || w[0][0] == '#' || w[3].empty()) return false;
    def.name = w[0];
    def.charset = w[1];
    def.nls = w[2];
    def.converter = w[3];
    if (!parse_int(w[4], def.ifactor) || !parse_int(w[5], def.efactor)) return false;
    int bidi = 0;
    if (parse_int(w[6], bidi)) def.bidi = bidi != 0;
    return true;
}

bool load_definitions() {
    std::string path = locale_file_path();
    STREAM *s = sopen(("{nolog}" + path).c_str(), "r");
    if (!s) {
        report_error(NONFATAL, "TSSinitialize", ERR_OPEN, path);
        return false;
    }
    std::string line;
    while (sgetline(s, line, LINE_MAX_BYTES)) {
        LocaleDef def;
        if (parse_definition(line, def)) tss.defs[def.name] = def;
    }
    sclose(s);
    return true;
}

void use_default() {
    tss.current = default_locale();
    tss.has_current = true;
    tss.default_in_use = true;
}

void select_definition(const LocaleDef &def) {
    tss.current = def;
    tss.current.ifactor = effective_factor(def.ifactor);
    tss.current.efactor = effective_factor(def.efactor);
    tss.has_current = true;
    tss.default_in_use = false;
}

// Sets the process's system locale from the current locale; numbers always
// keep the "C" conventions. Returns 0 or -1.
int set_system_locale() {
    int rc = 0;
    const std::string &nls = tss.current.nls;
    if (nls != "NULL") {
        if (setlocale(LC_ALL, nls.c_str())) {
            setenv("LANG", nls.c_str(), 1);
        } else {
            report_error(FATAL, "TSSsetlocale", ERR_NLS, nls);
            rc = -1;
        }
    } else if (!setlocale(LC_ALL, "")) {
        const char *all = getenv("LC_ALL");
        const char *lang = getenv("LANG");
        char text[LINE_MAX_BYTES];
        snprintf(text, sizeof text, "LC_ALL=%s, LANG=%s", all ? all : "", lang ? lang : "");
        report_error(NONFATAL, "TSSsetlocale", ERR_NLS, text);
    }
    setlocale(LC_NUMERIC, "C");
    if (tracing()) {
        const char *cur = setlocale(LC_ALL, nullptr);
        fprintf(stderr, "Current locale = %s\n", cur ? cur : "");
    }
    return rc;
}

// Checks the factors that Unicode mode needs and selects the converter.
// Without a current locale (the definitions could not be read) the default
// locale's converter is taken.
int select_converter() {
    const LocaleDef cur = tss.has_current ? tss.current : default_locale();
    tss.converter = cur.converter;
    if (!unicode_mode()) return 0;
    if (cur.ifactor < UNICODE_MIN_FACTOR || cur.efactor < UNICODE_MIN_FACTOR) {
        log_mesg("mb/tss_locale", __LINE__, "TSSsetlocale", 0,
                 "Wrong MB factor for Unicode mode: ifactor = %d, efactor = %d", cur.ifactor,
                 cur.efactor);
        return -1;
    }
    return 0;
}

// Picks the named locale (steps that need the definitions loaded).
int select_locale(const char *name) {
    if (!name) {
        use_default();
        return 0;
    }
    tss.iso88591 =
        (strcmp(name, "ISO88591") == 0 || strcmp(name, "ISO-8859-1") == 0) && !unicode_mode();
    auto it = tss.defs.find(name);
    if (it == tss.defs.end()) {
        use_default();
        return -1;
    }
    select_definition(it->second);
    // Bidirectional text needs no set-up beyond the definition's flag.
    return set_system_locale();
}

} // namespace

int TSSinitialize(TSSErrorCallback callback) {
    tss.callback = callback;
    if (tss.loaded) return 0;
    tss.normalisation = unicode_mode();
    if (!shm_attached() && tracing()) {
        fputs("TSSinitialize: no shared memory available\n", stderr);
        fputs("\tCharactersets and locales will be loaded in process memory\n", stderr);
    }
    tss.old_bidi = getenv("OLD_BIDI") != nullptr;
    if (!load_definitions()) return -1;
    tss.loaded = true;
    return 0;
}

int TSSsetlocale(const char *name, TSSErrorCallback callback) {
    tss.error_locale = name ? name : "";
    int rc = TSSinitialize(callback) == 0 ? select_locale(name) : -1;
    if (select_converter() != 0) return -1;
    return rc;
}

bool TSSis_iso88591() {
    return tss.iso88591;
}

const char *TSScurrent_locale() {
    return tss.has_current ? tss.current.name.c_str() : "";
}

void TSSreset() {
    tss = TssState{};
}
