// Data dictionary start-up of the tool: the local dictionary, and the
// installation's shared memory unless the run was started with -m.
#include <cstdio>

#include "al_log.h"
#include "al_shm.h"
#include "qpd.h"
#include "zel.h"
#include "zel_error.h"

namespace {

constexpr unsigned DEBUG_AUDIT = 32;

// Database auditing has no effect in the tool; -m only reports that it is off.
void disable_audit() {
    if (al_debug_level() & DEBUG_AUDIT) fputs("odb_disable_audit: Auditing disabled\n", stderr);
}

} // namespace

void init_shm_dd() {
    init_local_dd();
    if (zel.no_shm) {
        disable_audit();
        return;
    }
    if (link_shm() != 0) fatal_error("Shared Memory not available.");
}
