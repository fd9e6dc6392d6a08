// Whole objects of both releases, loaded by the built tool: what each
// section becomes, as the report shows it, the trailing blocks, objects
// whose sections lie out of order, and objects found by name.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "objrun.h"
#include "zel.h"

using namespace objrun;

namespace {

std::string numbered(unsigned n) {
    char b[16];
    snprintf(b, sizeof b, "%-3u", n);
    return b;
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

const std::vector<SymbolCase> &symbol_cases() {
    static const std::vector<SymbolCase> cases = {
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
    return cases;
}

std::vector<uint8_t> frames(int n) {
    std::vector<uint8_t> code;
    for (int i = 0; i < n; i++) {
        std::vector<uint8_t> f = objw::function_frame(uint16_t(i));
        code.insert(code.end(), f.begin(), f.end());
    }
    return code;
}

objw::ObjSpec program(int relno, uint32_t flags) {
    objw::ObjSpec s;
    s.relno = relno;
    s.flags = flags;
    s.compnr = {1207, -6011, 88};
    for (const SymbolCase &c : symbol_cases())
        s.symbols.push_back(c.entry);
    s.used_dlls = {"oxxutil", "oxxother"};
    s.functions = {
        {"main"}, {"report"}, {"util_fmt", FUNCTION | EXTERN, 2}, {"nodll", FUNCTION | EXTERN, 0}};
    s.code = frames(2);
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
    for (const SymbolCase &c : symbol_cases()) {
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
// not fatal.
TEST(Load, BothReleasesLoadEverySection) {
    const struct {
        int relno;
        uint32_t flags;
    } variants[] = {
        {72, 0}, {72, objflag::DEBUG}, {61, 0}, {61, objflag::DEBUG}, {61, objflag::PROFILE}};
    for (auto v : variants) {
        SCOPED_TRACE("relno " + std::to_string(v.relno) + " flags " + std::to_string(v.flags));
        const objw::ObjSpec desc = program(v.relno, v.flags);
        TestObject obj(desc);
        EXPECT_RUN(obj.run({"-s"}), 0, tables_report(v.relno, v.flags), MISSING_DOMAIN);
        RunResult r = obj.run();
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, MISSING_DOMAIN);
        EXPECT_EQ(blocks(r.out, "USED DLL'S", "ASSEMBLER CODE"),
                  "\n" + banner("USED DLL'S") + "\nUsed DLL\t= oxxutil\nUsed DLL\t= oxxother\n" +
                      tables_report(v.relno, v.flags) + "\n" + banner("DOMAINS") +
                      "\nxxcode\nxxname\nxxamount\nxxnosuch\nxxcount\n\n" +
                      banner("OBJECT IDENTS") + "\n" + desc.idents[0] + "\n" + desc.idents[1] +
                      "\n\n" + banner("COMPNR CHECKS") +
                      "\nCompnr check 1\t= 1207\nCompnr check 2\t= -6011\nCompnr check 3\t= 88\n");
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
    for (const auto &c : cases) {
        objw::ObjSpec desc;
        desc.relno = c.relno;
        desc.sections[SEC_SYMTAB].raw = c.bytes;
        desc.sections[SEC_SYMTAB].count = 1;
        TestObject obj(desc);
        RunResult r = obj.run({"-s"});
        EXPECT_EQ(r.status, 0) << c.line;
        EXPECT_EQ(block(r.out, "SYMBOL TABLE"), banner("SYMBOL TABLE") + "\n0  " + c.line + "\n");
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

objw::ObjSpec dll_object() {
    objw::ObjSpec s;
    s.kind = objw::Kind::Dll;
    s.prototypes = {{"fmt", 0, LONG, {{"code", LONG}}}, {"sum", 1, DOUBLE}};
    s.functions = {{"fmt"}, {"sum"}, {"helper"}};
    s.code = frames(3);
    s.usage = "Usage text\nsecond line";
    s.function_descriptions = {{1, "Sums."}, {0, "Formats."}};
    s.addinfo_records = {"build=test", "origin=otest.4gl"};
    return s;
}

TEST(Load, AdditionalInformationChecksum) {
    objw::ObjSpec desc = dll_object();
    desc.addinfo_checksum = 7;
    RunResult r = TestObject(desc).run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, error_line("checksum for additional info failed, expected 7, but found " +
                                std::to_string(objw::addinfo_sum(desc.addinfo_records))));
    EXPECT_NE(block(r.out, "ASSEMBLER CODE"), "");

    desc.addinfo_records.clear(); // data length 0: not compared
    r = TestObject(desc).run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
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

// An installation of its own: the sample's files and two objects, found by
// their names through the file definitions.
TEST(Load, ObjectsAreFoundByNameInAnInstallation) {
    Installation kte;
    // A copy under another name keeps the file-name checksum of the first.
    std::vector<uint8_t> image = kte.add("oxxtest", program(72, 0));
    write_file(kte.path("oxxtest2"), std::string(image.begin(), image.end()));
    RunResult r = run_zel_info({"-h", "-m", "oxxtest"}, kte.env());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(banner("GENERAL INFO") +
                              "\nObject\t\t= oxxtest\nPathname\t= " + kte.path("oxxtest") + "\n",
                          0),
              0u)
        << r.out;
    EXPECT_EQ(r.err, "oxxtest: Error: Domain 'xxnosuch' not found in data dictionary.\n");

    EXPECT_RUN(run_zel_info({"-h", "-m", "oxxtest2"}, kte.env()), 1, "",
               fatal("object 'oxxtest2' has incorrect path or name.", "oxxtest2"));
}

} // namespace
