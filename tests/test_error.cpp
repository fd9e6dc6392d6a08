// Message functions, the summary and the stop path.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "al_env.h"
#include "al_strm.h"
#include "capture.h"
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

// What standard output holds, also in a stream on descriptor 1, goes out
// before a message: in one file the two keep their order.
TEST_F(Messages, OutputGoesOutBeforeAMessage) {
    TempDir dir;
    fflush(stdout);
    int saved_out = dup(1), saved_err = dup(2);
    int fd = open((dir.path() + "/both").c_str(), O_WRONLY | O_CREAT, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    STREAM *s = sdopen(1, "w");
    printf("printed ");
    sputs("streamed\n", s);
    error("message");
    sclose(s);
    for (int std : {1, 2})
        dup2(std == 1 ? saved_out : saved_err, std);
    EXPECT_EQ(read_file(dir.path() + "/both"), "printed streamed\nomod0001: Error: message\n");
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
        {1, 1, 0, false, false, "\n  1 warning   reported.\n  1 warning   suppressed.\n"},
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

// No text of any length overruns a line: the text of an error is cut to 511
// characters, that of a fatal error to 543, before the additions; a whole
// message to 3071.
TEST_F(Messages, LongTextsAreCut) {
    std::string huge(20000, 'x');
    zel.macro_name = huge.c_str();
    zel.context = huge.c_str();
    zel.mute_after_error = false;
    Captured c = capture([&] {
        error("%s", huge.c_str());
        warning(1, "%s", huge.c_str());
        fatal_error("%s", huge.c_str());
    });
    EXPECT_TRUE(c.stopped);
    auto cut = [&](size_t text) {
        return (std::string(text, 'x') + " (While expanding macro '" + huge).substr(0, 3071) + "\n";
    };
    EXPECT_TRUE(c.err == "omod0001: Error: " + cut(511) + "omod0001: Warning: " +
                             std::string(3071, 'x') + "\nomod0001: Fatal Error: " + cut(543) +
                             "\n  1 warning   reported.\n  2 ERRORS    REPORTED.\n\n");
}

} // namespace
