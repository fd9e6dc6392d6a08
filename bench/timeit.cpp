// Times commands side by side: runs each of them RUNS times, taking turns,
// so that a change in the machine's load falls on all of them alike, and
// prints for each, in the order given, one line with the median wall time in
// seconds, the largest peak resident size in KB of its runs, and the median
// processor time (user and system) in seconds. The
// commands' standard output and standard error go to /dev/null; a command
// that fails ends the measurement with status 1.
//
// Usage: timeit RUNS COMMAND [ARG...] [-- COMMAND [ARG...]]...
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

extern char **environ;

namespace {

struct Command {
    std::vector<char *> argv;
    std::vector<double> seconds;
    std::vector<double> cpu;
    long peak_kb = 0;
};

double now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

bool run(Command &c) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    double start = now();
    pid_t pid;
    int rc = posix_spawnp(&pid, c.argv[0], &actions, nullptr, c.argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return false;
    c.seconds.push_back(now() - start);
    auto secs = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    c.cpu.push_back(secs(usage.ru_utime) + secs(usage.ru_stime));
    c.peak_kb = std::max(c.peak_kb, long(usage.ru_maxrss));
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3 || atoi(argv[1]) < 1) {
        fprintf(stderr, "usage: %s RUNS COMMAND [ARG...] [-- COMMAND [ARG...]]...\n", argv[0]);
        return 2;
    }
    const int runs = atoi(argv[1]);
    std::vector<Command> commands(1);
    for (int i = 2; i < argc; ++i) {
        if (std::string(argv[i]) == "--") {
            commands.emplace_back();
            continue;
        }
        commands.back().argv.push_back(argv[i]);
    }
    for (Command &c : commands) {
        if (c.argv.empty()) return 2;
        c.argv.push_back(nullptr);
    }
    for (int r = 0; r < runs; ++r) {
        for (Command &c : commands) {
            if (!run(c)) {
                fprintf(stderr, "timeit: %s failed\n", c.argv[0]);
                return 1;
            }
        }
    }
    for (const Command &c : commands)
        printf("%.6f %ld %.6f\n", median(c.seconds), c.peak_kb, median(c.cpu));
    return 0;
}
