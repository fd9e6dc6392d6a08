// The test tools: the object writer's section encodings, its text
// description format, and the byte-code assembler. The reports of the tool
// are compared with texts worked out by hand, so a writer that agreed with
// the loader on a wrong encoding would go unnoticed there: these tests pin
// the bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assembler.h"
#include "objdesc.h"
#include "objrun.h"
#include "zel.h"

namespace {

using Bytes = std::vector<uint8_t>;
using objrun::be32;
const std::string PATH = "/k/obj/oxxtst/otest";

Bytes section(const Bytes &image, const objw::Layout &l, int i) {
    return Bytes(image.begin() + l.start[size_t(i)],
                 image.begin() + l.start[size_t(i)] + l.size[size_t(i)]);
}

TEST(ObjWriter, SymbolEntriesChooseTheirWidth) {
    objw::ObjSpec desc;
    desc.symbols = {
        {"a", LONG},
        {"e", LONG | EXTERN},
        {"s", STRING, {}, 300},
        {"m", LONG | ARRAY, {3, 4}},
        {"sa", STRING | ARRAY, {5}, 40},
        {"d", STRING, {}, 10, "xxcode"},
        {"dd", LONG | DD_NAME},
        {"big", LONG | ARRAY, {70000}},
    };
    desc.symbols.push_back({"w", STRING, {}, 5});
    desc.symbols.back().width = 4;
    objw::Layout l;
    Bytes image = objw::build_object(desc, PATH, &l);
    Bytes want = {0, 0, 0,    1,                              // a: no name without DEBUG
                  0, 0, 0,    9,    'e', 0,                   // e: extern keeps its name
                  0, 0, 8,    4,    1,   0x2C,                // s: 2-byte length
                  0, 0, 0,    0x11, 2,   4,    3,             // m: dims last to first
                  0, 0, 0,    0x14, 2,   40,   5,             // sa: length, then dims
                  0, 0, 8,    4,    0,   10,                  // d: a domain forces 2 bytes
                  0, 0, 4,    1,                              // dd: no size data
                  0, 0, 0x10, 0x11, 1,   0,    1, 0x11, 0x70, // big: 4-byte dims
                  0, 0, 0x10, 4,    0,   0,    0, 5};         // w: forced width
    EXPECT_EQ(section(image, l, SEC_SYMTAB), want);
    EXPECT_EQ(section(image, l, SEC_DOMAINS),
              (Bytes{'x', 'x', 'c', 'o', 'd', 'e', 0, 0, 1, 0, 0, 0, 30, 0}));
    EXPECT_EQ(be32(image, 36), 1u); // count_extern
}

TEST(ObjWriter, PrototypesAndTrailingBlocks) {
    objw::ObjSpec desc;
    desc.kind = objw::Kind::Dll;
    desc.obj_revision = 1;
    desc.prototypes = {{"f", 3, STRING, {{"a", LONG | WHERE_USED, "", {7}}}}};
    desc.prototypes[0].domain = "xxcode";
    desc.prototypes[0].args[0].whereused = 9;
    desc.usage = "U";
    desc.function_descriptions = {{1, "D"}};
    desc.addinfo_records = {"ab", "c"};
    objw::Layout l;
    Bytes image = objw::build_object(desc, PATH, &l);
    EXPECT_EQ(section(image, l, SEC_PROTOTYPES),
              (Bytes{0, 2, 'f', 0,   0, 3, 0, 7, 'x', 'x', 'c', 'o', 'd', 'e', 0, 0, 0, 0, 4, 1,
                     1, 0, 2,   'a', 0, 0, 0, 4, 0,   0,   1,   0,   0,   0,   9, 1, 0, 0, 0, 7}));
    EXPECT_EQ(l.descriptions, l.start[SEC_IDENTS] + l.size[SEC_IDENTS]);
    EXPECT_EQ(Bytes(image.begin() + l.descriptions, image.begin() + l.addinfo),
              (Bytes{0, 0, 0, 16, 0, 1, 0, 0, 0, 2, 'U', 0, 0, 0, 0, 2, 0, 1, 'D', 0}));
    EXPECT_EQ(
        Bytes(image.begin() + l.addinfo, image.end()),
        (Bytes{0, 0, 0, 23, 0, 1, 0, 18, 0, 0, 0, 5, 0, 2, 0, 0, 1, 0x26, 'a', 'b', 0, 'c', 0}));
    EXPECT_EQ(be32(image, 32), uint32_t(objflag::DLL | objflag::ADDINFO));
}

const char *DESCRIPTION = R"(# a test object
kind dll
relno 61
flags DEBUG|STICKY
revision 2
startdate 2020-02-29
uses oxxone
proto f fun=f ret=xxcode flags=STRING|BOOLEAN args=var required=1
arg a flags=LONG|OPTIONAL_ARG dims=2,3
symbol v flags=LONG|ARRAY dims=3,4
symbol s flags=STRING len=12 domain=xxname
function f
function g dll=oxxone
global chr$
string "  padded\t\x41 "
double 1.5
domain xxextra v @99
ident id
code hex 01 02
code frame f body=0304 args=&v,s locals=1
usage use it
describe f does things
addinfo rec
)";

