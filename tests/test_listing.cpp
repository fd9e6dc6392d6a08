// The ASSEMBLER CODE listing as the built tool prints it for whole objects
// made by the object writer and the assembler: every opcode and operand
// format, calls and branches both ways, the switch table kinds, source lines
// in the extended line form, wide positions, and invalid code that ends the
// run after what was listed before it. In-process: instruction lengths, the
// instruction table, and the buffering of the listing stream.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "al_strm.h"
#include "assembler.h"
#include "capture.h"
#include "objrun.h"
#include "zel.h"
#include "zel_asm.h"
#include "zel_error.h"
#include "zel_symtab.h"

namespace {

using namespace objrun;

// What `-i` prints in front of the listing: the banner after an empty line.
const std::string LISTING_HEAD = "\n" + objrun::banner("ASSEMBLER CODE") + "\n";

RunResult list(const objw::ObjSpec &desc) {
    return TestObject(desc).run({"-i"});
}

// ---------------------------------------------------------------------------
// An object that uses every opcode but CAT_N and every operand format.
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
// second has the marker 1, the offset 0 ("AAAA") and the upper bits 2
// ("AAI").
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
    s.strings = {"cov.4gl",
                 "Total: ",
                 "",
                 "open",
                 "closed",
                 "\x02"
                 "AQBgAAE",
                 "\x01"
                 "AAAAAAI",
                 std::string(250, '-'),
                 "Report of %s",
                 std::string(65300, '='),
                 "far.4gl"};
    s.doubles = {"0.5", "100", "3.14159"};
    // Positions in the comments.
    s.code = assemble(R"(
main:     .function 0            ; 0
top:      LINE 10 0              ; 7
          NOP                    ; 13
          RESETBUF               ; 14
          PUSH_B 0               ; 15
          PUSHBYTE 255           ; 17
          MOVE                   ; 19
          PUSH 300               ; 20
          PUSHINT 65535          ; 23
          MOVE                   ; 26
          PUSH_B 1               ; 27
          PUSHLONG 4294967295    ; 29
          MOVE                   ; 34
          PUSHNEGB 1             ; 35
          PUSHNEGI 300           ; 37
          PUSHNEGL 70000         ; 40
          ADD                    ; 45
          SUB                    ; 46
          PUSHFP_B 0             ; 47
          PUSHFP 2               ; 49
          MUL                    ; 52
          DIV                    ; 53
          MOD                    ; 54
          NEG                    ; 55
          INCR                   ; 56
          DECR                   ; 57
          TO_LONG                ; 58
          POP                    ; 59
          PUSH_B 2               ; 60
          PUSHS_B 10             ; 62
          PUSHS 314              ; 64
          CAT                    ; 67
          PUSHS_3B 65632         ; 68
          CAT                    ; 72
          MOVE                   ; 73
          XY_MOVE 300 301        ; 74
          XY_MOV_B 0 12          ; 79
          PUSHBYTE 3             ; 82
          POFF 3                 ; 84
          POES 2                 ; 87
          BASE                   ; 90
          PUSH_PR 12             ; 91
          TTX_ADD 0              ; 94
          TTX_SUB 0              ; 97
          TTX_MUL 0              ; 100
          TTX_DIV 0              ; 103
          TTX_MOD 0              ; 106
          TTX_CAT 2              ; 109
          TXY_ADD 0 300          ; 112
          TXY_SUB 0 300          ; 117
          TXY_MUL 0 300          ; 122
          TXY_DIV 0 300          ; 127
          TXY_MOD 0 300          ; 132
          TXY_CAT 2 301          ; 137
          TX_NEG 0               ; 142
          TX_INCR 0              ; 145
          TX_DECR 0              ; 148
          XXY_ADD 0 300          ; 151
          XXY_SUB 0 300          ; 156
          XXY_MUL 0 300          ; 161
          XXY_DIV 0 300          ; 166
          XXY_MOD 0 300          ; 171
          XXY_CAT 2 301          ; 176
          X_NEG 0                ; 181
          X_INCR 0               ; 184
          X_DECR 0               ; 187
          LINE 11 0              ; 190
          PUSH_B 2               ; 196
          F_JSR 1 report         ; 198
          POP                    ; 202
          F_JSR_0 fmt_line       ; 203
          F_JSR_P 1 fmt_line     ; 206
          F_JSR_0P report        ; 210
          S_JSR 2 3              ; 213 util_sum, a DLL function
          S_JSR_0 1              ; 217 function 1, where symbol 1 is total
          S_JSR_P 2 3            ; 220
          S_JSR_0P 2             ; 224
          I_JSR 1 2              ; 227
          I_JSR_0 12             ; 231
          I_JSR_P 0 1            ; 234
          I_JSR_0P 12            ; 238
          JSR 2 2                ; 241
          JSR_0 0                ; 245
          JSR_P 1 2              ; 248
          JSR_0P 2               ; 252
          JSR_B 0 1              ; 255
          JSR_0_B 1              ; 258
          JSR_P_B 2 3            ; 260
          JSR_0P_B 0             ; 263
          PUSH_B 12              ; 265
          TBNE top               ; 267 back over more than 255 bytes
          RET                    ; 270
          .link globals 4 5 11   ; 271

report:   .function 1            ; 287
          LINE 20 0              ; 294
rtop:     NOP                    ; 300
          TBGT rend              ; 301
          TBLE rtop              ; 304
          TBEQ rend              ; 307
          TBNE rtop              ; 310
          EQ21 rend              ; 313
          CBGT rtop              ; 316
          CBGE rend              ; 319
          CBLT rtop              ; 322
          CBLE rend              ; 325
          CBEQ rtop              ; 328
          CBNE rend              ; 331
          BRA rend               ; 334
          F_TBGT rend            ; 337
          F_TBLE rend            ; 339
          F_TBEQ rend            ; 341
          F_TBNE rend            ; 343
          F_EQ21 rend            ; 345
          F_CBGT rend            ; 347
          F_CBGE rend            ; 349
          F_CBLT rend            ; 351
          F_CBLE rend            ; 353
          F_CBEQ rend            ; 355
          F_CBNE rend            ; 357
          F_BRA rend             ; 359
          B_TBGT rtop            ; 361
          B_TBLE rtop            ; 363
          B_TBEQ rtop            ; 365
          B_TBNE rtop            ; 367
          B_EQ21 rtop            ; 369
          B_CBGT rtop            ; 371
          B_CBGE rtop            ; 373
          B_CBLT rtop            ; 375
          B_CBLE rtop            ; 377
          B_CBEQ rtop            ; 379
          B_CBNE rtop            ; 381
          B_BRA rtop             ; 383
rend:     B_JSR 1 main           ; 385
          B_JSR_0 main           ; 389
          B_JSR_P 0 main         ; 392
          B_JSR_0P main          ; 396
          RET                    ; 399
          .link args 8 9 &10 locals 6 7   ; 400

fmt_line: .function 2            ; 420
          LINE 30 0              ; 427
          PUSH_B 12              ; 433 switch status: direct jump table
          BRA sw1                ; 435
c10:      PUSHS_B 23             ; 438
          F_BRA sw1end           ; 440
c20:      PUSHS_B 30             ; 442
          F_BRA sw1end           ; 444
c30:      PUSHS_B 20             ; 446
          F_BRA sw1end           ; 448
dflt:     PUSHS 314              ; 450
          F_BRA sw1end           ; 453
sw1:      .switch default dflt subtract 10 divide 10   ; 455
          jump c10 c20 c30
          .endswitch
sw1end:   BRA sw2                ; 470 switch far_var: numeric search
          NOP                    ; 473
          NOP                    ; 474
          NOP                    ; 475
m1:       PUSHBYTE 1             ; 476
          F_BRA sw2end           ; 478
m2:       PUSHBYTE 2             ; 480
          F_BRA sw2end           ; 482
sw2:      .switch var 300 subtract -5   ; 484
          case 0 m1
          case 1 -
          case 999 m2
          .endswitch
sw2end:   PUSH_B 2               ; 510 switch name: string search
          F_BRA sw3              ; 512
s1:       PUSHBYTE 1             ; 514
          F_BRA sw3end           ; 516
s2:       PUSHBYTE 2             ; 518
          F_BRA sw3end           ; 520
s3:       PUSHBYTE 3             ; 522
          F_BRA sw3end           ; 524
sw3:      .switch                ; 526
          string 23 s1
          string 30 s2
          string 65632 s3
          .endswitch
sw3end:   LINE 4464 39           ; 550
          LINE 5 50              ; 556
          LINE 7 65632           ; 562
          LAST                   ; 568
          RET                    ; 569
          .link args 2           ; 570
)");
    return s;
}

