// Messages of the compiler family: warnings, errors, fatal errors, the
// summary and the stop path.
#pragma once

#include <cstdarg>
#include <string>
#include <vector>

// A message kept instead of printed (zel.held): its class number (0 for an
// error) and class text, and its text; a system error as perror prints it
// has no class text.
struct HeldMessage {
    int cls;
    std::string clstext;
    std::string text;
    bool fatal() const { return clstext == "Fatal Error"; }
};

// Thrown by `stop` to end the run; only `main` and tests catch it. The
// process-wide state stays as it was, so tests can inspect it afterwards.
struct StopRun {
    int status;
};

void give_message(int cls, const char *clstext, const char *fmt, va_list ap);
void warning(int cls, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void warning_ext(int cls, const char *clstext, const char *fmt, va_list ap);
int error(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int error_va(const char *fmt, va_list ap);
[[noreturn]] void fatal_error(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// The system error of the current errno for the step `step` (as perror
// prints it), then the fatal error.
[[noreturn]] void fatal_system_error(const char *step, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));

// Prints messages that were kept instead of printed (zel.held), in order,
// and counts them as printed; a fatal one no longer ends anything.
void release_held(const std::vector<HeldMessage> &held);

[[noreturn]] void stop_compiler();
void show_result();
// Flushes standard output and ends the run with `status` (by throwing
// StopRun); the command detaches shared memory when its run ends.
[[noreturn]] void stop(int status);
