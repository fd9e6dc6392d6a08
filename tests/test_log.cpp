// The log service: program name, destinations, the framed block in the log
// file, and whole blocks when several processes log at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "al_env.h"
#include "al_log.h"
#include "capture.h"
#include "objrun.h"
#include "run.h"

namespace {

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

const std::string HEADER = R"(\d{4}-\d\d-\d\d\[\d\d:\d\d:\d\d\(UTC[+-]\d\d:\d\d\)\]:)";

class Log : public ::testing::Test {
  protected:
    TempDir dir;
    void SetUp() override {
        setenv("KTE_LOG", dir.path().c_str(), 1);
        setenv("KTE_USER", "tester", 1);
    }
    void TearDown() override { unsetenv("KTE_LOG"); }
    std::string log_text() { return read_file(log_file_path()); }
};

TEST_F(Log, ProgramNameAndPaths) {
    log_set_progname("/opt/bin/zel_info extra", LOG_FILE | LOG_STDERR);
    EXPECT_STREQ(log_get_progname(), "zel_info");
    EXPECT_EQ(std::string(log_file_path()), dir.path() + "/log.zel_info");

    unsetenv("KTE_LOG");
    setenv("KTE", "/no/such/home", 1);
    log_set_progname("tool", LOG_STDERR);
    EXPECT_EQ(std::string(log_file_path()), "/no/such/home/log/log.tool");

    // KTE_LOG from the installation's variables file.
    write_file(dir.path() + "/lib/kte_vars", "KTE_LOG = ${KTE}/logs\n");
    setenv("KTE", dir.path().c_str(), 1);
    al_env_reset();
    log_set_progname("tool", LOG_STDERR);
    EXPECT_EQ(std::string(log_file_path()), dir.path() + "/logs/log.tool");
    unsetenv("KTE");
    al_env_reset();
}

TEST_F(Log, LineOnStandardErrorAndBlockInTheFile) {
    log_set_progname("zel_info", LOG_FILE | LOG_STDERR);
    Captured c = capture([] {
        errno = ENOENT;
        log_mesg("zel/zel_x", 12, "kw", LOG_SYSERR, "cannot open %s\n", "f");
        EXPECT_EQ(errno, ENOENT);
        errno = 0;
        log_mesg("zel/zel_x", 13, "kw2", LOG_WARNING, "two\nlines");
    });
    EXPECT_EQ(c.err, "zel_info: cannot open f - error 2 (No such file or directory)\n"
                     "zel_info: two\nlines\n");

    std::vector<std::string> lines = lines_of(log_text());
    ASSERT_EQ(lines.size(), 17u);
    const char *expected[] = {
        "E:tester: $",
        R"(E:tester: \*\*\*\*\*\*\* S T A R T of Error message \*\*\*\*\*\*\*$)",
        "E:tester: Log message called from zel/zel_x: #12 keyword: kw$",
        R"(E:tester: Pid \d+ Uid \d+ Euid \d+ Gid \d+ Egid \d+ Pset \S+$)",
        "E:tester: user_type . language . user_name tester locale .*/.*$",
        R"(E:tester: Errno 2 \(No such file or directory\) odb_errno 0 \(\)$)",
        "E:tester: Log_mesg: cannot open f$",
        R"(E:tester: \*\*\*\*\*\*\* E N D of Error message \*\*\*\*\*\*\*$)",
        "W:tester: $",
        R"(W:tester: \*\*\*\*\*\*\* S T A R T of Warning message \*\*\*\*\*\*\*$)",
        "W:tester: Log message called from zel/zel_x: #13 keyword: kw2$",
        R"(W:tester: Pid .*)",
        "W:tester: user_type .*",
        "W:tester: Errno 0 odb_errno 0 \\(\\)$",
        "W:tester: Log_mesg: two$",
        "W:tester: lines$",
        R"(W:tester: \*\*\*\*\*\*\* E N D of Warning message \*\*\*\*\*\*\*$)",
    };
    for (size_t i = 0; i < lines.size(); i++)
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(HEADER + expected[i]))) << lines[i];
}

TEST_F(Log, DestinationsAndDisabling) {
    log_set_progname("zel_info", LOG_FILE | LOG_STDERR);
    Captured c = capture([] {
        log_mesg("f", 1, "k", LOG_FILE, "file only");
        log_mesg("f", 2, "k", LOG_STDOUT, "not a default: both defaults");
        log_mesg("f", 3, "k", LOG_INFO | LOG_STDERR, "stderr only");
        al_disable_log_mesg();
        al_disable_log_mesg();
        log_mesg("f", 4, "k", 0, "dropped");
        al_enable_log_mesg();
        log_mesg("f", 5, "k", 0, "still dropped");
        al_enable_log_mesg();
        log_mesg("f", 6, "k", LOG_STDERR, "back");
    });
    EXPECT_EQ(c.out, "");
    EXPECT_EQ(c.err,
              "zel_info: not a default: both defaults\nzel_info: stderr only\nzel_info: back\n");
    std::string text = log_text();
    EXPECT_NE(text.find("Log_mesg: file only\n"), std::string::npos);
    EXPECT_NE(text.find("Log_mesg: not a default"), std::string::npos);
    EXPECT_EQ(text.find("stderr only"), std::string::npos);
    EXPECT_EQ(text.find("dropped"), std::string::npos);
}