// Format of a line: the position in five columns, a tab, the mnemonic in
// eight columns, then the operands, each behind three blanks.
constexpr std::string_view COVERAGE_LISTING = R"(
function main:
    0\tSUB_TEXT   size(271) funnr <0>
    7\tLINE       10   cov.4gl
   13\tNOP     
   14\tRESETBUF
   15\tPUSH_B     counter
   17\tPUSHBYTE   255
   19\tMOVE    
   20\tPUSH       far_var
   23\tPUSHINT    65535
   26\tMOVE    
   27\tPUSH_B     total
   29\tPUSHLONG   4294967295
   34\tMOVE    
   35\tPUSHNEGB   1
   37\tPUSHNEGI   300
   40\tPUSHNEGL   70000
   45\tADD     
   46\tSUB     
   47\tPUSHFP_B   0.5
   49\tPUSHFP     3.14159
   52\tMUL     
   53\tDIV     
   54\tMOD     
   55\tNEG     
   56\tINCR    
   57\tDECR    
   58\tTO_LONG 
   59\tPOP     
   60\tPUSH_B     name
   62\tPUSHS_B    "Total: "
   64\tPUSHS      "Report of %s"
   67\tCAT     
   68\tPUSHS_3B   "far.4gl"
   72\tCAT     
   73\tMOVE    
   74\tXY_MOVE    far_var   far_str
   79\tXY_MOV_B   counter   status
   82\tPUSHBYTE   3
   84\tPOFF       items
   87\tPOES       name
   90\tBASE    
   91\tPUSH_PR    status
   94\tTTX_ADD    counter
   97\tTTX_SUB    counter
  100\tTTX_MUL    counter
  103\tTTX_DIV    counter
  106\tTTX_MOD    counter
  109\tTTX_CAT    name
  112\tTXY_ADD    counter   far_var
  117\tTXY_SUB    counter   far_var
  122\tTXY_MUL    counter   far_var
  127\tTXY_DIV    counter   far_var
  132\tTXY_MOD    counter   far_var
  137\tTXY_CAT    name   far_str
  142\tTX_NEG     counter
  145\tTX_INCR    counter
  148\tTX_DECR    counter
  151\tXXY_ADD    counter   far_var
  156\tXXY_SUB    counter   far_var
  161\tXXY_MUL    counter   far_var
  166\tXXY_DIV    counter   far_var
  171\tXXY_MOD    counter   far_var
  176\tXXY_CAT    name   far_str
  181\tX_NEG      counter
  184\tX_INCR     counter
  187\tX_DECR     counter
  190\tLINE       11   cov.4gl
  196\tPUSH_B     name
  198\tF_JSR      report   1
  202\tPOP     
  203\tF_JSR_0    fmt_line
  206\tF_JSR_P    fmt_line   1
  210\tF_JSR_0P   report
  213\tS_JSR      util_sum   2
  217\tS_JSR_0    report
  220\tS_JSR_P    util_sum   2
  224\tS_JSR_0P   fmt_line
  227\tI_JSR      fmt_line   1
  231\tI_JSR_0    status
  234\tI_JSR_P    report   0
  238\tI_JSR_0P   status
  241\tJSR        printf   2
  245\tJSR_0      chr$
  248\tJSR_P      bit.and   2
  252\tJSR_0P     printf
  255\tJSR_B      chr$   1
  258\tJSR_0_B    bit.and
  260\tJSR_P_B    printf   3
  263\tJSR_0P_B   chr$
  265\tPUSH_B     status
  267\tTBNE       7
  270\tRET     
  271\tSUB_LINK   0 arguments, 0 locals, 3 externs/global/statics:
