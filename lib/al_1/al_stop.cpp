// The runtime library's end of a run; see al_stop.h.
#include "al_stop.h"

#include <cstdio>
#include <cstdlib>

namespace {

AlStop installed = nullptr;

} // namespace

AlStop al_set_stop(AlStop stop) {
    AlStop before = installed;
    installed = stop;
    return before;
}

void al_stop(int status) {
    if (installed) installed(status);
    fflush(stdout);
    std::exit(status);
}
