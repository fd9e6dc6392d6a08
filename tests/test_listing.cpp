// The ASSEMBLER CODE listing as the built tool prints it for whole objects
// made by the object writer and the assembler: every opcode and operand
// format, calls and branches both ways, the switch table kinds, source lines
// in the extended line form, wide positions, and invalid code that ends the
// run after what was listed before it. In-process: instruction lengths, a
// single instruction, and the compiler's listing file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "al_strm.h"
#include "assembler.h"
#include "capture.h"
#include "objrun.h"
#include "zel.h"
#include "zel_asm.h"
#include "zel_print.h"
#include "zel_symtab.h"

namespace {

using namespace objrun;

// What `-i` prints in front of the listing: the banner after an empty line.
const std::string LISTING_HEAD = "\n" + objrun::banner("ASSEMBLER CODE") + "\n";

// ---------------------------------------------------------------------------
// An object that uses every operand format, each kind of instruction once
// (the instruction table's own test holds every opcode's mnemonic, size and
// format).
//
// Symbols 0 to 12 are named, 13 to 299 fill the table so that 300 and 301
// need the two-byte forms. Strings and their offsets (a record is a 2-byte
// length, the text and a NUL): "cov.4gl" 0, "Total: " 10, "" 20, "open" 23,
// "closed" 30, two texts in the extended line form 39 and 50, a ruler of 250
// dashes 61, "Report of %s" 314, a text of 65300 characters 329 and
// "far.4gl" 65632, beyond the reach of two bytes.
//
// The first extended line text has the compiler's marker 2, the offset 65632
// (bytes 01 00 60, Base64 "AQBg") and the upper line bits 1 ("AAE"); the
// second has the marker 1, the offset 0 ("AAAA") and the upper bits 26444
// ("Z0z": the last capital, the first digit and the last small letter).
objw::ObjSpec coverage_object() {
    objw::ObjSpec s;
    s.flags = objflag::DEBUG;
    s.used_dlls = {"oxxutil"};
    s.symbols = {
        {"counter", LONG},                            // 0
        {"total", DOUBLE},                            // 1
        {"name", STRING, {}, 20},                     // 2
        {"items", LONG | ARRAY, {10}},                // 3
        {"ext_count", LONG | EXTERN},                 // 4
        {"seen", LONG | STATIC},                      // 5
        {"report.i", LONG},                           // 6
        {"report.line", STRING, {}, 80},              // 7
        {"report.n", LONG},                           // 8
        {"report.title", STRING | CONST_ARG, {}, 30}, // 9
        {"report.sum", DOUBLE},                       // 10
        {"grand", DOUBLE},                            // 11
        {"status", LONG},                             // 12
    };
    while (s.symbols.size() < 300)
        s.symbols.push_back({"tmp" + std::to_string(s.symbols.size()), LONG});
    s.symbols.push_back({"far_var", LONG});           // 300
    s.symbols.push_back({"far_str", STRING, {}, 10}); // 301
    s.functions = {{"main"}, {"report"}, {"fmt_line"}, {"util_sum", FUNCTION | EXTERN, 1}};
    s.global_functions = {"chr$", "bit.and", "printf"};
    const std::string ruler(250, '-'), wide(65300, '=');
    s.strings = {"cov.4gl", "Total: ",      "",   "open",   "closed", "\2AQBgAAE", "\1AAAAZ0z",
                 ruler,     "Report of %s", wide, "far.4gl"};
    s.doubles = {"0.5", "100", "3.14159"};
    return s;
}

// A line of the listing: the position in five columns, a tab, the mnemonic
// in eight columns, then the operands, each behind three blanks. The TBNE
// of main branches back; S_JSR 2 3 calls util_sum,
// a DLL function; S_JSR_0 1 names function 1, where symbol 1 is total.
TEST(Listing, EveryOpcodeAndOperandFormat) {
    objw::ObjSpec s = coverage_object();
    SideBySide code = side_by_side(R"(
                               |
                               | function main:
main:     .function 0          |     0\tSUB_TEXT   size(170) funnr <0>
top:      LINE 10 0            |     7\tLINE       10   cov.4gl
          NOP                  |    13\tNOP     
          RESETBUF             |    14\tRESETBUF
          PUSH_B 0             |    15\tPUSH_B     counter
          PUSHBYTE 255         |    17\tPUSHBYTE   255
          MOVE                 |    19\tMOVE    
          PUSH 300             |    20\tPUSH       far_var
          PUSHINT 65535        |    23\tPUSHINT    65535
          MOVE                 |    26\tMOVE    
          PUSH_B 1             |    27\tPUSH_B     total
          PUSHLONG 4294967295  |    29\tPUSHLONG   4294967295
          MOVE                 |    34\tMOVE    
          PUSHNEGB 1           |    35\tPUSHNEGB   1
          PUSHNEGI 300         |    37\tPUSHNEGI   300
          PUSHNEGL 70000       |    40\tPUSHNEGL   70000
          ADD                  |    45\tADD     
          PUSHFP_B 0           |    46\tPUSHFP_B   0.5
          PUSHFP 2             |    48\tPUSHFP     3.14159
          TO_LONG              |    51\tTO_LONG 
          POP                  |    52\tPOP     
          PUSH_B 2             |    53\tPUSH_B     name
          PUSHS_B 10           |    55\tPUSHS_B    "Total: "
          PUSHS 314            |    57\tPUSHS      "Report of %s"
          CAT                  |    60\tCAT     
          PUSHS_3B 65632       |    61\tPUSHS_3B   "far.4gl"
          CAT                  |    65\tCAT     
          MOVE                 |    66\tMOVE    
          XY_MOVE 300 301      |    67\tXY_MOVE    far_var   far_str
          XY_MOV_B 0 12        |    72\tXY_MOV_B   counter   status
          PUSHBYTE 3           |    75\tPUSHBYTE   3
          POFF 3               |    77\tPOFF       items
          POES 2               |    80\tPOES       name
          BASE                 |    83\tBASE    
          PUSH_PR 12           |    84\tPUSH_PR    status
          TTX_ADD 0            |    87\tTTX_ADD    counter
          TTX_CAT 2            |    90\tTTX_CAT    name
          TXY_ADD 0 300        |    93\tTXY_ADD    counter   far_var
          TXY_CAT 2 301        |    98\tTXY_CAT    name   far_str
          TX_NEG 0             |   103\tTX_NEG     counter
          XXY_ADD 0 300        |   106\tXXY_ADD    counter   far_var
          XXY_CAT 2 301        |   111\tXXY_CAT    name   far_str
          X_NEG 0              |   116\tX_NEG      counter
          LINE 11 0            |   119\tLINE       11   cov.4gl
          PUSH_B 2             |   125\tPUSH_B     name
          F_JSR 1 report       |   127\tF_JSR      report   1
          POP                  |   131\tPOP     
          F_JSR_0 fmt_line     |   132\tF_JSR_0    fmt_line
          S_JSR 2 3            |   135\tS_JSR      util_sum   2
          S_JSR_0 1            |   139\tS_JSR_0    report
          S_JSR_0P 2           |   142\tS_JSR_0P   fmt_line
          I_JSR 1 2            |   145\tI_JSR      fmt_line   1
          I_JSR_0 12           |   149\tI_JSR_0    status
          JSR 2 2              |   152\tJSR        printf   2
          JSR_0 0              |   156\tJSR_0      chr$
          JSR_B 0 1            |   159\tJSR_B      chr$   1
          JSR_0_B 1            |   162\tJSR_0_B    bit.and
          PUSH_B 12            |   164\tPUSH_B     status
          TBNE top             |   166\tTBNE       7
          RET                  |   169\tRET     
          .link globals 4 5 11 |   170\tSUB_LINK   0 arguments, 0 locals, 3 externs/global/statics:
                               | \t\t   (extern)  ext_count
                               | \t\t   (static)  seen
                               | \t\t   (global)  grand
                               |
                               | function report:
report:   .function 1          |   186\tSUB_TEXT   size(39) funnr <1>
          LINE 20 0            |   193\tLINE       20   cov.4gl
rtop:     NOP                  |   199\tNOP     
          TBGT rend            |   200\tTBGT       217
          TBLE rtop            |   203\tTBLE       199
          BRA rend             |   206\tBRA        217
          F_TBGT rend          |   209\tF_TBGT     217
          F_BRA rend           |   211\tF_BRA      217
          B_TBGT rtop          |   213\tB_TBGT     199
          B_BRA rtop           |   215\tB_BRA      199
rend:     B_JSR 1 main         |   217\tB_JSR      main   1
          B_JSR_0 main         |   221\tB_JSR_0    main
          RET                  |   224\tRET     
          .link args 8 9 &10 locals 6 7 |   225\tSUB_LINK   3 arguments, 2 locals, 0 externs/global/statics:
                               | \t\t   (val)     report.n
                               | \t\t   (const)   report.title
                               | \t\t   (ref)     report.sum
                               | \t\t   (loc)     report.i
                               | \t\t   (loc)     report.line
                               |
                               | function fmt_line:
fmt_line: .function 2          |   245\tSUB_TEXT   size(150) funnr <2>
          LINE 30 0            |   252\tLINE       30   cov.4gl
          PUSH_B 12            |   258\tPUSH_B     status
          BRA sw1              |   260\tBRA        280
c10:      PUSHS_B 23           |   263\tPUSHS_B    "open"
          F_BRA sw1end         |   265\tF_BRA      295
c20:      PUSHS_B 30           |   267\tPUSHS_B    "closed"
          F_BRA sw1end         |   269\tF_BRA      295
c30:      PUSHS_B 20           |   271\tPUSHS_B    ""
          F_BRA sw1end         |   273\tF_BRA      295
dflt:     PUSHS 314            |   275\tPUSHS      "Report of %s"
          F_BRA sw1end         |   278\tF_BRA      295
sw1:      .switch default dflt subtract 10 divide 10 |   280\tSWITCH_T
          jump c10 c20 c30
          .endswitch
                               | \tType arg:  1
                               | \tDept:      3
                               | \tDefault:   275
                               | \tSubtract:  10
                               | \tDivide:\t   10
                               | \tJump    -> addr
                               | \t---------------
                               | \t0       -> 263  
                               | \t1       -> 267  
                               | \t2       -> 271  
sw1end:   BRA sw2              |   295\tBRA        309
          NOP                  |   298\tNOP     
          NOP                  |   299\tNOP     
          NOP                  |   300\tNOP     
m1:       PUSHBYTE 1           |   301\tPUSHBYTE   1
          F_BRA sw2end         |   303\tF_BRA      335
m2:       PUSHBYTE 2           |   305\tPUSHBYTE   2
          F_BRA sw2end         |   307\tF_BRA      335
sw2:      .switch var 300 subtract -5 |   309\tSWITCH_T
          case 0 m1
          case 1 -
          case 999 m2
          .endswitch
                               | \tType arg:  3
                               | \tDept:      3
                               | \tDefault:   0
                               | \tSubtract:  -5
                               | \tDivide:\t   0
                               | \tSearch  -> addr
                               | \t---------------
                               | \t0       -> 301  
                               | \t1       -> 0    
                               | \t999     -> 305  
sw2end:   PUSH_B 2             |   335\tPUSH_B     name
          F_BRA sw3            |   337\tF_BRA      351
s1:       PUSHBYTE 1           |   339\tPUSHBYTE   1
          F_BRA sw3end         |   341\tF_BRA      375
s2:       PUSHBYTE 2           |   343\tPUSHBYTE   2
          F_BRA sw3end         |   345\tF_BRA      375
s3:       PUSHBYTE 3           |   347\tPUSHBYTE   3
          F_BRA sw3end         |   349\tF_BRA      375
sw3:      .switch              |   351\tSWITCH_T
          string 23 s1
          string 30 s2
          string 65632 s3
          .endswitch
                               | \tType arg:  1
                               | \tDept:      3
                               | \tDefault:   0
                               | \tSubtract:  0
                               | \tDivide:\t   0
                               | \tSearch  -> addr
                               | \t---------------
                               | \t        -> 339   "open"
                               | \t        -> 343   "closed"
                               | \t        -> 347   "far.4gl"
sw3end:   LINE 4464 39         |   375\tLINE       70000   far.4gl
          LINE 5 50            |   381\tLINE       1733033989   cov.4gl
          LINE 7 65632         |   387\tLINE       7   far.4gl
          LAST                 |   393\tLAST    
          RET                  |   394\tRET     
          .link args 2         |   395\tSUB_LINK   1 arguments, 0 locals, 0 externs/global/statics:
                               | \t\t   (val)     name
)");
    s.code = assemble(code.source);
    EXPECT_RUN(TestObject(s).run({"-i"}), 0, LISTING_HEAD + code.listing, "");
}

// Positions above 99999: one function of 59999 PUSHLONG instructions (5 bytes
// each, from position 7) followed by a short loop, so that the last
// instructions stand at six-digit positions. The code is larger than the
// step at which listed code is given back (at an odd position here), which
// must leave alone the bytes still to be listed.
TEST(Listing, PositionsBeyond99999WidenTheFirstColumn) {
    objw::ObjSpec s;
    s.flags = objflag::DEBUG;
    s.symbols = {{"counter", LONG}};
    s.functions = {{"init"}};
    s.strings = {"big.4gl"};
    std::string source = "init: .function 0\n";
    std::string want =
        LISTING_HEAD + "\nfunction init:\n    0\tSUB_TEXT   size(300016) funnr <0>\n";
    for (int i = 0; i < 59999; ++i) {
        source += "PUSHLONG " + std::to_string(i) + "\n";
        char line[64];
        snprintf(line, sizeof line, "%5d\tPUSHLONG   %d\n", 7 + 5 * i, i);
        want += line;
    }
    SideBySide tail = side_by_side(R"(
          POP                    | 300002\tPOP     
again:    LINE 65535 0           | 300003\tLINE       65535   big.4gl
          PUSH_B 0               | 300009\tPUSH_B     counter
          B_TBNE again           | 300011\tB_TBNE     300003
          F_BRA out              | 300013\tF_BRA      300015
out:      RET                    | 300015\tRET     
          .link locals 0         | 300016\tSUB_LINK   0 arguments, 1 locals, 0 externs/global/statics:
                                 | \t\t   (loc)     counter)");
    s.code = assemble(source + tail.source);
    want += tail.listing;
    RunResult r = TestObject(s).run({"-i"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    // The last lines in full (they cross from five to six digits), then the
    // whole text without printing half a megabyte when it differs.
    const size_t last = 600;
    ASSERT_GT(r.out.size(), last);
    EXPECT_EQ(r.out.substr(r.out.size() - last), want.substr(want.size() - last));
    EXPECT_TRUE(r.out == want) << "the listing differs in front of its last lines";
}

// Code that is odd but valid. Positions come from the function table: a
// frame or call target at a position that no function has is shown as the
// position in brackets. A line text with the marker byte but no Base64
// behind it ("\x02!!!!!!!", shown as MARK) is a plain file name, as is a
// name whose characters after the first are Base64 but that lacks the
// marker byte. A SUB_LINK whose stored length (40) disagrees with its
// counts: the listing goes on behind the bytes it has read. A switch table
// whose entries take no bytes lists them with target 0. A symbol name of
// 70000 bytes (WIDE) is listed whole. An object without code lists nothing
// under the banner.
TEST(Listing, OddButValidCode) {
    objw::ObjSpec s;
    s.symbols = {{std::string(70000, 'w'), LONG | EXTERN}};
    // other's frame is at 30; no frame is at 4294967295, the target of the
    // backward call past position 0 as an unsigned number.
    s.functions = {{"main"}, {"other", FUNCTION, 99}, {"far", FUNCTION, 4294967295}};
    s.strings = {"\x02!!!!!!!", "customer.4gl"}; // offsets 0 and 11
    SideBySide code = side_by_side(R"(
                            |
                            | function main:
main:     .function 0       |     0\tSUB_TEXT   size(20) funnr <0>
          F_JSR_0 other     |     7\tF_JSR_0    [30]
          B_JSR_0 12        |    10\tB_JSR_0    [-1]
          LINE 9 0          |    13\tLINE       9   MARK
          RET               |    19\tRET     
          .link             |    20\tSUB_LINK   0 arguments, 0 locals, 0 externs/global/statics:
                            |
                            | function [30]:
other:    .function 1       |    30\tSUB_TEXT   size(8) funnr <1>
          RET               |    37\tRET     
          .link length 40   |    38\tSUB_LINK   0 arguments, 0 locals, 0 externs/global/statics:
          NOP               |    48\tNOP     
          .switch addr 0
          jump - - -
          .endswitch        |    49\tSWITCH_T
                            | \tType arg:  1
                            | \tDept:      3
                            | \tDefault:   0
                            | \tSubtract:  0
                            | \tDivide:\t   0
                            | \tJump    -> addr
                            | \t---------------
                            | \t0       -> 0    
                            | \t1       -> 0    
                            | \t2       -> 0    
          NOP               |    61\tNOP     
          PUSH_B 0          |    62\tPUSH_B     WIDE
          LINE 5 11         |    64\tLINE       5   customer.4gl)");
    s.code = assemble(code.source);
    code.listing.replace(code.listing.find("MARK"), 4, s.strings[0]);
    code.listing.replace(code.listing.find("WIDE"), 4, s.symbols[0].name);
    RunResult r = TestObject(s).run({"-i"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.out == LISTING_HEAD + code.listing) << r.out.substr(0, 2000);

    s.functions = {};
    s.code = {};
    EXPECT_RUN(TestObject(s).run({"-i"}), 0, LISTING_HEAD, "");
}

// Code that runs on past the end of the file reads as zeros, NOPs, and the
// checksum decides; code of more than 16 MiB past it is not listed.
TEST(Listing, CodePastTheEndOfTheFile) {
    objw::ObjSpec s;
    s.order = {0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 2}; // code last
    s.descriptions = s.addinfo = false;
    s.code = assemble("RET");
    s.sections[SEC_CODE].size = 3;
    EXPECT_RUN(TestObject(s).run({"-i"}), 0,
               LISTING_HEAD + text("    0\tRET     \n    1\tNOP     \n    2\tNOP     \n"), "");

    s.sections[SEC_CODE].size = (16 << 20) + 2;
    EXPECT_RUN(TestObject(s).run({"-i"}), 1, LISTING_HEAD + text("    0\tRET     \n"),
               fatal("Object is corrupt: the code at 1 runs more than 16 MiB past "
                     "the end of the file"));
}

// ---------------------------------------------------------------------------
// Invalid and damaged code. Each object has one well-formed function (a
// LINE, a NOP and the RET) followed by the instruction under test at
// position 25; the run ends with status 1, the message on standard error,
// and everything listed before it on standard output. The object has
// doubles but no global functions: numbers past a list's end and numbers
// into an empty list name nothing.

objw::ObjSpec faulty_object(const std::string &tail) {
    objw::ObjSpec s;
    s.flags = objflag::DEBUG;
    s.symbols = {{"counter", LONG}, {"name", STRING, {}, 20}};
    s.functions = {{"main"}};
    // Offsets 0 and 10; the second is an extended line text whose real file
    // name would be at offset 125 ("AAB9").
    s.strings = {"err.4gl", "\2AAB9AAA"};
    s.doubles = {"0.5"};
    s.code = assemble("main: .function 0\nLINE 1 0\nNOP\nRET\n.link\n" + tail);
    return s;
}

const std::string FAULTY_START = LISTING_HEAD + text(R"(
function main:
    0\tSUB_TEXT   size(15) funnr <0>
    7\tLINE       1   err.4gl
   13\tNOP     
   14\tRET     
   15\tSUB_LINK   0 arguments, 0 locals, 0 externs/global/statics:
)");

TEST(Listing, InvalidCodeEndsTheRunAfterTheLinesBeforeIt) {
    const std::string truncated =
        "Object is corrupt: instruction at 25 runs past the end of the code";
    const struct {
        const char *tail;    // assembled behind the function
        const char *printed; // listed behind FAULTY_START
        std::string message; // the fatal error
    } cases[] = {
        // Invalid object code: CAT_N after its position and mnemonic,
        // opcodes outside the table before anything of their line.
        {"CAT_N\nNOP", "   25\tCAT_N   ", "ERROR IN OBJECT CODE"},
        {".byte 124 0", "", "ERROR IN OBJECT CODE"},
        {".byte 255", "", "ERROR IN OBJECT CODE"},
        // A switch field kind code that has no width; too many entries of no
        // bytes.
        {".byte 120 20 0 0 0 0 0 0", "   25\tSWITCH_T", "ERROR IN OBJECT CODE"},
        {".byte 120 17 0 0 0 0 0 0", "   25\tSWITCH_T", "ERROR IN OBJECT CODE"},
        {".byte 120 1 7 0 7 0 7 0 7 0 17 0", "   25\tSWITCH_T", "ERROR IN OBJECT CODE"},
        {".byte 120 1 7 0 7 0 7 0 7 0 0 17", "   25\tSWITCH_T", "ERROR IN OBJECT CODE"},
        {".byte 120 1 10 -1 -1 -1 -1 7 0 7 0 7 0 0 0", "",
         "Object is corrupt: switch table at 25 has more than 16777216 entries of no bytes"},
        // Operands that name nothing.
        {"PUSH 2", "   25\tPUSH    ", "Symbol number '2' not found."},
        {"XY_MOV_B 1 7", "   25\tXY_MOV_B   name", "Symbol number '7' not found."},
        {"S_JSR_0 1", "   25\tS_JSR_0 ", "Symbol number '1' not found."},
        {"JSR_B 1 0", "   25\tJSR_B   ", "Symbol number '1' not found."},
        {"PUSHFP 1", "   25\tPUSHFP  ", "Symbol number '1' not found."},
        {"PUSHS_B 5", "   25\tPUSHS_B ", "String with offset '5' not found."},
        {"LINE 3 4", "   25\tLINE    ", "String with offset '4' not found."},
        {"LINE 3 10", "   25\tLINE    ", "String with offset '125' not found."},
        {".link args 0 &5",
         "   25\tSUB_LINK   2 arguments, 0 locals, 0 externs/global/statics:\n"
         "\t\t   (val)     counter\n",
         "Symbol number '5' not found."},
        {"c: NOP\n.switch\nstring 3 c\n.endswitch",
         "   25\tNOP     \n"
         "   26\tSWITCH_T\n\tType arg:  1\n\tDept:      1\n\tDefault:   0\n"
         "\tSubtract:  0\n\tDivide:\t   0\n\tSearch  -> addr\n\t---------------\n",
         "String with offset '3' not found."},
        // Instructions cut short by the end of the code.
        {".byte 6 0 0 0", "", truncated},
        {".byte 93 1 0", "", truncated},
        {".byte 121 0 0 0 7 0", "", truncated},
        {".byte 117 0 0 0 12 1 0 0 0 0 0", "", truncated},
        {".byte 120 1 7 2 7 0 7 0 7 0 0 7 1", "", truncated},
        {".byte 120 1 7 2 7", "", truncated},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tail);
        EXPECT_RUN(TestObject(faulty_object(c.tail)).run({"-i"}), 1, FAULTY_START + c.printed,
                   fatal(c.message));
    }
}

// ---------------------------------------------------------------------------
// In-process: what the compiler calls.

class ListingInProcess : public testing::Test {
  protected:
    void SetUp() override {
        init_zel_struct();
        create_keytab();
        init_keytab();
        zel.info = INFO_ALL;
        Symbol *v = addsymbol(nullptr, "v", 0, TOK_VARIABLE, 0, 0, 0, 0);
        zel.symnr.push_back(v);
        add_symbol_list(v);
        add_str_list(constant("t", TOK_STRING));
    }
    void set_code(const std::vector<uint8_t> &code) {
        code_ = code;
        zel.code = ByteView::of(code_.data(), code_.size());
    }
    std::vector<uint8_t> code_;
};

TEST(InstructionLength, VariableInstructions) {
    std::vector<uint8_t> link = assemble(".link args 1 2 length 40");
    ASSERT_EQ(link.size(), 14u);
    link.resize(40);
    EXPECT_EQ(sizeof_instruction(link.data(), 40), 40); // the stored length
    EXPECT_EQ(sizeof_instruction(link.data(), 39), -1);
    EXPECT_EQ(sizeof_instruction(link.data(), 4), -1);

    std::vector<uint8_t> table = assemble("a: NOP\n.switch\ncase 1000 a\ncase 2 -\n.endswitch");
    EXPECT_EQ(sizeof_instruction(table.data() + 1, table.size() - 1), long(table.size() - 1));
    EXPECT_EQ(sizeof_instruction(table.data() + 1, table.size() - 2), -1);
    // A count field of a code the compiler never writes: no entries.
    const uint8_t no_count[] = {op::SWITCH_T, 1, 9, 0, 0, 3, 7, 0, 7, 0, 7, 0, 7, 7, 9, 9};
    EXPECT_EQ(sizeof_instruction(no_count, sizeof no_count), 14);

    const uint8_t others[] = {op::CAT_N, op::LAST, OPCODE_COUNT, op::PUSH, 0, 0};
    EXPECT_EQ(sizeof_instruction(others, 1), 0);
    EXPECT_EQ(sizeof_instruction(others + 1, 1), 0);
    EXPECT_EQ(sizeof_instruction(others + 2, 1), 0); // the first code past the table
    EXPECT_EQ(sizeof_instruction(others, 0), -1);
    EXPECT_EQ(sizeof_instruction(others + 3, 3), 3);
    EXPECT_EQ(sizeof_instruction(others + 3, 2), -1);
}

// Without info bits a frame at a position that no function has ends the
// run, after what was listed before it.
TEST_F(ListingInProcess, WithoutInfoBitsFramesNeedFunctions) {
    zel.info = 0;
    set_code(assemble("NOP\nSUB_TEXT 8 0\nRET"));
    STREAM *s = smemopen(nullptr, 0, "w");
    Captured c = capture([&] { write_assembler(s); });
    EXPECT_TRUE(c.stopped);
    EXPECT_EQ(std::string(smem_data(s).begin(), smem_data(s).end()),
              text("    0\tNOP     \n\nfunction "));
    EXPECT_EQ(c.err, fatal("Function with offset '1' not found.", ""));
    sclose(s);
}

// Symbol operands as the compiler's symbols have them: a local of a
// function is listed with the function's name in front, a symbol of the
// global scope (or of none) and a function by name alone, a string constant
// in quotes. A whole listing, whose cache of names must leave out the first
// and the last, and a single instruction list them alike; a position outside
// the code ends the run.
TEST_F(ListingInProcess, SymbolsOfAFunctionsScopeCarryItsName) {
    zel.global_scope = addsymbol(nullptr, "", 0, TOK_FUNCTION, 0, 0, 0, 0);
    Symbol *fn = addsymbol(zel.global_scope, "report", FUNCTION, TOK_FUNCTION, 0, 0, 0, 0);
    zel.funnr.push_back(fn);
    add_fun_list(fn);
    for (Symbol *s : {addsymbol(fn, "n", LONG, TOK_VARIABLE, 0, 0, 0, 0),
                      addsymbol(zel.global_scope, "total", LONG, TOK_VARIABLE, 0, 0, 0, 0),
                      constant("Total: ", TOK_STRING)}) {
        zel.symnr.push_back(s);
        add_symbol_list(s);
    }
    set_code(assemble("PUSH 1\nPUSH 2\nPUSH 3\nPUSH 0\nS_JSR_0 0\nPUSHS 0"));
    const std::string listed = text("    0\tPUSH       report.n\n"
                                    "    3\tPUSH       total\n"
                                    "    6\tPUSH       \"Total: \"\n"
                                    "    9\tPUSH       v\n"
                                    "   12\tS_JSR_0    report\n"
                                    "   15\tPUSHS      \"t\"\n");
    STREAM *s = smemopen(nullptr, 0, "w");
    write_assembler(s);
    for (size_t pos = 0; pos < zel.code.size;)
        pos += size_t(print_instruction(pos, s));
    EXPECT_EQ(std::string(smem_data(s).begin(), smem_data(s).end()), listed + listed);
    Captured c = capture([&] { print_instruction(zel.code.size, s); });
    EXPECT_TRUE(c.stopped);
    EXPECT_EQ(c.err, fatal("Object is corrupt: instruction outside the code", ""));
    sclose(s);
}

// The report's listing goes to descriptor 1 through a stream of its own,
// which is gone when the listing ends, also when it ends the run; the
// descriptor stays open for what follows.
TEST_F(ListingInProcess, ListingLeavesStandardOutputOpen) {
    const size_t streams = sopen_count();
    ObjHeader hdr;
    zel.info = INFO_ASM;
    set_code(assemble("RET"));
    Captured c = capture([&] {
        print_object(hdr);
        printf("after\n");
    });
    EXPECT_EQ(c.out, LISTING_HEAD + text("    0\tRET     \nafter\n"));
    set_code(assemble("NOP\n.byte 255"));
    c = capture([&] { print_object(hdr); });
    EXPECT_TRUE(c.stopped);
    EXPECT_EQ(c.out, LISTING_HEAD + text("    0\tNOP     \n"));
    EXPECT_EQ(sopen_count(), streams);
}

// The compiler's listing file: the heading, then the listing; a file that
// cannot be made ends the run.
TEST_F(ListingInProcess, OpenAssemblerWritesTheHeading) {
    TempDir dir;
    zel.objname = "oxxmod0001";
    zel.listing_name = dir.path() + "/list.txt";
    set_code(assemble("RET"));
    STREAM *s = open_assembler();
    write_assembler(s);
    sclose(s);
    EXPECT_EQ(read_file(zel.listing_name),
              "Instructions from programm: oxxmod0001\n\n    0\tRET     \n");

    zel.listing_name = dir.path() + "/none/list.txt";
    Captured c = capture([] { open_assembler(); });
    EXPECT_TRUE(c.stopped);
    EXPECT_EQ(c.err, zel.listing_name + ": No such file or directory\n" +
                         fatal("Can't open output file '" + zel.listing_name + "'.\n", ""));
}

} // namespace
