// Message functions, the summary and the stop path.
#include <gtest/gtest.h>

#include <string>

#include "capture.h"
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
};

void warn_ext(int cls, const char *clstext, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    warning_ext(cls, clstext, fmt, ap);
    va_end(ap);
}

Captured capture_errors(int n) {
    return capture([n] {
        for (int i = 0; i < n; i++)
            error("error number %d", i + 1);
    });
}

TEST_F(Messages, LineFormats) {
    Captured c = capture([] {
        error("Domain '%s' not found in data dictionary.", "xxnone");
        zel.mute_after_error = false;
        zel.warn_mask = 1u << 18; // class 19
        warning(19, "hidden");
        warning(20, "unused %s", "x");
        warn_ext(3, "Note", "plain");
        zel.macro_name = "M";
        zel.context = "ctx";
        error("in macro");
        zel.macro_name = "";
        zel.context = nullptr;
        zel.cur_line = 42;
        error("with line");
        zel.cur_line = 0;
        zel.cur_file = nullptr;
        error("no file");
    });
    EXPECT_EQ(c.err, "omod0001: Error: Domain 'xxnone' not found in data dictionary.\n"
                     "omod0001: Warning: unused x\n"
                     "omod0001: Note: plain\n"
                     "omod0001: Error: in macro (While expanding macro 'M') (context: ctx)\n"
                     "omod0001(  42): Error: with line\n"
                     ": Error: no file\n");
    EXPECT_EQ(zel.errors, 4);
    EXPECT_EQ(zel.warnings, 2);
    EXPECT_EQ(zel.suppressed, 1);
    EXPECT_FALSE(c.stopped);
}

TEST_F(Messages, WarningsAfterAnErrorAreSuppressed) {
    Captured c = capture([] {
        warning(19, "before");
        warning(2, "before too");
        error("first");
        warning(19, "after");
        stop_compiler();
    });
    EXPECT_TRUE(c.stopped);
    EXPECT_EQ(c.status, 1);
    EXPECT_EQ(c.err, "omod0001: Warning: before\n"
                     "omod0001: Warning: before too\n"
                     "omod0001: Error: first\n"
                     "\n"
                     "  2 warnings  reported.\n"
                     "  1 warning   suppressed due to errors.\n"
                     "  1 ERROR     REPORTED.\n\n");
}

TEST_F(Messages, SixtyErrorsGoOnTheSixtyFirstStops) {
    Captured sixty = capture_errors(60);
    EXPECT_FALSE(sixty.stopped);
    EXPECT_EQ(zel.errors, 60);
    Captured more = capture_errors(1);
    EXPECT_TRUE(more.stopped);
    EXPECT_EQ(more.status, 1);
    EXPECT_TRUE(zel.too_many);
    EXPECT_EQ(more.err, "omod0001: Error: error number 1\n"
                        "-------- Too many errors, good bye.\n"
                        "\n"
                        " 61 ERRORS    REPORTED.\n\n");
}

TEST_F(Messages, FatalErrorEndsTheRunWithTheSummary) {
    Captured c = capture([] { fatal_error("Can't open object '%s' for reading", "oxx"); });
    EXPECT_TRUE(c.stopped);
    EXPECT_EQ(c.status, 1);
    EXPECT_EQ(c.err, "omod0001: Fatal Error: Can't open object 'oxx' for reading\n"
                     "\n"
                     "  1 ERROR     REPORTED.\n\n");
}

TEST_F(Messages, StopFlushesAndCarriesTheStatus) {
    Captured c = capture([] {
        printf("report");
        stop(0);
    });
    EXPECT_TRUE(c.stopped);
    EXPECT_EQ(c.status, 0);
    EXPECT_EQ(c.out, "report");
    EXPECT_EQ(c.err, "");
}

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
    size_t start = 0, lines = 0;
    while (start < c.err.size()) {
        size_t end = c.err.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        EXPECT_LT(end - start, 3200u);
        start = end + 1;
        lines++;
    }
    EXPECT_EQ(lines, 7u); // 3 messages, empty line, 2 count lines, empty line
    // The text of an error is cut to 511 characters before the additions.
    std::string head = "omod0001: Error: " + std::string(511, 'x') + " (While";
    EXPECT_EQ(c.err.compare(0, head.size(), head), 0);
}

} // namespace