\t\t   (extern)  ext_count
\t\t   (static)  seen
\t\t   (global)  grand

function report:
  287\tSUB_TEXT   size(113) funnr <1>
  294\tLINE       20   cov.4gl
  300\tNOP     
  301\tTBGT       385
  304\tTBLE       300
  307\tTBEQ       385
  310\tTBNE       300
  313\tEQ21       385
  316\tCBGT       300
  319\tCBGE       385
  322\tCBLT       300
  325\tCBLE       385
  328\tCBEQ       300
  331\tCBNE       385
  334\tBRA        385
  337\tF_TBGT     385
  339\tF_TBLE     385
  341\tF_TBEQ     385
  343\tF_TBNE     385
  345\tF_EQ21     385
  347\tF_CBGT     385
  349\tF_CBGE     385
  351\tF_CBLT     385
  353\tF_CBLE     385
  355\tF_CBEQ     385
  357\tF_CBNE     385
  359\tF_BRA      385
  361\tB_TBGT     300
  363\tB_TBLE     300
  365\tB_TBEQ     300
  367\tB_TBNE     300
  369\tB_EQ21     300
  371\tB_CBGT     300
  373\tB_CBGE     300
  375\tB_CBLT     300
  377\tB_CBLE     300
  379\tB_CBEQ     300
  381\tB_CBNE     300
  383\tB_BRA      300
  385\tB_JSR      main   1
  389\tB_JSR_0    main
  392\tB_JSR_P    main   0
  396\tB_JSR_0P   main
  399\tRET     
  400\tSUB_LINK   3 arguments, 2 locals, 0 externs/global/statics:
