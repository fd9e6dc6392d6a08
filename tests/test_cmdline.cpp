// The command line: option clusters, the flag test mask, the object name,
// redirections, -set, -V and the usage text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "objrun.h"
#include "zel.h"
#include "zel_info.h"
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

void set_sample_env() {
    setenv("KTE", SAMPLE_KTE, 1);
    setenv("KTE_LOG", objrun::test_log().c_str(), 1);
    setenv("USER", "tester", 1);
}
// Runs the scan in-process on a name that no installation has, so the run
// ends at the object's open and leaves its settings in `zel`.
void scan(std::vector<std::string> args) {
    set_sample_env();
    args.insert(args.begin(), "zel_info");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStderr();
    zel_info_main(int(args.size()), argv.data());
    testing::internal::GetCapturedStderr();
}

// Option clusters give info bits and the flag mask (a later -f without
// digits clears it); the last object name counts, "-" is none, a name is
// cut to 1023 bytes; -set puts a variable into the environment, and the
// letters after "set" in its argument are scanned too. -set KTE in a run from
// elsewhere without KTE in its environment: the variables, definitions and
// dictionary of that installation are used.
TEST(CommandLine, Scan) {
    const std::string o1500(1500, 'o');
    const struct {
        std::vector<std::string> args;
        uint32_t info, mask;
        std::string objname = "onosuch";
    } cases[] = {
        {{"-m", "onosuch"}, 0x3FF, 0},
        {{"-ihs", "-m", "onosuch"}, 0x019, 0},
        {{"-mcd", "onosuch"}, 0x042, 0},
        {{"-ew", "-u", "-m", "onosuch"}, 0x224, 0},
        {{"-f3i", "-m", "onosuch"}, 0x101, 3},
        {{"-fi", "-m", "onosuch"}, 0x101, 0},
        {{"-f12", "-f", "-m", "onosuch"}, 0x100, 0},
        {{"-m", "ofirst", "osecond"}, 0x3FF, 0, "osecond"},
        {{"ofirst", "-m", "-"}, 0x3FF, 0, "ofirst"},
        {{"-m", o1500}, 0x3FF, 0, o1500.substr(0, 1023)},
        {{"-set", "ZEL_TEST_SETTING=42", "-seti", "ZEL_TEST_OTHER=1", "-m", "onosuch"}, 0x001, 0},
    };
    for (const auto &c : cases) {
        scan(c.args);
        EXPECT_EQ(zel.info, c.info) << c.args[0];
        EXPECT_EQ(zel.flagmask, c.mask) << c.args[0];
        EXPECT_EQ(zel.objname, c.objname) << c.args[0];
    }
    EXPECT_STREQ(getenv("ZEL_TEST_SETTING"), "42");
    EXPECT_STREQ(getenv("ZEL_TEST_OTHER"), "1");
    TempDir elsewhere;
    RunResult set =
        run_zel_info({"-set", "KTE=" SAMPLE_KTE, "-m", "oxxmain"},
                     {"KTE", "KTE_LOG=" + elsewhere.path(), "USER=tester"}, elsewhere.path());
    RunResult env = run_zel_info({"-m", "oxxmain"}, sample_env, elsewhere.path());
    EXPECT_RUN(set, 0, env.out, "");
    EXPECT_NE(set.out.find("\nPathname\t= " SAMPLE_KTE "/obj/oxxmai/omain\n"), std::string::npos);
}

// Illegal options and missing operands end the run with the usage text. A
// file that a redirection cannot create ends it too (a name of 256 bytes
// is too long for it); so does an object name that makes the stream name
// reach 512 bytes. -qo as the last argument redirects nothing and ends the
// scan.
TEST(CommandLine, UsageAndIllegalOptions) {
    const std::string usage = usage_text(), far = "/nonexistent/" + std::string(242, 'd');
    const std::string o496(496, 'o'), o497(497, 'o');
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"-m"}, usage},
        {{"-m", "-qo"}, usage},
        {{"-ix", "oxxmain"}, "zel_info: illegal option x\n" + usage},
        {{"-q", "oxxmain"}, "zel_info: illegal option -q\n" + usage},
        {{"-qz", "oxxmain"}, "zel_info: illegal option -qz\n" + usage},
        {{"-set", "NOASSIGNMENT", "oxxmain"}, "zel_info: -set expect 'envvar=value'\n" + usage},
        {{"oxxmain", "-set"}, "zel_info: -set expect 'envvar=value'\n" + usage},
        {{"-qo", far, "oxxmain"}, "Cannot redirect output: " + far + " open failed errno 2\n"},
        {{"-qe" + far + "x", "oxxmain"},
         "Cannot redirect output: " + far + "x open failed errno 36\n"},
        {{"-m", o496},
         o496 + ": No such file or directory\n" +
             objrun::fatal("Can't open object '" + o496 + "' for reading", o496)},
        {{"-m", o497},
         o497 + ": File name too long\n" +
             objrun::fatal("Can't open object '" + o497 + "' for reading", o497)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0]);
        EXPECT_RUN(run_zel_info(c.args, sample_env), 1, "", c.err);
    }
    // An empty argument vector: the program goes by its own name (in the
    // usage text, or in start-up's message when no shared memory is loaded).
    set_sample_env();
    char *no_args[] = {nullptr};
    testing::internal::CaptureStderr();
    EXPECT_EQ(zel_info_main(0, no_args), 1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("zel_info"), std::string::npos);
    // Without a 4GL user name (an empty one counts as none) the run ends at
    // log set-up, which logs that too.
    TempDir log;
    EXPECT_RUN(run_zel_info({"-m", "oxxmain"},
                            {"KTE=" SAMPLE_KTE, "KTE_USER=", "USER", "KTE_LOG=" + log.path()}),
               1, "", "zel_info: Could not find Orvo user name; exiting.\n");
    EXPECT_EQ(log_digest(log.path() + "/log.zel_info"),
              "E al_1/al_log log_set_progname: Could not find Orvo user name; exiting.\n");
}

