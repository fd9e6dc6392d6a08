// Runtime services in-process: installation variables, file-name expansion,
// the file-definition table, stream-name explosion and the user
// initialisation; data dictionary access for domains and the shared-memory
// start-up; character set and locale selection; the buffered stream layer.
#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <sstream>
#include <string>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "al_env.h"
#include "al_log.h"
#include "al_shm.h"
#include "al_strm.h"
#include "capture.h"
#include "qpd.h"
#include "run.h"
#include "tss.h"
#include "zel.h"

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
    static std::vector<std::string> explode(const std::string &name) {
        ExplodeState st;
        char path[EXPLODE_PATH_MAX];
        std::vector<std::string> all;
        for (errno = 0; _explode_fname("test", name.c_str(), path, sizeof path, st); errno = 0)
            all.push_back(path); // as though none of them was there
        return all;
    }
    using Paths = std::vector<std::string>;
};

TEST_F(Env, VariablesFilesInOrderFirstDefinitionWins) {
    const std::string x1100(1100, 'x'), f1023(1023, 'f');
    write_file("./kte_vars", "KTE=" + home +
                                 "/\nA = one\n# C = comment\nnot a definition\n"
                                 "C = ${A}/two\nA = later\n");
    write_file(home + "/lib/kte_vars", "A=home\n  D =\t${KTE}/d \nE=${UNKNOWN}/e\r\nLONG=" + x1100 +
                                           "\nFITS=" + f1023 + "\n");
    EXPECT_STREQ(getvar("A"), "one");
    EXPECT_STREQ(getvar("C"), "one/two");
    EXPECT_EQ(get_kte(), home); // from the first file, trailing "/" removed
    EXPECT_EQ(getvar("D"), home + "/d");
    EXPECT_STREQ(getvar("E"), "${UNKNOWN}/e");
    EXPECT_EQ(getvar("LONG"), nullptr); // does not fit: logged, left undefined
    EXPECT_EQ(getvar("FITS"), f1023);   // fits with its NUL
    EXPECT_EQ(getvar("NOT_DEFINED_ANYWHERE"), nullptr);
    EXPECT_EQ(getvar(nullptr), nullptr);
    setenv("A", "env", 1);
    EXPECT_STREQ(getvar("A"), "env");
    EXPECT_EQ(logged(), "E al_1/al_gtenv get_var: no space to expand '" + x1100 + "'\n");
    // Without a home the second file is "/lib/kte_vars", not lib/kte_vars
    // of the current directory.
    unlink("kte_vars");
    write_file("./lib/kte_vars", "ZEL_HOMELESS = here\n");
    al_env_reset();
    EXPECT_STREQ(get_kte(), "");
    EXPECT_EQ(getvar("ZEL_HOMELESS"), nullptr);
}

