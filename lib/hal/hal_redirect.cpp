// The standard channels at descriptor level: reserving the closed ones, and
// redirection, after which everything written to the standard channel (by
// the standard I/O or by streams on descriptors 1 and 2) goes to the file.
#include "hal.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct Channel {
    char kind;
    int fd;
    FILE *stdio;
    int reserve_mode; // how /dev/null is opened in place of a closed channel
};

Channel channels[] = {
    {'o', STDOUT_FILENO, stdout, O_RDONLY},
    {'e', STDERR_FILENO, stderr, O_WRONLY},
    {'i', STDIN_FILENO, stdin, O_RDONLY},
};

Channel *find_channel(char kind) {
    for (Channel &c : channels)
        if (c.kind == kind) return &c;
    return nullptr;
}

// Creates (or truncates) the file and puts it in place of the channel's
// descriptor. Output still buffered by the standard I/O goes to the old
// destination first.
int redirect_output(Channel &c, const char *path) {
    int fd = ::creat(path, 0644);
    if (fd < 0) return -1;
    fflush(c.stdio);
    if (fd != c.fd) {
        if (::dup2(fd, c.fd) < 0) {
            int err = errno;
            ::close(fd);
            errno = err;
            return -1;
        }
        ::close(fd);
    }
    return 0;
}

int redirect_input(Channel &c, const char *path) {
    return freopen(path, "r", c.stdio) ? 0 : -1;
}

// Opening takes the lowest free descriptor, which may be another closed
// channel's; the open file is then moved to its own channel.
void reserve_channel(const Channel &c) {
    if (::fcntl(c.fd, F_GETFD) >= 0 || errno != EBADF) return;
    int fd = ::open("/dev/null", c.reserve_mode);
    if (fd < 0 || fd == c.fd) return;
    ::dup2(fd, c.fd);
    ::close(fd);
}

} // namespace

void HAL_reserve_standard_channels() {
    int saved = errno;
    for (const Channel &c : channels)
        reserve_channel(c);
    errno = saved;
}

int HAL_redirect(char kind, const char *path) {
    Channel *c = find_channel(kind);
    if (!c || !path) {
        errno = EINVAL;
        return -1;
    }
    return kind == 'i' ? redirect_input(*c, path) : redirect_output(*c, path);
}
