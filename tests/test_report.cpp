// Whole objects of both releases loaded by the built tool, and its report,
// compared byte for byte: what each section becomes, the trailing blocks,
// objects whose sections lie out of order; type, dimension and option
// rendering, the flags, and the whole report for each option set that
// changes the layout. Dates in-process.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "objrun.h"
#include "zel.h"
#include "zel_print.h"

using namespace objrun;

namespace {

// A table line's number, padded to three columns.
std::string numbered(size_t n) {
    return (std::to_string(n) + "  ").substr(0, 3);
}

objw::SymbolEntry with_width(objw::SymbolEntry e, int width) {
    e.width = width;
    return e;
}

// A symbol-table entry and its SYMBOL TABLE line after the number; "@"
// stands for the name (stored or made from the index).
struct SymbolCase {
    objw::SymbolEntry entry;
    std::string shown;
};

const std::vector<SymbolCase> SYMBOL_CASES = {
    {{"counter", LONG}, " long @"},
    {{"ext_count", LONG | EXTERN}, " extern long @"},
    {{"matrix", LONG | ARRAY, {3, 4}}, " long @(3,4)"},     // 1-byte sizes
    {{"history", DOUBLE | ARRAY, {400}}, " double @(400)"}, // 2-byte sizes
    {{"big", LONG | ARRAY, {70000}}, " long @(70000)"},     // 4-byte sizes
    {{"grid", LONG | ARRAY, {2, 3, 4, 5}}, " long @(2,3,4,5)"},
    {with_width({"w4", LONG | ARRAY, {7, 8}}, 4), " long @(7,8)"},
    {with_width({"w2", STRING, {}, 9}, 2), " string @(9)"},
    {{"names", STRING | ARRAY | FIXED, {5}, 40}, " string @(5,40) fixed"},
    {{"wide", STRING | ARRAY | FIXED, {2, 3}, 300}, " string @(2,3,300) fixed"},
    {{"buffer", STRING, {}, 300}, " string @(300)"},
    {{"huge", STRING, {}, 100000}, " string @(100000)"},
    {{"title", STRING | EXTERN, {}, 60}, " extern string @(60)"},
    {{"code", STRING, {}, 10, "xxcode"}, " domain xxcode @"},
    {{"cnames", STRING | ARRAY | FIXED, {5}, 20, "xxname"}, " domain xxname @(20) fixed"},
    {{"total", DOUBLE, {}, 0, "xxamount"}, " domain xxamount @"},
    {{"missing", DOUBLE, {}, 0, "xxnosuch"}, " double @"},
    {{"xxcust", LONG | DD_NAME | EXTERN}, " extern DD_NAME long @"},
    {{"main.i", LONG}, " long @"},
};

objw::ObjSpec program(int relno, uint32_t flags) {
    objw::ObjSpec s;
    s.relno = relno;
    s.flags = flags;
    s.compnr = {1207, -6011, 88};
    for (const SymbolCase &c : SYMBOL_CASES)
        s.symbols.push_back(c.entry);
    s.used_dlls = {"oxxutil", "oxxother", "oxxutil", "oxxthird"}; // a name given twice counts once
    s.functions = {{"main"},
                   {"report"},
                   {"util_fmt", FUNCTION | EXTERN, 2},
                   {"nodll", FUNCTION | EXTERN, 0},
                   {"third_fn", FUNCTION | EXTERN, 3}};
    s.code = objw::function_frame(0);
    const std::vector<uint8_t> frame1 = objw::function_frame(1);
    s.code.insert(s.code.end(), frame1.begin(), frame1.end());
    s.global_functions = {"chr$", "printf"};
    s.strings = {"Hello, world", "say \"hi\"", "", "two\nlines"};
    s.doubles = {"3.14159", "1e10"};
    s.domains = {{"xxcount", {}, {9999}}}; // an offset of no symbol
    s.idents = {"@(#)otest.4gl, 24/01/15 [10:30], by builder on host h with portingset 7.2",
                "$Id: otest.4gl 1.3 $"};
    return s;
}

// The -s report of program(relno, flags).
std::string tables_report(int relno, uint32_t flags) {
    bool debug = flags & objflag::DEBUG;
    std::string out = "\n" + banner("SYMBOL TABLE") + "\n";
    unsigned i = 0;
    for (const SymbolCase &c : SYMBOL_CASES) {
        std::string name =
            (c.entry.flags & EXTERN) || debug ? c.entry.name : "<" + std::to_string(i) + ">";
        std::string line = c.shown;
        line.replace(line.find('@'), 1, name);
        out += numbered(i++) + line + "\n";
    }
    bool fun_names = relno == 72 || (flags & (objflag::DEBUG | objflag::PROFILE));
    out += "\n" + banner("FUNCTION TABLE") + "\n";
    out += numbered(0) + " " + (fun_names ? "main" : "<0>") + "\n";
    out += numbered(1) + " " + (fun_names ? "report" : "<1>") + "\n";
    out += numbered(2) + " util_fmt\t(Hint: Located in DLL: oxxother)\n";
    out += numbered(3) + " nodll\n"; // DLL number 0: no DLL, no hint
    out += numbered(4) + " third_fn\t(Hint: Located in DLL: oxxthird)\n";
    out += "\n" + banner("GLOBAL FUNCTIONS") + "\nchr$\nprintf\n";
    out += "\n" + banner("STRING CONSTANTS") +
           "\n\"Hello, world\"\n\"say \"hi\"\"\n\"\"\n\"two\nlines\"\n";
    out += "\n" + banner("DOUBLE CONSTANTS") + "\n3.14159\n1e10\n";
    return out;
}

const std::string MISSING_DOMAIN = error_line("Domain 'xxnosuch' not found in data dictionary.");

// The tables (-s), and everything between the header and the listing in
// the full report: no DLL HINTS; domains: those of the symbols in their
// order, then the records of the domains section. The missing domain is
// not fatal. -d: the used DLLs and the hint of each function that a DLL
// supplies, "function ", the name padded to 25 columns, a blank; the DLL
// HINTS banner stands also when no function has a DLL. A program has no
// prototypes and no descriptions: -eu prints nothing.
TEST(Load, BothReleasesLoadEverySection) {
    const std::pair<int, uint32_t> variants[] = {
        {72, 0}, {72, objflag::DEBUG}, {61, 0}, {61, objflag::DEBUG}, {61, objflag::PROFILE}};
    const std::string used = "\n" + banner("USED DLL'S") +
                             "\nUsed DLL\t= oxxutil\nUsed DLL\t= oxxother\nUsed DLL\t= oxxthird\n",
                      hints = "\n" + banner("DLL HINTS") + "\n";
    for (const auto &[relno, flags] : variants) {
        SCOPED_TRACE("relno " + std::to_string(relno) + " flags " + std::to_string(flags));
        objw::ObjSpec desc = program(relno, flags);
        TestObject obj(desc);
        EXPECT_RUN(obj.run({"-s"}), 0, tables_report(relno, flags), MISSING_DOMAIN);
        EXPECT_RUN(obj.run({"-d"}), 0,
                   used + hints +
                       "function util_fmt                  (Hint: Located in DLL: oxxother)\n"
                       "function third_fn                  (Hint: Located in DLL: oxxthird)\n",
                   MISSING_DOMAIN);
        EXPECT_RUN(obj.run({"-eu"}), 0, "", MISSING_DOMAIN);
        RunResult r = obj.run();
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, MISSING_DOMAIN);
        EXPECT_EQ(blocks(r.out, "USED DLL'S", "ASSEMBLER CODE"),
                  used + tables_report(relno, flags) + "\n" + banner("DOMAINS") +
                      "\nxxcode\nxxname\nxxamount\nxxnosuch\nxxcount\n\n" +
                      banner("OBJECT IDENTS") + "\n" + desc.idents[0] + "\n" + desc.idents[1] +
                      "\n\n" + banner("COMPNR CHECKS") +
                      "\nCompnr check 1\t= 1207\nCompnr check 2\t= -6011\nCompnr check 3\t= 88\n");
        for (objw::FunctionEntry &f : desc.functions)
            if (f.flags & EXTERN) f.value = 0;
        EXPECT_RUN(TestObject(desc).run({"-d"}), 0, used + hints, MISSING_DOMAIN);
    }
}

