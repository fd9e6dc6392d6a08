// The command line: option clusters, the flag test mask, the object name,
// redirections, -set, -V and the usage text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "objrun.h"
#include "zel.h"
#include "zel_info.h"
#include "zel_ldd.h"
#include "zel_version.h"

namespace {

const std::vector<std::string> sample_env = objrun::sample_env();

std::string usage_text() {
    return R"(Show Object Information

Usage: zel_info [-aideushwcVm] [-f[flags]] object

   -a       : Show all object information
   -i       : Show assembler
   -d       : Show used DLL's
   -e       : Show exported DLL function prototypes
   -u       : Show usage of DLL (description)
   -s       : Show symboltable
   -h       : Show object header
   -w       : Show object idents (what)
   -c       : Check checksum
   -f       : Show all flags
   -f<flg>  : Test flags 1=NOTRANSACTIONS  2=DEBUG
                         4=PROFILE         8=DLL
   -qo <out>: Redirect output to file out
   -qe <err>: Redirect error output to file err
   -set <env=val>:
            set environment variable
   -V       : Show version
   -m       : run without shared memory
)";
}

// Runs the scan in-process on a name that no installation has, so the run
// ends at the object's open, and returns the settings it left in `zel`.
struct Scanned {
    uint32_t info, mask;
    std::string objname;
};
Scanned scan(std::vector<std::string> args) {
    setenv("KTE", SAMPLE_KTE, 1);
    setenv("USER", "tester", 1);
    args.insert(args.begin(), "zel_info");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStderr();
    zel_info_main(int(args.size()), argv.data());
    testing::internal::GetCapturedStderr();
    return {zel.info, zel.flagmask, zel.objname};
}

TEST(CommandLine, ClustersAndFlagMask) {
    EXPECT_EQ(scan({"-m", "onosuch"}).info, 0x3FFu);
    EXPECT_EQ(scan({"-ihs", "-m", "onosuch"}).info, 0x019u);
    EXPECT_EQ(scan({"-mcd", "onosuch"}).info, 0x042u);
    EXPECT_EQ(scan({"-ew", "-u", "-m", "onosuch"}).info, 0x224u);

    Scanned s = scan({"-f3i", "-m", "onosuch"});
    EXPECT_EQ(s.info, 0x101u);
    EXPECT_EQ(s.mask, 3u);
    s = scan({"-fi", "-m", "onosuch"});
    EXPECT_EQ(s.info, 0x101u);
    EXPECT_EQ(s.mask, 0u);
    s = scan({"-f12", "-f", "-m", "onosuch"}); // a later -f without digits clears the mask
    EXPECT_EQ(s.mask, 0u);
}

TEST(CommandLine, ObjectNames) {
    EXPECT_EQ(scan({"-m", "ofirst", "osecond"}).objname, "osecond");
    EXPECT_EQ(scan({"ofirst", "-m", "-"}).objname, "ofirst");
    std::string longname(1500, 'o');
    EXPECT_EQ(scan({"-m", longname}).objname, std::string(1023, 'o'));
}

TEST(CommandLine, SetPutsVariableBeforeStartUp) {
    unsetenv("ZEL_TEST_SETTING");
    scan({"-set", "ZEL_TEST_SETTING=42", "-m", "onosuch"});
    ASSERT_NE(getenv("ZEL_TEST_SETTING"), nullptr);
    EXPECT_STREQ(getenv("ZEL_TEST_SETTING"), "42");
    // The letters after "set" in the same argument are scanned too.
    EXPECT_EQ(scan({"-seti", "ZEL_TEST_SETTING=1", "-m", "onosuch"}).info, 0x001u);

    // -set KTE in a run from elsewhere without KTE in its environment: the
    // variables, definitions and dictionary of that installation are used.
    TempDir elsewhere;
    RunResult set =
        run_zel_info({"-set", "KTE=" SAMPLE_KTE, "-m", "oxxmain"},
                     {"KTE", "KTE_LOG=" + elsewhere.path(), "USER=tester"}, elsewhere.path());
    RunResult env = run_zel_info({"-m", "oxxmain"}, sample_env, elsewhere.path());
    EXPECT_EQ(set.status, 0);
    EXPECT_EQ(set.err, "");
    EXPECT_EQ(set.out, env.out);
    EXPECT_NE(set.out.find("\nPathname\t= " SAMPLE_KTE "/obj/oxxmai/omain\n"), std::string::npos);
}

