// STUB: replaced by the installation variables module.
#include <cstdlib>

#include "al_env.h"

const char *getvar(const char *name) { return getenv(name); }
const char *get_kte() {
    const char *k = getenv("KTE");
    return k ? k : "";
}