// Entries given byte by byte, as another compiler could have written them.
TEST(Load, RawSymbolEntries) {
    const struct {
        int relno;
        std::vector<uint8_t> bytes;
        std::string line;
    } cases[] = {
        {61, {0x38, 0x05, 'n', 'm', 0}, " extern string nm(5)"}, // code 56: STRING|EXTERN
        {61, {0x36, 0x05}, " string <0>(5)"},                    // code 54: STRING
        {61, {0xED, 'e', 0}, " extern table long e"},            // code 237: 0x40009
        {72, {0, 0, 0x08, 0x14, 0x02, 0x01, 0x2C, 0x00, 0x0A}, " string <0>(10,300)"},
        {72, {0, 0, 0x10, 0x11, 0x01, 0, 1, 0x11, 0x70}, " long <0>(70000)"},
        {72, {0, 0, 0x04, 0x01}, " DD_NAME long <0>"}, // no size data at all
    };
    const std::string no_functions = "\n" + banner("FUNCTION TABLE") + "\n";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        objw::ObjSpec desc;
        desc.relno = c.relno;
        desc.sections[SEC_SYMTAB].raw = c.bytes;
        desc.sections[SEC_SYMTAB].count = 1;
        EXPECT_RUN(TestObject(desc).run({"-s"}), 0,
                   "\n" + banner("SYMBOL TABLE") + "\n0  " + c.line + "\n" + no_functions, "");
    }
}

