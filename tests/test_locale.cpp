// Character set and locale selection.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <memory>
#include <string>

#include "al_env.h"
#include "al_log.h"
#include "capture.h"
#include "run.h"
#include "tss.h"
#include "zel.h"

namespace {

// What the callback was given: "kind:message" for each report.
std::string reports;

int record(int kind, const char *message) {
    reports += std::to_string(kind) + ":" + message;
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
                   "UNISMALL2   UTF-8      C    UTF8 6 3\n"
                   "SHORT       UTF-8      C\n");
    }
    static void TearDownTestSuite() { home.reset(); }

    void SetUp() override {
        setenv("KTE_USER", "tester", 1);
        log_set_progname("test", LOG_STDERR);
        set_home(home->path());
        init_zel_struct();
        zel.no_shm = 1;
    }
    void TearDown() override {
        for (const char *v : {"KTE_UNICODE", "KTE", "KTE_DEBUG", "LC_ALL"})
            unsetenv(v);
        al_env_reset();
        TSSreset();
        setlocale(LC_ALL, "C");
    }
    static void set_home(const std::string &path) {
        setenv("KTE", path.c_str(), 1);
        al_env_reset();
        TSSreset();
        reports.clear();
    }
};

// The named locale, or the default when there is no name or no definition
// (a line of fewer than six fields defines nothing). ISO-8859-1 (or
// ISO88591) by its exact name, outside Unicode mode, is the ISO-8859-1 mode.
// Unicode mode (KTE_UNICODE set and not 0) needs factors of 4 at least. A
// system locale of NULL comes from the environment; numbers keep the C
// conventions. A system locale that cannot be set is fatal.
TEST_F(Locale, Selection) {
    const struct {
        const char *unicode, *lc_all, *name;
        int rc;
        const char *current;
        bool iso;
        std::string reported, err;
    } cases[] = {
        {nullptr, nullptr, "ISO-8859-1", 0, "ISO-8859-1", true, "", ""},
        {nullptr, nullptr, "iso-8859-1", 0, "iso-8859-1", false, "", ""},
        {nullptr, nullptr, "ISO88591", -1, "DEFAULT", true, "", ""},
        {nullptr, nullptr, "KOI8-R", -1, "DEFAULT", false, "", ""},
        {nullptr, nullptr, "SHORT", -1, "DEFAULT", false, "", ""},
        {nullptr, nullptr, nullptr, 0, "DEFAULT", false, "", ""},
        {"0", nullptr, "ISO-8859-1", 0, "ISO-8859-1", true, "", ""},
        {"1", nullptr, "ISO-8859-1", -1, "ISO-8859-1", false, "",
         "test: Wrong MB factor for Unicode mode: ifactor = 1, efactor = 1\n"},
        {"1", nullptr, "UNI", 0, "UNI", false, "", ""},
        {"1", nullptr, "UNISMALL", -1, "UNISMALL", false, "",
         "test: Wrong MB factor for Unicode mode: ifactor = 1, efactor = 6\n"},
        {"1", nullptr, "UNISMALL2", -1, "UNISMALL2", false, "",
         "test: Wrong MB factor for Unicode mode: ifactor = 6, efactor = 3\n"},
        {nullptr, "C.UTF-8", "FROMENV", 0, "FROMENV", false, "", ""},
        {nullptr, "xx_NOWHERE.bad", "FROMENV", 0, "FROMENV", false,
         "2:(FROMENV) *** Error in TSSsetlocale:\nCan't set NLS locale 'LC_ALL=xx_NOWHERE.bad, "
         "LANG=C'\n",
         ""},
        {nullptr, nullptr, "BADNLS", -1, "BADNLS", false,
         "1:(BADNLS) *** Error in TSSsetlocale:\nCan't set NLS locale 'no_such_locale.xyz'\n", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.name ? c.name : "(none)") + (c.unicode ? c.unicode : ""));
        set_home(home->path());
        c.lc_all ? setenv("LANG", "C", 1) : unsetenv("LANG");
        c.unicode ? setenv("KTE_UNICODE", c.unicode, 1) : unsetenv("KTE_UNICODE");
        c.lc_all ? setenv("LC_ALL", c.lc_all, 1) : unsetenv("LC_ALL");
        Captured out = capture([&] { EXPECT_EQ(TSSsetlocale(c.name, record), c.rc); });
        EXPECT_STREQ(TSScurrent_locale(), c.current);
        EXPECT_EQ(TSSis_iso88591(), c.iso);
        EXPECT_EQ(reports, c.reported);
        EXPECT_EQ(out.err, c.err);
        EXPECT_STREQ(setlocale(LC_NUMERIC, nullptr), "C");
        // A system locale that is set is also LANG.
        const std::string cur = c.current;
        EXPECT_EQ(getenv("LANG") != nullptr,
                  c.lc_all || (cur != "DEFAULT" && cur != "FROMENV" && cur != "BADNLS"));
    }
    char buf[32];
    snprintf(buf, sizeof buf, "%.2f", 1.5);
    EXPECT_STREQ(buf, "1.50");
}

// Without a callback a report goes to standard error; a fatal one ends the
// run. Without the definitions file the locale is unknown.
TEST_F(Locale, ReportsWithoutCallbackAndWithoutDefinitions) {
    Captured c = capture([] { TSSsetlocale("BADNLS", nullptr); });
    EXPECT_TRUE(c.stopped && c.status == 1);
    EXPECT_EQ(c.err, "(BADNLS) *** Error in TSSsetlocale:\nCan't set NLS locale "
                     "'no_such_locale.xyz'\n");

    TempDir empty;
    for (const char *name : {"ISO-8859-1", static_cast<const char *>(nullptr)}) {
        set_home(empty.path());
        EXPECT_EQ(TSSsetlocale(name, record), -1);
        EXPECT_EQ(reports, "2:(" + std::string(name ? name : "Unknown locale") +
                               ") *** Error in TSSinitialize:\nCan't open " + empty.path() +
                               "/lib/tss_locale\n");
        EXPECT_STREQ(TSScurrent_locale(), "");
    }
}

// Bit 64 of KTE_DEBUG traces the set-up on standard error. The sample
// installation selects its character set quietly.
TEST_F(Locale, TraceAndSampleInstallation) {
    setenv("KTE_DEBUG", "0x40", 1);
    Captured c = capture([] { EXPECT_EQ(TSSsetlocale("ISO-8859-1", record), 0); });
    EXPECT_EQ(c.err, "TSSinitialize: no shared memory available\n\tCharactersets and locales will "
                     "be loaded in process memory\nCurrent locale = C\n");
    setenv("KTE_DEBUG", "0x3F", 1);
    set_home(SOURCE_DIR "/sample/kte");
    c = capture([] { EXPECT_EQ(TSSsetlocale("ISO-8859-1", record), 0); });
    EXPECT_EQ(c.err, "");
    EXPECT_TRUE(TSSis_iso88591());
    EXPECT_EQ(reports, "");
}

} // namespace
