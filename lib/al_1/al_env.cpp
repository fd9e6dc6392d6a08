// The user: one-time initialisation of the user's environment, the user's
// settings and the process-wide switches derived from the installation.
//
// User settings file: "<home>/lib/user.cfg" ("lib/user.cfg" when the home is
// empty). Lines "name = value"; blank lines and lines that begin with "#"
// are ignored. Known names:
//     charset        the character-set name of every user
//     charset.USER   the character-set name of the 4GL user USER (wins over
//                    charset)
// A missing file means no settings. A file that cannot be read, a line
// without "=" and an unknown name are logged (keyword "user") and skipped;
// none of them stops the run.
//
// Legacy compatibility mode: on when the installation variable
// KTE_LEGACY_MODE is "1", "yes" or "on" (in any letter case), off otherwise.
// Decided on first use and fixed for the rest of the run.
//
// This runtime has no default text resources, data-language list or user
// database of the installation; init_user therefore never reports the
// data-language or unknown-user conditions and returns 0 unless it ends the
// run.
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "al_env.h"
#include "al_log.h"
#include "al_strm.h"

namespace {

constexpr size_t TERMINAL_MAX = 20;
constexpr size_t PACKAGE_COMB_MAX = 15;
constexpr size_t COMPNR_MAX = 4;
constexpr size_t LINE_MAX_BYTES = 4096;
constexpr const char *DEFAULT_CHARSET = "ISO-8859-1";
const char *const module = "al_1/al_env";

constexpr const char *legacy_words[] = {"1", "yes", "on"};

struct UserState {
    bool initialised = false;
    int status = 0;
    // What init_user found.
    std::string terminal;      // last path component of T
    std::string terminal_code; // up to three characters of it
    std::string package_comb;
    std::string compnr;
    std::string os_user;
    // The user settings file.
    bool settings_read = false;
    std::string charset;      // "charset"
    std::string user_charset; // "charset.<user>"
    // The legacy compatibility mode: -1 until decided.
    int legacy = -1;
};

UserState &state() {
    static UserState u;
    return u;
}

std::string cut(const char *text, size_t max) {
    return text ? std::string(text).substr(0, max) : "";
}

std::string last_component(const std::string &path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

mode_t octal_setting(const char *name) {
    const char *v = getvar(name);
    return v ? mode_t(std::strtoul(v, nullptr, 8) & 0777) : 0;
}

bool equal_ignoring_case(const char *a, const char *b) {
    for (; *a && *b; ++a, ++b)
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

// ---------------------------------------------------------------------------
// User settings

void apply_setting(UserState &u, const std::string &name, const std::string &value,
                   const std::string &path) {
    const char *user = user_name();
    if (name == "charset")
        u.charset = value;
    else if (user && name == std::string("charset.") + user)
        u.user_charset = value;
    else if (name.compare(0, 8, "charset.") != 0)
        log_mesg(module, __LINE__, "user", LOG_WARNING, "unknown setting '%s' in %s", name.c_str(),
                 path.c_str());
}

void read_user_settings(UserState &u) {
    if (u.settings_read) return;
    u.settings_read = true;
    std::string home = get_kte();
    std::string path = home.empty() ? "lib/user.cfg" : home + "/lib/user.cfg";
    int saved = errno;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    STREAM *s = fd >= 0 ? sdopen(fd, "r") : nullptr;
    if (!s) {
        if (fd >= 0) ::close(fd);
        if (errno != ENOENT)
            log_mesg(module, __LINE__, "user", LOG_SYSERR, "Can not read user settings '%s'",
                     path.c_str());
        errno = saved;
        return;
    }
    std::string line;
    for (int number = 1; sgetline(s, line, LINE_MAX_BYTES); ++number) {
        std::string text(trim(line));
        if (text.empty() || text[0] == '#') continue;
        size_t eq = text.find('=');
        if (eq == std::string::npos) {
            log_mesg(module, __LINE__, "user", LOG_WARNING, "%s line %d: not 'name = value'",
                     path.c_str(), number);
            continue;
        }
        apply_setting(u, std::string(trim(text.substr(0, eq))),
                      std::string(trim(text.substr(eq + 1))), path);
    }
    sclose(s);
    errno = saved;
}

// ---------------------------------------------------------------------------
// init_user steps

// The terminal code: up to three characters of the name from its trailing
// digits on, or its last three characters when it does not end in a digit.
std::string terminal_code(const std::string &name) {
    size_t digits = name.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1])))
        --digits;
    if (digits < name.size()) return name.substr(digits, 3);
    return name.size() > 3 ? name.substr(name.size() - 3) : name;
}

