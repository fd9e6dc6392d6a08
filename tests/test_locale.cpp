// Character set and locale selection.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "al_env.h"
#include "capture.h"
#include "run.h"
#include "tss.h"
#include "zel.h"

namespace {

std::vector<std::pair<int, std::string>> reports;

int record(int kind, const char *message) {
    reports.emplace_back(kind, message);
    return 0;
}

class Locale : public ::testing::Test {
  protected:
    static inline std::unique_ptr<TempDir> home;

    static void SetUpTestSuite() {
        home = std::make_unique<TempDir>();
        write_file(home->path() + "/lib/tss_locale",
                   "# test locales\n"
                   "\n"
                   "ISO-8859-1  ISO-8859-1 C    ISO88591 1 1\n"
                   "iso-8859-1  ISO-8859-1 C    ISO88591 1 1\n"
                   "FROMENV     ISO-8859-1 NULL ISO88591 0 1\n"
                   "BADNLS      ISO-8859-1 no_such_locale.xyz ISO88591 1 1\n"
                   "UNI         UTF-8      C    UTF8 4 4 1\n"
                   "UNISMALL    UTF-8      C    UTF8 1 6\n"
                   "SHORT       UTF-8      C\n");
    }
    static void TearDownTestSuite() { home.reset(); }

    void SetUp() override {
        set_home(home->path());
        TSSreset();
        reports.clear();
        init_zel_struct();
        zel.no_shm = 1;
    }
    void TearDown() override {
        unsetenv("KTE_UNICODE");
        unsetenv("KTE");
        al_env_reset();
        TSSreset();
        setlocale(LC_ALL, "C");
    }
    static void set_home(const std::string &path) {
        setenv("KTE", path.c_str(), 1);
        al_env_reset();
    }
};

TEST_F(Locale, SelectsTheNamedLocale) {
    EXPECT_EQ(TSSsetlocale("ISO-8859-1", record), 0);
    EXPECT_TRUE(TSSis_iso88591());
    EXPECT_STREQ(TSScurrent_locale(), "ISO-8859-1");
    EXPECT_STREQ(setlocale(LC_CTYPE, nullptr), "C");
    EXPECT_STREQ(getenv("LANG"), "C");

    EXPECT_EQ(TSSsetlocale("iso-8859-1", record), 0); // defined, but not the exact name
    EXPECT_FALSE(TSSis_iso88591());
    EXPECT_TRUE(reports.empty());
}

TEST_F(Locale, UnknownOrNoNameGivesTheDefault) {
    EXPECT_EQ(TSSsetlocale("KOI8-R", record), -1);
    EXPECT_STREQ(TSScurrent_locale(), "DEFAULT");
    EXPECT_EQ(TSSsetlocale("SHORT", record), -1); // a line with too few fields defines nothing
    EXPECT_EQ(TSSsetlocale(nullptr, record), 0);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Locale, MissingDefinitionsFileIsReported) {
    TempDir empty;
    set_home(empty.path());
    EXPECT_EQ(TSSsetlocale("ISO-8859-1", record), -1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].first, 2);
    EXPECT_EQ(reports[0].second, "(ISO-8859-1) *** Error in TSSinitialize:\nCan't open " +
                                     empty.path() + "/lib/tss_locale\n");
    EXPECT_STREQ(TSScurrent_locale(), "");
}

TEST_F(Locale, SystemLocaleThatCannotBeSetIsFatal) {
    EXPECT_EQ(TSSsetlocale("BADNLS", record), -1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].first, 1);
    EXPECT_EQ(reports[0].second, "(BADNLS) *** Error in TSSsetlocale:\n"
                                 "Can't set NLS locale 'no_such_locale.xyz'\n");

    // Without a callback the report goes to standard error and ends the run.
    TSSreset();
    Captured c = capture([] { TSSsetlocale("BADNLS", nullptr); });
    EXPECT_TRUE(c.stopped);
    EXPECT_EQ(c.status, 1);
    EXPECT_EQ(c.err, "(BADNLS) *** Error in TSSsetlocale:\n"
                     "Can't set NLS locale 'no_such_locale.xyz'\n");
}

TEST_F(Locale, NullTakesTheEnvironmentAndKeepsCNumbers) {
    setenv("LC_ALL", "C.UTF-8", 1);
    EXPECT_EQ(TSSsetlocale("FROMENV", record), 0);
    EXPECT_TRUE(reports.empty());
    EXPECT_STREQ(setlocale(LC_NUMERIC, nullptr), "C");
    char buf[32];
    snprintf(buf, sizeof buf, "%.2f", 1.5);
    EXPECT_STREQ(buf, "1.50");

    setenv("LC_ALL", "xx_NOWHERE.bad", 1);
    setenv("LANG", "C", 1);
    EXPECT_EQ(TSSsetlocale("FROMENV", record), 0);
    unsetenv("LC_ALL");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].first, 2);
    EXPECT_EQ(reports[0].second, "(FROMENV) *** Error in TSSsetlocale:\n"
                                 "Can't set NLS locale 'LC_ALL=xx_NOWHERE.bad, LANG=C'\n");
}

TEST_F(Locale, UnicodeModeNeedsLargeFactors) {
    setenv("KTE_UNICODE", "1", 1);
    EXPECT_EQ(TSSsetlocale("ISO-8859-1", record), -1); // factors 1 are too small
    EXPECT_FALSE(TSSis_iso88591());
    EXPECT_EQ(TSSsetlocale("UNI", record), 0);
    EXPECT_EQ(TSSsetlocale("UNISMALL", record), -1);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Locale, SampleInstallationSelectsItsCharacterSetQuietly) {
    set_home(SOURCE_DIR "/sample/kte");
    EXPECT_EQ(TSSsetlocale("ISO-8859-1", record), 0);
    EXPECT_TRUE(TSSis_iso88591());
    EXPECT_TRUE(reports.empty());
}

} // namespace
