// STUB: replaced by the message module.
#include "zel_error.h"

#include <cstdio>

#include "zel.h"

void give_message(int, const char *, const char *fmt, va_list ap) { vfprintf(stderr, fmt, ap); }
void warning(int, const char *, ...) {}
void warning_ext(int, const char *, const char *, va_list) {}
int error(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = error_va(fmt, ap);
    va_end(ap);
    return n;
}
int error_va(const char *fmt, va_list ap) {
    vfprintf(stderr, fmt, ap);
    fputc('\n', stderr);
    return ++zel.errors;
}
void fatal_error(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
    fputc('\n', stderr);
    stop_compiler();
}
void stop_compiler() { stop(1); }
void show_result() {}
void stop(int status) {
    fflush(stdout);
    throw StopRun{status};
}