// Messages after a -qe go to the new standard error, in the same argument
// form (-qefile) or with the name as the next argument.
TEST(CommandLine, Redirections) {
    TempDir tmp;
    const std::string err_file = tmp.path() + "/err", out_file = tmp.path() + "/out";
    EXPECT_RUN(run_zel_info({"-qe" + err_file, "-y"}, sample_env), 1, "", "");
    EXPECT_EQ(read_file(err_file), "zel_info: illegal option y\n" + usage_text());
    EXPECT_EQ(run_zel_info({"-V", "-qo", out_file}, sample_env).status, 0);
    EXPECT_EQ(run_zel_info({"-c", "-qo", out_file, "-m", "oxxmain"}, sample_env).status, 0);
    EXPECT_RUN(run_zel_info({"-s", "-qo", out_file, "-m", "oxxmain"}, sample_env), 0, "", "");
    EXPECT_EQ(read_file(out_file).rfind("\n" + objrun::banner("SYMBOL TABLE"), 0), 0u);
}

// A report that cannot be written ends the run with status 1 and one
// message: standard output closed (the log, opened after that, must not
// take its place and receive the report) or on a full disk, for the listing
// as for the rest and for zel_ldd's tree too. A run that fails on its own
// keeps its messages and adds that one. A reader that is gone ends the run
// quietly, by the signal of the broken pipe.
TEST(CommandLine, ReportThatCannotBeWritten) {
    TempDir log;
    std::vector<std::string> env = sample_env;
    env.push_back("KTE_LOG=" + log.path());
    auto run_onto = [&](int out, const char *program, const std::vector<std::string> &args) {
        return Started(program, args, env, -1, out).finish();
    };
    const std::string write_error = ": write error on standard output: ";
    EXPECT_RUN(run_onto(OUT_CLOSED, ZEL_INFO_BIN, {"-m", "-h", "oxxmain"}), 1, "",
               "zel_info" + write_error + "Bad file descriptor\n");
    int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    for (const char *option : {"-h", "-i"})
        EXPECT_RUN(run_onto(full, ZEL_INFO_BIN, {"-m", option, "oxxutil"}), 1, "",
                   "zel_info" + write_error + "No space left on device\n");
    RunResult broken = run_program(ZEL_LDD_BIN, {"-m", "oxxbroken"}, env);
    EXPECT_EQ(broken.status, 1);
    EXPECT_RUN(run_onto(full, ZEL_LDD_BIN, {"-m", "oxxbroken"}), 1, "",
               broken.err + "zel_ldd" + write_error + "No space left on device\n");
    close(full);
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    close(fds[0]); // nobody reads
    RunResult gone = run_onto(fds[1], ZEL_INFO_BIN, {"-m", "oxxmain"});
    close(fds[1]);
    EXPECT_RUN(gone, -1, "", ""); // ended by the signal
    EXPECT_EQ(read_file(log.path() + "/log.zel_info"), "");
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
    EXPECT_RUN(run_zel_info({"-V", "onotloaded"}, sample_env), 0, "", banner);

    std::vector<std::string> env = sample_env;
    env.push_back("CONFIGSPEC=PRINT");
    EXPECT_RUN(run_zel_info({"-m", "-v"}, env), 0, "",
               banner + dashes +
                   "\nConfig spec: \ncompiler     " ZEL_CXX_COMPILER
                   "\nbuild-type   " ZEL_BUILD_TYPE "\nversion      " ZEL_VERSION "\n" +
                   dashes);
}

} // namespace