// A prototype record given byte by byte: counted name, function number,
// counted domain of the result, flags, required and total argument counts,
// then each argument: counted name and domain, flags, a counted reserved
// text, the where-used kind (when the object has a revision), dimensions.
TEST(Load, RawPrototypeRecord) {
    objw::ObjSpec desc;
    desc.kind = objw::Kind::Dll;
    desc.obj_revision = 1;
    desc.functions = {{"x0"}, {"x1"}, {"x2"}, {"f"}};
    desc.sections[SEC_PROTOTYPES].raw = {0, 2, 'f', 0, 0, 3, 0, 7, 'x', 'x', 'c', 'o', 'd', 'e',
                                         0, 0, 0,   0, 4, 1, 1, 0, 2,   'a', 0,   0,   0,   4,
                                         0, 0, 1,   0, 0, 0, 9, 1, 0,   0,   0,   7};
    desc.sections[SEC_PROTOTYPES].count = 1;
    EXPECT_RUN(TestObject(desc).run({"-e"}), 0,
               "\n" + banner("DLL PROTOTYPES") +
                   text("\nfunction domain xxcode f(\n\\t long a(7) whereused 9 )\n\n"),
               "");
}

// A checksum of the additional information that does not match is an error
// that lets the report go on; without records it is not compared.
TEST(Load, AdditionalInformationChecksum) {
    objw::ObjSpec desc;
    desc.kind = objw::Kind::Dll;
    desc.usage = "Usage text";
    desc.addinfo_records = {"build=test", "origin=otest.4gl"};
    desc.addinfo_checksum = 7;
    const std::string usage = "\n" + banner("DLL USAGE DESCRIPTION") + "\nUsage text\n";
    EXPECT_RUN(TestObject(desc).run({"-u"}), 0, usage,
               error_line("checksum for additional info failed, expected 7, but found " +
                          std::to_string(objw::addinfo_sum(desc.addinfo_records))));
    desc.addinfo_records.clear();
    EXPECT_RUN(TestObject(desc).run({"-u"}), 0, usage, "");
}

