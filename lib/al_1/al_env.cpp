// STUB: replaced by the user initialisation module.
#include "al_env.h"

int init_user() { return 0; }
const char *user_charset() { return "ISO-8859-1"; }
const char *user_name() { return "user"; }
bool legacy_mode() { return false; }
void al_env_reset() {}
