// The report as the built tool prints it: which blocks each option set
// selects, their order, banners and lines, for objects made by the object
// writer and named by their path.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "objwriter.h"
#include "run.h"
#include "zel.h"

namespace {

// Expected texts are raw strings in which the two characters \t stand for a
// tab and $DIR for the directory of the object. Some lines end in blanks
// (the flags line, short mnemonics): they are part of the text.
std::string text(std::string_view raw, const std::string &dir = "") {
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw.compare(i, 2, "\\t") == 0) {
            out += '\t';
            ++i;
        } else if (raw.compare(i, 4, "$DIR") == 0) {
            out += dir;
            i += 3;
        } else {
            out += raw[i];
        }
    }
    return out;
}

// A program object with one entry of every list, symbols typed by domains of
// the sample dictionary (with and without the STRING bit) and by one domain
// that the dictionary lacks, a function located in a used DLL, string
// constants holding quotes and a newline, and one function frame.
objw::ObjSpec layout_object() {
    objw::ObjSpec s;
    s.flags = objflag::NOTRANSACTIONS | objflag::DEBUG;
    s.obj_revision = 4;
    s.compnr = {11, -22, 33};
    s.used_dlls = {"oxxutil"};
    s.symbols = {
        {"counter", LONG},
        {"code", STRING, {}, 10, "xxcode"},
        {"total", DOUBLE, {}, 0, "xxamount"},
        {"names", STRING | ARRAY, {5}, 40, "xxname"},
        {"matrix", LONG | ARRAY, {3, 4}, 0, "xxcount"},
        {"missing", STRING, {}, 8, "xxnope"},
        {"ext_title", EXTERN | STRING, {}, 60},
        {"main.i", LONG},
    };
    s.functions = {{"main"}, {"util_sum", FUNCTION | EXTERN, 1}};
    s.global_functions = {"printf"};
    s.strings = {"say \"hi\"", "two\nlines", ""};
    s.doubles = {"2.5"};
    s.idents = {"@(#)olayout test", "$Id: x $"};
    s.code = objw::function_frame(0);
    return s;
}

// The part of a report from the banner of `first` up to the empty line in
// front of the banner of `end`.
std::string blocks(const std::string &out, const std::string &first, const std::string &end) {
    const std::string lead = "\n" + std::string(27, '-');
    size_t from = out.find(lead + first);
    size_t to = out.find(lead + end);
    if (from == std::string::npos || to == std::string::npos || to < from)
        return "<no " + first + " ... " + end + " in the report>";
    return out.substr(from, to - from);
}

const char *const MISSING_DOMAIN = "olay: Error: Domain 'xxnope' not found in data dictionary.\n";

class ReportRun : public testing::Test {
  protected:
    // Writes the object as dir/oxxlay/olay: the directory repeats the file's
    // prefix letter and group, so the file-name checksum covers both.
    std::string write_layout() {
        std::string path = dir.path() + "/oxxlay/olay";
        objw::write_object_file(layout_object(), path);
        return path;
    }
    RunResult run(std::vector<std::string> args, const std::string &path) {
        args.insert(args.begin(), "-m");
        args.push_back(path);
        return run_zel_info(args, {std::string("KTE=") + SAMPLE_KTE});
    }
    // Runs the tool and expects status 0, `want` on standard output and
    // `err` on standard error.
    void expect_report(const std::vector<std::string> &options, const std::string &path,
                       const std::string &want, const std::string &err = MISSING_DOMAIN) {
        RunResult r = run(options, path);
        EXPECT_EQ(r.status, 0) << testing::PrintToString(options);
        EXPECT_EQ(r.out, want) << testing::PrintToString(options);
        EXPECT_EQ(r.err, err) << testing::PrintToString(options);
    }

    TempDir dir;
};

