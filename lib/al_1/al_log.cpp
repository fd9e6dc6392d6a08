// STUB: replaced by the log service.
#include "al_log.h"

void log_set_progname(const char *, int) {}
const char *log_get_progname() { return "zel_info"; }
int log_mesg(const char *, int, const char *, int, const char *, ...) { return 0; }
void al_disable_log_mesg() {}
void al_enable_log_mesg() {}
const char *log_file_path() { return ""; }
