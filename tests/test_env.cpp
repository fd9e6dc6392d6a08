// Installation variables, file-name expansion, the file-definition table,
// stream-name explosion and the user initialisation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "al_env.h"
#include "al_log.h"
#include "capture.h"
#include "run.h"
#include "zel_error.h"

namespace {

void unset_installation_variables() {
    std::istringstream names("KTE KTE_LL KTE_TMP KTE_REM PACKAGE_COMB KTE_COMPNR DYN_PATH_ELEMS "
                             "KTE_USER KTE_LEGACY_MODE A C D E LONG GETCWD KMASK "
                             "USE_KMASK_AS_ABSOLUTE");
    for (std::string name; names >> name;)
        unsetenv(name.c_str());
}

// Every test runs in an empty directory with none of the installation
// variables set and nothing remembered from an earlier test.
class Env : public ::testing::Test {
  protected:
    TempDir work;
    std::string home;
    char saved_cwd[4096] = {};

    void SetUp() override {
        ASSERT_NE(getcwd(saved_cwd, sizeof saved_cwd), nullptr);
        ASSERT_EQ(chdir(work.path().c_str()), 0);
        unset_installation_variables();
        home = work.path() + "/kte";
        // What the lookups log goes to standard error and to work/log.test.
        setenv("KTE_USER", "tester", 1);
        setenv("KTE_LOG", work.path().c_str(), 1);
        log_set_progname("test", LOG_STDERR | LOG_FILE);
        unsetenv("KTE_LOG");
        unsetenv("KTE_USER");
        al_env_reset();
    }
    std::string logged() const { return log_digest(work.path() + "/log.test"); }
    void TearDown() override {
        ASSERT_EQ(chdir(saved_cwd), 0);
        unset_installation_variables();
        al_env_reset();
    }
    // An installation of release 6.2 with the given definition tables.
    void install(const std::vector<std::pair<std::string, std::string>> &tables) {
        write_file(home + "/lib/tabledef6.2", "");
        for (const auto &[comb, text] : tables)
            write_file(home + "/lib/fd6.2." + comb, text);
        setenv("KTE", home.c_str(), 1);
    }
    // Every candidate of a stream name.
    static std::vector<std::string> explode(const std::string &name, ExplodeState *out = nullptr) {
        ExplodeState st;
        char path[EXPLODE_PATH_MAX];
        std::vector<std::string> all;
        for (errno = 0; _explode_fname("test", name.c_str(), path, sizeof path, st); errno = 0)
            all.push_back(path); // as though none of them was there
        if (out) *out = st;
        return all;
    }
    using Paths = std::vector<std::string>;
};

TEST_F(Env, VariablesFilesInOrderFirstDefinitionWins) {
    write_file(work.path() + "/kte_vars", "A = one\n# C = comment\nnot a definition\n"
                                          "C = ${A}/two\nA = later\nKTE=" +
                                              home + "/\n");
    write_file(home + "/lib/kte_vars", "A=home\n  D =\t${KTE}/d \nE=${UNKNOWN}/e\r\n"
                                       "LONG=" +
                                           std::string(1100, 'x') + "\n");
    EXPECT_STREQ(getvar("A"), "one");
    EXPECT_STREQ(getvar("C"), "one/two");
    EXPECT_EQ(get_kte(), home); // from the first file, trailing "/" removed
    EXPECT_EQ(getvar("D"), home + "/d");
    EXPECT_STREQ(getvar("E"), "${UNKNOWN}/e");
    EXPECT_EQ(getvar("LONG"), nullptr); // does not fit: logged, left undefined
    EXPECT_EQ(getvar("NOT_DEFINED_ANYWHERE"), nullptr);
    setenv("A", "env", 1);
    EXPECT_STREQ(getvar("A"), "env");
    EXPECT_EQ(logged(),
              "E al_1/al_gtenv get_var: no space to expand '" + std::string(1100, 'x') + "'\n");
}

TEST_F(Env, ExpandFname) {
    setenv("KTE", (home + "\\").c_str(), 1);
    char out[EXPLODE_PATH_MAX];
    EXPECT_EQ(expand_fname("${KTE}/obj", out, sizeof out), 1);
    EXPECT_EQ(out, home + "/obj");
    EXPECT_EQ(expand_fname("${KTE_LL}/lib", out, sizeof out), 1);
    EXPECT_EQ(out, home + "/lib");
    setenv("KTE_LL", "/ll", 1);
    EXPECT_EQ(expand_fname("${KTE_LL}/lib:${DYN_PATH_ELEMS}", out, sizeof out), 1);
    EXPECT_STREQ(out, "/ll/lib:${DYN_PATH_ELEMS}");
    EXPECT_EQ(expand_fname("$KTE ${KTE_LL}!${KTE}", out, sizeof out), 1);
    EXPECT_STREQ(out, "$KTE /ll!${KTE}"); // nothing after the remote separator
    EXPECT_EQ(expand_fname("${KTE_REM}!/x", out, sizeof out), 0);
    setenv("KTE_REM", "far", 1);
    EXPECT_EQ(expand_fname("${KTE_REM}!/x", out, sizeof out), 1);
    EXPECT_STREQ(out, "far!/x");
    EXPECT_EQ(expand_fname("/a/${NOPE}/b", out, sizeof out), 0);

    char small[8];
    std::memset(small, 'z', sizeof small);
    EXPECT_EQ(expand_fname("${KTE_LL}/library", small, 6), 0);
    EXPECT_EQ(small[6], 'z'); // nothing written past the given size

    // KTE_TMP falls back to $KTE/tmp when it is not a writable directory.
    mkdir(home.c_str(), 0755);
    mkdir((home + "/tmp").c_str(), 0755);
    setenv("KTE_TMP", work.path().c_str(), 1);
    EXPECT_EQ(expand_fname("${KTE_TMP}/f", out, sizeof out), 1);
    EXPECT_EQ(out, work.path() + "/f");
    al_env_reset(); // KTE_TMP is resolved once
    setenv("KTE_TMP", (work.path() + "/absent").c_str(), 1);
    EXPECT_EQ(expand_fname("${KTE_TMP}/f", out, sizeof out), 1);
    EXPECT_EQ(out, home + "/tmp/f");
    EXPECT_EQ(logged(), "W al_1/al_fpath KTE_TMP: " + work.path() +
                            "/absent: not accessible/writable; defaulting to $KTE/tmp\n");
}

TEST_F(Env, SampleInstallation) {
    setenv("KTE", SOURCE_DIR "/sample/kte", 1);
    const std::string kte = SOURCE_DIR "/sample/kte";
    EXPECT_EQ(explode("{nofdlog}F_OBJ:oxxmain"), Paths{kte + "/obj/oxxmai/omain"});
    EXPECT_EQ(explode("{nofdlog}F_BRDD:dxx.pd"), Paths{kte + "/dd/dxx.pd/dxx.pd"});
    EXPECT_EQ(explode("F_OBJ:rxxmain1"), Paths{kte + "/obj/oxxmai/omain"});
    EXPECT_EQ(explode("F_OBJ:rxxmain.dbg"), Paths{kte + "/obj/oxxmai/omain.dbg"});
    EXPECT_EQ(explode("F_OBJ:./oxxmain"), Paths{"./oxxmain"}); // a path is taken as written
    EXPECT_EQ(explode("F_OBJ:xmain"), Paths{"xmain"});         // not an object name
    EXPECT_EQ(explode("F_BRDD:d__.pd"), Paths{kte + "/lib/d__.pd/d__.pd"}); // built-in line
}

TEST_F(Env, DefinitionTableLookup) {
    install({{"pk", "# objects\n"
                    "{pk,other} oxxmod: ${KTE}/special\n"
                    "oxx, ?xxmod : ${KTE}/a:__SKIPDIR__:${KTE}/c#\n"
                    "{other} oxxmod0001: /never\n"
                    "oqq: ${KTE}/${DYN_PATH_ELEMS}/obj\n"
                    "o: ${KTE}/general:remhost!\n"
                    "o: /second/definition\n"
                    "menu1|007: /forms\n"
                    "*|*: /any\n"},
             {"other", "oxx: /other\n"}});
    setenv("PACKAGE_COMB", "pk", 1);
    setenv("KTE_COMPNR", "7", 1);
    EXPECT_EQ(explode("F_OBJ:oxxmod0001"), Paths{home + "/special/oxxmod/omod0001"});
    EXPECT_EQ(explode("F_OBJ:oxxabc"),
              (Paths{home + "/a/oxxabc/oabc", home + "/c007/oxxabc/oabc"}));
    EXPECT_EQ(explode("F_BRDD:dxxmod"), Paths{home + "/a/dxxmod/dxxmod"}); // "?xxmod", first dir
    EXPECT_EQ(explode("F_OBJ:oz"), (Paths{home + "/general/oz/o", "remhost!{package=pk}F_OBJ:oz"}));
    // A logical name on a remote host is the remote's to resolve, host and all.
    EXPECT_EQ(explode("${KTE}!F_OBJ:oz"), Paths{"${KTE}!F_OBJ:oz"});
    EXPECT_EQ(explode("F_OBJ:oqq1"), Paths{}); // DYN_PATH_ELEMS unset
    setenv("DYN_PATH_ELEMS", "x:y", 1);
    EXPECT_EQ(explode("F_OBJ:oqq1"), (Paths{home + "/x/obj/oqq1/o1", home + "/y/obj/oqq1/o1"}));
    EXPECT_EQ(explode("F_FORM:menu1"), Paths{"/forms/menu1"});
    EXPECT_EQ(explode("{cnum=3}F_FORM:menu1"), Paths{"/any/menu1"});

    // Another package combination reads its own table.
    EXPECT_EQ(explode("{package=other}F_OBJ:oxxmod0001"), Paths{"/other/oxxmod/omod0001"});
    // A name that no definition covers is logged, unless {nofdlog} says not to.
    Captured c = capture([] { EXPECT_EQ(explode("{nofdlog}{package=other}F_OBJ:oyy"), Paths{}); });
    EXPECT_EQ(c.err, "");
    c = capture([] { EXPECT_EQ(explode("{package=other}F_OBJ:oyy"), Paths{}); });
    EXPECT_EQ(c.err,
              "test: \nNo definition in definition file for test({package=other}F_OBJ:oyy, )\n");
    EXPECT_EQ(logged(), "E al_1/al_fpath explode_fname: |No definition in definition file for "
                        "test({package=other}F_OBJ:oyy, )\n");

    // An alternative that cannot be expanded is dropped; the next one counts.
    EXPECT_EQ(explode("{nolog}${NOPE}/x;F_OBJ:oxxmod0001;/plain"),
              (Paths{home + "/special/oxxmod/omod0001", "/plain"}));
}

TEST_F(Env, ReleaseAndRemoteTables) {
    install({{"pk", "o: /objects\n"}});
    setenv("PACKAGE_COMB", "pk", 1);
    write_file(home + "/lib/tabledef6.1", "");
    Captured c = capture([] { explode("F_OBJ:oxxmain"); });
    EXPECT_TRUE(c.stopped && c.status == 1);
    EXPECT_EQ(c.err,
              "test: Configuration error: both tabledef6.1, and tabledef6.2 exist in this "
              "KTE (" +
                  home +
                  "), but only one is allowed.\ntest: unlink_shm: Shared memory not attached\n");

    al_env_reset();
    unlink((home + "/lib/tabledef6.1").c_str());
    unlink((home + "/lib/tabledef6.2").c_str());
    c = capture([] { EXPECT_EQ(explode("F_OBJ:oxxmain"), Paths{"/objects/oxxmai/omain"}); });
    EXPECT_EQ(c.err, "test: Configuration error: neither tabledef6.1, nor tabledef6.2 was "
                     "existent in this KTE (" +
                         home + ")\n"); // and 6.2 it is

    al_env_reset();
    setenv("KTE", "farhost!/inst", 1);
    EXPECT_EQ(explode("F_OBJ:oxxmain"), Paths{"farhost!{package=pk}F_OBJ:oxxmain"});
    EXPECT_EQ(explode("F_BRDD:dxx.pd"), Paths{"farhost!{package=pk}F_BRDD:dxx.pd"});
    const std::string release = "E al_1/al_fpath release: Configuration error: ";
    EXPECT_EQ(logged(), release + "both tabledef6.1, and tabledef6.2 exist in this KTE (" + home +
                            "), but only one is allowed.\nE al_1/al_shm unlink_shm: unlink_shm: "
                            "Shared memory not attached\n" +
                            release +
                            "neither tabledef6.1, nor tabledef6.2 was existent in this KTE (" +
                            home + ")\n" + release +
                            "neither tabledef6.1, nor tabledef6.2 was existent in this KTE "
                            "(farhost!/inst)\n");
}

TEST_F(Env, UserNameCharsetAndLegacyMode) {
    const char *user = getenv("USER");
    std::string saved_user = user ? user : "";
    unsetenv("USER");
    EXPECT_EQ(user_name(), nullptr);
    setenv("USER", "unix", 1);
    EXPECT_STREQ(user_name(), "unix");
    setenv("KTE_USER", "bob", 1);
    EXPECT_STREQ(user_name(), "bob");

    setenv("KTE", home.c_str(), 1);
    EXPECT_STREQ(user_charset(), "ISO-8859-1");
    al_env_reset();
    // Settings of other users pass; anything else is reported.
    write_file(home + "/lib/user.cfg",
               "# settings\ncharset = UTF-8\nbogus line\ncharset.eve = X\ncolour = red\n");
    Captured c = capture([] { EXPECT_STREQ(user_charset(), "UTF-8"); });
    EXPECT_EQ(c.err, "test: " + home +
                         "/lib/user.cfg line 3: not 'name = value'\ntest: unknown "
                         "setting 'colour' in " +
                         home + "/lib/user.cfg\n");
    al_env_reset();
    write_file(home + "/lib/user.cfg", "charset.bob = ISO-8859-15\ncharset = UTF-8\n");
    EXPECT_STREQ(user_charset(), "ISO-8859-15");
    EXPECT_EQ(logged(), "W al_1/al_env user: " + home +
                            "/lib/user.cfg line 3: not 'name = value'\nW al_1/al_env user: unknown "
                            "setting 'colour' in " +
                            home + "/lib/user.cfg\n");

    EXPECT_FALSE(legacy_mode());
    setenv("KTE_LEGACY_MODE", "yes", 1);
    EXPECT_FALSE(legacy_mode()); // decided on first use
    for (const char *on : {"1", "yes", "ON"}) {
        al_env_reset();
        setenv("KTE_LEGACY_MODE", on, 1);
        EXPECT_TRUE(legacy_mode()) << on;
    }
    al_env_reset();
    setenv("KTE_LEGACY_MODE", "0", 1);
    EXPECT_FALSE(legacy_mode());
    if (user) setenv("USER", saved_user.c_str(), 1);
}

TEST_F(Env, InitUserRunsOnce) {
    mode_t before = umask(0);
    umask(before);
    mkdir(home.c_str(), 0755);
    setenv("KTE_USER", "carol", 1);
    unsetenv("ORVO_SCM_GRP");
    setenv("GETCWD", home.c_str(), 1);
    setenv("KMASK", "020", 1);
    EXPECT_EQ(init_user(), 0);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(std::string(cwd), home);
    EXPECT_EQ(umask(0), before | 026);
    EXPECT_STREQ(getenv("ORVO_SCM_GRP"), "carol");
    EXPECT_NE(getenv("LOGNAME"), nullptr);

    setenv("USE_KMASK_AS_ABSOLUTE", "1", 1);
    EXPECT_EQ(init_user(), 0); // already done: nothing changes
    EXPECT_EQ(umask(0), 0);
    al_env_reset();
    EXPECT_EQ(init_user(), 0);
    EXPECT_EQ(umask(before), 020);
    unsetenv("ORVO_SCM_GRP");
}

} // namespace
