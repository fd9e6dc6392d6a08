// zel_shmload: loads (creates) or, with -r, removes the shared-memory segment
// of the installation named by $KTE. Programs of the installation that run
// without -m attach this segment at start-up and stop when it is missing.
//
//   KTE=/path/to/installation zel_shmload      create the segment
//   KTE=/path/to/installation zel_shmload -r   remove it
//
// Prints one line with the result; exit status 0 on success, 1 on failure
// (also when the line cannot be written). Loading again over an existing
// segment refreshes it and succeeds.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "al_env.h"
#include "al_shm.h"
#include "al_strm.h"
#include "hal.h"

namespace {

int usage(const char *prog) {
    fprintf(stderr, "usage: %s [-r]\n", prog);
    return 1;
}

int report(int rc, const char *done, const char *failed) {
    if (rc == 0) {
        printf("zel_shmload: %s (key 0x%08x, installation '%s')\n", done, unsigned(shm_key()),
               get_kte());
        return 0;
    }
    printf("zel_shmload: %s for installation '%s': %s\n", failed, get_kte(), strerror(errno));
    return 1;
}

int run(int argc, char **argv) {
    const char *prog = argc > 0 ? argv[0] : "zel_shmload";
    if (argc > 2) return usage(prog);
    if (argc == 2) {
        if (strcmp(argv[1], "-r") != 0) return usage(prog);
        return report(shm_remove(), "shared memory removed", "cannot remove shared memory");
    }
    return report(shm_create(), "shared memory loaded", "cannot load shared memory");
}

} // namespace

int main(int argc, char **argv) {
    HAL_reserve_standard_channels();
    return finish_standard_output("zel_shmload", run(argc, argv));
}