// Section starts: header 182 + TIV block 8 = 190, then the sections in index
// order. Sizes: used DLLs "oxxutil\0" 8; code: SUB_TEXT 7 + RET 1 + SUB_LINK
// 10 = 18; symtab 12+11+10+15+14+14+15+11 = 102 (flag word 4, sizes, name
// and NUL; strings typed by a domain store 2-byte sizes); funtab 13+17 = 30;
// strings 11+12+3 = 26; domains 13+15+13+14+13 + closing NUL = 69; idents
// 17+9 = 26; each compnr check 4. fsm is the checksum of "oxxlay/olay".
constexpr std::string_view FULL_REPORT =
    R"(---------------------------GENERAL INFO---------------------------------
Object\t\t= $DIR/oxxlay/olay
Pathname\t= $DIR/oxxlay/olay

---------------------------OBJECT HEADER--------------------------------
Magic\t\t= [_zel_obj_]
relno\t\t= 72
TIV\t\t= 4
bytesheader\t= 182
startdate\t= 2024-01-15
enddate\t\t= 9999-01-01
options\t\t= 1
object_flags\t= 1=NOTRANSACTIONS  2=DEBUG  
count_extern\t= 1
obj_revision\t= 4
fsm\t\t= 52109
prototypes\t= start: 190    size: 0      count: 0
used DLL's\t= start: 190    size: 8      count: 1
object\t\t= start: 198    size: 18     count: 1
symtab\t\t= start: 220    size: 102    count: 8
funtab\t\t= start: 326    size: 30     count: 2
glob fun\t= start: 356    size: 7      count: 1
strings\t\t= start: 363    size: 26     count: 3
doubles\t\t= start: 393    size: 4      count: 1
domains\t\t= start: 397    size: 69     count: 5
idents\t\t= start: 466    size: 26     count: 2

---------------------------USED DLL'S-----------------------------------
Used DLL\t= oxxutil

---------------------------SYMBOL TABLE---------------------------------
0   long counter
1   domain xxcode code
2   domain xxamount total
3   domain xxname names(40)
4   domain xxcount matrix(3,4)
5   string missing(8)
6   extern string ext_title(60)
7   long main.i

---------------------------FUNCTION TABLE-------------------------------
0   main
1   util_sum\t(Hint: Located in DLL: oxxutil)

---------------------------GLOBAL FUNCTIONS-----------------------------
printf

---------------------------STRING CONSTANTS-----------------------------
"say "hi""
"two
lines"
""

---------------------------DOUBLE CONSTANTS-----------------------------
2.5

---------------------------DOMAINS--------------------------------------
xxcode
xxamount
xxname
xxcount
xxnope

---------------------------OBJECT IDENTS--------------------------------
@(#)olayout test
$Id: x $

---------------------------COMPNR CHECKS--------------------------------
Compnr check 1\t= 11
Compnr check 2\t= -22
Compnr check 3\t= 33

---------------------------ASSEMBLER CODE-------------------------------

function main:
    0\tSUB_TEXT   size(8) funnr <0>
    7\tRET     
    8\tSUB_LINK   0 arguments, 0 locals, 0 externs/global/statics:
)";

TEST_F(ReportRun, AllAndNoOptionPrintTheSameFullReport) {
    const std::string path = write_layout();
    const std::string want = text(FULL_REPORT, dir.path());
    expect_report({"-a"}, path, want);
    expect_report({}, path, want);
}