// The sections are found by their offsets, in any order and with gaps:
// the report differs only in the start offsets.
TEST(Load, SectionsOutOfOrderOrWithGapsLoadTheSame) {
    objw::ObjSpec desc = program(72, objflag::DEBUG);
    desc.kind = objw::Kind::Dll;
    desc.prototypes = {{"main", 0, LONG, {{"a", LONG}}}};
    desc.usage = "usage";
    desc.function_descriptions = {{0, "Main."}};
    TempDir dir;
    const std::string path = dir.path() + "/oxxtes/otest";
    objw::write_object_file(desc, path);
    RunResult plain = run_object(path);
    ASSERT_EQ(plain.status, 0);
    desc.order = {12, 3, 11, 10, 9, 8, 7, 6, 5, 4, 2, 1, 0};
    desc.filler = 0xA5;
    for (int i : {0, 4, 6, 8, 12})
        desc.sections[size_t(i)].gap = 37 + uint32_t(i);
    ASSERT_LT(layout_of(desc).start[SEC_IDENTS], layout_of(desc).start[SEC_SYMTAB]);
    objw::write_object_file(desc, path);
    const std::regex start("start: \\d+ *");
    RunResult r = run_object(path);
    r.out = std::regex_replace(r.out, start, "");
    EXPECT_RUN(r, 0, std::regex_replace(plain.out, start, ""), plain.err);
}

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
        want += numbered(desc.symbols.size()) + c.shown + "\n";
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
        ASSERT_EQ(date_to_str(n), want) << n;
    }
    EXPECT_EQ(date_to_str(3652059), "9999-12-31");
    EXPECT_EQ(date_to_str(730120 + 59), "2000-02-29");
    for (int32_t bad : {0, -5, 3652060})
        EXPECT_EQ(date_to_str(bad), "    -  -  ");
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

// -a and no option print the full report. Every option letter together
// still lacks the bit that only the full set has: no DOMAINS, no COMPNR
// CHECKS; -s keeps the DLL HINTS away, and with -h the flags show only in
// the header. -c alone prints nothing. Standard output is a file here: the
// listing still follows the text printed before. -f without a mask: the
// flags block comes first, whatever the order of the options; a mask tests
// the flags word instead and ends the run before any block (status 1: a
// flag is missing); with -h the mask is ignored. -d: the DLL HINTS block,
// unless -s shows the hints in the FUNCTION TABLE; the hint line is
// "function ", the name padded to 25 columns, a blank. The blocks that the
// smaller option sets print are compared with the pieces of the full report,
// which is itself compared whole.
TEST(ReportRun, OptionSets) {
    // The directory repeats the file's prefix letter and group, so the
    // file-name checksum covers both.
    TempDir dir;
    const std::string path = dir.path() + "/oxxlay/olay";
    objw::write_object_file(layout_object(), path);
    const std::string full = text(FULL_REPORT, dir.path());
    const std::string lead = "\n" + std::string(27, '-');
    // The header lines: everything in front of the first block.
    const std::string header = full.substr(0, full.find(lead + "USED"));
    const std::string tables = blocks(full, "SYMBOL TABLE", "DOMAINS");
    const std::string used_dlls = blocks(full, "USED DLL'S", "SYMBOL TABLE");
    const std::string idents = blocks(full, "OBJECT IDENTS", "COMPNR CHECKS");
    const std::string listing = full.substr(full.find(lead + "ASSEMBLER"));
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
        {{"-ihdeuswcf"}, header + used_dlls + tables + idents + listing},
        {{"-h"}, header},
        {{"-s"}, tables},
        {{"-w"}, idents},
        {{"-wi"}, idents + listing},
        {{"-c"}, ""},
        {{"-f"}, flags},
        {{"-w", "-f"}, flags + idents},
        {{"-f3i"}, ""}, // a mask followed by letters
        {{"-f9s"}, "", 1},
        {{"-hf9"}, header},
        {{"-d"}, used_dlls + hints},
        {{"-ds"}, used_dlls + tables},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.options));
        EXPECT_RUN(run_object(path, c.options), c.status, c.out,
                   "olay: Error: Domain 'xxnope' not found in data dictionary.\n");
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
    RunResult r = TestObject(objw::ObjSpec{}).run();
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
}

} // namespace
