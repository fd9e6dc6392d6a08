// Messages of the compiler family (line formats, summaries, the error limit,
// long texts) and the log service (program name, destinations, the framed
// block in the log file, a lock held elsewhere).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "al_env.h"
#include "al_log.h"
#include "al_strm.h"
#include "capture.h"
#include "objrun.h"
#include "run.h"
#include "zel.h"
#include "zel_error.h"

namespace {

class Messages : public ::testing::Test {
  protected:
    void SetUp() override {
        init_zel_struct();
        zel.no_shm = 1; // nothing to detach
        zel.cur_file = "/inst/obj/oxxmod/omod0001";
    }
    void TearDown() override {
        unsetenv("KTE_LEGACY_MODE");
        al_env_reset();
    }
};

void warn_ext(int cls, const char *clstext, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    warning_ext(cls, clstext, fmt, ap);
    va_end(ap);
}

// The file name without its directory, the line when there is one, the
// class text, the message and its additions. Warnings of the classes in the
// mask (bit n-1 for class n, classes 1 to 32) are counted, not shown; after
// an error every warning is. In the legacy mode warnings carry their class.
TEST_F(Messages, LineFormats) {
    Captured c = capture([] {
        error("Domain '%s' not found in data dictionary.", "xxnone");
        zel.mute_after_error = false;
        zel.warn_mask = 1u << 18 | 1u << 31; // classes 19 and 32
        warning(19, "hidden");
        warning(32, "hidden too");
        warning(20, "unused %s", "x");
        warning(33, "beyond the mask");
        warn_ext(3, "Note", "plain");
        zel.macro_name = "M";
        zel.context = "ctx";
        error("in macro");
        zel.macro_name = "";
        zel.context = nullptr;
        zel.cur_line = 42;
        error("with line");
        zel.cur_line = 0;
        setenv("KTE_LEGACY_MODE", "1", 1);
        al_env_reset();
        warning(7, "legacy");
        error("legacy error");
        zel.cur_file = nullptr;
        zel.mute_after_error = true;
        error("no file");
        warning(7, "muted");
    });
    EXPECT_EQ(c.err, "omod0001: Error: Domain 'xxnone' not found in data dictionary.\n"
                     "omod0001: Warning: unused x\n"
                     "omod0001: Warning: beyond the mask\n"
                     "omod0001: Note: plain\n"
                     "omod0001: Error: in macro (While expanding macro 'M') (context: ctx)\n"
                     "omod0001(  42): Error: with line\n"
                     "omod0001: Warning(7): legacy\n"
                     "omod0001: Error: legacy error\n"
                     ": Error: no file\n");
    EXPECT_EQ(zel.errors, 5);
    EXPECT_EQ(zel.warnings, 4);
    EXPECT_EQ(zel.suppressed, 3);
    EXPECT_FALSE(c.stopped);
}

// The summary of the counts, then the end of the run: status 1 after
// errors, else 0. In the legacy mode the empty line stands always.
TEST_F(Messages, SummaryAndStop) {
    const struct {
        int warnings, suppressed, errors;
        bool too_many, legacy;
        const char *summary;
    } cases[] = {
        {0, 0, 0, false, false, ""},
        {0, 0, 0, false, true, "\n"},
        {1, 0, 0, false, false, "\n  1 warning   reported.\n"},
        {0, 1, 0, false, false, "\n  1 warning   suppressed.\n"},
        {2, 3, 1, false, false,
         "\n  2 warnings  reported.\n  3 warnings  suppressed due to errors.\n"
         "  1 ERROR     REPORTED.\n\n"},
        {0, 0, 61, true, false,
         "-------- Too many errors, good bye.\n\n 61 ERRORS    REPORTED.\n\n"},
    };
    for (const auto &c : cases) {
        c.legacy ? setenv("KTE_LEGACY_MODE", "1", 1) : unsetenv("KTE_LEGACY_MODE");
        al_env_reset();
        zel.warnings = c.warnings;
        zel.suppressed = c.suppressed;
        zel.errors = c.errors;
        zel.too_many = c.too_many;
        Captured r = capture([] {
            printf("report");
            stop_compiler();
        });
        EXPECT_TRUE(r.stopped && r.status == (c.errors ? 1 : 0));
        EXPECT_EQ(r.out + r.err, "report" + std::string(c.summary));
    }
}

// Sixty errors go on, the sixty-first ends the run.
TEST_F(Messages, ErrorLimit) {
    Captured c = capture([] {
        for (int i = 0; i < 60; i++)
            error("error number %d", i + 1);
    });
    EXPECT_FALSE(c.stopped);
    c = capture([] { error("one more"); });
    EXPECT_TRUE(c.stopped && c.status == 1);
    EXPECT_EQ(c.err, "omod0001: Error: one more\n"
                     "-------- Too many errors, good bye.\n\n 61 ERRORS    REPORTED.\n\n");
}

// The time stamp in front of each line of a block, in UTC here.
const std::string HEADER = R"(\d{4}-\d\d-\d\d\[\d\d:\d\d:\d\d\(UTC\+00:00\)\]:)";

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
    setenv("TZ", "UTC0", 1);
    tzset();
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

