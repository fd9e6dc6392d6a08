// Messages of the compiler family: warnings, errors and fatal errors become
// one line each on standard error; a fatal error prints the summary and ends
// the run with status 1. Every message is cut to a fixed buffer, so no text
// of any length can overrun it.
#include "zel_error.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "al_env.h"
#include "al_strm.h"
#include "zel.h"

namespace {

constexpr size_t LINE_MAX_BYTES = 3072; // one message line with its additions
constexpr size_t ERROR_TEXT_MAX = 512;  // text of `error`
constexpr size_t FATAL_TEXT_MAX = 544;  // text of `fatal_error`

// Appends printf output to `buf` (capacity `size`), cutting what does not fit.
void append(char *buf, size_t size, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
void append(char *buf, size_t size, const char *fmt, ...) {
    size_t used = strnlen(buf, size);
    if (used + 1 >= size) return;
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf + used, size - used, fmt, ap);
    va_end(ap);
}

// Last path component of the current file name, or "" when none is set.
const char *file_text() {
    if (!zel.cur_file) return "";
    const char *slash = strrchr(zel.cur_file, '/');
    return slash ? slash + 1 : zel.cur_file;
}

// Prints one finished message line: file, optional line number, class text,
// optional class code, message.
void print_line(int cls, const char *clstext, const char *message) {
    flush_standard_output();
    if (!clstext) clstext = cls != 0 ? "Warning" : "Error";
    char code[16] = "";
    if (cls != 0 && legacy_mode()) snprintf(code, sizeof code, "(%d)", cls);
    if (zel.cur_line != 0)
        fprintf(stderr, "%s(%4d): %s%s: %s\n", file_text(), zel.cur_line, clstext, code, message);
    else
        fprintf(stderr, "%s: %s%s: %s\n", file_text(), clstext, code, message);
}

// Message text with the macro and context additions, then the line.
void give_message_text(int cls, const char *clstext, const char *text) {
    char buf[LINE_MAX_BYTES];
    snprintf(buf, sizeof buf, "%s", text);
    if (zel.macro_name && *zel.macro_name)
        append(buf, sizeof buf, " (While expanding macro '%s')", zel.macro_name);
    if (zel.context) append(buf, sizeof buf, " (context: %s)", zel.context);
    if (zel.held) {
        zel.held->push_back({cls, clstext ? clstext : cls != 0 ? "Warning" : "Error", buf});
        return;
    }
    print_line(cls, clstext, buf);
}

bool warning_suppressed(int cls) {
    if (zel.warn_mask == 0xFFFFFFFFu) return true;
    return cls >= 1 && cls <= 32 && (zel.warn_mask & (1u << (cls - 1))) != 0;
}

const char *plural(int count, const char *suffix) {
    return count != 1 ? suffix : "";
}

} // namespace

void give_message(int cls, const char *clstext, const char *fmt, va_list ap) {
    char text[LINE_MAX_BYTES];
    vsnprintf(text, sizeof text, fmt, ap);
    give_message_text(cls, clstext, text);
}

void warning_ext(int cls, const char *clstext, const char *fmt, va_list ap) {
    if (warning_suppressed(cls)) {
        zel.suppressed++;
        return;
    }
    zel.warnings++;
    give_message(cls, clstext, fmt, ap);
}

void warning(int cls, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    warning_ext(cls, nullptr, fmt, ap);
    va_end(ap);
}

int error_va(const char *fmt, va_list ap) {
    char text[ERROR_TEXT_MAX];
    vsnprintf(text, sizeof text, fmt, ap);
    give_message_text(0, nullptr, text);
    if (zel.mute_after_error) zel.warn_mask = 0xFFFFFFFFu;
    if (++zel.errors > zel.error_limit && zel.error_limit > 0) {
        zel.too_many = true;
        stop_compiler();
    }
    return zel.errors;
}

int error(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int count = error_va(fmt, ap);
    va_end(ap);
    return count;
}

namespace {

[[noreturn]] void fatal_error_va(const char *fmt, va_list ap) {
    char text[FATAL_TEXT_MAX];
    vsnprintf(text, sizeof text, fmt, ap);
    give_message_text(0, "Fatal Error", text);
    zel.errors++;
    if (zel.held) throw StopRun{1};
    stop_compiler();
}

} // namespace

void fatal_error(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    fatal_error_va(fmt, ap);
}

void fatal_system_error(const char *step, const char *fmt, ...) {
    int err = errno;
    flush_standard_output();
    errno = err;
    if (zel.held)
        zel.held->push_back({0, "", std::string(step) + ": " + strerror(err)});
    else
        perror(step);
    va_list ap;
    va_start(ap, fmt);
    fatal_error_va(fmt, ap);
}

void release_held(const std::vector<HeldMessage> &held) {
    for (const HeldMessage &m : held) {
        if (m.clstext.empty()) { // a system error, as perror printed it
            flush_standard_output();
            fprintf(stderr, "%s\n", m.text.c_str());
            continue;
        }
        if (m.cls != 0) {
            zel.warnings++;
        } else {
            zel.errors++;
            if (zel.mute_after_error) zel.warn_mask = 0xFFFFFFFFu;
        }
        print_line(m.cls, m.clstext.c_str(), m.text.c_str());
    }
}

void show_result() {
    if (zel.too_many) fputs("-------- Too many errors, good bye.\n", stderr);
    bool counted = zel.warnings || zel.suppressed || zel.errors;
    if (counted || legacy_mode()) fputs("\n", stderr);
    if (zel.warnings)
        fprintf(stderr, "%3d warning%-2s reported.\n", zel.warnings, plural(zel.warnings, "s"));
    if (zel.suppressed)
        fprintf(stderr, "%3d warning%-2s suppressed%s.\n", zel.suppressed,
                plural(zel.suppressed, "s"), zel.errors ? " due to errors" : "");
    if (zel.errors)
        fprintf(stderr, "%3d ERROR%-2s   REPORTED.\n\n", zel.errors, plural(zel.errors, "S"));
}

// The tool has no database session and no object output stream, so the
// compiler's clean-up steps have nothing to do here.
void stop_compiler() {
    signal(SIGQUIT, SIG_IGN);
    show_result();
    stop(zel.errors ? 1 : 0);
}

void stop(int status) {
    flush_standard_output();
    fflush(stderr);
    throw StopRun{status};
}