\t\t   (val)     report.n
\t\t   (const)   report.title
\t\t   (ref)     report.sum
\t\t   (loc)     report.i
\t\t   (loc)     report.line

function fmt_line:
  420\tSUB_TEXT   size(150) funnr <2>
  427\tLINE       30   cov.4gl
  433\tPUSH_B     status
  435\tBRA        455
  438\tPUSHS_B    "open"
  440\tF_BRA      470
  442\tPUSHS_B    "closed"
  444\tF_BRA      470
  446\tPUSHS_B    ""
  448\tF_BRA      470
  450\tPUSHS      "Report of %s"
  453\tF_BRA      470
  455\tSWITCH_T
\tType arg:  1
\tDept:      3
\tDefault:   450
\tSubtract:  10
\tDivide:\t   10
\tJump    -> addr
\t---------------
\t0       -> 438  
\t1       -> 442  
\t2       -> 446  
  470\tBRA        484
  473\tNOP     
  474\tNOP     
  475\tNOP     
  476\tPUSHBYTE   1
  478\tF_BRA      510
  480\tPUSHBYTE   2
  482\tF_BRA      510
  484\tSWITCH_T
\tType arg:  3
\tDept:      3
\tDefault:   0
\tSubtract:  -5
\tDivide:\t   0
\tSearch  -> addr
\t---------------
\t0       -> 476  
\t1       -> 0    
\t999     -> 480  
  510\tPUSH_B     name
  512\tF_BRA      526
  514\tPUSHBYTE   1
  516\tF_BRA      550
  518\tPUSHBYTE   2
  520\tF_BRA      550
  522\tPUSHBYTE   3
  524\tF_BRA      550
  526\tSWITCH_T
\tType arg:  1
\tDept:      3
\tDefault:   0
\tSubtract:  0
\tDivide:\t   0
\tSearch  -> addr
\t---------------
\t        -> 514   "open"
\t        -> 518   "closed"
\t        -> 522   "far.4gl"
  550\tLINE       70000   far.4gl
  556\tLINE       131077   cov.4gl
  562\tLINE       7   far.4gl
  568\tLAST    
  569\tRET     
  570\tSUB_LINK   1 arguments, 0 locals, 0 externs/global/statics:
\t\t   (val)     name
)";

TEST(Listing, EveryOpcodeAndOperandFormat) {
    objw::ObjSpec desc = coverage_object();
    ASSERT_EQ(desc.code.size(), 582u);
    RunResult r = list(desc);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, LISTING_HEAD + text(COVERAGE_LISTING));
}

