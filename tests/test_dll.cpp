// DLL linkage. In-process: the used-DLL list, the DLL function order, and
// the DLL loading and linking that only library users call. Through the
// built tool, whole outputs and exit statuses: the DLL blocks of the report
// for DLL objects of both format releases.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "capture.h"
#include "objdesc.h"
#include "objrun.h"
#include "zel.h"
#include "zel_dll.h"
#include "zel_symtab.h"

using namespace objrun;

namespace {

using Names = std::vector<std::string>;

class DllTest : public ::testing::Test {
  protected:
    void SetUp() override {
        init_zel_struct();
        create_keytab();
        zel.info = INFO_ALL;
        zel.objname = "prog";
        zel.cur_file = zel.cur_origin = zel.objname.c_str();
        zel.funnr.assign(8, nullptr);
    }
    Symbol *fn(const char *name) { return looktoken(nullptr, name, TOK_FUNCTION); }
    static Names args(const Symbol *f) {
        Names v;
        for (const Symbol *a = f ? f->next_arg : nullptr; a; a = a->next_arg)
            v.push_back(a->name);
        return v;
    }
};

// Empty names are errors; a name given again is the same DLL and takes no
// number. The list keeps the order of first mention, numbered from 1; a
// reset of `zel` starts it afresh.
TEST_F(DllTest, UsedDllList) {
    DllEntry *a = add_dll_list("liba");
    Captured c = capture([] { EXPECT_EQ(add_dll_list(""), add_dll_list(nullptr)); });
    EXPECT_EQ(zel.errors, 2);
    EXPECT_EQ(c.err, "prog: Error: add_dll_list\nprog: Error: add_dll_list\n");
    EXPECT_EQ(add_dll_list("liba"), a);
    DllEntry *b = add_dll_list("libb");
    EXPECT_EQ(add_dll_list("liba"), a);
    DllEntry *c3 = add_dll_list("libc");
    EXPECT_EQ(add_dll_list(std::string("libb").c_str()), b);
    Names listed;
    for (const DllEntry *e = zel.dll_head; e; e = e->next)
        listed.push_back(e->name + "=" + std::to_string(e->number));
    EXPECT_EQ(listed, (Names{"liba=1", "libb=2", "libc=3"}));
    EXPECT_EQ(zel.dll_tail, c3);
    EXPECT_EQ(search_dll(2), b);
    EXPECT_EQ(search_dll(0), nullptr);
    init_zel_struct();
    DllEntry *again = add_dll_list("libc");
    EXPECT_EQ(again->number, 1);
    EXPECT_EQ(zel.dll_head, again);
}

// DLL objects written into a temporary directory and named by their path.
class DllLoadTest : public DllTest {
  protected:
    void SetUp() override {
        DllTest::SetUp();
        zel.info = 0; // on-demand loading is the compiler's: no number table
    }
    DllEntry *dll(const std::string &name, std::vector<objw::Prototype> protos, bool bad = false) {
        objw::ObjSpec desc;
        desc.kind = objw::Kind::Dll;
        desc.prototypes = std::move(protos);
        if (bad) desc.header.magic = "[_nothing_]";
        objw::write_object_file(desc, dir.path() + "/" + name);
        return add_dll_list((dir.path() + "/" + name).c_str());
    }
    static objw::Prototype proto(const std::string &name, uint32_t argflags = 0) {
        objw::Prototype p(name, 0);
        if (argflags) p.args.push_back(objw::ProtoArg("x", argflags));
        return p;
    }
    Symbol *wanted(const char *name, int declared = 0) {
        return addsymbol(nullptr, name, FUNCTION, TOK_FUNCTION, 1, 0, 0, declared);
    }
    TempDir dir;
};

// A function defined in the source keeps its definition. A declaration must
// have the required arguments at least and no more than the prototype takes
// (any number for a variable list), each of the type and passing of the
// prototype's; the prototype's arguments replace the declared ones.
TEST_F(DllLoadTest, SourceDefinitionWinsAndDeclarationsAreChecked) {
    Symbol *src = wanted("fromsrc", 1);
    src->origin = "main.src";
    src->line = 12;
    const int32_t nodims[4] = {};
    const struct {
        const char *name;
        std::vector<uint32_t> declared; // argument flags of the declaration
        int required, argcount;         // of the prototype, whose arguments are x (and y)
        bool two, matches;
    } decls[] = {
        {"d_string", {LONG}, -1, -1, false, false},
        {"d_ref", {REF_ARG | STRING}, -1, -1, false, false},
        {"d_same", {STRING}, -1, -1, false, true},
        {"d_few", {STRING}, -1, -1, true, false},
        {"d_many", {STRING, LONG}, -1, -1, false, false},
        {"d_var", {STRING, LONG, DOUBLE}, -1, 255, false, true},
        {"d_optional", {STRING}, 0, -1, true, true},
    };
    std::vector<objw::Prototype> protos = {proto("fromsrc")};
    for (const auto &d : decls) {
        Symbol *last = wanted(d.name);
        for (uint32_t flags : d.declared)
            last = create_function_arg(zel.hdr, last, "d", nullptr, flags, "", 0, 0, nodims);
        protos.push_back(proto(d.name, STRING));
        protos.back().required = d.required;
        protos.back().argcount = d.argcount;
        if (d.two) protos.back().args.push_back(objw::ProtoArg("y", LONG));
    }
    DllEntry *e = dll("osrc", protos);
    Captured c = capture([] { load_next_dll(); });
    std::string want = "prog: Warning: Function 'fromsrc' in DLL '" + e->name +
                       "' ignored. Taken from main.src(12)\n";
    for (const auto &d : decls) {
        EXPECT_EQ(args(fn(d.name)), (d.two ? Names{"x", "y"} : Names{"x"})) << d.name;
        EXPECT_EQ(fn(d.name)->ref_to_dll * 10 + fn(d.name)->optional, 10) << d.name;
        EXPECT_EQ(fn(d.name)->next_arg->scope, fn(d.name)) << d.name; // arguments are its own
        if (!d.matches)
            want += "prog: Error: Declaration of function '" + std::string(d.name) +
                    "' does not match its prototype in DLL '" + e->name + "'\n";
    }
    EXPECT_EQ(src->ref_to_dll, 0);
    EXPECT_EQ(c.err, want);
}

TEST_F(DllLoadTest, BadDllsAreReportedOrEndTheRun) {
    DllEntry *bad = dll("obad", {proto("f")}, true);
    Captured c = capture([&] { EXPECT_EQ(load_next_dll(), bad); });
    EXPECT_EQ(bad->loaded, 1);
    EXPECT_EQ(fn("f"), nullptr);
    EXPECT_EQ(c.err, "prog: Error: DLL '" + bad->name + "' not in proper format.\n");

    const std::string missing = dir.path() + "/omissing";
    add_dll_list(missing.c_str());
    c = capture([] { load_next_dll(); });
    EXPECT_TRUE(c.stopped);
    EXPECT_EQ(c.err, missing + ": No such file or directory\nprog: Fatal Error: Can't open DLL '" +
                         missing + "' for reading\n\n  2 ERRORS    REPORTED.\n\n");
}

// ---------------------------------------------------------------------------
// The DLL blocks as the built tool prints them.

// A DLL object that exports seven functions, not in name order: optional and
// variable argument lists with and without argument records, reference
// arguments with dimensions, where-used numbers, arguments and results
// typed by domains (one of them unknown to the dictionary), booleans, a
// function without result type. It calls one function of another DLL. One
// description names a function number outside the table: it is skipped.
const char LIBRARY[] = R"(kind dll
uses oxxbase
proto sum fun=sum flags=DOUBLE
arg values flags=DOUBLE|ARRAY dims=10
arg count flags=LONG|REF_ARG|WHERE_USED where=2
arg grid flags=LONG|REF_ARG|ARRAY dims=3,4
proto fmt fun=fmt ret=xxname flags=STRING required=1 args=2
arg code flags=STRING domain=xxcode
arg width flags=LONG|OPTIONAL_ARG
proto logv fun=logv flags=LONG required=1 args=var
arg fmt flags=STRING|CONST_ARG|WHERE_USED where=3
proto anyv fun=anyv flags=LONG required=0 args=var
proto opt2 fun=opt2 flags=LONG required=0 args=2
arg a flags=LONG domain=xxcount
arg b flags=DOUBLE domain=xxnope
proto none fun=none flags=0
proto Zed fun=Zed flags=LONG|BOOLEAN
arg on flags=LONG|BOOLEAN
function fmt
function sum
function logv
function anyv
function opt2
function none
function Zed
function helper
function basefn dll=oxxbase
usage Library of test functions.\nSecond line.
describe fmt Formats a code.
describe 9 Outside the table.
describe logv Logs a line.
describe sum Sums values.
)";

