// Runs a built program of the project and collects what it printed.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Built with AddressSanitizer, whose shadow memory and quarantine make the
// peak memory of a run no measure of the tools' own.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool MEMORY_SANITIZED = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool MEMORY_SANITIZED = true;
#else
constexpr bool MEMORY_SANITIZED = false;
#endif
#else
constexpr bool MEMORY_SANITIZED = false;
#endif

struct RunResult {
    int status = -1; // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
    // The program's peak resident memory; the system counts the test
    // process's own at the fork too, so it is a bound only where that is small.
    long peak_kb = 0;
};

// A fresh temporary directory, removed with its contents when the object dies.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }

  private:
    std::string path_;
};

// Expects a run's exit status, standard output and standard error.
#define EXPECT_RUN(run, status_, out_, err_)                                                       \
    do {                                                                                           \
        SCOPED_TRACE("EXPECT_RUN");                                                                \
        const RunResult &run_ = (run);                                                             \
        EXPECT_EQ(run_.status, status_);                                                           \
        EXPECT_EQ(run_.out, out_);                                                                 \
        EXPECT_EQ(run_.err, err_);                                                                 \
    } while (0)

// Runs `program` with `args` (argv[0] is the program's base name unless
// `argv0` is given). `env` entries "NAME=value" are added to (or replace in)
// the current environment; "NAME" alone removes it. `cwd` empty: stay.
RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const std::vector<std::string> &env = {}, const std::string &cwd = "",
                      const std::string &argv0 = "");

// `out` of Started: standard output closed.
constexpr int OUT_CLOSED = -2;

// A built program started in the background, as run_program starts it but
// with `in` and `out` as its standard input and output (-1: /dev/null); its
// standard error is collected. finish() waits for it (the destructor too).
// The broken-pipe signal ends it, as it ends a command started by a shell.
class Started {
  public:
    Started(const std::string &program, const std::vector<std::string> &args,
            const std::vector<std::string> &env, int in, int out, const std::string &cwd = "",
            const std::string &argv0 = "");
    ~Started();
    Started(const Started &) = delete;
    Started &operator=(const Started &) = delete;
    // Status, standard error and peak memory; `out` is left empty.
    RunResult finish();

  private:
    TempDir tmp_;
    std::string err_path_;
    pid_t pid_ = -1;
};

// Runs the built zel_info.
RunResult run_zel_info(const std::vector<std::string> &args,
                       const std::vector<std::string> &env = {}, const std::string &cwd = "");

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &content);

// The blocks of a log file in short, one line each: the level letter, where
// the message was logged from (without the line), its keyword and its text,
// whose lines are joined by "|": "W al_1/al_fpath KTE_TMP: text".
std::string log_digest(const std::string &path);
