// zel_shmload: loads (creates) or, with -r, removes the shared-memory segment
// of the installation named by $KTE. Programs of the installation that run
// without -m attach this segment at start-up and stop when it is missing.
//
//   KTE=/path/to/installation zel_shmload      create the segment
//   KTE=/path/to/installation zel_shmload -r   remove it
//
// Prints one line with the result: on standard output when it succeeded, on
// standard error when it failed. Exit status 0 on success (and for --help,
// which prints the usage on standard output), 1 on failure, on a usage error
// and when the line cannot be written. Loading again over an existing
// segment refreshes it and succeeds.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "al_env.h"
#include "al_shm.h"
#include "al_strm.h"
#include "hal.h"
#include "zel_info.h"

namespace {

const char *const usage_lines[] = {
    "Load or remove the shared memory of an installation\n",
    "\nUsage: %s [-r]\n\n",
    "   -r       : Remove the shared memory instead of loading it\n",
    "   --help   : Show this text\n",
};

int usage(const char *prog, FILE *out, int status) {
    print_usage(prog, usage_lines, std::size(usage_lines), out);
    return status;
}

int report(int rc, const char *done, const char *failed) {
    if (rc == 0) {
        printf("zel_shmload: %s (key 0x%08x, installation '%s')\n", done, unsigned(shm_key()),
               get_kte());
        return 0;
    }
    fprintf(stderr, "zel_shmload: %s for installation '%s': %s\n", failed, get_kte(),
            strerror(errno));
    return 1;
}

int run(int argc, char **argv) {
    const char *prog = argc > 0 ? argv[0] : "zel_shmload";
    if (const char *slash = strrchr(prog, '/')) prog = slash + 1;
    bool remove = false;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (strcmp(arg, "--help") == 0) return usage(prog, stdout, 0);
        if (arg[0] != '-' || arg[1] == '\0') return usage(prog, stderr, 1);
        for (const char *c = arg + 1; *c; c++) {
            if (*c != 'r') {
                fprintf(stderr, "%s: illegal option %c\n", prog, *c);
                return usage(prog, stderr, 1);
            }
            remove = true;
        }
    }
    if (remove) return report(shm_remove(), "shared memory removed", "cannot remove shared memory");
    return report(shm_create(), "shared memory loaded", "cannot load shared memory");
}

} // namespace

int main(int argc, char **argv) {
    HAL_reserve_standard_channels();
    return finish_standard_output("zel_shmload", run(argc, argv));
}