// Every option letter together still lacks the bit that only the full set
// has: no DOMAINS, no COMPNR CHECKS, and -s keeps the DLL HINTS away.
TEST_F(ReportRun, EveryOptionLetterIsNotTheFullSet) {
    const std::string path = write_layout();
    RunResult r = run({"-ihdeuswcf"}, path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(blocks(r.out, "USED DLL'S", "SYMBOL TABLE"), text(R"(
---------------------------USED DLL'S-----------------------------------
Used DLL\t= oxxutil
)"));
    EXPECT_EQ(blocks(r.out, "DOUBLE CONSTANTS", "ASSEMBLER CODE"), text(R"(
---------------------------DOUBLE CONSTANTS-----------------------------
2.5

---------------------------OBJECT IDENTS--------------------------------
@(#)olayout test
$Id: x $
)"));
}

TEST_F(ReportRun, HeaderAloneBeginsWithTheGeneralInfoBanner) {
    const std::string path = write_layout();
    expect_report({"-h"}, path,
                  text(R"(---------------------------GENERAL INFO---------------------------------
Object\t\t= $DIR/oxxlay/olay
Pathname\t= $DIR/oxxlay/olay

---------------------------OBJECT HEADER--------------------------------
Magic\t\t= [_zel_obj_]
relno\t\t= 72
TIV\t\t= 4
bytesheader\t= 182
startdate\t= 2024-01-15
enddate\t\t= 9999-01-01
options\t\t= 1
object_flags\t= 1=NOTRANSACTIONS  2=DEBUG  
count_extern\t= 1
obj_revision\t= 4
fsm\t\t= 52109
prototypes\t= start: 190    size: 0      count: 0
used DLL's\t= start: 190    size: 8      count: 1
object\t\t= start: 198    size: 18     count: 1
symtab\t\t= start: 220    size: 102    count: 8
funtab\t\t= start: 326    size: 30     count: 2
glob fun\t= start: 356    size: 7      count: 1
strings\t\t= start: 363    size: 26     count: 3
doubles\t\t= start: 393    size: 4      count: 1
domains\t\t= start: 397    size: 69     count: 5
idents\t\t= start: 466    size: 26     count: 2
)",
                       dir.path()));
}

// -s: the symbol and constant tables with the hints in the FUNCTION TABLE;
// no DOMAINS although the object has domains, no COMPNR CHECKS.
TEST_F(ReportRun, SymbolTablesAlone) {
    const std::string path = write_layout();
    expect_report({"-s"}, path, text(R"(
---------------------------SYMBOL TABLE---------------------------------
0   long counter
1   domain xxcode code
2   domain xxamount total
3   domain xxname names(40)
4   domain xxcount matrix(3,4)
5   string missing(8)
6   extern string ext_title(60)
7   long main.i

---------------------------FUNCTION TABLE-------------------------------
0   main
1   util_sum\t(Hint: Located in DLL: oxxutil)

---------------------------GLOBAL FUNCTIONS-----------------------------
printf

---------------------------STRING CONSTANTS-----------------------------
"say "hi""
"two
lines"
""

---------------------------DOUBLE CONSTANTS-----------------------------
2.5
)"));
}

TEST_F(ReportRun, IdentsAloneAndTheListingAfterThem) {
    const std::string path = write_layout();
    const std::string idents = text(R"(
---------------------------OBJECT IDENTS--------------------------------
@(#)olayout test
$Id: x $
)");
    expect_report({"-w"}, path, idents);
    // Standard output is a file here: the listing still follows the text
    // printed before it.
    expect_report({"-wi"}, path, idents + text(R"(
---------------------------ASSEMBLER CODE-------------------------------

function main:
    0\tSUB_TEXT   size(8) funnr <0>
    7\tRET     
    8\tSUB_LINK   0 arguments, 0 locals, 0 externs/global/statics:
)"));
}

// -f without a mask: the flags block comes first, whatever the order of the
// options, and the report goes on as the other options ask.
TEST_F(ReportRun, FlagsBlockThenTheRest) {
    const std::string path = write_layout();
    expect_report({"-f"}, path, text(R"(
---------------------------OBJECT FLAGS---------------------------------
object_flags\t= 1=NOTRANSACTIONS  2=DEBUG  
)"));
    // A mask tests the flags word instead and ends the run before any
    // block; with -h the mask is ignored.
    expect_report({"-f3"}, path, "");
    RunResult r = run({"-f9s"}, path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    RunResult with_header = run({"-hf9"}, path);
    EXPECT_EQ(with_header.status, 0);
    EXPECT_EQ(with_header.out, run({"-h"}, path).out);
    expect_report({"-w", "-f"}, path, text(R"(
---------------------------OBJECT FLAGS---------------------------------
object_flags\t= 1=NOTRANSACTIONS  2=DEBUG  

---------------------------OBJECT IDENTS--------------------------------
@(#)olayout test
$Id: x $
)"));
}

// The hint line: "function ", the name padded to 25 columns, a blank.
TEST_F(ReportRun, DllHintsOnlyWithoutTheSymbolTable) {
    const std::string path = write_layout();
    expect_report({"-d"}, path, text(R"(
---------------------------USED DLL'S-----------------------------------
Used DLL\t= oxxutil

---------------------------DLL HINTS------------------------------------
function util_sum                  (Hint: Located in DLL: oxxutil)
)"));
    expect_report({"-ds"}, path, text(R"(
---------------------------USED DLL'S-----------------------------------
Used DLL\t= oxxutil

---------------------------SYMBOL TABLE---------------------------------
0   long counter
1   domain xxcode code
2   domain xxamount total
3   domain xxname names(40)
4   domain xxcount matrix(3,4)
5   string missing(8)
6   extern string ext_title(60)
7   long main.i

---------------------------FUNCTION TABLE-------------------------------
0   main
1   util_sum\t(Hint: Located in DLL: oxxutil)

---------------------------GLOBAL FUNCTIONS-----------------------------
printf

---------------------------STRING CONSTANTS-----------------------------
"say "hi""
"two
lines"
""

---------------------------DOUBLE CONSTANTS-----------------------------
2.5
)"));
}

TEST_F(ReportRun, ChecksumModeAlonePrintsNothing) {
    expect_report({"-c"}, write_layout(), "");
}

// An object with every list empty: only the two table banners of the
// symbol tables, no DOMAINS banner (domain count 0), the compnr checks and
// the banner of an empty listing. Sections: compnr checks of 4 bytes at
// 190, 194 and 198, the domains' closing NUL at 202.
TEST_F(ReportRun, EmptyListsPrintNoBannersButTheTwoTables) {
    const std::string path = dir.path() + "/oempty";
    objw::write_object_file(objw::ObjSpec{}, path);
    expect_report({}, path,
                  text(R"(---------------------------GENERAL INFO---------------------------------
Object\t\t= $DIR/oempty
Pathname\t= $DIR/oempty

---------------------------OBJECT HEADER--------------------------------
Magic\t\t= [_zel_obj_]
relno\t\t= 72
TIV\t\t= 0
bytesheader\t= 182
startdate\t= 2024-01-15
enddate\t\t= 9999-01-01
options\t\t= 1
object_flags\t= 
count_extern\t= 0
obj_revision\t= 0
fsm\t\t= 416
prototypes\t= start: 190    size: 0      count: 0
used DLL's\t= start: 190    size: 0      count: 0
object\t\t= start: 190    size: 0      count: 1
symtab\t\t= start: 194    size: 0      count: 0
funtab\t\t= start: 198    size: 0      count: 0
glob fun\t= start: 198    size: 0      count: 0
strings\t\t= start: 198    size: 0      count: 0
doubles\t\t= start: 202    size: 0      count: 0
domains\t\t= start: 202    size: 1      count: 0
idents\t\t= start: 203    size: 0      count: 0

---------------------------SYMBOL TABLE---------------------------------

---------------------------FUNCTION TABLE-------------------------------

---------------------------COMPNR CHECKS--------------------------------
Compnr check 1\t= 0
Compnr check 2\t= 0
Compnr check 3\t= 0

---------------------------ASSEMBLER CODE-------------------------------
)",
                       dir.path()),
                  "");
    expect_report({"-sdweuf"}, path, text(R"(
---------------------------OBJECT FLAGS---------------------------------
object_flags\t= 

---------------------------SYMBOL TABLE---------------------------------

---------------------------FUNCTION TABLE-------------------------------
)"),
                  "");
}

} // namespace
