// Data dictionary access for domains, and the shared-memory start-up.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
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
                       "D\n:NAME:yyQ\n:TYPE:?\n:DIGV:4");
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

std::string full_name(const DomainRec *d) {
    return dddomainname_from_domain(d, nullptr);
}

TEST_F(Dictionary, DomainsOfAPackageCostOneOpen) {
    EXPECT_EQ(dddomain("xxcode"), nullptr); // not loaded yet
    const DomainRec *code = search_domain("xxcode");
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(full_name(code), "xxcode");
    EXPECT_EQ(code->type, 6);
    EXPECT_EQ(code->length, 10);
    EXPECT_EQ(zelflag_of_domain(code), uint32_t(STRING));

    const DomainRec *flag = search_domain("xxflag");
    ASSERT_NE(flag, nullptr);
    EXPECT_EQ(zelflag_of_domain(flag), uint32_t(ENUM));
    EXPECT_EQ(flag->values, (std::vector<std::string>{"off", "on"}));
    ASSERT_NE(search_domain("xxamount"), nullptr);
    EXPECT_EQ(zelflag_of_domain(search_domain("xxamount")), uint32_t(DOUBLE));
    ASSERT_NE(search_domain("xxname"), nullptr);
    EXPECT_EQ(search_domain("xxnone"), nullptr);
    EXPECT_EQ(dddomain("xxname"), search_domain("xxname"));
    EXPECT_EQ(dd_file_opens(), 1);

    const DomainList *list = read_domain_list("xx");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count, list->records.size());
    for (size_t i = 1; i < list->records.size(); i++)
        EXPECT_LT(strcmp(list->records[i - 1].name, list->records[i].name), 0);
}

TEST_F(Dictionary, MissingFileIsTriedOncePerRun) {
    EXPECT_EQ(search_domain("qqone"), nullptr);
    EXPECT_EQ(search_domain("qqtwo"), nullptr);
    EXPECT_EQ(search_domain("qqone"), nullptr);
    EXPECT_EQ(dd_file_opens(), 1);
    EXPECT_EQ(search_domain("x"), nullptr);
    EXPECT_EQ(search_domain("xx"), nullptr);
    EXPECT_EQ(search_domain(""), nullptr);
    EXPECT_EQ(read_domain_list("x"), nullptr);
    EXPECT_EQ(dd_file_opens(), 1);
}

TEST_F(Dictionary, BuiltInListOfPackageUnderscore) {
    const DomainList *list = read_domain_list("__");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, 5);
    const char *sorted[] = {"_compnr", "_dlock", "rcd_cmac", "rcd_prst", "rcd_toid"};
    for (int i = 0; i < 5; i++)
        EXPECT_STREQ(list->records[i].name, sorted[i]);
    const DomainRec *dlock = search_domain("___dlock");
    ASSERT_NE(dlock, nullptr);
    EXPECT_EQ(full_name(dlock), "___dlock");
    EXPECT_EQ(dlock->type, 1);
    EXPECT_EQ(dlock->length, 11);
    EXPECT_EQ(search_domain("__rcd_toid")->length, 34);
    EXPECT_EQ(search_domain("__rcd_cmac")->length, 3);
    EXPECT_EQ(dd_file_opens(), 1);
}

TEST_F(Dictionary, AwkwardFileContent) {
    const DomainList *list = read_domain_list("yy");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, 4);
    const char *sorted[] = {"Long", "Q", "alpha", "zeta"};
    for (int i = 0; i < 4; i++)
        EXPECT_STREQ(list->records[i].name, sorted[i]);
    const DomainRec *alpha = search_domain("yyalpha");
    ASSERT_NE(alpha, nullptr);
    EXPECT_EQ(alpha->type, 14);
    EXPECT_EQ(alpha->length, 7);
    EXPECT_EQ(zelflag_of_domain(alpha), uint32_t(STRING | TSS_STRING));
    EXPECT_EQ(zelflag_of_domain(search_domain("yyzeta")), uint32_t(BITSET));
    EXPECT_EQ(search_domain("yyQ")->type, 0);
    EXPECT_EQ(zelflag_of_domain(search_domain("yyQ")), 0u);
    EXPECT_EQ(search_domain("yy_name_far_too_long"), nullptr);
}

TEST_F(Dictionary, NoSharedMemoryWithOptionM) {
    Captured c = capture([] { init_shm_dd(); });
    EXPECT_FALSE(c.stopped);
    EXPECT_EQ(c.err, "");
    EXPECT_FALSE(shm_attached());
}

TEST_F(Dictionary, MissingSharedMemoryIsFatal) {
    zel.no_shm = 0;
    log_set_progname("zel_info", LOG_STDERR);
    Captured c = capture([] { init_shm_dd(); });
    EXPECT_TRUE(c.stopped);
    EXPECT_EQ(c.status, 1);
    EXPECT_EQ(c.err.rfind("zel_info: Cannot link to shared memory (errno ", 0), 0u) << c.err;
    EXPECT_NE(c.err.find(". Check whether shared memory is loaded and accessible. Note that "
                         "mixing 32-bit and 64-bit binaries is not possible.\n"
                         ": Fatal Error: Shared Memory not available.\n\n"
                         "  1 ERROR     REPORTED.\n\n"
                         "zel_info: unlink_shm: Shared memory not attached\n"),
              std::string::npos)
        << c.err;
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