TEST(CommandLine, UsageAndIllegalOptions) {
    RunResult r = run_zel_info({"-m"}, sample_env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, usage_text());
    EXPECT_EQ(r.out, "");

    r = run_zel_info({"-ix", "oxxmain"}, sample_env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zel_info: illegal option x\n" + usage_text());

    r = run_zel_info({"-q", "oxxmain"}, sample_env);
    EXPECT_EQ(r.err, "zel_info: illegal option -q\n" + usage_text());
    r = run_zel_info({"-qz", "oxxmain"}, sample_env);
    EXPECT_EQ(r.err, "zel_info: illegal option -qz\n" + usage_text());
    EXPECT_EQ(r.status, 1);

    r = run_zel_info({"-set", "NOASSIGNMENT", "oxxmain"}, sample_env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zel_info: -set expect 'envvar=value'\n" + usage_text());

    // Without a 4GL user name (an empty one counts as none) the run ends at
    // log set-up.
    r = run_zel_info({"-m", "oxxmain"}, {"KTE=" SAMPLE_KTE, "KTE_USER=", "USER"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zel_info: Could not find Orvo user name; exiting.\n");
}

TEST(CommandLine, Redirections) {
    TempDir tmp;
    RunResult r = run_zel_info({"-qo", "/nonexistent/dir/out", "oxxmain"}, sample_env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Cannot redirect output: /nonexistent/dir/out open failed errno 2\n");

    // Messages after a -qe go to the new standard error, in the same argument
    // form (-qefile) or with the name as the next argument.
    std::string err_file = tmp.path() + "/err";
    r = run_zel_info({"-qe" + err_file, "-y"}, sample_env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(err_file), "zel_info: illegal option y\n" + usage_text());

    std::string out_file = tmp.path() + "/out";
    r = run_zel_info({"-V", "-qo", out_file}, sample_env);
    EXPECT_EQ(r.status, 0);

    // -qo as the last argument redirects nothing and ends the scan.
    r = run_zel_info({"-m", "-qo"}, sample_env);
    EXPECT_EQ(r.err, usage_text());
}

// ORVO_DISPLAY_ALLOC_SYMBOLS=1 lists the allocator's symbol table (its end
// mark alone) on standard error at start-up; other values do not.
TEST(CommandLine, AllocatorSymbolsOnRequest) {
    for (const char *value : {"1", "2", "0"}) {
        std::vector<std::string> env = sample_env;
        env.push_back(std::string("ORVO_DISPLAY_ALLOC_SYMBOLS=") + value);
        RunResult r = run_zel_info({"-m", "-c", "oxxmain"}, env);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, value[0] == '1' ? "list_of_alloc_symbols[0] = (nil)\n" : "") << value;
    }
}

// Without any argument, not even their own name, the commands name
// themselves (here in the message of the missing shared memory).
TEST(CommandLine, NoArgumentsAtAll) {
    setenv("USER", "tester", 1);
    setenv("KTE", SAMPLE_KTE, 1);
    char *none[] = {nullptr};
    testing::internal::CaptureStderr();
    EXPECT_EQ(zel_info_main(0, none), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("zel_info: Cannot link to shared", 0),
              0u);
    testing::internal::CaptureStderr();
    EXPECT_EQ(zel_ldd_main(0, none), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("zel_ldd: Cannot link to shared", 0),
              0u);
}

// The banner with the build's identification, and the configuration when
// CONFIGSPEC asks for it; -v as well as -V, wherever it stands.
TEST(CommandLine, VersionBanner) {
    const std::string dashes = std::string(48, '-') + "\n";
    const std::string banner =
        dashes +
        "Product ver.: zel_info " ZEL_VERSION "\nPort no.    : " ZEL_PROCESSOR
        "-linux\nDate        : " ZEL_BUILD_DATE "\nUname       : " ZEL_BUILD_HOST
        "\nMachine-id  : " ZEL_PROCESSOR "\nOS-release  : " ZEL_SYSTEM "\nCFLAGS      : " ZEL_CFLAGS
        "\nLOADFLAGS   : " ZEL_LDFLAGS "\nBuild-type  : " ZEL_BUILD_TYPE "\n" +
        dashes + "zel_info: object information tool of the 4GL runtime\n";
    RunResult r = run_zel_info({"-V", "onotloaded"}, sample_env);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, banner);

    std::vector<std::string> env = sample_env;
    env.push_back("CONFIGSPEC=PRINT");
    r = run_zel_info({"-m", "-v"}, env);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, banner + dashes +
                         "\nConfig spec: \ncompiler     " ZEL_CXX_COMPILER
                         "\nbuild-type   " ZEL_BUILD_TYPE "\nversion      " ZEL_VERSION "\n" +
                         dashes);
}

} // namespace