TEST_F(Log, UnopenableLogFileIsDropped) {
    setenv("KTE_LOG", (dir.path() + "/missing/dir").c_str(), 1);
    log_set_progname("zel_info", LOG_FILE | LOG_STDERR);
    Captured c = capture([] { log_mesg("f", 1, "k", 0, "still shown"); });
    EXPECT_EQ(c.err, "zel_info: still shown\n");
}

// Several processes log long messages at once; every block in the file must
// be whole: its lines consecutive and its message intact.
TEST_F(Log, ParallelWritersNeverTearBlocks) {
    constexpr int WRITERS = 4, BLOCKS = 150;
    const std::string pad(6000, 'p'); // longer than one stream buffer
    std::vector<pid_t> pids;
    for (int w = 0; w < WRITERS; w++) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            log_set_progname("zel_info", LOG_FILE);
            for (int b = 0; b < BLOCKS; b++)
                log_mesg("t", b, "parallel", 0, "writer %d block %d %s", w, b, pad.c_str());
            _exit(0);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    log_set_progname("zel_info", LOG_FILE);
    std::vector<std::string> lines = lines_of(log_text());
    ASSERT_EQ(lines.size(), size_t(WRITERS * BLOCKS * 8));
    std::vector<int> next_block(WRITERS, 0);
    for (size_t i = 0; i < lines.size(); i += 8) {
        EXPECT_NE(lines[i + 1].find("S T A R T of Error"), std::string::npos) << i;
        size_t at = lines[i + 6].find(":E:tester: Log_mesg: writer ");
        ASSERT_NE(at, std::string::npos) << lines[i + 6].substr(0, 120);
        int w = -1, b = -1, end = 0;
        ASSERT_EQ(sscanf(lines[i + 6].c_str() + at, ":E:tester: Log_mesg: writer %d block %d %n",
                         &w, &b, &end),
                  2);
        ASSERT_TRUE(w >= 0 && w < WRITERS);
        EXPECT_EQ(b, next_block[w]++);
        EXPECT_EQ(lines[i + 6].substr(at + size_t(end)), pad);
        EXPECT_NE(lines[i + 7].find("E N D of Error"), std::string::npos) << i;
    }
    for (int w = 0; w < WRITERS; w++)
        EXPECT_EQ(next_block[w], BLOCKS);
}

// Many zel_info processes that fail at start-up log at the same time (no
// shared memory in an empty installation); their blocks stay whole.
TEST_F(Log, ParallelToolRunsShareTheLogFile) {
    constexpr int RUNS = 8;
    TempDir kte;
    write_file(kte.path() + "/lib/tabledef6.2", "");
    std::vector<std::thread> runs;
    std::vector<int> status(RUNS, -1);
    for (int r = 0; r < RUNS; r++)
        runs.emplace_back([&, r] {
            status[r] = run_zel_info({"oxxmain"}, {"KTE=" + kte.path(), "KTE_LOG=" + dir.path(),
                                                   "KTE_USER=tester"})
                            .status;
        });
    for (std::thread &t : runs)
        t.join();
    for (int r = 0; r < RUNS; r++)
        EXPECT_EQ(status[r], 1);

    std::vector<std::string> lines = lines_of(read_file(dir.path() + "/log.zel_info"));
    ASSERT_GE(lines.size(), size_t(RUNS * 2 * 8));
    ASSERT_EQ(lines.size() % 8, 0u);
    for (size_t i = 0; i < lines.size(); i += 8) {
        EXPECT_NE(lines[i + 1].find("S T A R T of"), std::string::npos) << i;
        EXPECT_NE(lines[i + 2].find("Log message called from"), std::string::npos) << i;
        EXPECT_NE(lines[i + 3].find(" Pid "), std::string::npos) << i;
        EXPECT_NE(lines[i + 6].find("Log_mesg: "), std::string::npos) << i;
        EXPECT_NE(lines[i + 7].find("E N D of"), std::string::npos) << i;
    }
}

// A tool run beside a process that keeps the log file locked gives up the
// lock after its retries, says so, still writes its block and ends as usual
// (here with a report of its own: the installation lacks its locale
// definitions).
TEST_F(Log, ToolGivesUpALockHeldElsewhere) {
    objrun::Installation kte;
    std::filesystem::remove(kte.dir() + "/lib/tss_locale");
    log_set_progname("zel_info", LOG_FILE);
    int fd = open(log_file_path(), O_RDWR);
    ASSERT_GE(fd, 0);
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    ASSERT_EQ(fcntl(fd, F_SETLK, &fl), 0);

    RunResult r = run_zel_info({"-c", "-m", SAMPLE_KTE "/obj/oxxmai/omain"},
                               {"KTE=" + kte.dir(), "KTE_LOG=" + dir.path(), "KTE_USER=tester"});
    close(fd);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zel_info: (ISO-8859-1) *** Error in TSSinitialize:\nCan't open " + kte.dir() +
                         "/lib/tss_locale\n"
                         "lock_handling: Resource temporarily unavailable\n");
    EXPECT_NE(log_text().find(":E:tester: Can't open " + kte.dir() + "/lib/tss_locale\n"),
              std::string::npos);
}

} // namespace
