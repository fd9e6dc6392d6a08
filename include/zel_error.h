// Messages of the compiler family: warnings, errors, fatal errors, the
// summary and the stop path.
#pragma once

#include <cstdarg>

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

[[noreturn]] void stop_compiler();
void show_result();
// Flushes standard output and ends the run with `status` (by throwing
// StopRun); the command detaches shared memory when its run ends.
[[noreturn]] void stop(int status);
