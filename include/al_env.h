// Installation environment: variables, the user, file-name expansion and the
// file-definition table that places logical names.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Value of an installation variable: the process environment first, then the
// variables files. nullptr when unset.
const char *getvar(const char *name);
// The installation home ($KTE without a trailing separator); "" when unset.
const char *get_kte();
// Runs once per process; later calls return at once.
int init_user();
// Expands ${...} references; returns 0 when a reference cannot be expanded.
int expand_fname(const char *text, char *out, size_t size);

// Option prefixes of a stream name (ExplodeState::prefixes).
enum ExplodePrefix : unsigned {
    EXPL_NOLOG = 0x01,    // {nolog}
    EXPL_NOSYSLOG = 0x02, // {nosyslog}
    EXPL_NOFDLOG = 0x04,  // {nofdlog}
    EXPL_NODEF = 0x10,    // state: a logical name had no definition
    EXPL_DONE = 0x20,     // state: no candidate left, failure reported
};
// Size of the buffers that hold one candidate path (1023 bytes and a NUL).
constexpr size_t EXPLODE_PATH_MAX = 1024;

// Exploded-name state: one per stream open.
struct ExplodeState {
    bool started = false;
    unsigned prefixes = 0; // EXPL_* bits seen
    std::string package;   // from {package=...}
    int cnum = -1;         // from {cnum=...}
    size_t alternative = 0;
    int attempt = 0;
    std::string last;                 // last candidate produced
    std::vector<std::string> pending; // candidates not yet handed out
};

// Produces the next candidate path for `name`; returns 1 with a path, 0 when
// no candidate is left.
int _explode_fname(const char *caller, const char *name, char *out, size_t size, ExplodeState &st);
// Logs why no candidate of `name` could be opened, as far as its prefixes
// allow; `err` is the system error of the last attempt. _explode_fname calls
// it when it runs out of candidates; a caller that ends the search early
// calls it itself.
void explode_fname_report(const char *caller, const char *name, const ExplodeState &st, int err);
// Path of the last file opened through an exploded name.
const char *get_last_exploded_fname_ptr();
void set_last_exploded_fname(const char *path);

// The user's character-set name ("ISO-8859-1" when the user has none).
const char *user_charset();
// The 4GL user name (KTE_USER, else USER); nullptr when none.
const char *user_name();
// The legacy compatibility mode: decided on first use from the installation's
// configuration and fixed for the rest of the run.
bool legacy_mode();

// Forgets what was read from the environment and the installation so far:
// the installation home, the variables files, the release, the
// file-definition tables and the temporary directory. Later lookups read
// them again from the environment as it is now (the tool calls it when its
// command line has set variables). The user's initialisation and settings
// are kept.
void al_env_reload();
// `text` without the blanks, tabs and carriage returns at either end.
std::string_view trim(std::string_view text);

// Forgets everything read from the installation (tests only).
void al_env_reset();
// The parts of al_env_reset kept by the variables module and the file-name
// expansion module.
void al_gtenv_reset();
void al_fpath_reset();
