// Objects that the fuzzer of the object loader found to upset the tool, kept
// as writer descriptions. Each must end with its message and status, and
// without a sanitizer report when the tests run in the sanitized build
// (`make test-sanitize`).
#include <gtest/gtest.h>

#include <string>

#include "objdesc.h"
#include "objrun.h"
#include "zel.h"

using namespace objrun;

namespace {

TestObject described(const char *text) {
    return TestObject(objw::parse_description(text));
}

// Names of no characters: a symbol table cut short is decoded from the
// zero-filled rest of its buffer, so in a DEBUG object its last entries get
// the empty name. The name index once shifted a 64-bit value by 64 bits for
// such a name.
TEST(FuzzFindings, EmptyNamesInTheNameIndex) {
    TestObject cut = described(R"(
        kind program
        flags DEBUG
        symbol counter flags=LONG
        symbol names   flags=STRING|ARRAY dims=5 len=40
        symbol big     flags=LONG|ARRAY dims=70000,3
        function main
        code frame main
        order prototypes dlls code compnr1 compnr2 funtab globfun strings compnr3 doubles domains idents symtab
        nodescriptions
        noaddinfo
        truncate 265
    )");
    RunResult r = cut.run({"-s"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, fatal("Object is corrupt: descriptions block runs past the end of its data"));

    // The same names in an intact object are listed like any other.
    objw::ObjSpec desc;
    desc.flags = objflag::DEBUG;
    desc.symbols = {{"", LONG}};
    desc.strings = {""};
    desc.global_functions = {""};
    r = TestObject(desc).run({"-s"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(block(r.out, "SYMBOL TABLE"), banner("SYMBOL TABLE") + "\n0   long \n");
    EXPECT_EQ(block(r.out, "GLOBAL FUNCTIONS"), banner("GLOBAL FUNCTIONS") + "\n\n");
    EXPECT_EQ(block(r.out, "STRING CONSTANTS"), banner("STRING CONSTANTS") + "\n\"\"\n");
}

} // namespace
