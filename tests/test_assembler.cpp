// The byte-code assembler of the object writer: encodings, label distances,
// function frames, switch tables, raw bytes and the errors it reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assembler.h"

namespace {

using Bytes = std::vector<uint8_t>;

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

TEST(Assembler, DistancesToLabelsBothWays) {
    Bytes code = assemble(R"(
        back: NOP
              BRA fwd
              BRA back
              F_BRA fwd
              B_BRA back
              F_JSR_0 fwd
              B_JSR_0 back
              F_JSR 2 fwd
              B_JSR 1 back
              CBEQ -3
        fwd:  RET
    )");
    EXPECT_EQ(code, (Bytes{0, 65, 0,  26, 65, 0xFF, 0xFB, 77, 20, 89, 10, 94,   0,    16, 98,
                           0, 15, 93, 2,  0,  9,    97,   1,  0,  23, 63, 0xFF, 0xFD, 118}));
}

TEST(Assembler, FunctionFrames) {
    Bytes code = assemble(R"(
        f: .function 3
           RET
           .link args 1 &2 locals 3 globals 4 5
           .function 0x102 size 99
           RET
           .link length 7
    )");
    EXPECT_EQ(code, (Bytes{121, 0, 0, 0,   8,    0, 3, 118, 117, 0, 0, 0, 20,  2, 0, 1,
                           0,   2, 0, 1,   0x80, 2, 0, 3,   0,   4, 0, 5, 121, 0, 0, 0,
                           99,  1, 2, 118, 117,  0, 0, 0,   7,   0, 0, 0, 0,   0}));
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

TEST(Assembler, ErrorsNameTheLine) {
    struct Case {
        const char *source;
        const char *message;
    };
    const Case cases[] = {
        {"NOP\nFOO 1", "line 2: unknown mnemonic 'FOO'"},
        {"PUSH", "line 1: PUSH takes 1 operand(s), found 0"},
        {"PUSH_B 256", "line 1: value 256 out of range 0..255"},
        {"PUSHINT x1", "line 1: expected a number, found 'x1'"},
        {"NOP\nBRA nowhere\nNOP", "line 2: undefined label 'nowhere'"},
        {"a: NOP\nF_BRA a", "line 2: label 'a' lies behind a forward distance"},
        {"B_BRA a\na: NOP", "line 1: label 'a' lies ahead of a backward distance"},
        {"a: NOP\na: NOP", "line 2: label 'a' defined twice"},
        {".switch\ncase 1 later\n.endswitch\nlater: NOP", "line 3: switch label 'later'"},
        {".switch\njump -\ncase 1 -", "line 3: jump, case and string entries cannot be mixed"},
        {".switch\n", "line 1: .endswitch missing"},
        {".function 1\nRET", "line 2: .link missing"},
        {".function 1\n.function 2", "line 2: function still open"},
        {"SUB_LINK", "line 1: SUB_LINK is written with .link"},
        {".link args 5 &6 locals &7", "line 1: only arguments are passed by reference"},
        {".org 5", "line 1: unknown directive '.org'"},
    };
    for (const Case &c : cases) {
        try {
            assemble(c.source);
            ADD_FAILURE() << "accepted: " << c.source;
        } catch (const AsmError &e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << c.source << " -> " << e.what();
        }
    }
    std::string far = "a: NOP\n";
    for (int i = 0; i < 300; ++i)
        far += "NOP\n";
    EXPECT_THROW(assemble(far + "B_BRA a"), AsmError);
}

} // namespace
