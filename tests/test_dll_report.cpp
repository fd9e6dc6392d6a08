// The DLL blocks of the report as the built tool prints them: usage
// description, prototypes with their descriptions, used DLLs and hints, for
// DLL and program objects of both format releases.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "objwriter.h"
#include "run.h"
#include "zel.h"

namespace {

// Expected texts are raw strings in which the two characters \t stand for a
// tab.
std::string text(std::string_view raw) {
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw.compare(i, 2, "\\t") == 0) {
            out += '\t';
            ++i;
        } else {
            out += raw[i];
        }
    }
    return out;
}

objw::ProtoArg arg(std::string name, uint32_t flags, std::string domain = {},
                   std::vector<uint32_t> dims = {}, uint16_t whereused = 0) {
    objw::ProtoArg a(std::move(name), flags, std::move(domain), std::move(dims));
    a.whereused = whereused;
    return a;
}

objw::Prototype proto(std::string name, uint16_t funnr, uint32_t flags,
                      std::vector<objw::ProtoArg> args, int required = -1, int argcount = -1) {
    objw::Prototype p(std::move(name), funnr, flags, std::move(args));
    p.required = required;
    p.argcount = argcount;
    return p;
}

// A DLL object that exports seven functions, not in name order: optional and
// variable argument lists with and without argument records, reference
// arguments with dimensions, a where-used number, arguments and results
// typed by domains (one of them unknown to the dictionary), booleans, a
// function without result type. It calls one function of another DLL.
objw::ObjSpec library(int relno, int32_t revision) {
    objw::ObjSpec s;
    s.kind = objw::Kind::Dll;
    s.relno = relno;
    s.obj_revision = revision;
    s.used_dlls = {"oxxbase"};
    objw::Prototype fmt = proto(
        "fmt", 0, STRING, {arg("code", STRING, "xxcode"), arg("width", LONG | OPTIONAL_ARG)}, 1, 2);
    fmt.domain = "xxname";
    s.prototypes = {
        proto("sum", 1, DOUBLE,
              {arg("values", DOUBLE | ARRAY, {}, {10}),
               arg("count", LONG | REF_ARG | WHERE_USED, {}, {}, 2),
               arg("grid", LONG | REF_ARG | ARRAY, {}, {3, 4})}),
        fmt,
        proto("logv", 2, LONG, {arg("fmt", STRING | CONST_ARG)}, 1, 255),
        proto("anyv", 3, LONG, {}, 0, 255),
        proto("opt2", 4, LONG, {arg("a", LONG, "xxcount"), arg("b", DOUBLE, "xxnope")}, 0, 2),
        proto("none", 5, 0, {}),
        proto("Zed", 6, LONG | BOOLEAN, {arg("on", LONG | BOOLEAN)}),
    };
    s.functions = {{"fmt"},  {"sum"},    {"logv"},
                   {"anyv"}, {"opt2"},   {"none"},
                   {"Zed"},  {"helper"}, {"basefn", FUNCTION | EXTERN, 1}};
    s.usage = "Library of test functions.\nSecond line.";
    s.function_descriptions = {{0, "Formats a code."}, {2, "Logs a line."}, {1, "Sums values."}};
    return s;
}

// A program object that uses DLLs; a DLL name given twice counts once.
// Function values of flags 0x208 are used-DLL numbers, 0 naming none.
objw::ObjSpec program(int relno, std::vector<std::string> dlls,
                      std::vector<objw::FunctionEntry> functions) {
    objw::ObjSpec s;
    s.relno = relno;
    s.obj_revision = 3;
    s.used_dlls = std::move(dlls);
    s.functions = std::move(functions);
    return s;
}