TEST_F(Env, ExpandFname) {
    setenv("KTE", (home + "\\").c_str(), 1);
    char out[EXPLODE_PATH_MAX];
    // The expansion of a name that expands.
    auto expand = [&](const char *name) {
        EXPECT_EQ(expand_fname(name, out, sizeof out), 1) << name;
        return std::string(out);
    };
    EXPECT_EQ(expand("${KTE}/obj"), home + "/obj");
    EXPECT_EQ(expand("${KTE_LL}/lib"), home + "/lib");
    setenv("KTE_LL", "/ll", 1);
    EXPECT_EQ(expand("${KTE_LL}/lib:${DYN_PATH_ELEMS}/x"), "/ll/lib:${DYN_PATH_ELEMS}/x");
    EXPECT_EQ(expand("$KTE ${KTE_LL}!${KTE}"),
              "$KTE /ll!${KTE}"); // nothing after the remote separator
    EXPECT_EQ(expand_fname("${KTE_REM}!/x", out, sizeof out), 0);
    setenv("KTE_REM", "far", 1);
    EXPECT_EQ(expand("${KTE_REM}!/x"), "far!/x");
    EXPECT_EQ(expand_fname("/a/${NOPE}/b", out, sizeof out), 0);

    char small[8];
    std::memset(small, 'z', sizeof small);
    EXPECT_EQ(expand_fname("${KTE_LL}/library", small, 6), 0);
    EXPECT_EQ(small[6], 'z'); // nothing written past the given size
    char none = 'z';          // a buffer of no bytes is left alone
    EXPECT_EQ(expand_fname("/a", &none, 0), 0);
    EXPECT_EQ(none, 'z');

    // KTE_TMP when it names a writable directory, else $KTE/tmp (with a
    // warning when KTE_TMP is set), else /usr/tmp; decided once.
    mkdir(home.c_str(), 0755);
    mkdir((home + "/tmp").c_str(), 0755);
    write_file("./file", "");
    auto tmp = [&](const char *value) {
        al_env_reset();
        value ? setenv("KTE_TMP", value, 1) : unsetenv("KTE_TMP");
        return expand("${KTE_TMP}/f");
    };
    EXPECT_EQ(tmp(work.path().c_str()), work.path() + "/f");
    EXPECT_EQ(tmp("./file"), home + "/tmp/f"); // there, but no directory
    EXPECT_EQ(tmp(""), home + "/tmp/f");
    EXPECT_EQ(tmp(nullptr), home + "/tmp/f");
    rmdir((home + "/tmp").c_str());
    EXPECT_EQ(tmp(nullptr), "/usr/tmp/f");
    const std::string warning = "W al_1/al_fpath KTE_TMP: ", unfit = ": not accessible/writable";
    EXPECT_EQ(logged(), warning + "./file" + unfit + "; defaulting to $KTE/tmp\n" + warning + home +
                            "/tmp" + unfit + "; defaulting to /usr/tmp\n");
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

    // A candidate that just fits the caller's buffer; nothing is written behind it.
    // One byte less, and it is passed over (leaving no NUL would be worse).
    const std::string omain = kte + "/obj/oxxmai/omain";
    std::vector<char> out(omain.size() + 2, 'z');
    ExplodeState st, short_st;
    EXPECT_EQ(_explode_fname("test", "F_OBJ:oxxmain", out.data(), omain.size() + 1, st), 1);
    EXPECT_EQ(out.data(), omain);
    EXPECT_EQ(out.back(), 'z');
    capture([&] {
        EXPECT_EQ(_explode_fname("test", "F_OBJ:oxxmain", out.data(), omain.size(), short_st), 0);
    });
}

