// The runtime's log service. A message goes to standard error as one line
// ("program: message") and to the installation's log file as a framed block
// whose every line carries a time stamp, the level letter and the user name.
// Processes of the installation share the log file; each block is written
// under an exclusive advisory lock, and in one append write, so blocks never
// interleave.
#include "al_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "al_env.h"
#include "al_stop.h"
#include "al_strm.h"
#include "tss.h"

namespace {

constexpr size_t MESSAGE_MAX = 16384;
constexpr int LOCK_RETRIES = 4; // more tries after the first, one second apart
constexpr int PASS_THROUGH = LOG_SYSERR | LOG_HOOK | LOG_WARNING | LOG_INFO;

struct LogState {
    int defaults = 0;
    std::string progname = "";
    std::string dir;
    std::string path;
    STREAM *file = nullptr;
    STREAM *console = nullptr;
    bool writing = false; // re-entry guard
    int disabled = 0;     // nesting of al_disable_log_mesg
};

LogState state;

struct Level {
    char letter;
    const char *word;
};
constexpr Level LEVEL_ERROR{'E', "Error"};
constexpr Level LEVEL_WARNING{'W', "Warning"};
constexpr Level LEVEL_INFO{'I', "Information"};

const Level &level_of(int flags) {
    if (flags & LOG_WARNING) return LEVEL_WARNING;
    if (flags & LOG_INFO) return LEVEL_INFO;
    return LEVEL_ERROR;
}

// Program name: last path component of the invocation name, cut at a blank.
std::string program_name(const char *argv0) {
    if (!argv0) return "";
    const char *slash = strrchr(argv0, '/');
    std::string name = slash ? slash + 1 : argv0;
    return name.substr(0, name.find(' '));
}

// KTE_LOG is an installation variable: the environment, then the variables
// files.
std::string log_directory() {
    const char *dir = getvar("KTE_LOG");
    if (dir && *dir) return dir;
    return std::string(get_kte()) + "/log";
}

// ORVO_SMOKETEST and ORVO_DISPLAY_ALLOC_SYMBOLS are switches of the process
// environment alone, not installation variables.
bool smoketest() {
    static const bool on = [] {
        const char *v = getenv("ORVO_SMOKETEST");
        return v && *v;
    }();
    return on;
}

void open_log_file() {
    mode_t old_mask = umask(0);
    state.file = sopen(("{nolog}" + state.path).c_str(), "at+");
    umask(old_mask);
    if (!state.file) {
        state.defaults &= ~LOG_FILE;
        return;
    }
    fcntl(sfileno(state.file), F_SETFD, FD_CLOEXEC);
}

void open_console() {
    state.console = sopen("{nolog}/dev/console", "wt");
    if (!state.console) {
        fprintf(stderr, "Error %d while opening console.\n", errno);
        state.defaults &= ~LOG_CONSOLE;
    }
}

// Takes (F_WRLCK) or releases (F_UNLCK) the lock on the whole file without
// ever waiting for it: while another process holds the lock (EACCES or
// EAGAIN) it tries LOCK_RETRIES times more, one second apart, and then gives
// up with the system's error text, so a writer beside a process that keeps
// the lock ends in seconds.
bool lock_handling(int fd, short type) {
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    for (int attempt = 0;; attempt++) {
        if (fcntl(fd, F_SETLK, &fl) == 0) return true;
        if ((errno != EACCES && errno != EAGAIN) || attempt >= LOCK_RETRIES) break;
        sleep(1);
    }
    int err = errno;
    flush_standard_output();
    errno = err;
    perror("lock_handling");
    if (type == F_UNLCK) fputs("WARNING: log file may be in disarray\n", stderr);
    return false;
}

// "YYYY-MM-DD[hh:mm:ss(UTC+hh:mm)]:L:user: "
std::string line_header(char letter, const char *user) {
    time_t now = time(nullptr);
    struct tm tm = {};
    localtime_r(&now, &tm);
    long offset = tm.tm_gmtoff / 60; // minutes east of UTC
    char sign = offset < 0 ? '-' : '+';
    offset = labs(offset);
    char buf[256];
    snprintf(buf, sizeof buf,
             "%04d-%02d-%02d[%02d:%02d:%02d(UTC%c%02ld:%02ld)]:%c:%s: ", tm.tm_year + 1900,
             tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, sign, offset / 60,
             offset % 60, letter, user ? user : "");
    return buf;
}

void append_format(std::string &out, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void append_format(std::string &out, const char *fmt, ...) {
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    out += buf;
}

// Puts `header` in front of every line of `text`.
std::string prefix_lines(const std::string &text, const std::string &header) {
    std::string out;
    out.reserve(text.size() + 16 * header.size());
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        out += header;
        out.append(text, start, end - start);
        start = end;
    }
    return out;
}

struct Caller {
    const char *file;
    int line;
    const char *keyword;
};

// The framed block of one message. Values the tool has no source for (the
// process set, user type and language, the database error) are shown as
// "-" or 0.
std::string framed_block(const Caller &c, const Level &level, int saved_errno,
                         const char *message) {
    const char *user = user_name();
    std::string body;
    append_format(body, "\n******* S T A R T of %s message *******\n", level.word);
    append_format(body, "Log message called from %s: #%d keyword: %s\n", c.file ? c.file : "",
                  c.line, c.keyword ? c.keyword : "");
    append_format(body, "Pid %d Uid %d Euid %d Gid %d Egid %d Pset %s\n", int(getpid()),
                  int(getuid()), int(geteuid()), int(getgid()), int(getegid()), "-");
    const char *ctype = setlocale(LC_CTYPE, nullptr);
    append_format(body, "user_type %c language %c user_name %s locale %s/%s\n", '-', '-',
                  user ? user : "", TSScurrent_locale(), ctype ? ctype : "");
    bool has_errno = saved_errno != 0;
    append_format(body, "Errno %d%s%s%s odb_errno %d%s\n", saved_errno, has_errno ? " (" : "",
                  has_errno ? strerror(saved_errno) : "", has_errno ? ")" : "", 0, " ()");
    body += "Log_mesg: ";
    body += message;
    body += "\n***";
    append_format(body, "**** E N D of %s message *******\n", level.word);
    return prefix_lines(body, line_header(level.letter, user));
}

// Appends the whole block with one system write (more only when the system
// takes part of it). The log file is open for appending, so the write lands
// whole at the end of the file, after every block written before it.
void append_block(int fd, const std::string &block) {
    for (size_t done = 0; done < block.size();) {
        ssize_t n = ::write(fd, block.data() + done, block.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += size_t(n);
    }
}

// Writes one block to the log file under the lock. A writer that cannot get
// the lock (it has said so on standard error) writes its block all the same,
// so that the message is not lost: every block of this service is a single
// append write, which lands whole at the end of the file, so a block written
// without the lock neither splits nor is split by the block of a writer that
// holds the lock.
void write_to_file(STREAM *s, const std::string &block) {
    int fd = sfileno(s);
    bool locked = lock_handling(fd, F_WRLCK);
    append_block(fd, block);
    if (locked) lock_handling(fd, F_UNLCK);
}

void write_to_console(STREAM *s, const std::string &block) {
    swrite_blok(block.data(), block.size(), s);
    sflush(s);
}

void write_line(FILE *out, const char *message, int flags, int saved_errno) {
    fprintf(out, "%s: %s", state.progname.c_str(), message);
    if ((flags & LOG_SYSERR) && saved_errno != 0)
        fprintf(out, " - error %d (%s)\n", saved_errno, strerror(saved_errno));
    else
        fputc('\n', out);
    fflush(out);
}

// Expands the message with the "C" character-type conventions; drops one
// trailing newline.
void expand_message(char *buf, size_t size, const char *fmt, va_list ap) {
    std::string saved_ctype = setlocale(LC_CTYPE, nullptr) ? setlocale(LC_CTYPE, nullptr) : "C";
    setlocale(LC_CTYPE, "C");
    vsnprintf(buf, size, fmt, ap);
    setlocale(LC_CTYPE, saved_ctype.c_str());
    size_t len = strlen(buf);
    if (len > 0 && buf[len - 1] == '\n') buf[len - 1] = 0;
}

// Prints the allocator's symbol table; this runtime's allocator keeps no
// symbols, so the table is its terminating empty entry alone.
void display_alloc_symbols() {
    const char *v = getenv("ORVO_DISPLAY_ALLOC_SYMBOLS");
    if (!v || v[0] != '1') return;
    const void *const symbols[] = {nullptr};
    for (size_t i = 0; i < sizeof symbols / sizeof symbols[0]; i++)
        fprintf(stderr, "list_of_alloc_symbols[%d] = %p\n", int(i), symbols[i]);
}

} // namespace

void log_set_progname(const char *argv0, int destinations) {
    state.defaults = destinations;
    state.progname = program_name(argv0);
    state.dir = log_directory();
    state.path = state.dir + "/log." + state.progname;
    if (state.file) sclose(state.file);
    if (state.console) sclose(state.console);
    state.file = state.console = nullptr;
    if (state.defaults & LOG_FILE) open_log_file();
    if (state.defaults & LOG_CONSOLE) open_console();
    // Every block names the 4GL user (KTE_USER, else USER); a run without
    // one ends here.
    if (!user_name()) user_name_failure();
    display_alloc_symbols();
}

void user_name_failure() {
    log_mesg("al_1/al_log", __LINE__, "log_set_progname", 0,
             "Could not find Orvo user name; exiting.");
    flush_standard_output();
    al_stop(1);
}

const char *log_get_progname() {
    return state.progname.c_str();
}

const char *log_file_path() {
    return state.path.c_str();
}

void al_disable_log_mesg() {
    state.disabled++;
}

void al_enable_log_mesg() {
    if (state.disabled > 0) state.disabled--;
}

unsigned al_debug_level() {
    const char *v = getvar("KTE_DEBUG");
    return v ? unsigned(strtoul(v, nullptr, 0)) : 0;
}

int log_mesg(const char *file, int line, const char *keyword, int flags, const char *fmt, ...) {
    int saved_errno = errno;
    if (state.writing || state.disabled) return 0;
    state.writing = true;

    int defaults = smoketest() ? LOG_STDERR : state.defaults;
    int dest = flags & ~PASS_THROUGH & defaults;
    if (dest == 0) dest = defaults;

    char message[MESSAGE_MAX];
    va_list ap;
    va_start(ap, fmt);
    expand_message(message, sizeof message, fmt, ap);
    va_end(ap);

    if (dest & LOG_STDERR) {
        flush_standard_output();
        write_line(stderr, message, flags, saved_errno);
    }
    if (dest & LOG_STDOUT) write_line(stdout, message, flags, saved_errno);
    bool to_file = (dest & LOG_FILE) && state.file;
    bool to_console = (dest & LOG_CONSOLE) && state.console;
    if (to_file || to_console) {
        std::string block =
            framed_block({file, line, keyword}, level_of(flags), saved_errno, message);
        if (to_file) write_to_file(state.file, block);
        if (to_console) write_to_console(state.console, block);
    }

    state.writing = false;
    errno = saved_errno;
    return 0;
}