objw::FunctionEntry from_dll(std::string name, uint32_t number) {
    return {std::move(name), FUNCTION | EXTERN, number};
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

class DllReport : public testing::Test {
  protected:
    std::string write(const objw::ObjSpec &spec, const std::string &name) {
        std::string path = dir.path() + "/" + name;
        objw::write_object_file(spec, path);
        return path;
    }
    // Runs the tool; a run that fails or complains yields a marker text.
    std::string report(const std::string &options, const std::string &path) {
        std::vector<std::string> args{"-m"};
        if (!options.empty()) args.push_back(options);
        args.push_back(path);
        RunResult r = run_zel_info(args, {std::string("KTE=") + SAMPLE_KTE});
        if (r.status != 0 || !r.err.empty())
            return "<status " + std::to_string(r.status) + ": " + r.err + ">" + r.out;
        return r.out;
    }

    TempDir dir;
};

constexpr std::string_view USAGE = R"(
---------------------------DLL USAGE DESCRIPTION------------------------
Library of test functions.
Second line.
)";

// Sorted by name as unsigned bytes ("Zed" first). Positions above the
// required count are bracketed; "width" carries OPTIONAL_ARG as well, whose
// brackets belong to its type text.
constexpr std::string_view PROTOTYPES_72 = R"(
---------------------------DLL PROTOTYPES-------------------------------
function boolean Zed(
\t boolean on )

function long anyv(
\t ... )

function domain xxname fmt(
\t domain xxcode code,
\t [ [ long ] width ] )

function long logv(
\t const string fmt,
\t ... )

function none(
\t )

function long opt2(
\t [ domain xxcount a ],
\t [ double b ] )

function double sum(
\t double values(10),
\t ref long count whereused 2,
\t ref long grid(,) )

)";