TEST_F(Env, DefinitionTableLookup) {
    install({{"pk", "# objects\n"
                    "{pk,other} oxxmod: ${KTE}/special\n"
                    "oxx, ?xxmod : ${KTE}/a:__SKIPDIR__:${KTE}/c#\n"
                    "{other} oxxmod0001: /never\n"
                    "{pk}oqz: /tight\n"
                    "oqq: ${KTE}/${DYN_PATH_ELEMS}/obj\n"
                    "o: ${KTE}/general:remhost!\n"
                    "o: /second/definition\n"
                    "menu1|007: /forms\n"
                    "menu1|9999: /last\n"
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
    EXPECT_EQ(explode("F_OBJ:oqz1"), Paths{"/tight/oqz1/o1"});
    EXPECT_EQ(explode("F_OBJ:oqq1"), Paths{}); // DYN_PATH_ELEMS unset
    setenv("DYN_PATH_ELEMS", "x:y", 1);
    EXPECT_EQ(explode("F_OBJ:oqq1"), (Paths{home + "/x/obj/oqq1/o1", home + "/y/obj/oqq1/o1"}));
    for (const char *cls : {"F_FORM", "F_MENU", "F_SRC", "F_AUD", "F_ADDF"})
        EXPECT_EQ(explode(cls + std::string(":menu1")), Paths{"/forms/menu1"}) << cls;
    EXPECT_EQ(explode("{cnum=3}F_FORM:menu1"), Paths{"/any/menu1"});
    EXPECT_EQ(explode("{cnum=9999}F_FORM:menu1"), Paths{"/last/menu1"});   // the largest number
    EXPECT_EQ(explode("{cnum=10000}F_FORM:menu1"), Paths{"/forms/menu1"}); // ignored: 7 holds

    // Another package combination reads its own table.
    EXPECT_EQ(explode("{package=other}F_OBJ:oxxmod0001"), Paths{"/other/oxxmod/omod0001"});
    // A name that no definition covers is logged, unless {nofdlog} says not to.
    Captured c = capture([] { EXPECT_EQ(explode("{nofdlog}{package=other}F_OBJ:oyy"), Paths{}); });
    EXPECT_EQ(c.err, "");
    c = capture([] { EXPECT_EQ(explode("{package=other}F_OBJ:oyy"), Paths{}); });
    const std::string none =
        "No definition in definition file for test({package=other}F_OBJ:oyy, )";
    EXPECT_EQ(c.err, "test: \n" + none + "\n");
    EXPECT_EQ(logged(), "E al_1/al_fpath explode_fname: |" + none + "\n");

    // An alternative that cannot be expanded is dropped; the next one counts.
    EXPECT_EQ(explode("{nolog}${NOPE}/x;F_OBJ:oxxmod0001;/plain"),
              (Paths{home + "/special/oxxmod/omod0001", "/plain"}));

    // A candidate that fails to open for another reason than its absence.
    const std::string under_a_file = home + "/lib/tabledef6.2/x";
    c = capture([&] { EXPECT_EQ(sopen(under_a_file.c_str(), "r"), nullptr); });
    const std::string during = "Error during sopen(" + under_a_file + ", " + under_a_file + ")";
    EXPECT_EQ(c.err, "test: \n" + during + " - error 20 (Not a directory)\n");
    EXPECT_NE(logged().find("E al_1/al_fpath explode_fname: |" + during), std::string::npos);
    c = capture([&] { // {nosyslog}: the same failure, not reported
        EXPECT_EQ(sopen(("{nosyslog}" + under_a_file).c_str(), "r"), nullptr);
        EXPECT_EQ(errno, ENOTDIR);
    });
    EXPECT_EQ(c.err, "");
}

TEST_F(Env, ReleaseAndRemoteTables) {
    const std::string both = "both tabledef6.1, and tabledef6.2 exist in this KTE (" + home +
                             "), but only one is allowed.\n";
    auto neither = [](const std::string &kte) {
        return "neither tabledef6.1, nor tabledef6.2 was existent in this KTE (" + kte + ")\n";
    };
    install({{"pk", "o: /objects\n"}});
    setenv("PACKAGE_COMB", "pk", 1);
    write_file(home + "/lib/tabledef6.1", "");
    Captured c = capture([] { explode("F_OBJ:oxxmain"); });
    EXPECT_TRUE(c.stopped && c.status == 1);
    EXPECT_EQ(c.err, "test: Configuration error: " + both);

    al_env_reset();
    unlink((home + "/lib/tabledef6.1").c_str());
    unlink((home + "/lib/tabledef6.2").c_str());
    c = capture([] { EXPECT_EQ(explode("F_OBJ:oxxmain"), Paths{"/objects/oxxmai/omain"}); });
    EXPECT_EQ(c.err, "test: Configuration error: " + neither(home)); // and 6.2 it is

    al_env_reset();
    setenv("KTE", "farhost!/inst", 1);
    EXPECT_EQ(explode("F_OBJ:oxxmain"), Paths{"farhost!{package=pk}F_OBJ:oxxmain"});
    EXPECT_EQ(explode("F_BRDD:dxx.pd"), Paths{"farhost!{package=pk}F_BRDD:dxx.pd"});
    const std::string release = "E al_1/al_fpath release: Configuration error: ";
    EXPECT_EQ(logged(),
              release + both + release + neither(home) + release + neither("farhost!/inst"));
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
    const std::string cfg = home + "/lib/user.cfg";
    write_file(cfg, "# settings\ncharset = UTF-8\nbogus line\ncharset.eve = X\ncolour = red\n");
    Captured c = capture([] { EXPECT_STREQ(user_charset(), "UTF-8"); });
    const std::string line3 = cfg + " line 3: not 'name = value'\n",
                      colour = "unknown setting 'colour' in " + cfg + "\n";
    EXPECT_EQ(c.err, "test: " + line3 + "test: " + colour);
    al_env_reset();
    write_file(cfg, "charset.bob = ISO-8859-15\ncharset = UTF-8\n");
    EXPECT_STREQ(user_charset(), "ISO-8859-15");
    al_env_reset();
    unlink(cfg.c_str());
    ASSERT_EQ(symlink(cfg.c_str(), cfg.c_str()), 0); // there, but it cannot be read
    capture([] { EXPECT_STREQ(user_charset(), "ISO-8859-1"); });
    EXPECT_EQ(logged(), "W al_1/al_env user: " + line3 + "W al_1/al_env user: " + colour +
                            "E al_1/al_env user: Can not read user settings '" + cfg + "'\n");

    EXPECT_FALSE(legacy_mode());
    setenv("KTE_LEGACY_MODE", "yes", 1);
    EXPECT_FALSE(legacy_mode()); // decided on first use
    for (const char *value : {"1", "yes", "ON", "0"}) {
        al_env_reset();
        setenv("KTE_LEGACY_MODE", value, 1);
        EXPECT_EQ(legacy_mode(), value[0] != '0') << value;
    }
    if (user) setenv("USER", saved_user.c_str(), 1);
}

TEST_F(Env, InitUserRunsOnce) {
    mode_t before = umask(0);
    umask(before);
    mkdir(home.c_str(), 0755);
    setenv("KTE_USER", "carol", 1);
    for (const char *name : {"ORVO_SCM_GRP", "USERNAME", "LOGNAME"})
        unsetenv(name);
    setenv("GETCWD", home.c_str(), 1);
    setenv("KMASK", "020", 1);
    EXPECT_EQ(init_user(), 0);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(std::string(cwd), home);
    EXPECT_EQ(umask(0), before | 026);
    EXPECT_STREQ(getenv("ORVO_SCM_GRP"), "carol");
    const std::string os_user = getpwuid(getuid())->pw_name; // the system's name, not KTE_USER
    EXPECT_STREQ(getenv("USERNAME"), os_user.c_str());
    EXPECT_STREQ(getenv("LOGNAME"), os_user.c_str());

    setenv("USE_KMASK_AS_ABSOLUTE", "1", 1);
    EXPECT_EQ(init_user(), 0); // already done: nothing changes
    EXPECT_EQ(umask(0), 0);
    al_env_reset();
    setenv("ORVO_SCM_GRP", "team", 1); // a group already set stays
    EXPECT_EQ(init_user(), 0);
    EXPECT_EQ(umask(before), 020);
    EXPECT_STREQ(getenv("ORVO_SCM_GRP"), "team");
    unsetenv("ORVO_SCM_GRP");

    al_env_reset();
    setenv("GETCWD", "/no/such/dir", 1);
    capture([] { EXPECT_EQ(init_user(), 0); });
    EXPECT_NE(logged().find("init_user: Can not change to directory '/no/such/dir'"),
              std::string::npos);
}

// A system user without an entry in the user database ends the run through
// the user-name failure of log set-up; it comes before shared memory is
// attached, so there is nothing to detach. Running as such a user needs the
// right to change the real user id.
TEST_F(Env, UnknownSystemUserEndsTheRun) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to take a user id without an entry";
    uid_t unknown = 4242;
    while (getpwuid(unknown))
        unknown++;
    setenv("KTE_USER", "carol", 1);
    init_zel_struct(); // with shared memory: `stop` would detach it
    ASSERT_EQ(setreuid(unknown, uid_t(-1)), 0);
    Captured c = capture([] { init_user(); });
    ASSERT_EQ(setreuid(0, uid_t(-1)), 0);
    EXPECT_TRUE(c.stopped && c.status == 1);
    EXPECT_EQ(c.err, "test: Getting OS user failed\n"
                     "test: Could not find Orvo user name; exiting.\n");
    EXPECT_EQ(logged(),
              "E al_1/al_env initOSUserName: Getting OS user failed\n"
              "E al_1/al_log log_set_progname: Could not find Orvo user name; exiting.\n");
}

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
                   "D\n:NAME:yyzeta\n:TYPE:12\nXNAME:yybad\n:VALU:a\n:VALU:b\n"
                   "D\n:TYPE:s\n" // no name: skipped
                   "D\r\n:NAME:yyalpha\r\n:TYPE:m\r\n:CLEN:7\r\n"
                   "D\n:NAME:yyname_max_len\n:TYPE:s\n" // the longest name: 12 bytes
                   "D\n:NAME:yyname_too_long\n:TYPE:s\n"
                   "D\n:NAME:zzother\n:TYPE:s\n" // another package: skipped
                   "D\n:NAME:yyLong\n:TYPE:l\n:OFOR:" +
                       std::string(5000, 'x') +
                       "\n:BAD\n"
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
    EXPECT_EQ(dddomain(nullptr), nullptr);
    const struct {
        const char *name;
        int type, length;
        uint32_t flags;
    } found[] = {
        {"xxcode", 6, 10, STRING},        {"xxflag", 11, 1, ENUM},
        {"xxamount", 4, 12, DOUBLE},      {"xxcount", 1, 11, LONG},
        {"___dlock", 1, 11, LONG},        {"__rcd_toid", 6, 34, STRING},
        {"__rcd_cmac", 3, 3, LONG},       {"yyalpha", 14, 7, STRING | TSS_STRING},
        {"yyzeta", 12, 0, BITSET},        {"yyQ", 0, 4, 0},
        {"yyT18", 18, 0, STRING},         {"yyT19", 0, 0, 0},
        {"yyname_max_len", 6, 0, STRING},
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
         {"xxnone", "qqone", "qqtwo", "qqone", "x", "xx", "", "yyname_too_long", "zzother"})
        EXPECT_EQ(search_domain(none), nullptr) << none;
    for (const char *package : {"x", "x_", "_x"}) // only "__" is built in
        EXPECT_EQ(read_domain_list(package), nullptr) << package;
    EXPECT_EQ(dd_file_opens(), 7); // one for each package: xx, __, yy, qq, zz, x_ and _x

    const struct {
        const char *package;
        std::vector<std::string> names;
    } lists[] = {
        {"__", {"_compnr", "_dlock", "rcd_cmac", "rcd_prst", "rcd_toid"}},
        {"yy",
         {"Long", "Q", "T18", "T19", "T19", "alpha", "name_max_len", "zeta"}}, // a name given twice
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

    // A segment without the magic (another program's under the same key) is
    // not attached. Loading again rewrites the header; a success whose line
    // cannot be written still fails.
    char *segment = static_cast<char *>(shmat(shmget(shm_key(), 0, 0), nullptr, 0));
    segment[0] = 'X';
    shmdt(segment);
    log_set_progname("zel_info", 0);
    EXPECT_EQ(link_shm(), -1);
    int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    EXPECT_RUN(Started(ZEL_SHMLOAD_BIN, {}, env, -1, full).finish(), 1, "",
               "zel_shmload: write error on standard output: No space left on device\n");
    close(full);
    EXPECT_EQ(link_shm(), 0);
    EXPECT_EQ(unlink_shm(), 0);
    EXPECT_EQ(run_program(ZEL_SHMLOAD_BIN, {"-r"}, env).status, 0);
    EXPECT_RUN(run_program(ZEL_SHMLOAD_BIN, {"-r"}, env), 1, "",
               "zel_shmload: cannot remove shared memory for installation '" + home->path() +
                   "': No such file or directory\n");
    const std::string usage = "Load or remove the shared memory of an installation\n\n"
                              "Usage: zel_shmload [-r]\n\n"
                              "   -r       : Remove the shared memory instead of loading it\n"
                              "   --help   : Show this text\n";
    EXPECT_RUN(run_program(ZEL_SHMLOAD_BIN, {"--help"}, env), 0, usage, "");
    EXPECT_RUN(run_program(ZEL_SHMLOAD_BIN, {"-rx"}, env), 1, "",
               "zel_shmload: illegal option x\n" + usage);
    EXPECT_RUN(run_program(ZEL_SHMLOAD_BIN, {"-r", "now"}, env), 1, "", usage);
    log_set_progname("zel_info", 0);
    EXPECT_EQ(link_shm(), -1);
}

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
}

// Without a callback a report goes to standard error; a fatal one ends the
// run.
TEST_F(Locale, ReportsWithoutCallback) {
    Captured c = capture([] { TSSsetlocale("BADNLS", nullptr); });
    EXPECT_TRUE(c.stopped && c.status == 1);
    EXPECT_EQ(c.err, "(BADNLS) *** Error in TSSsetlocale:\nCan't set NLS locale "
                     "'no_such_locale.xyz'\n");
    TempDir empty; // no definitions, and no locale named
    set_home(empty.path());
    c = capture([] { EXPECT_EQ(TSSsetlocale(nullptr, nullptr), -1); });
    EXPECT_EQ(c.err, "(Unknown locale) *** Error in TSSinitialize:\nCan't open " + empty.path() +
                         "/lib/tss_locale\n");
}

// Bit 64 of KTE_DEBUG traces the set-up on standard error.
TEST_F(Locale, Trace) {
    setenv("KTE_DEBUG", "0x40", 1);
    Captured c = capture([] { EXPECT_EQ(TSSsetlocale("ISO-8859-1", record), 0); });
    EXPECT_EQ(c.err, "TSSinitialize: no shared memory available\n\tCharactersets and locales will "
                     "be loaded in process memory\nCurrent locale = C\n");
}

std::string pattern(size_t n) {
    std::string s(n, 0);
    for (size_t i = 0; i < n; ++i)
        s[i] = char(i * 7 % 251);
    return s;
}

class Streams : public ::testing::Test {
  protected:
    TempDir dir;
    STREAM *open(const std::string &content, const char *mode = "r") {
        write_file(dir.path() + "/f", content);
        return sopen((dir.path() + "/f").c_str(), mode);
    }
};

// Reads larger than the buffer, seeks inside and outside the buffered bytes,
// relative to the logical position and to the end; the end-of-file and error
// flags stay until a seek.
TEST_F(Streams, ReadsSeeksAndFlags) {
    const std::string data = pattern(12000);
    STREAM *s = open(data);
    ASSERT_NE(s, nullptr);
    errno = EINTR; // left from an earlier call: each read succeeds once
    EXPECT_EQ(sgetc(s), (unsigned char)data[0]);
    EXPECT_EQ(sseek(s, 0, 2), 12000); // the end of the file, not of the bytes buffered
    EXPECT_EQ(sseek(s, 0, 0), 0);
    std::vector<char> buf(10000);
    ASSERT_EQ(sread_blok(buf.data(), buf.size(), s), 10000);
    EXPECT_EQ(std::string(buf.data(), buf.size()), data.substr(0, 10000));
    EXPECT_EQ(stream_stell(s, 0), 10000);
    for (long target : {8192L, 9000L, 11999L, 8191L, 100L}) {
        EXPECT_EQ(sseek(s, target, 0), target);
        EXPECT_EQ(sgetc(s), (unsigned char)data[size_t(target)]) << target;
        EXPECT_EQ(sseek(s, -1, 1), target); // relative to the logical position
        EXPECT_EQ(sgetc(s), (unsigned char)data[size_t(target)]) << target;
    }
    EXPECT_EQ(sseek(s, -2, 2), 11998);
    EXPECT_EQ(sread_blok(buf.data(), 100, s), 2);
    EXPECT_TRUE(seof(s) && !serror(s));
    EXPECT_EQ(sgetc(s), -1);
    EXPECT_EQ(sgets(buf.data(), 100, s), nullptr);
    EXPECT_TRUE(seof(s)); // reading does not clear it
    EXPECT_EQ(sseek(s, 0, 2), 12000);
    EXPECT_FALSE(seof(s));
    EXPECT_EQ(sseek(s, 3, 0), 3);
    EXPECT_EQ(sgetc(s), (unsigned char)data[3]);

    EXPECT_EQ(sseek(s, 0, 7), -1);
    EXPECT_TRUE(serror(s));
    EXPECT_EQ(sgets(buf.data(), 100, s), nullptr);
    errno = 0;
    EXPECT_EQ(swrite_blok("x", 1, s), -1); // not open for writing
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(sseek(s, 0, 0), 0);
    EXPECT_FALSE(serror(s));
    EXPECT_EQ(sgetc(s), (unsigned char)data[0]);
    EXPECT_EQ(sseek(s, -5, 0), -1); // a bad target fails and sets the error flag
    EXPECT_TRUE(serror(s));
    EXPECT_EQ(sclose(s), 0);
}

// A CR directly before the LF belongs to the line end, any other CR to the
// text. A short buffer ends a line early; a CR that fills it leaves the
// next byte for the next call, and a CR LF at that place still ends the
// line. sgetline drops what goes beyond its maximum.
TEST_F(Streams, LineEnds) {
    const struct {
        std::string text;
        int size; // of the sgets buffer
        std::vector<std::string> lines;
    } cases[] = {
        {"a\r\nb\rc\n\rx\n\nab\r\nab\rcd\nlast\r",
         64,
         {"a", "b\rc", "\rx", "", "ab", "ab\rcd", "last\r"}},
        {"ab\r\nab\rcd\nabcdefg\nz", 4, {"ab", "ab\r", "cd", "abc", "def", "g", "z"}},
        {std::string("a\0b\n\0x\nc\r\0d\n", 12), 64, {"a", "", "c\r"}}, // a NUL byte is no end
    };
    for (const auto &c : cases) {
        STREAM *s = open(c.text);
        char buf[64];
        std::vector<std::string> lines;
        while (sgets(buf, c.size, s))
            lines.push_back(buf);
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(sseek(s, 0, 0), 0); // back to the start of a file shorter than the buffer
        EXPECT_EQ(sgets(buf, c.size, s), c.lines[0]);
        EXPECT_EQ(sgets(buf, 0, s), nullptr); // a buffer without room takes no line
        sclose(s);
    }
    STREAM *s = open(std::string("a\r\nb\rc\n\rx\n\0\nlonger line\nlast\r", 29));
    std::vector<std::string> lines;
    for (std::string line; sgetline(s, line, 6);)
        lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b\rc", "\rx", std::string(1, '\0'), "longer",
                                               "last\r"}));
    sclose(s);
}

