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
    EXPECT_RUN(cut.run({"-s"}), 1, "",
               fatal("Object is corrupt: descriptions block runs past the end of its data"));

    // The same names in an intact object are listed like any other.
    objw::ObjSpec desc;
    desc.flags = objflag::DEBUG;
    desc.symbols = {{"", LONG}};
    desc.strings = {""};
    desc.global_functions = {""};
    EXPECT_RUN(TestObject(desc).run({"-s"}), 0,
               "\n" + banner("SYMBOL TABLE") + "\n0   long \n\n" + banner("FUNCTION TABLE") +
                   "\n\n" + banner("GLOBAL FUNCTIONS") + "\n\n\n" + banner("STRING CONSTANTS") +
                   "\n\"\"\n",
               "");
}

} // namespace