std::string replaced(std::string s, const std::string &from, const std::string &to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

const std::string USAGE = text(R"(
---------------------------DLL USAGE DESCRIPTION------------------------
Library of test functions.
Second line.
)");

// Sorted by name as unsigned bytes ("Zed" first), each followed by its
// description, if any. Positions above the required count are bracketed;
// "width" carries OPTIONAL_ARG as well, whose brackets belong to its type
// text.
const std::string PROTOTYPES = text(R"(
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
\t const string fmt whereused 3,
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
)");

// -ds of the library, and the same blocks in the full report.
const std::string LIBRARY_DS = text(R"(
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
)");

// The hint line in the DLL HINTS block: "function ", the name padded to 25
// columns, a blank.
const std::string LIBRARY_D = text(R"(
---------------------------USED DLL'S-----------------------------------
Used DLL\t= oxxbase

---------------------------DLL HINTS------------------------------------
function basefn                    (Hint: Located in DLL: oxxbase)
)");

class DllReport : public testing::Test {
  protected:
    std::string write(const objw::ObjSpec &desc, const std::string &name) {
        std::string path = dir.path() + "/" + name;
        objw::write_object_file(desc, path);
        return path;
    }
    // Runs the tool; a run that fails or complains yields a marker text.
    static std::string report(const std::string &options, const std::string &path) {
        RunResult r = run_object(path, options.empty() ? std::vector<std::string>{}
                                                       : std::vector<std::string>{options});
        if (r.status != 0 || !r.err.empty())
            return "<status " + std::to_string(r.status) + ": " + r.err + ">" + r.out;
        return r.out;
    }

    TempDir dir;
};

// -e alone shows no descriptions; everything shows the DLL blocks in their
// order, no DLL HINTS. Release 61 keeps the booleans of a symbol in flag
// bits 16, 17, 24 and 25, so neither BOOLEAN nor OPTIONAL_ARG reaches the
// type texts, and stores no name for a function of its own that it does not
// export. Revision 0 stores no where-used numbers.
TEST_F(DllReport, LibraryOfBothReleases) {
    for (int relno : {72, 61}) {
        for (int32_t revision : {7, 0}) {
            const std::string release =
                "relno " + std::to_string(relno) + "\nrevision " + std::to_string(revision) + "\n";
            SCOPED_TRACE(release);
            std::string protos = PROTOTYPES, ds = LIBRARY_DS;
            if (relno == 61) {
                protos = replaced(
                    replaced(protos, "boolean Zed(\n\t boolean on", "long Zed(\n\t long on"),
                    "[ [ long ] width ]", "[ long width ]");
                ds = replaced(ds, "7   helper", "7   <7>");
            }
            if (revision == 0)
                protos = replaced(replaced(protos, " whereused 2", ""), " whereused 3", "");
            std::string plain = protos;
            for (const char *d : {"Formats a code.\n", "Logs a line.\n", "Sums values.\n"})
                plain = replaced(plain, d, "");
            const std::string path = write(objw::parse_description(release + LIBRARY), "olib");
            EXPECT_EQ(report("-e", path), plain);
            EXPECT_EQ(report("-u", path), USAGE);
            EXPECT_EQ(report("-eu", path), USAGE + protos);
            EXPECT_EQ(report("-d", path), LIBRARY_D);
            EXPECT_EQ(report("-ds", path), ds);
            const std::string all = report("-a", path);
            EXPECT_EQ(blocks(all, "DLL USAGE", "COMPNR CHECKS"), USAGE + protos + ds);
            EXPECT_EQ(report("", path), all);
        }
    }
}

// A second prototype of a name is dropped with its argument records; the
// next record is read where it starts. A description of the function
// number of the dropped one shows nowhere. Release 61 marks the first one
// used (flag bit 16), so dropping the second is worth a warning.
TEST_F(DllReport, DuplicatePrototypeIsDropped) {
    const std::string want = text(R"(
---------------------------DLL PROTOTYPES-------------------------------
function long after(
\t long x )

Comes after.
function long dup(
\t )

First one.
)");
    for (const bool r61 : {false, true}) {
        const std::string first = r61 ? "relno 61\nproto dup fun=0 flags=LONG|0x10000"
                                      : "relno 72\nproto dup fun=0 flags=LONG";
        const std::string path = write(objw::parse_description(first + R"(
kind dll
revision 1
function dup
function dup
function after
proto dup fun=1 flags=DOUBLE
arg lost flags=STRING|WHERE_USED domain=xxcode dims=1,2 where=4
proto after fun=2 flags=LONG
arg x flags=LONG
describe 0 First one.
describe 1 Second one.
describe 2 Comes after.
)"),
                                       "odup");
        const std::string warning = "odup: Warning: Function 'dup' in DLL '" + path +
                                    "' ignored. Taken from DLL '" + path + "'\n";
        EXPECT_RUN(run_object(path, {"-eu"}), 0, want, r61 ? warning : "");
    }
}

} // namespace