// Writes larger than the buffer, read back through the same stream; a write
// after reading lands at the logical position. Data still buffered at close
// reaches the file; appends go to its end.
TEST_F(Streams, WritesAreBufferedAndReadBack) {
    STREAM *s = open("", "w+");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(sputc('a', s), 'a');
    EXPECT_EQ(stream_stell(s, 0), 1); // at offset 0, one byte buffered
    EXPECT_EQ(sseek(s, 0, 0), 0);
    const std::string data = pattern(10000);
    EXPECT_EQ(swrite_blok(data.data(), data.size(), s), 10000);
    EXPECT_EQ(stream_stell(s, 0), 10000);
    EXPECT_EQ(sputs("tail", s), 4);
    EXPECT_EQ(sputc('!', s), '!');
    EXPECT_EQ(sseek(s, 0, 0), 0); // flushes
    std::string back(10005, 0);
    EXPECT_EQ(sread_blok(back.data(), back.size(), s), 10005);
    EXPECT_EQ(back, data + "tail!");
    EXPECT_EQ(sseek(s, 2, 0), 2);
    EXPECT_EQ(swrite_blok("XY", 2, s), 2);
    EXPECT_EQ(sgetc(s), static_cast<unsigned char>(data[4])); // a read flushes the write first
    EXPECT_EQ(read_file(dir.path() + "/f").size(), 10005u);
    EXPECT_EQ(sclose(s), 0);
    EXPECT_EQ(read_file(dir.path() + "/f").substr(0, 6),
              data.substr(0, 2) + "XY" + data.substr(4, 2));

    s = sopen((dir.path() + "/f").c_str(), "ab");
    sputs("more", s);
    EXPECT_EQ(sclose(s), 0);
    EXPECT_EQ(read_file(dir.path() + "/f").substr(10005), "more");
}