// ---------------------------------------------------------------------------
// Positions above 99999: one function of 19999 PUSHLONG instructions (5 bytes
// each, from position 7) followed by a short loop, so that the last
// instructions stand at six-digit positions.
TEST(Listing, PositionsBeyond99999WidenTheFirstColumn) {
    objw::ObjSpec s;
    s.flags = objflag::DEBUG;
    s.symbols = {{"counter", LONG}};
    s.functions = {{"init"}};
    s.strings = {"big.4gl"};
    std::string source = "init: .function 0\n";
    for (int i = 0; i < 19999; ++i)
        source += "PUSHLONG " + std::to_string(i) + "\n";
    source += R"(
          POP                    ; 100002
again:    LINE 65535 0           ; 100003
          PUSH_B 0               ; 100009
          B_TBNE again           ; 100011
          F_BRA out              ; 100013
out:      RET                    ; 100015
          .link locals 0         ; 100016
)";
    s.code = assemble(source);
    ASSERT_EQ(s.code.size(), 100028u);

    std::string want =
        LISTING_HEAD + "\nfunction init:\n    0\tSUB_TEXT   size(100016) funnr <0>\n";
    for (int i = 0; i < 19999; ++i) {
        char line[64];
        snprintf(line, sizeof line, "%5d\tPUSHLONG   %d\n", 7 + 5 * i, i);
        want += line;
    }
    want += text(R"(100002\tPOP     
100003\tLINE       65535   big.4gl
100009\tPUSH_B     counter
100011\tB_TBNE     100003
100013\tF_BRA      100015
100015\tRET     
100016\tSUB_LINK   0 arguments, 1 locals, 0 externs/global/statics:
\t\t   (loc)     counter
)");
    RunResult r = list(s);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    // The last lines in full (they cross from five to six digits), then the
    // whole text without printing half a megabyte when it differs.
    const size_t tail = 600;
    ASSERT_GT(r.out.size(), tail);
    EXPECT_EQ(r.out.substr(r.out.size() - tail), want.substr(want.size() - tail));
    EXPECT_TRUE(r.out == want) << "the listing differs in front of its last lines";
}

// Switch fields of every width: a subtract of 70000 (4 bytes), a divide of
// 300 (2 bytes), keys above 65535 (4 bytes) and distances written with 4
// bytes.
TEST(Listing, SwitchFieldsOfEveryWidth) {
    objw::ObjSpec s;
    s.flags = objflag::DEBUG;
    s.symbols = {{"amount", LONG}};
    s.functions = {{"main"}};
    s.code = assemble(R"(
main:     .function 0            ; 0
low:      PUSHBYTE 1             ; 7
          RET                    ; 9
high:     PUSHBYTE 2             ; 10
          RET                    ; 12
          .switch var 0 default high subtract 70000 divide 300 addr 10   ; 13
          case 0 low
          case 70000 -
          case 100000 high
          .endswitch
          RET                    ; 54
          .link                  ; 55
)");
    RunResult r = list(s);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, LISTING_HEAD + text(R"(
function main:
    0\tSUB_TEXT   size(55) funnr <0>
    7\tPUSHBYTE   1
    9\tRET     
   10\tPUSHBYTE   2
   12\tRET     
   13\tSWITCH_T
\tType arg:  2
\tDept:      3
\tDefault:   10
\tSubtract:  70000
\tDivide:\t   300
\tSearch  -> addr
\t---------------
\t0       -> 7    
\t70000   -> 0    
\t100000   -> 10   
   54\tRET     
   55\tSUB_LINK   0 arguments, 0 locals, 0 externs/global/statics:
)"));
}