TEST_F(DllReport, UsageAndPrototypesOfARelease72Dll) {
    const std::string path = write(library(72, 7), "olib");
    EXPECT_EQ(report("-e", path), text(PROTOTYPES_72));
    EXPECT_EQ(report("-u", path), text(USAGE));
    EXPECT_EQ(report("-eu", path), text(R"(
---------------------------DLL USAGE DESCRIPTION------------------------
Library of test functions.
Second line.

---------------------------DLL PROTOTYPES-------------------------------
function boolean Zed(
\t boolean on )

function long anyv(
\t ... )

function domain xxname fmt(
\t domain xxcode code,
\t [ [ long ] width ] )

Formats a code.
function long logv(
\t const string fmt,
\t ... )

Logs a line.
function none(
\t )

function long opt2(
\t [ domain xxcount a ],
\t [ double b ] )

function double sum(
\t double values(10),
\t ref long count whereused 2,
\t ref long grid(,) )

Sums values.
)"));
}

// Release 61 keeps the booleans of a symbol in flag bits 16, 17, 24 and 25:
// neither BOOLEAN nor OPTIONAL_ARG reaches the type texts.
TEST_F(DllReport, Release61PrototypesLoseTheBooleanBits) {
    const std::string path = write(library(61, 7), "olib");
    EXPECT_EQ(report("-e", path), text(R"(
---------------------------DLL PROTOTYPES-------------------------------
function long Zed(
\t long on )

function long anyv(
\t ... )

function domain xxname fmt(
\t domain xxcode code,
\t [ long width ] )

function long logv(
\t const string fmt,
\t ... )

function none(
\t )

function long opt2(
\t [ domain xxcount a ],
\t [ double b ] )

function double sum(
\t double values(10),
\t ref long count whereused 2,
\t ref long grid(,) )

)"));
    EXPECT_EQ(report("-u", path), text(USAGE));
}

TEST_F(DllReport, WhereUsedNumbersOnlyWithARevision) {
    objw::ObjSpec spec;
    spec.kind = objw::Kind::Dll;
    spec.prototypes = {proto("lookup", 0, LONG,
                             {arg("table", STRING | WHERE_USED, {}, {}, 2),
                              arg("field", STRING | CONST_ARG | WHERE_USED, {}, {}, 3)})};
    spec.functions = {{"lookup"}};
    for (int relno : {61, 72}) {
        spec.relno = relno;
        spec.obj_revision = 7;
        EXPECT_EQ(report("-e", write(spec, "ow7")), text(R"(
---------------------------DLL PROTOTYPES-------------------------------
function long lookup(
\t string table whereused 2,
\t const string field whereused 3 )

)")) << relno;
        spec.obj_revision = 0;
        EXPECT_EQ(report("-e", write(spec, "ow0")), text(R"(
---------------------------DLL PROTOTYPES-------------------------------
function long lookup(
\t string table,
\t const string field )

)")) << relno;
    }
    // An object that ends with its idents section has no descriptions: -u
    // has nothing to show, even with a usage text in the writer's spec.
    spec.usage = "not written";
    spec.descriptions = false;
    spec.addinfo = false;
    EXPECT_EQ(report("-u", write(spec, "onodesc")), "");
}

// A second prototype of a name is dropped with its argument records; the
// next record is read where it starts. A description of the function
// number of the dropped one shows nowhere. Release 61 marks the first one
// used (flag bit 16), so dropping the second is worth a warning.
TEST_F(DllReport, DuplicatePrototypeIsDropped) {
    objw::ObjSpec spec;
    spec.kind = objw::Kind::Dll;
    spec.obj_revision = 1;
    spec.functions = {{"dup"}, {"dup"}, {"after"}};
    spec.function_descriptions = {{0, "First one."}, {1, "Second one."}, {2, "Comes after."}};
    const std::string want = text(R"(
---------------------------DLL PROTOTYPES-------------------------------
function long after(
\t long x )

Comes after.
function long dup(
\t )

First one.
)");
    for (int relno : {72, 61}) {
        spec.relno = relno;
        spec.prototypes = {
            proto("dup", 0, relno == 61 ? LONG | 0x10000 : LONG, {}),
            proto("dup", 1, DOUBLE, {arg("lost", STRING | WHERE_USED, "xxcode", {1, 2}, 4)}),
            proto("after", 2, LONG, {arg("x", LONG)}),
        };
        const std::string path = write(spec, "odup");
        RunResult r = run_zel_info({"-m", "-eu", path}, {std::string("KTE=") + SAMPLE_KTE});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, want) << relno;
        EXPECT_EQ(r.err, relno == 72 ? ""
                                     : "odup: Warning: Function 'dup' in DLL '" + path +
                                           "' ignored. Taken from DLL '" + path + "'\n");
    }
}

// The hint line: "function ", the name padded to 25 columns, a blank.
TEST_F(DllReport, UsedDllsAndHintsOfADll) {
    const std::string path = write(library(72, 7), "olib");
    EXPECT_EQ(report("-d", path), text(R"(
---------------------------USED DLL'S-----------------------------------
Used DLL\t= oxxbase

---------------------------DLL HINTS------------------------------------
function basefn                    (Hint: Located in DLL: oxxbase)
)"));
    EXPECT_EQ(report("-ds", path), text(R"(
---------------------------USED DLL'S-----------------------------------
Used DLL\t= oxxbase

---------------------------SYMBOL TABLE---------------------------------

---------------------------FUNCTION TABLE-------------------------------
0   fmt
1   sum
2   logv
3   anyv
4   opt2
5   none
6   Zed
7   helper
8   basefn\t(Hint: Located in DLL: oxxbase)
)"));
}

// Everything: the DLL blocks in their order, descriptions with the
// prototypes, no DLL HINTS, the hints in the FUNCTION TABLE. Release 61
// stores no name for a function of its own that it does not export.
TEST_F(DllReport, FullReportOfDllsOfBothReleases) {
    EXPECT_EQ(blocks(report("-a", write(library(72, 7), "olib")), "DLL USAGE", "COMPNR CHECKS"),
              text(R"(
---------------------------DLL USAGE DESCRIPTION------------------------
Library of test functions.
Second line.

---------------------------DLL PROTOTYPES-------------------------------
function boolean Zed(
\t boolean on )

function long anyv(
\t ... )

function domain xxname fmt(
\t domain xxcode code,
\t [ [ long ] width ] )

Formats a code.
function long logv(
\t const string fmt,
\t ... )

Logs a line.
function none(
\t )

function long opt2(
\t [ domain xxcount a ],
\t [ double b ] )

function double sum(
\t double values(10),
\t ref long count whereused 2,
\t ref long grid(,) )

Sums values.

---------------------------USED DLL'S-----------------------------------
Used DLL\t= oxxbase

---------------------------SYMBOL TABLE---------------------------------

---------------------------FUNCTION TABLE-------------------------------
0   fmt
1   sum
2   logv
3   anyv
4   opt2
5   none
6   Zed
7   helper
8   basefn\t(Hint: Located in DLL: oxxbase)
)"));
    EXPECT_EQ(blocks(report("", write(library(61, 0), "olib61")), "USED DLL'S", "COMPNR CHECKS"),
              text(R"(
---------------------------USED DLL'S-----------------------------------
Used DLL\t= oxxbase

---------------------------SYMBOL TABLE---------------------------------

---------------------------FUNCTION TABLE-------------------------------
0   fmt
1   sum
2   logv
3   anyv
4   opt2
5   none
6   Zed
7   <7>
8   basefn\t(Hint: Located in DLL: oxxbase)
)"));
}

// olib1 given twice: olib3 is DLL number 3. A function with DLL number 0
// gets no hint.
TEST_F(DllReport, ProgramOfRelease72) {
    const std::string path = write(program(72, {"olib1", "olib2", "olib1", "olib3"},
                                           {{"main"},
                                            from_dll("f_one", 1),
                                            from_dll("f_three", 3),
                                            from_dll("f_zero", 0),
                                            from_dll("f_two", 2)}),
                                   "oprog");
    EXPECT_EQ(report("-d", path), text(R"(
---------------------------USED DLL'S-----------------------------------
Used DLL\t= olib1
Used DLL\t= olib2
Used DLL\t= olib3

---------------------------DLL HINTS------------------------------------
function f_one                     (Hint: Located in DLL: olib1)
function f_three                   (Hint: Located in DLL: olib3)
function f_two                     (Hint: Located in DLL: olib2)
)"));
    const std::string with_symbols = text(R"(
---------------------------USED DLL'S-----------------------------------
Used DLL\t= olib1
Used DLL\t= olib2
Used DLL\t= olib3

---------------------------SYMBOL TABLE---------------------------------

---------------------------FUNCTION TABLE-------------------------------
0   main
1   f_one\t(Hint: Located in DLL: olib1)
2   f_three\t(Hint: Located in DLL: olib3)
3   f_zero
4   f_two\t(Hint: Located in DLL: olib2)
)");
    EXPECT_EQ(report("-ds", path), with_symbols);
    EXPECT_EQ(blocks(report("-a", path), "USED DLL'S", "COMPNR CHECKS"), with_symbols);
    EXPECT_EQ(report("-eu", path), ""); // no prototypes, no descriptions
}

// Release 61 stores the names of DLL functions (flags 0x208 hold EXTERN)
// but not those of the program's own functions.
TEST_F(DllReport, ProgramOfRelease61) {
    const std::string path =
        write(program(61, {"olib1", "olib2"},
                      {{"main"}, from_dll("g_two", 2), from_dll("g_zero", 0), {"report"}}),
              "oprog61");
    EXPECT_EQ(report("-d", path), text(R"(
---------------------------USED DLL'S-----------------------------------
Used DLL\t= olib1
Used DLL\t= olib2

---------------------------DLL HINTS------------------------------------
function g_two                     (Hint: Located in DLL: olib2)
)"));
    const std::string with_symbols = text(R"(
---------------------------USED DLL'S-----------------------------------
Used DLL\t= olib1
Used DLL\t= olib2

---------------------------SYMBOL TABLE---------------------------------

---------------------------FUNCTION TABLE-------------------------------
0   <0>
1   g_two\t(Hint: Located in DLL: olib2)
2   g_zero
3   <3>
)");
    EXPECT_EQ(report("-ds", path), with_symbols);
    EXPECT_EQ(blocks(report("-a", path), "USED DLL'S", "COMPNR CHECKS"), with_symbols);
    EXPECT_EQ(report("-eu", path), "");
}

// The DLL HINTS heading stands even when no function has a DLL; an object
// without used DLLs prints neither block.
TEST_F(DllReport, HintsHeadingWithoutHintsAndNoUsedDlls) {
    EXPECT_EQ(report("-d", write(program(72, {"olib1"}, {from_dll("f_zero", 0)}), "ozero")),
              text(R"(
---------------------------USED DLL'S-----------------------------------
Used DLL\t= olib1

---------------------------DLL HINTS------------------------------------
)"));
    EXPECT_EQ(report("-d", write(program(61, {}, {{"main"}}), "onone")), "");
}

} // namespace
