// The object writer: section encodings, layout and damage, the text
// description format and the mkobj command.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "objwriter.h"
#include "zel.h"
#include "zel_obj.h"

namespace {

using Bytes = std::vector<uint8_t>;
const std::string PATH = "/k/obj/oxxtst/otest";

Bytes section(const Bytes &image, const objw::Layout &l, int i) {
    return Bytes(image.begin() + l.start[size_t(i)],
                 image.begin() + l.start[size_t(i)] + l.size[size_t(i)]);
}

uint32_t be32(const Bytes &b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

TEST(ObjWriter, DayNumbersAndObjectPaths) {
    EXPECT_EQ(objw::day_number(1, 1, 1), 1);
    EXPECT_EQ(objw::day_number(2000, 3, 1), 730180);
    EXPECT_EQ(objw::day_number(9999, 1, 1), 3651695);
    EXPECT_EQ(objw::object_path("/k/obj", "oxxmain"), "/k/obj/oxxmai/omain");
    EXPECT_EQ(objw::object_path("obj", "oxxmod0001"), "obj/oxxmod/omod0001");
}

TEST(ObjWriter, SymbolEntriesChooseTheirWidth) {
    objw::ObjSpec spec;
    spec.symbols = {
        {"a", LONG},
        {"e", LONG | EXTERN},
        {"s", STRING, {}, 300},
        {"m", LONG | ARRAY, {3, 4}},
        {"sa", STRING | ARRAY, {5}, 40},
        {"d", STRING, {}, 10, "xxcode"},
        {"dd", LONG | DD_NAME},
        {"big", LONG | ARRAY, {70000}},
    };
    spec.symbols.push_back({"w", STRING, {}, 5});
    spec.symbols.back().width = 4;
    objw::Layout l;
    Bytes image = objw::build_object(spec, PATH, &l);
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

TEST(ObjWriter, Release61UsesFlagCodesAndStoresNamesAsTheFormatSays) {
    objw::ObjSpec spec;
    spec.relno = 61;
    spec.symbols = {
        {"a", LONG}, {"t", STRING | EXTERN, {}, 5}, {"n", STRING | ARRAY | FIXED, {2}, 300}};
    spec.code = objw::function_frame(0);
    auto more = objw::function_frame(1);
    spec.code.insert(spec.code.end(), more.begin(), more.end());
    spec.used_dlls = {"oxxa", "oxxb"};
    spec.functions = {{"f0"}, {"f1"}, {"x", FUNCTION | EXTERN, 2}};
    objw::Layout l;
    Bytes image = objw::build_object(spec, PATH, &l);
    EXPECT_EQ(section(image, l, SEC_SYMTAB),
              (Bytes{0, 56, 5, 't', 0, uint8_t(object_flag_code(0x834)), 2, 1, 0x2C, 0, 2}));
    EXPECT_EQ(section(image, l, SEC_FUNTAB),
              (Bytes{190, 0, 0, 0, 0, 190, 0, 0, 0, 18, 191, 0, 0, 0, 2, 'x', 0}));

    spec.relno = 72;
    spec.flags = objflag::DEBUG;
    image = objw::build_object(spec, PATH, &l);
    Bytes funtab = section(image, l, SEC_FUNTAB);
    EXPECT_EQ(Bytes(funtab.begin(), funtab.begin() + 11),
              (Bytes{0, 0, 2, 0, 0, 0, 0, 0, 'f', '0', 0}));
    EXPECT_EQ(section(image, l, SEC_SYMTAB)[4], 'a');

    spec.relno = 61;
    spec.symbols = {{"bad", STRING | ARRAY}}; // not in the flag table
    EXPECT_THROW(objw::build_object(spec, PATH), objw::DescError);
}

TEST(ObjWriter, PrototypesAndTrailingBlocks) {
    objw::ObjSpec spec;
    spec.kind = objw::Kind::Dll;
    spec.obj_revision = 1;
    spec.prototypes = {{"f", 3, STRING, {{"a", LONG | WHERE_USED, "", {7}}}}};
    spec.prototypes[0].domain = "xxcode";
    spec.prototypes[0].args[0].whereused = 9;
    spec.usage = "U";
    spec.function_descriptions = {{1, "D"}};
    spec.addinfo_records = {"ab", "c"};
    objw::Layout l;
    Bytes image = objw::build_object(spec, PATH, &l);
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

TEST(ObjWriter, DamageKeepsOrBreaksTheChecksumAsAsked) {
    objw::ObjSpec spec;
    spec.strings = {"abc"};
    spec.order = {SEC_IDENTS, SEC_CODE};
    spec.sections[SEC_STRINGS].gap = 3;
    spec.sections[SEC_FUNTAB].count = 9;
    spec.patches = {{5, {'Q'}}};
    objw::Layout l;
    Bytes image = objw::build_object(spec, PATH, &l);
    EXPECT_LT(l.start[SEC_IDENTS], l.start[SEC_CODE]);
    EXPECT_EQ(l.descriptions, l.start[SEC_IDENTS] + l.size[SEC_IDENTS]);
    EXPECT_EQ(l.start[SEC_STRINGS], l.start[SEC_GLOBFUN] + l.size[SEC_GLOBFUN] + 3);
    EXPECT_EQ(image[l.start[SEC_STRINGS] - 1], spec.filler);
    EXPECT_EQ(image[48 + 10 * SEC_FUNTAB + 9], 9);
    EXPECT_EQ(image[5], 'Q'); // patched after the checksum
    image[5] = '_';
    EXPECT_EQ(be32(image, 178), objw::object_checksum(image));

    spec.header.checksum_delta = -2;
    spec.truncate = 100;
    image = objw::build_object(spec, PATH);
    EXPECT_EQ(image.size(), 100u);
    spec.truncate.reset();
    image = objw::build_object(spec, PATH);
    image[5] = '_';
    EXPECT_EQ(be32(image, 178), objw::object_checksum(image) - 2);
}

TEST(ObjWriter, CompnrChecksCountMissingBytesAsFF) {
    objw::ObjSpec spec;
    spec.sections[SEC_COMPNR1].start = 1000000;
    Bytes image = objw::build_object(spec, PATH);
    Bytes plain = objw::build_object(objw::ObjSpec(), PATH);
    auto field_sum = [](const Bytes &b) {
        return uint32_t(b[78] + b[79] + b[80] + b[81]); // start of compnr check 1
    };
    // Compnr check 1 holds 0; read past the end it counts 4 * 0xFF.
    EXPECT_EQ(be32(image, 178), be32(plain, 178) - field_sum(plain) + field_sum(image) + 4 * 0xFF);
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
    objw::ObjSpec spec;
    spec.kind = objw::Kind::Dll;
    spec.relno = 61;
    spec.flags = objflag::DEBUG | objflag::STICKY;
    spec.obj_revision = 2;
    spec.startdate = objw::day_number(2020, 2, 29);
    spec.used_dlls = {"oxxone"};
    spec.prototypes = {{"f", 0, STRING | BOOLEAN, {{"a", LONG | OPTIONAL_ARG, "", {2, 3}}}}};
    spec.prototypes[0].domain = "xxcode";
    spec.prototypes[0].argcount = 255;
    spec.prototypes[0].required = 1;
    spec.symbols = {{"v", LONG | ARRAY, {3, 4}}, {"s", STRING, {}, 12, "xxname"}};
    spec.functions = {{"f"}, {"g", FUNCTION | EXTERN, 1}};
    spec.global_functions = {"chr$"};
    spec.strings = {"  padded\tA "};
    spec.doubles = {"1.5"};
    spec.domains = {{"xxextra", {"v"}, {99}}};
    spec.idents = {"id"};
    spec.code = {1, 2};
    Bytes frame = objw::function_frame(0, {3, 4}, {0x8000, 1}, {1});
    spec.code.insert(spec.code.end(), frame.begin(), frame.end());
    spec.usage = "use it";
    spec.function_descriptions = {{0, "does things"}};
    spec.addinfo_records = {"rec"};
    return spec;
}

TEST(Description, ParsesToTheSameObjectAsTheSpec) {
    objw::ObjSpec parsed = objw::parse_description(DESCRIPTION);
    EXPECT_EQ(objw::build_object(parsed, PATH), objw::build_object(expected_spec(), PATH));
}

TEST(Description, DamageDirectives) {
    objw::ObjSpec spec = objw::parse_description(
        "tiv 2 1020\norder idents 2\ngap symtab 4\nsection funtab start=7 count=3\n"
        "section strings raw 00 01 41 00\nheader magic [_zel_obj_]X\nheader enddate 2000-01-01\n"
        "header relno 99\nchecksum_delta -1\naddinfo_checksum 5\npatch 0x10 ABCD\ntruncate 300\n");
    EXPECT_EQ(spec.tiv->type, 2);
    EXPECT_EQ(spec.tiv->value, 1020);
    EXPECT_EQ(spec.order, (std::vector<int>{SEC_IDENTS, SEC_CODE}));
    EXPECT_EQ(spec.sections[SEC_SYMTAB].gap, 4u);
    EXPECT_EQ(spec.sections[SEC_FUNTAB].start, 7u);
    EXPECT_EQ(spec.sections[SEC_FUNTAB].count, 3);
    EXPECT_EQ(spec.sections[SEC_STRINGS].raw, (Bytes{0, 1, 'A', 0}));
    EXPECT_EQ(spec.header.magic, "[_zel_obj_]X");
    EXPECT_EQ(spec.header.enddate, objw::day_number(2000, 1, 1));
    EXPECT_EQ(spec.header.relno, 99);
    EXPECT_EQ(spec.header.checksum_delta, -1);
    EXPECT_EQ(spec.addinfo_checksum, 5u);
    EXPECT_EQ(spec.patches.at(0).offset, 16u);
    EXPECT_EQ(spec.patches.at(0).bytes, (Bytes{0xAB, 0xCD}));
    EXPECT_EQ(spec.truncate, 300u);
}

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
    EXPECT_EQ(error_of("describe nosuch text\n"), "line 1: unknown function 'nosuch'");
    EXPECT_EQ(error_of("code hex 123\n"), "line 1: odd number of hex digits");
    EXPECT_EQ(error_of("symbol x size=3\n"), "line 1: unknown argument 'size'");
    EXPECT_EQ(error_of("relno seven\n"), "line 1: bad number 'seven'");
    EXPECT_EQ(error_of("code asm\nRET\n"), "line 1: \"code asm\" without \"end\"");
    EXPECT_EQ(error_of("code asm\nNO_SUCH_MNEMONIC 1 2 3\nend\n").rfind("line 1: assembler: ", 0),
              0u);
}

TEST(Mkobj, WritesAValidObjectAtItsPlace) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("mkobj_test_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::path desc = dir / "oxxtest.desc";
    std::ofstream(desc) << DESCRIPTION;
    fs::path out = dir / "obj" / "oxxtes" / "otest";
    std::string cmd = std::string(MKOBJ_BIN) + " " + desc.string() + " " + out.string();
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream in(out, std::ios::binary);
    Bytes image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(image, objw::build_object(expected_spec(), out.string()));
    EXPECT_EQ(be32(image, 44), fname_sum(out.c_str()));

    std::ofstream(desc) << "kind nothing\n";
    cmd += " 2>/dev/null";
    EXPECT_NE(std::system(cmd.c_str()), 0);
    fs::remove_all(dir);
}

} // namespace