// Code that is odd but valid. Positions come from the function table: a
// frame or call target at a position that no function has is shown as the
// position in brackets. A line text with the marker byte but no Base64
// behind it is a plain file name. A SUB_LINK whose stored length (40)
// disagrees with its counts: the listing goes on behind the bytes it has
// read. A switch table whose entries take no bytes lists them with target
// 0. An object without code lists nothing under the banner.
TEST(Listing, OddButValidCode) {
    objw::ObjSpec s;
    s.functions = {{"main"}, {"other", FUNCTION, 99}}; // other's frame is at 27
    s.strings = {"\x02!!!!!!!"};
    s.code = assemble(R"(
main:     .function 0            ; 0
          F_JSR_0 other          ; 7
          LINE 9 0               ; 10
          RET                    ; 16
          .link                  ; 17
other:    .function 1            ; 27
          RET                    ; 34
          .link length 40        ; 35
          NOP                    ; 45
          .switch addr 0         ; 46
          jump - - -
          .endswitch
          NOP                    ; 58
)");
    RunResult r = list(s);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, LISTING_HEAD + text(R"(
function main:
    0\tSUB_TEXT   size(17) funnr <0>
    7\tF_JSR_0    [27]
   10\tLINE       9   )") +
                         "\x02!!!!!!!" + text(R"(
   16\tRET     
   17\tSUB_LINK   0 arguments, 0 locals, 0 externs/global/statics:

function [27]:
   27\tSUB_TEXT   size(8) funnr <1>
   34\tRET     
   35\tSUB_LINK   0 arguments, 0 locals, 0 externs/global/statics:
   45\tNOP     
   46\tSWITCH_T
\tType arg:  1
\tDept:      3
\tDefault:   0
\tSubtract:  0
\tDivide:\t   0
\tJump    -> addr
\t---------------
\t0       -> 0    
\t1       -> 0    
\t2       -> 0    
   58\tNOP     
)"));

    s.functions = {};
    s.code = {};
    r = list(s);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, LISTING_HEAD);
}

// Code that runs on past the end of the file reads as zeros, NOPs, and the
// checksum decides; code of more than 16 MiB past it is not listed.
TEST(Listing, CodePastTheEndOfTheFile) {
    objw::ObjSpec s;
    s.order = {0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 2}; // code last
    s.descriptions = s.addinfo = false;
    s.code = assemble("RET");
    s.sections[SEC_CODE].size = 3;
    RunResult r = list(s);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, LISTING_HEAD + text("    0\tRET     \n    1\tNOP     \n    2\tNOP     \n"));

    s.sections[SEC_CODE].size = (16 << 20) + 2;
    r = list(s);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, LISTING_HEAD + text("    0\tRET     \n"));
    EXPECT_EQ(r.err, objrun::fatal("Object is corrupt: the code at 1 runs more than 16 MiB past "
                                   "the end of the file"));
}

// ---------------------------------------------------------------------------
// Invalid and damaged code. Each object has one well-formed function (a
// LINE, a NOP and the RET) followed by the instruction under test at
// position 25; the run ends with status 1, the message on standard error,
// and everything listed before it on standard output.

