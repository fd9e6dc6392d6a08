// STUB: replaced by the dictionary start-up module.
#include "qpd.h"

void init_shm_dd() { init_local_dd(); }
