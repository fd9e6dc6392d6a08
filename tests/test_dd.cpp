// Data dictionary access for domains, and the shared-memory start-up.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "al_env.h"
#include "al_log.h"
#include "al_shm.h"
#include "capture.h"
#include "qpd.h"
#include "run.h"
#include "zel.h"

namespace {

// A small installation: the sample's domain file for package xx, a file with
// awkward content for package yy, no file for any other package.
class Dictionary : public ::testing::Test {
  protected:
    static inline std::unique_ptr<TempDir> home;

    static void SetUpTestSuite() {
        home = std::make_unique<TempDir>();
        const std::string &k = home->path();
        write_file(k + "/lib/tabledef6.2", "");
        write_file(k + "/lib/kte_vars", "PACKAGE_COMB = std\n");
        write_file(k + "/lib/fd6.2.std", "d:${KTE}/dd\n");
        write_file(k + "/dd/dxx.pd/dxx.pd", read_file(SOURCE_DIR "/sample/kte/dd/dxx.pd/dxx.pd"));
        write_file(k + "/dd/dyy.pd/dyy.pd",
                   "junk before any record\n"
                   "D\n:NAME:yyzeta\n:TYPE:12\n:VALU:a\n:VALU:b\n"
                   "D\n:TYPE:s\n" // no name: skipped
                   "D\r\n:NAME:yyalpha\r\n:TYPE:m\r\n:CLEN:7\r\n"
                   "D\n:NAME:yy_name_far_too_long\n:TYPE:s\n"
                   "D\n:NAME:zzother\n:TYPE:s\n" // another package: skipped
                   "D\n:NAME:yyLong\n:TYPE:l\n:OFOR:" +
                       std::string(5000, 'x') +
                       "\n"
                       ":BAD\n"
                       "D\n:NAME:yyQ\n:TYPE:?\n:DIGV:4\n"
                       "D\n:NAME:yyT18\n:TYPE:18\nD\n:NAME:yyT19\n:TYPE:19\nD\n:NAME:yyT19\n");
        setenv("KTE", k.c_str(), 1);
        setenv("KTE_USER", "tester", 1);
        al_env_reset();
    }
    static void TearDownTestSuite() {
        unsetenv("KTE");
        al_env_reset();
        home.reset();
    }
    void SetUp() override {
        dd_reset();
        init_zel_struct();
        zel.no_shm = 1;
    }
};

// Domains by their full names (package and name): type code, length and
// flag word, all domains of a package from one file (a missing file is
// tried once), the built-in list of package "__", and a file of awkward
// content: junk before the first record, CR LF line ends, a record without
// a name, names too long or of another package, an over-long line, type
// codes out of range.
TEST_F(Dictionary, DomainsByName) {
    EXPECT_EQ(dddomain("xxcode"), nullptr); // not loaded yet
    const struct {
        const char *name;
        int type, length;
        uint32_t flags;
    } found[] = {
        {"xxcode", 6, 10, STRING},   {"xxflag", 11, 1, ENUM},
        {"xxamount", 4, 12, DOUBLE}, {"xxcount", 1, 11, LONG},
        {"___dlock", 1, 11, LONG},   {"__rcd_toid", 6, 34, STRING},
        {"__rcd_cmac", 3, 3, LONG},  {"yyalpha", 14, 7, STRING | TSS_STRING},
        {"yyzeta", 12, 0, BITSET},   {"yyQ", 0, 4, 0},
        {"yyT18", 18, 0, STRING},    {"yyT19", 0, 0, 0},
    };
    for (const auto &f : found) {
        const DomainRec *d = search_domain(f.name);
        ASSERT_NE(d, nullptr) << f.name;
        EXPECT_EQ(dddomainname_from_domain(d, nullptr), std::string(f.name));
        EXPECT_EQ(d->type * 100000 + d->length, f.type * 100000 + f.length) << f.name;
        EXPECT_EQ(zelflag_of_domain(d), f.flags) << f.name;
        EXPECT_EQ(dddomain(f.name), d);
    }
    EXPECT_EQ(search_domain("xxflag")->values, (std::vector<std::string>{"off", "on"}));
    for (const char *none :
         {"xxnone", "qqone", "qqtwo", "qqone", "x", "xx", "", "yy_name_far_too_long", "zzother"})
        EXPECT_EQ(search_domain(none), nullptr) << none;
    EXPECT_EQ(read_domain_list("x"), nullptr);
    EXPECT_EQ(dd_file_opens(), 5); // one for each package: xx, __, yy, qq and zz

    const struct {
        const char *package;
        std::vector<std::string> names;
    } lists[] = {
        {"__", {"_compnr", "_dlock", "rcd_cmac", "rcd_prst", "rcd_toid"}},
        {"yy", {"Long", "Q", "T18", "T19", "T19", "alpha", "zeta"}}, // a name given twice
        {"xx", {"amount", "code", "count", "flag", "name"}},
    };
    for (const auto &l : lists) {
        const DomainList *list = read_domain_list(l.package);
        ASSERT_NE(list, nullptr);
        std::vector<std::string> names;
        for (const DomainRec &r : list->records)
            names.push_back(r.name);
        EXPECT_EQ(names, l.names);
        EXPECT_EQ(list->count, names.size());
    }
    DomainRec beyond;
    beyond.type = 19;
    EXPECT_EQ(zelflag_of_domain(&beyond), 0u);
    EXPECT_EQ(zelflag_of_domain(nullptr), 0u);
    EXPECT_EQ(zelflag_of_column(6, 1), uint32_t(STRING | ARRAY));
    EXPECT_EQ(zelflag_of_column(19, 0), 0u);
}

TEST_F(Dictionary, LoadedSharedMemoryIsAttachedAndDetached) {
    std::vector<std::string> env{"KTE=" + home->path()};
    RunResult load = run_program(ZEL_SHMLOAD_BIN, {}, env);
    ASSERT_EQ(load.status, 0) << load.out;
    EXPECT_EQ(load.out.rfind("zel_shmload: shared memory loaded", 0), 0u) << load.out;

    zel.no_shm = 0;
    Captured c = capture([] { init_shm_dd(); });
    EXPECT_FALSE(c.stopped);
    EXPECT_TRUE(shm_attached());
    EXPECT_EQ(unlink_shm(), 0);
    EXPECT_FALSE(shm_attached());

    EXPECT_EQ(run_program(ZEL_SHMLOAD_BIN, {"-r"}, env).status, 0);
    RunResult again = run_program(ZEL_SHMLOAD_BIN, {"-r"}, env);
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.out.rfind("zel_shmload: cannot remove shared memory", 0), 0u) << again.out;
    log_set_progname("zel_info", 0);
    EXPECT_EQ(link_shm(), -1);
}

} // namespace