objw::ObjSpec faulty_object(const std::string &tail) {
    objw::ObjSpec s;
    s.flags = objflag::DEBUG;
    s.symbols = {{"counter", LONG}, {"name", STRING, {}, 20}};
    s.functions = {{"main"}};
    s.global_functions = {"chr$"};
    // Offsets 0 and 10; the second is an extended line text whose real file
    // name would be at offset 125 ("AAB9").
    s.strings = {"err.4gl", "\x02"
                            "AAB9AAA"};
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

struct Faulty {
    const char *tail;    // assembled behind the function
    const char *printed; // listed behind FAULTY_START
    const char *message; // the fatal error
};

TEST(Listing, InvalidCodeEndsTheRunAfterTheLinesBeforeIt) {
    const std::string truncated =
        "Object is corrupt: instruction at 25 runs past the end of the code";
    const Faulty cases[] = {
        // Invalid object code: CAT_N after its position and mnemonic,
        // opcodes outside the table before anything of their line.
        {"CAT_N\nNOP", "   25\tCAT_N   ", "ERROR IN OBJECT CODE"},
        {".byte 124 0", "", "ERROR IN OBJECT CODE"},
        {".byte 255", "", "ERROR IN OBJECT CODE"},
        // A switch field kind code that has no width; too many entries of no
        // bytes.
        {".byte 120 20 0 0 0 0 0 0", "   25\tSWITCH_T", "ERROR IN OBJECT CODE"},
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
        {".byte 6 0 0 0", "", truncated.c_str()},
        {".byte 93 1 0", "", truncated.c_str()},
        {".byte 121 0 0 0 7 0", "", truncated.c_str()},
        {".byte 117 0 0 0 12 1 0 0 0 0 0", "", truncated.c_str()},
        {".byte 120 1 7 2 7 0 7 0 7 0 0 7 1", "", truncated.c_str()},
        {".byte 120 1 7 2 7", "", truncated.c_str()},
    };
    for (const Faulty &c : cases) {
        RunResult r = list(faulty_object(c.tail));
        EXPECT_EQ(r.status, 1) << c.tail;
        EXPECT_EQ(r.out, FAULTY_START + c.printed) << c.tail;
        EXPECT_EQ(r.err, objrun::fatal(c.message)) << c.tail;
    }
}

// ---------------------------------------------------------------------------
// The sample installation: every object loads without a diagnostic, and
// together they show every block of the report and every operand format of
// the listing.

std::string operand_formats_listed(const std::string &out) {
    std::map<std::string, int> format_of;
    for (const InstrInfo &i : itab)
        format_of[i.mnemonic] = i.format;
    std::set<int> seen;
    std::istringstream lines(out.substr(out.find(objrun::banner("ASSEMBLER CODE"))));
    for (std::string line; std::getline(lines, line);) {
        size_t tab = line.find('\t');
        if (tab == std::string::npos || tab == 0 || line[tab - 1] < '0' || line[tab - 1] > '9')
            continue;
        std::string mnemonic = line.substr(tab + 1, line.find(' ', tab) - tab - 1);
        if (format_of.count(mnemonic)) seen.insert(format_of[mnemonic]);
    }
    std::string list;
    for (int f : seen)
        list += std::to_string(f) + " ";
    return list;
}

TEST(SampleInstallation, EveryObjectLoadsAndTogetherTheyShowEverything) {
    std::string all;
    for (const char *object : {"oxxmain", "oxxutil", "oxxm61", "oxxu61"}) {
        for (std::vector<std::string> args : {std::vector<std::string>{"-m", object},
                                              std::vector<std::string>{"-m", "-a", object}}) {
            RunResult r = run_zel_info(args, objrun::sample_env());
            EXPECT_EQ(r.status, 0) << object;
            EXPECT_EQ(r.err, "") << object;
            if (args.size() == 2) all += r.out;
            if (args.size() == 2 && std::string(object) == "oxxmain") {
                for (const char *title :
                     {"GENERAL INFO", "OBJECT HEADER", "USED DLL'S", "SYMBOL TABLE",
                      "FUNCTION TABLE", "GLOBAL FUNCTIONS", "STRING CONSTANTS", "DOUBLE CONSTANTS",
                      "DOMAINS", "OBJECT IDENTS", "COMPNR CHECKS", "ASSEMBLER CODE"})
                    EXPECT_NE(objrun::block(r.out, title), "") << title;
                EXPECT_NE(r.out.find(" domain xxamount total\n"), std::string::npos);
                EXPECT_NE(r.out.find("\t(Hint: Located in DLL: oxxutil)\n"), std::string::npos);
            }
        }
    }
    for (const char *title : {"DLL USAGE DESCRIPTION", "DLL PROTOTYPES"})
        EXPECT_NE(objrun::block(all, title), "") << title;
    // Argument kinds of the prototypes: optional, variable, by reference,
    // with a where-used kind, typed by a domain.
    for (const char *arg :
         {" [ [ long ] width ]", "\t ... )", " ref long count whereused 2", " domain xxcode code,"})
        EXPECT_NE(all.find(arg), std::string::npos) << arg;

    // Formats 10, 17 and 30 belong to no valid instruction.
    EXPECT_EQ(operand_formats_listed(all), "0 1 2 3 4 5 6 7 8 9 11 12 13 14 15 16 18 19 20 21 "
                                           "22 23 24 25 26 27 28 29 31 ");
    for (const char *line :
         {"\t\t   (ref)     ", "\t\t   (const)   ", "\t\t   (val)     ", "\t\t   (loc)     ",
          "\t\t   (static)  ", "\t\t   (extern)  ", "\t\t   (global)  ", "\tJump    -> addr\n",
          "\tSearch  -> addr\n\t---------------\n\t0 ", "\t        -> ", "\tDefault:   0\n"})
        EXPECT_NE(all.find(line), std::string::npos) << line;
}

// ---------------------------------------------------------------------------
// In-process: instruction lengths, the instruction table, and the listing
// stream.

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
        Symbol *f = addsymbol(nullptr, "f", FUNCTION, TOK_FUNCTION, 0, 0, 0, 0);
        zel.funnr.push_back(f);
        add_fun_list(f);
        add_glob_fun_list(addsymbol(nullptr, "g", FUNCTION, TOK_FUNCTION, 0, 0, 0, 0));
        add_dbl_list(constant("1.5", TOK_DOUBLE));
        add_str_list(constant("t", TOK_STRING));
    }
    struct Result {
        std::string out;
        bool stopped = false;
        bool pending = false; // text left unwritten in the stream when the run stopped
        long writes = 0;
    };
    // Lists `code` on a memory stream; a fatal error is caught and recorded.
    static Result list_in_process(const std::vector<uint8_t> &code) {
        static std::vector<uint8_t> listed;
        listed = code;
        zel.code = ByteView::of(listed.data(), listed.size());
        Result r;
        STREAM *s = smemopen(nullptr, 0, "w");
        r.stopped = capture([&] {
                        try {
                            write_assembler(s);
                        } catch (const StopRun &) {
                            r.pending = (sflags(s) & STRM_WDATA) != 0;
                            throw;
                        }
                    }).stopped;
        r.out.assign(smem_data(s).begin(), smem_data(s).end());
        r.writes = sstats(s).writes;
        sclose(s);
        return r;
    }
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

    const uint8_t others[] = {op::CAT_N, op::LAST, 200};
    EXPECT_EQ(sizeof_instruction(others, 1), 0);
    EXPECT_EQ(sizeof_instruction(others + 1, 1), 0);
    EXPECT_EQ(sizeof_instruction(others + 2, 1), 0);
    EXPECT_EQ(sizeof_instruction(others, 0), -1);
}

