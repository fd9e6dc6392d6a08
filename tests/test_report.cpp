// The report of the built tool, compared byte for byte: type, dimension and
// option rendering, the flags, and the whole report for each option set
// that changes the layout. Dates in-process.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "objrun.h"
#include "zel.h"
#include "zel_print.h"

using namespace objrun;

namespace {

// Type words, storage and option words, dimensions and domains, as the
// SYMBOL TABLE shows them for symbols of every kind of flag word.
TEST(Report, TypeWordsDimensionsAndOptions) {
    const struct {
        objw::SymbolEntry entry;
        const char *shown;
    } cases[] = {
        {{"x", EXTERN | LONG | ARRAY, {10}}, " extern long x(10)"},
        {{"b", BOOLEAN | LONG}, " boolean b"},
        {{"bo", BOOLEAN}, " boolean bo"},
        {{"e", ENUM | LONG}, " e"},
        {{"m", STRING | TSS_STRING, {}, 8}, " string m(8) mb"},
        {{"z", BITSET | ENUM}, " bset z"},
        {{"zb", BITSET}, " bset zb"},
        {{"ze", ENUM}, " bset ze"},
        {{"o", OPTIONAL_ARG | LONG}, " [ long ] o"},
        {{"n", OPTIONAL_ARG}, " n"},
        {{"r", REF_ARG | LONG | ARRAY | BASED, {3, 4}}, " ref long r(,)"},
        {{"c", REF_ARG | CONST_ARG | DOUBLE}, " const double c"},
        {{"all", COMMON | EXTERN | STATIC | GLOBAL | DD_NAME | TABLE | FIXED | BASED | DOUBLE},
         " common extern static global DD_NAME table double all fixed based"},
        {{"w", WHERE_USED | STRING, {}, 30}, " string w(30) whereused 0"},
        {{"s", STRING | OPTIONAL_ARG, {}, 20, "xxname"}, " domain xxname s"},
        {{"ec", STRING | EXTERN, {}, 10, "xxcode"}, " extern domain xxcode ec"},
        {{"a", STRING | ARRAY, {5}, 20, "xxname"}, " domain xxname a(20)"},
        {{"l", LONG | ARRAY, {7}, 0, "xxcount"}, " domain xxcount l(7)"},
    };
    objw::ObjSpec desc;
    desc.flags = objflag::DEBUG;
    std::string want = "\n" + banner("SYMBOL TABLE") + "\n";
    for (const auto &c : cases) {
        want += (std::to_string(desc.symbols.size()) + "  ").substr(0, 3) + c.shown + "\n";
        desc.symbols.push_back(c.entry);
    }
    EXPECT_RUN(TestObject(desc).run({"-s"}), 0, want + "\n" + banner("FUNCTION TABLE") + "\n", "");
}

TEST(DateToStr, MatchesTheCivilCalendar) {
    using namespace std::chrono;
    const sys_days day1 = sys_days{year{1} / January / 1};
    for (int32_t n = 1; n <= 3652059; n += 997) {
        year_month_day ymd{day1 + days{n - 1}};
        char want[16];
        snprintf(want, sizeof want, "%04d-%02u-%02u", int(ymd.year()), unsigned(ymd.month()),
                 unsigned(ymd.day()));
        ASSERT_STREQ(date_to_str(n), want) << n;
    }
    EXPECT_STREQ(date_to_str(1), "0001-01-01");
    EXPECT_STREQ(date_to_str(3652059), "9999-12-31");
    EXPECT_STREQ(date_to_str(730120 + 59), "2000-02-29");
    for (int32_t bad : {0, -5, 3652060})
        EXPECT_STREQ(date_to_str(bad), "    -  -  ");
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

const std::string MISSING_DOMAIN = "olay: Error: Domain 'xxnope' not found in data dictionary.\n";

// The blocks that the smaller option sets print are compared with the
// pieces of the full report, which is itself compared whole.
class ReportRun : public testing::Test {
  protected:
    void SetUp() override {
        // The directory repeats the file's prefix letter and group, so the
        // file-name checksum covers both.
        path = dir.path() + "/oxxlay/olay";
        objw::write_object_file(layout_object(), path);
        full = text(FULL_REPORT, dir.path());
    }
    // The header lines: everything in front of the first block.
    std::string header() const { return full.substr(0, full.find(lead + "USED")); }
    std::string tables() const { return blocks(full, "SYMBOL TABLE", "DOMAINS"); }
    std::string used_dlls() const { return blocks(full, "USED DLL'S", "SYMBOL TABLE"); }
    std::string idents() const { return blocks(full, "OBJECT IDENTS", "COMPNR CHECKS"); }
    std::string listing() const { return full.substr(full.find(lead + "ASSEMBLER")); }

    const std::string lead = "\n" + std::string(27, '-');
    TempDir dir;
    std::string path, full;
};

// -a and no option print the full report. Every option letter together
// still lacks the bit that only the full set has: no DOMAINS, no COMPNR
// CHECKS; -s keeps the DLL HINTS away, and with -h the flags show only in
// the header. -c alone prints nothing. Standard output is a file here: the
// listing still follows the text printed before. -f without a mask: the
// flags block comes first, whatever the order of the options; a mask tests
// the flags word instead and ends the run before any block (status 1: a
// flag is missing); with -h the mask is ignored. -d: the DLL HINTS block,
// unless -s shows the hints in the FUNCTION TABLE; the hint line is
// "function ", the name padded to 25 columns, a blank.
TEST_F(ReportRun, OptionSets) {
    const std::string flags =
        "\n" + banner("OBJECT FLAGS") + "\nobject_flags\t= 1=NOTRANSACTIONS  2=DEBUG  \n";
    const std::string hints =
        "\n" + banner("DLL HINTS") +
        "\nfunction util_sum                  (Hint: Located in DLL: oxxutil)\n";
    const struct {
        std::vector<std::string> options;
        std::string out;
        int status = 0;
    } cases[] = {
        {{"-a"}, full},
        {{}, full},
        {{"-ihdeuswcf"}, header() + used_dlls() + tables() + idents() + listing()},
        {{"-h"}, header()},
        {{"-s"}, tables()},
        {{"-w"}, idents()},
        {{"-wi"}, idents() + listing()},
        {{"-c"}, ""},
        {{"-f"}, flags},
        {{"-w", "-f"}, flags + idents()},
        {{"-f3i"}, ""}, // a mask followed by letters
        {{"-f9s"}, "", 1},
        {{"-hf9"}, header()},
        {{"-d"}, used_dlls() + hints},
        {{"-ds"}, used_dlls() + tables()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.options));
        EXPECT_RUN(run_object(path, c.options), c.status, c.out, MISSING_DOMAIN);
    }
}

// Every flag name, in the order of the flags line. The flags word is signed
// in the header: a mask of its top bit still tests it. Masks are decimal.
TEST(ReportFlags, AllNamesAndMasks) {
    objw::ObjSpec desc;
    desc.flags = 0x8000001Fu;
    TestObject obj(desc);
    EXPECT_RUN(obj.run({"-f"}), 0,
               "\n" + banner("OBJECT FLAGS") +
                   "\nobject_flags\t= 1=NOTRANSACTIONS  4=PROFILE  2=DEBUG  8=DLL  16=STICKY  \n",
               "");
    const std::pair<const char *, int> masks[] = {{"-f2147483648", 0}, {"-f2147483679", 0},
                                                  {"-f2147483680", 1}, {"-f10", 0},
                                                  {"-f9", 0},          {"-f32", 1}};
    for (const auto &[mask, status] : masks) {
        SCOPED_TRACE(mask);
        EXPECT_RUN(obj.run({mask, "-s"}), status, "", "");
    }
}

// An object with every list empty: after the header only the two table
// banners of the symbol tables, no DOMAINS banner (domain count 0), the
// compnr checks and the banner of an empty listing.
TEST(ReportOfEmptyObject, PrintsNoBannersButTheTwoTables) {
    TempDir dir;
    const std::string path = dir.path() + "/oempty";
    objw::write_object_file(objw::ObjSpec{}, path);
    RunResult r = run_object(path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind(banner("GENERAL INFO"), 0), 0u);
    EXPECT_EQ(r.out.substr(r.out.find("idents\t\t= ")),
              text(R"(idents\t\t= start: 203    size: 0      count: 0

---------------------------SYMBOL TABLE---------------------------------

---------------------------FUNCTION TABLE-------------------------------

---------------------------COMPNR CHECKS--------------------------------
Compnr check 1\t= 0
Compnr check 2\t= 0
Compnr check 3\t= 0

---------------------------ASSEMBLER CODE-------------------------------
)"));
    EXPECT_RUN(run_object(path, {"-sdweuf"}), 0, text(R"(
---------------------------OBJECT FLAGS---------------------------------
object_flags\t= 

---------------------------SYMBOL TABLE---------------------------------

---------------------------FUNCTION TABLE-------------------------------
)"),
               "");
}

} // namespace