TEST_F(Streams, OpenModesAndClosing) {
    int saved = dup(0);
    close(0); // the next descriptor is 0, as good as any
    STREAM *s = open("data", "rt");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(sfileno(s), 0);
    for (const char *bad : {"", "q", "rw", "r+b", "wbt", "a++", "x"}) // x: the file exists
        EXPECT_EQ(sopen((dir.path() + "/f").c_str(), bad), nullptr) << bad;
    EXPECT_TRUE(sflags(s) & STRM_TEXT);
    EXPECT_EQ(sflush(s), -1); // not open for writing
    EXPECT_TRUE(smem_data(nullptr).empty());
    EXPECT_EQ(sclose(s), 0);
    EXPECT_EQ(sclose(s), -1);
    EXPECT_EQ(sclose(nullptr), -1);
    dup2(saved, 0);
    close(saved);

    s = sopen((dir.path() + "/f").c_str(), "w");
    sputs("new", s);
    EXPECT_EQ(read_file(dir.path() + "/f"), "");
    EXPECT_EQ(sclose(s), 0);
    EXPECT_EQ(read_file(dir.path() + "/f"), "new");
}

// Alternatives are tried in turn (a remote one is not served here, a
// missing directory is passed over for writing too); the last name tried is
// kept.
TEST_F(Streams, AlternativesAndTheLastExplodedName) {
    write_file(dir.path() + "/second", "2");
    std::string name = "{nolog}" + dir.path() + "/missing;remote!/x;" + dir.path() + "/second";
    STREAM *s = sopen(name.c_str(), "r");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(get_last_exploded_fname_ptr(), dir.path() + "/second");
    EXPECT_EQ(sgetc(s), '2');
    sclose(s);
    s = sopen(("{nolog}" + dir.path() + "/no/dir;" + dir.path() + "/out").c_str(), "w");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(get_last_exploded_fname_ptr(), dir.path() + "/out");
    sclose(s);

    std::string none = "{nolog}" + dir.path() + "/missing";
    EXPECT_EQ(sopen(none.c_str(), "r"), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(get_last_exploded_fname_ptr(), none);
}

// Memory streams seek from the start, the position and the end; pipes
// cannot seek but write. Closing all but the oldest streams.
TEST(OtherStreams, PipesAndClosingTheNewest) {
    size_t before = sopen_count();
    STREAM *w = smemopen("abc", 3, "wb"); // writing starts from nothing
    EXPECT_TRUE(smem_data(w).empty());
    sputs("xy", w);
    EXPECT_EQ(stream_stell(w, 0), 2);
    STREAM *r = smemopen("abc", 3, "r");
    EXPECT_EQ(sseek(r, 1, 0), 1);
    EXPECT_EQ(sseek(r, -3, SEEK_CUR), -1); // before the start
    EXPECT_EQ(sgetc(r), 'b');
    EXPECT_EQ(sseek(r, -1, SEEK_END), 2);
    EXPECT_EQ(sseek(r, -1, SEEK_CUR), 1);
    EXPECT_EQ(sgetc(r), 'b');
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0); // a write repeated would fill it and fail
    STREAM *p = sdopen(fds[1], "w");
    EXPECT_EQ(sseek(p, 0, 0), -1);
    EXPECT_EQ(stream_stell(p, 0), -1);
    sputs("through", p);
    EXPECT_EQ(sopen_count(), before + 3);
    errno = EINTR; // left from an earlier call: the write succeeds once
    sclose_newest(before + 1);
    EXPECT_EQ(sopen_count(), before + 1);
    char buf[16] = {};
    EXPECT_EQ(read(fds[0], buf, sizeof buf), 7);
    EXPECT_STREQ(buf, "through");
    close(fds[0]);
    EXPECT_EQ(sclose(w), 0);
    EXPECT_EQ(sclose(r), -1);               // closed as one of the newest
    STREAM *full = sopen("/dev/full", "w"); // a write that fails is not tried again
    sputs("x", full);
    EXPECT_EQ(capture([&] { EXPECT_EQ(sflush(full), -1); }).stopped, false);
    sclose(full);
    STREAM *file = sdopen(open("/dev/null", O_RDONLY), "r"); // at offset 0, and it seeks
    EXPECT_EQ(sseek(file, 0, SEEK_END), 0);
    sclose(file);
}

} // namespace