objw::ObjSpec expected_spec() {
    objw::ObjSpec desc;
    desc.kind = objw::Kind::Dll;
    desc.relno = 61;
    desc.flags = objflag::DEBUG | objflag::STICKY;
    desc.obj_revision = 2;
    desc.startdate = objw::day_number(2020, 2, 29);
    desc.used_dlls = {"oxxone"};
    desc.prototypes = {{"f", 0, STRING | BOOLEAN, {{"a", LONG | OPTIONAL_ARG, "", {2, 3}}}}};
    desc.prototypes[0].domain = "xxcode";
    desc.prototypes[0].argcount = 255;
    desc.prototypes[0].required = 1;
    desc.symbols = {{"v", LONG | ARRAY, {3, 4}}, {"s", STRING, {}, 12, "xxname"}};
    desc.functions = {{"f"}, {"g", FUNCTION | EXTERN, 1}};
    desc.global_functions = {"chr$"};
    desc.strings = {"  padded\tA "};
    desc.doubles = {"1.5"};
    desc.domains = {{"xxextra", {"v"}, {99}}};
    desc.idents = {"id"};
    desc.code = {1, 2};
    Bytes frame = objw::function_frame(0, {3, 4}, {0x8000, 1}, {1});
    desc.code.insert(desc.code.end(), frame.begin(), frame.end());
    desc.usage = "use it";
    desc.function_descriptions = {{0, "does things"}};
    desc.addinfo_records = {"rec"};
    return desc;
}

TEST(Description, ParsesToTheSameObjectAsTheSpec) {
    objw::ObjSpec parsed = objw::parse_description(DESCRIPTION);
    EXPECT_EQ(objw::build_object(parsed, PATH), objw::build_object(expected_spec(), PATH));
}

TEST(Assembler, OperandsInByteOrderAndWidth) {
    EXPECT_EQ(
        assemble("push 0x1234 ; comment\n"
                 "PUSHLONG 4294967295 # another\n"
                 "JSR 300, 2\n"
                 "I_JSR 2 5\n"
                 "XY_MOV_B 7 8\n"
                 "LINE 65535 0x10203\n"
                 "SUB_TEXT 40 3\n"
                 "CAT_N\n"
                 "LAST\n"),
        (Bytes{1, 0x12, 0x34, 6,    0xFF, 0xFF, 0xFF, 0xFF, 109, 1, 44, 2, 101, 2, 0, 5,   17,
               7, 8,    91,   0xFF, 0xFF, 1,    2,    3,    121, 0, 0,  0, 40,  0, 3, 119, 122}));
    EXPECT_EQ(assemble(".byte 1 -1 0xFF\n.short -2 0x1234\n.long 0x01020304"),
              (Bytes{1, 0xFF, 0xFF, 0xFF, 0xFE, 0x12, 0x34, 1, 2, 3, 4}));
}

TEST(Assembler, SwitchTables) {
    // Direct table with a default, entries without label.
    EXPECT_EQ(assemble("a: NOP\nb: NOP\n.switch default b subtract 10 divide 10\njump a - b\n"
                       ".endswitch"),
              (Bytes{0, 0, 120, 1, 7, 3, 7, 2, 7, 10, 7, 10, 0, 7, 3, 0, 2}));
    // Numeric search table on a variable: 2-byte keys, negative subtract.
    EXPECT_EQ(assemble("a: NOP\n.switch var 300 subtract -5\ncase 0 a\ncase 999 -\n.endswitch"),
              (Bytes{0,    120,  3, 1, 44, 7, 2, 7, 0, 10, 0xFF, 0xFF,
                     0xFF, 0xFB, 7, 0, 8,  7, 0, 0, 2, 3,  0xE7, 0}));
    // String keys; a far label needs 2-byte distances.
    std::string far = "a: NOP\n";
    for (int i = 0; i < 300; ++i)
        far += "NOP\n";
    Bytes code = assemble(far + ".switch var 5\nstring 6 a\n.endswitch");
    EXPECT_EQ(Bytes(code.begin() + 301, code.end()),
              (Bytes{120, 2, 5, 7, 1, 7, 0, 7, 0, 7, 0, 4, 8, 6, 1, 46}));
    // Kinds named explicitly.
    EXPECT_EQ(assemble("a: NOP\n.switch keys 10 addr 8\ncase 1 a\n.endswitch"),
              (Bytes{0, 120, 1, 7, 1, 7, 0, 7, 0, 7, 0, 10, 8, 0, 0, 0, 1, 0, 2}));
}

// Errors of both text formats name the line.
TEST(Description, ErrorsNameTheLine) {
    auto error_of = [](const char *text) {
        try {
            objw::parse_description(text);
        } catch (const objw::DescError &e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(error_of("relno 72\n\nbogus 1\n"), "line 3: unknown keyword 'bogus'");
    EXPECT_EQ(error_of("code asm\nNOP\nFOO 1\nend\n"),
              "line 1: assembler: line 2: unknown mnemonic 'FOO'");
    EXPECT_THROW(assemble("B_BRA a\na: NOP"), AsmError);
}

} // namespace