// The compiler's listing file: the heading, then the listing; a file that
// cannot be made ends the run.
TEST_F(ListingInProcess, OpenAssemblerWritesTheHeading) {
    TempDir dir;
    zel.objname = "oxxmod0001";
    zel.listing_name = dir.path() + "/list.txt";
    const std::vector<uint8_t> code = assemble("RET");
    zel.code = ByteView::of(code.data(), code.size());
    STREAM *s = open_assembler();
    write_assembler(s);
    sclose(s);
    EXPECT_EQ(read_file(zel.listing_name),
              "Instructions from programm: oxxmod0001\n\n    0\tRET     \n");

    zel.listing_name = dir.path() + "/none/list.txt";
    Captured c = capture([] { open_assembler(); });
    EXPECT_TRUE(c.stopped);
    EXPECT_EQ(c.err, zel.listing_name +
                         ": No such file or directory\n: Fatal Error: Can't open "
                         "output file '" +
                         zel.listing_name + "'.\n\n" + objrun::SUMMARY_ONE_ERROR);
}

TEST_F(ListingInProcess, LongListingIsWrittenInLargeBlocks) {
    std::string source;
    for (int i = 0; i < 20000; ++i)
        source += "PUSH 0\nXY_MOVE 0 0\nPUSHS 0\n";
    Result r = list_in_process(assemble(source));
    EXPECT_FALSE(r.stopped);
    ASSERT_GT(r.out.size(), 1000000u);
    EXPECT_LT(r.writes, long(r.out.size() / 4096) + 10);
    const std::string last = "219997\tPUSHS      \"t\"\n";
    EXPECT_EQ(r.out.substr(r.out.size() - last.size()), last);
}

// Damaged code either lists to its end or stops with a message after
// writing out what it listed; it never makes the listing read outside the
// code.
TEST_F(ListingInProcess, RandomCodeNeverReadsPastTheBuffer) {
    std::mt19937 rng(7);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> code(1 + rng() % 24);
        for (uint8_t &b : code)
            b = uint8_t(rng() % 3 ? rng() % 8 : rng() % OPCODE_COUNT);
        code[0] = uint8_t(rng() % OPCODE_COUNT);
        Result r = list_in_process(code);
        EXPECT_TRUE(r.stopped ? !r.pending : r.out.back() == '\n') << r.out;
    }
    write_assembler(nullptr); // no stream: nothing
    EXPECT_EQ(list_in_process({}).out, "");
}

} // namespace
