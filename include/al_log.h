// The runtime's log service: framed, time-stamped blocks in
// $KTE_LOG/log.<program> and a one-line form on standard error.
#pragma once

// Destinations and per-message flags.
enum LogFlag : int {
    LOG_FILE = 1,
    LOG_STDERR = 2,
    LOG_STDOUT = 4,
    LOG_CONSOLE = 8,
    LOG_SYSERR = 32, // append the system error text
    LOG_HOOK = 64,
    LOG_WARNING = 128,
    LOG_INFO = 256,
};

void log_set_progname(const char *argv0, int destinations);
const char *log_get_progname();
// Ends the run with status 1 because no user name can be found, after the
// log message "Could not find Orvo user name; exiting.". It comes at log
// set-up or user initialisation, before shared memory is attached, so the
// run ends without `stop`.
[[noreturn]] void user_name_failure();
int log_mesg(const char *file, int line, const char *keyword, int flags, const char *fmt, ...)
    __attribute__((format(printf, 5, 6)));
void al_disable_log_mesg();
void al_enable_log_mesg();
// Path of the log file ("" before log_set_progname).
const char *log_file_path();
// The runtime's debug level: installation variable KTE_DEBUG (a number in C
// notation), 0 when unset. Bit 32: database auditing, bit 64: character sets.
unsigned al_debug_level();