// T names the terminal; when it is empty the controlling terminal of
// standard input, output or error does, and T is set from it. Without any
// terminal T stays unset.
void find_terminal(UserState &u, const std::string &t) {
    if (!t.empty()) {
        u.terminal = last_component(t);
    } else {
        for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
            const char *tty = ttyname(fd);
            if (!tty) continue;
            u.terminal = cut(last_component(tty).c_str(), TERMINAL_MAX);
            setenv("T", u.terminal.c_str(), 1);
            break;
        }
    }
    u.terminal_code = terminal_code(u.terminal);
}

void change_directory(const char *dir) {
    if (dir && *dir && ::chdir(dir) != 0)
        log_mesg(module, __LINE__, "init_user", LOG_SYSERR, "Can not change to directory '%s'",
                 dir);
}

void set_file_mask(mode_t kmask, mode_t absolute) {
    if (absolute) {
        ::umask(kmask);
        return;
    }
    mode_t current = ::umask(0);
    ::umask(current | kmask | 006);
}

void set_os_user(UserState &u) {
    const struct passwd *pw = getpwuid(getuid());
    if (!pw || !pw->pw_name) {
        log_mesg(module, __LINE__, "initOSUserName", 0, "Getting OS user failed");
        user_name_failure();
    }
    u.os_user = pw->pw_name;
    setenv("USERNAME", u.os_user.c_str(), 1);
    setenv("LOGNAME", u.os_user.c_str(), 1);
}

void set_scm_group() {
    const char *user = user_name();
    if (!getenv("ORVO_SCM_GRP") && user) setenv("ORVO_SCM_GRP", user, 1);
}

} // namespace

int init_user() {
    UserState &u = state();
    if (u.initialised) return u.status;
    u.initialised = true;
    mode_t kmask = octal_setting("KMASK");
    mode_t absolute = octal_setting("USE_KMASK_AS_ABSOLUTE");
    std::string t = cut(getvar("T"), TERMINAL_MAX);
    const char *dir = getvar("GETCWD");
    u.package_comb = cut(getvar("PACKAGE_COMB"), PACKAGE_COMB_MAX);
    u.compnr = cut(getvar("KTE_COMPNR"), COMPNR_MAX);

    find_terminal(u, t);
    change_directory(dir);
    set_file_mask(kmask, absolute);
    set_os_user(u);
    set_scm_group();
    read_user_settings(u);
    return u.status;
}

const char *user_charset() {
    UserState &u = state();
    read_user_settings(u);
    if (!u.user_charset.empty()) return u.user_charset.c_str();
    return u.charset.empty() ? DEFAULT_CHARSET : u.charset.c_str();
}

const char *user_name() {
    const char *name = getvar("KTE_USER");
    if (!name || !*name) name = getvar("USER");
    return name && *name ? name : nullptr;
}

// KTE_LEGACY_MODE "1", "yes" or "on" (any letter case) turns the mode on;
// the first call decides for the whole run.
bool legacy_mode() {
    UserState &u = state();
    if (u.legacy < 0) {
        const char *v = getvar("KTE_LEGACY_MODE");
        u.legacy = 0;
        for (const char *word : legacy_words)
            if (v && equal_ignoring_case(v, word)) u.legacy = 1;
    }
    return u.legacy == 1;
}

void al_env_reload() {
    // The path of the last open is a record of what was opened, not a
    // setting: it stays.
    std::string last = get_last_exploded_fname_ptr();
    al_gtenv_reset();
    al_fpath_reset();
    set_last_exploded_fname(last.c_str());
}

void al_env_reset() {
    state() = UserState{};
    al_gtenv_reset();
    al_fpath_reset();
}