    std::istringstream log(log_text());
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);)
        lines.push_back(line);
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
    unsetenv("TZ");
}

// A message goes to the destinations it names among the defaults, else to
// the defaults; none while logging is disabled (as often as it was
// disabled). A log file that cannot be opened is dropped. ORVO_SMOKETEST
// sends every message to standard error alone.
TEST_F(Log, DestinationsAndDisabling) {
    TempDir kte;
    write_file(kte.path() + "/lib/tabledef6.2", "");
    RunResult r = run_zel_info({"oxxmain"}, {"KTE=" + kte.path(), "KTE_LOG=" + dir.path(),
                                             "KTE_USER=tester", "ORVO_SMOKETEST=1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(
        r.err.substr(0, r.err.find('\n')),
        "zel_info: Cannot link to shared memory (errno 2). Check whether shared memory is "
        "loaded and accessible. Note that mixing 32-bit and 64-bit binaries is not possible.");
    EXPECT_EQ(read_file(dir.path() + "/log.zel_info"), "");
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
        al_enable_log_mesg(); // once more than disabled: no effect
        log_mesg("f", 6, "k2", LOG_WARNING, "back");
    });
    EXPECT_EQ(c.out, "");
    EXPECT_EQ(c.err,
              "zel_info: not a default: both defaults\nzel_info: stderr only\nzel_info: back\n");
    EXPECT_EQ(log_digest(log_file_path()),
              "E f k: file only\nE f k: not a default: both defaults\nW f k2: back\n");

    setenv("KTE_LOG", (dir.path() + "/missing/dir").c_str(), 1);
    log_set_progname("zel_info", LOG_FILE | LOG_STDERR);
    c = capture([] { log_mesg("f", 1, "k", 0, "still shown"); });
    EXPECT_EQ(c.err, "zel_info: still shown\n");
    // A log file that takes nothing: the write is not tried again.
    setenv("KTE_LOG", dir.path().c_str(), 1);
    std::filesystem::create_symlink("/dev/full", dir.path() + "/log.full");
    log_set_progname("full", LOG_FILE | LOG_STDERR);
    c = capture([] { log_mesg("f", 1, "k", 0, "not kept"); });
    EXPECT_EQ(c.err, "full: not kept\n");
}

// A tool run beside a process that keeps the log file locked gives up the
// lock after its retries, says so, still writes its block and ends as usual
// (here with a report of its own: the installation lacks its locale
// definitions). A report that is fatal (a system locale that cannot be set)
// ends the run.
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

    auto run = [&] {
        return run_zel_info({"-c", "-m", SAMPLE_KTE "/obj/oxxmai/omain"},
                            {"KTE=" + kte.dir(), "KTE_LOG=" + dir.path(), "KTE_USER=tester"});
    };
    RunResult r = run();
    close(fd);
    EXPECT_RUN(r, 0, "",
               "zel_info: (ISO-8859-1) *** Error in TSSinitialize:\nCan't open " + kte.dir() +
                   "/lib/tss_locale\nlock_handling: Resource temporarily unavailable\n");
    EXPECT_NE(log_text().find(":E:tester: Can't open " + kte.dir() + "/lib/tss_locale\n"),
              std::string::npos);
    // Logged by the tool's handler of the text support's reports.
    EXPECT_NE(log_text().find("Log message called from zel/zel_info: #"), std::string::npos);
    EXPECT_NE(log_text().find(" keyword: signal handler\n"), std::string::npos);

    write_file(kte.dir() + "/lib/tss_locale", "BAD ISO-8859-1 no_such_locale.xyz ISO88591 1 1\n");
    write_file(kte.dir() + "/lib/user.cfg", "charset = BAD\n");
    EXPECT_RUN(run(), 1, "",
               "zel_info: (BAD) *** Error in TSSsetlocale:\n"
               "Can't set NLS locale 'no_such_locale.xyz'\n");
}

} // namespace
