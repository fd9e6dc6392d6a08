// STUB: replaced by the file-name expansion module.
#include "al_env.h"

int expand_fname(const char *, char *out, size_t) { out[0] = 0; return 0; }
int _explode_fname(const char *, const char *, char *, size_t, ExplodeState &) { return 0; }
const char *get_last_exploded_fname_ptr() { return ""; }
void set_last_exploded_fname(const char *) {}
