// The ASSEMBLER CODE listing: whole listing blocks compared byte for byte,
// the instruction lengths, and the fatal paths of invalid or damaged code.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "al_strm.h"
#include "assembler.h"
#include "capture.h"
#include "zel.h"
#include "zel_asm.h"
#include "zel_error.h"
#include "zel_symtab.h"

namespace {

// One listing line as the listing's own format describes it.
std::string row(int pos, const char *mnemonic, const std::string &rest = "") {
    char head[64];
    snprintf(head, sizeof head, "%5d\t%-8s", pos, mnemonic);
    return head + rest + "\n";
}

struct Result {
    std::string out;
    std::string err;
    bool stopped = false;
    bool pending = false; // text left unwritten in the stream when the run stopped
    long writes = 0;
};

class Listing : public testing::Test {
  protected:
    void SetUp() override {
        init_zel_struct();
        create_keytab();
        init_keytab();
        zel.info = INFO_ALL;
        main_ = fun("main", 0);
        fun("helper", 45);
        var("count");                                // 0
        var("name", STRING);                         // 1
        var("x", 0, main_);                          // 2: local of main
        var("hello", CONSTANT, nullptr, TOK_STRING); // 3: a string constant
        var("c", CONST_ARG);                         // 4
        var("s", STATIC);                            // 5
        var("e", EXTERN);                            // 6
        var("g");                                    // 7
        add_glob_fun_list(addsymbol(nullptr, "chr$", FUNCTION, TOK_FUNCTION, 0, 0, 0, 0));
        add_glob_fun_list(addsymbol(nullptr, "bit.and", FUNCTION, TOK_FUNCTION, 0, 0, 0, 0));
        add_dbl_list(constant("3.14", TOK_DOUBLE));
        add_str_list(constant("abc", TOK_STRING));      // offset 0
        add_str_list(constant("prog.4gl", TOK_STRING)); // offset 6
    }

    static Symbol *var(const char *name, uint32_t flags = 0, Symbol *scope = nullptr,
                       int32_t tok = TOK_VARIABLE) {
        Symbol *s = addsymbol(scope, name, flags, tok, 0, 0, 0, 0);
        zel.symnr.push_back(s);
        add_symbol_list(s);
        return s;
    }
    static Symbol *fun(const char *name, uint32_t offset) {
        Symbol *f = addsymbol(nullptr, name, FUNCTION, TOK_FUNCTION, 0, 0, 0, 0);
        f->offset = offset;
        zel.funnr.push_back(f);
        add_fun_list(f);
        return f;
    }

    // Lists `code` on a memory stream; a fatal error is caught and recorded.
    static Result list(const std::vector<uint8_t> &code) {
        zel.code = code;
        Result r;
        STREAM *s = smemopen(nullptr, 0, "w");
        Captured c = capture([&] {
            try {
                write_assembler(s);
            } catch (const StopRun &) {
                r.pending = (sflags(s) & STRM_WDATA) != 0;
                throw;
            }
        });
        const auto &data = smem_data(s);
        r.out.assign(data.begin(), data.end());
        r.err = c.err;
        r.stopped = c.stopped;
        r.writes = sstats(s).writes;
        sclose(s);
        return r;
    }
    static Result list(std::string_view source) { return list(assemble(source)); }

    Symbol *main_ = nullptr;
};

TEST_F(Listing, OperandsOfEveryFixedFormat) {
    Result r = list(R"(
        NOP
        PUSH_B 0
        PUSH 2
        PUSH 3
        XY_MOVE 0 1
        XY_MOV_B 2 3
        PUSHBYTE 200
        PUSHINT 65535
        PUSHLONG 4294967295
        PUSHNEGB 1
        PUSHFP_B 0
        PUSHFP 0
        PUSHS_B 0
        PUSHS 6
        PUSHS_3B 6
        JSR_0_B 0
        JSR_0 1
        JSR_B 1 3
        JSR 0 2
        S_JSR_0 1
        I_JSR_0 1
        I_JSR 2 1
        LINE 12 6
        TO_LONG
        LAST
    )");
    EXPECT_FALSE(r.stopped) << r.err;
    EXPECT_EQ(r.out, row(0, "NOP") + row(1, "PUSH_B", "   count") + row(3, "PUSH", "   main.x") +
                         row(6, "PUSH", "   \"hello\"") + row(9, "XY_MOVE", "   count   name") +
                         row(14, "XY_MOV_B", "   main.x   \"hello\"") +
                         row(17, "PUSHBYTE", "   200") + row(19, "PUSHINT", "   65535") +
                         row(22, "PUSHLONG", "   4294967295") + row(27, "PUSHNEGB", "   1") +
                         row(29, "PUSHFP_B", "   3.14") + row(31, "PUSHFP", "   3.14") +
                         row(34, "PUSHS_B", "   \"abc\"") + row(36, "PUSHS", "   \"prog.4gl\"") +
                         row(39, "PUSHS_3B", "   \"prog.4gl\"") + row(43, "JSR_0_B", "   chr$") +
                         row(45, "JSR_0", "   bit.and") + row(48, "JSR_B", "   bit.and   3") +
                         row(51, "JSR", "   chr$   2") + row(55, "S_JSR_0", "   helper") +
                         row(58, "I_JSR_0", "   name") + row(61, "I_JSR", "   helper   2") +
                         row(65, "LINE", "   12   prog.4gl") + row(71, "TO_LONG") +
                         row(72, "LAST"));
}

TEST_F(Listing, BranchTargets) {
    Result r = list(R"(
        top:  NOP
              BRA end
              F_BRA end
              B_BRA top
              CBEQ top
              F_CBNE 0
              BRA -3
        end:  RET
    )");
    EXPECT_EQ(r.out, row(0, "NOP") + row(1, "BRA", "   16") + row(4, "F_BRA", "   16") +
                         row(6, "B_BRA", "   0") + row(8, "CBEQ", "   0") +
                         row(11, "F_CBNE", "   12") + row(13, "BRA", "   11") + row(16, "RET"));
}

TEST_F(Listing, FunctionFramesAndCalls) {
    Result r = list(R"(
        main:    .function 0
                 F_JSR 2 helper
                 F_JSR_0 helper
                 F_JSR_P 1 nowhere
                 RET
                 .link args 0 &1 &4 4 locals 2 globals 5 6 7
        helper:  .function 1
                 B_JSR_0 main
                 B_JSR 3 main
                 RET
                 .link
                 .function 9
        nowhere: RET
                 .link length 40
                 NOP
    )");
    EXPECT_FALSE(r.stopped) << r.err;
    EXPECT_EQ(r.out,
              "\nfunction main:\n" + row(0, "SUB_TEXT", "   size(19) funnr <0>") +
                  row(7, "F_JSR", "   helper   2") + row(11, "F_JSR_0", "   helper") +
                  row(14, "F_JSR_P", "   [77]   1") + row(18, "RET") +
                  row(19, "SUB_LINK", "   4 arguments, 1 locals, 3 externs/global/statics:") +
                  "\t\t   (val)     count\n"
                  "\t\t   (ref)     name\n"
                  "\t\t   (ref)     c\n"
                  "\t\t   (const)   c\n"
                  "\t\t   (loc)     x\n"
                  "\t\t   (static)  s\n"
                  "\t\t   (extern)  e\n"
                  "\t\t   (global)  g\n"
                  "\nfunction helper:\n" +
                  row(45, "SUB_TEXT", "   size(15) funnr <1>") + row(52, "B_JSR_0", "   main") +
                  row(55, "B_JSR", "   main   3") + row(59, "RET") +
                  row(60, "SUB_LINK", "   0 arguments, 0 locals, 0 externs/global/statics:") +
                  "\nfunction [70]:\n" + row(70, "SUB_TEXT", "   size(8) funnr <9>") +
                  row(77, "RET") +
                  // The stored length (40) disagrees with the counts: the
                  // listing goes on behind the 10 bytes it has read.
                  row(78, "SUB_LINK", "   0 arguments, 0 locals, 0 externs/global/statics:") +
                  row(88, "NOP"));
}

TEST_F(Listing, SwitchTables) {
    Result r = list(R"(
        c10:  NOP
        c20:  NOP
        c30:  NOP
        dflt: NOP
              .switch default dflt subtract 10 divide 10
              jump c10 c20 c30
              .endswitch
              .switch var 300 subtract -5
              case 0 c10
              case 1 -
              case 999 c20
              .endswitch
              .switch default c20
              string 0 c30
              string 6 dflt
              .endswitch
    )");
    EXPECT_FALSE(r.stopped) << r.err;
    EXPECT_EQ(r.out, row(0, "NOP") + row(1, "NOP") + row(2, "NOP") + row(3, "NOP") +
                         row(4, "SWITCH_T") +
                         "\tType arg:  1\n\tDept:      3\n\tDefault:   3\n\tSubtract:  10\n"
                         "\tDivide:\t   10\n\tJump    -> addr\n\t---------------\n"
                         "\t0       -> 0    \n\t1       -> 1    \n\t2       -> 2    \n" +
                         row(19, "SWITCH_T") +
                         "\tType arg:  3\n\tDept:      3\n\tDefault:   0\n\tSubtract:  -5\n"
                         "\tDivide:\t   0\n\tSearch  -> addr\n\t---------------\n"
                         "\t0       -> 0    \n\t1       -> 0    \n\t999     -> 1    \n" +
                         row(45, "SWITCH_T") +
                         "\tType arg:  1\n\tDept:      2\n\tDefault:   1\n\tSubtract:  0\n"
                         "\tDivide:\t   0\n\tSearch  -> addr\n\t---------------\n"
                         "\t        -> 2     \"abc\"\n\t        -> 3     \"prog.4gl\"\n");
}

TEST_F(Listing, ExtendedLineForm) {
    // Real file name at offset 6, upper 16 bits of the line 1; the compiler's
    // marker 2 and the marker 1 are both understood. A marker without Base64
    // behind it is a plain file name.
    add_str_list(constant("\x02"
                          "AAAGAAE",
                          TOK_STRING)); // offset 17
    add_str_list(constant("\x01"
                          "AAAGAAE",
                          TOK_STRING));                // offset 28
    add_str_list(constant("\x02!!!!!!!", TOK_STRING)); // offset 39
    Result r = list("LINE 5 17\nLINE 7 28\nLINE 9 39\nLINE 70 0");
    EXPECT_EQ(r.out, row(0, "LINE", "   65541   prog.4gl") + row(6, "LINE", "   65543   prog.4gl") +
                         row(12, "LINE", "   9   \x02!!!!!!!") + row(18, "LINE", "   70   abc"));
}

TEST_F(Listing, InvalidCodeStopsAfterWhatCameBefore) {
    Result r = list("NOP\nCAT_N\nNOP");
    EXPECT_TRUE(r.stopped);
    EXPECT_FALSE(r.pending);
    EXPECT_EQ(r.out, row(0, "NOP") + "    1\tCAT_N   ");
    EXPECT_NE(r.err.find("ERROR IN OBJECT CODE"), std::string::npos) << r.err;

    r = list(std::vector<uint8_t>{op::NOP, 124, op::NOP});
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(r.out, row(0, "NOP"));
    EXPECT_NE(r.err.find("ERROR IN OBJECT CODE"), std::string::npos) << r.err;

    // A switch field kind code that has no width, and entries of no bytes.
    for (const char *table :
         {".byte 120 20 0 0 0 0 0 0", ".byte 120 1 10 -1 -1 -1 -1 7 0 7 0 7 0 0 0"}) {
        r = list(std::string("NOP\n") + table);
        EXPECT_TRUE(r.stopped);
        EXPECT_EQ(r.out, row(0, "NOP") + "    1\tSWITCH_T");
        EXPECT_NE(r.err.find("ERROR IN OBJECT CODE"), std::string::npos) << r.err;
    }
}

TEST_F(Listing, TruncatedInstructionsEndTheRunWithoutReadingPastTheCode) {
    const char *truncated[] = {
        "NOP\n.byte 1 0",                           // PUSH without its second byte
        "NOP\n.byte 117 0 0 0 10 1 0 0 0 0",        // SUB_LINK whose argument is missing
        "NOP\n.byte 120 1 7 3 7 0 7 0 7 0 0 7 1 2", // SWITCH_T with 2 of its 3 entries
        "NOP\n.byte 120 1 7 3 7 0",                 // SWITCH_T cut inside its fields
        "NOP\n.byte 121 0 0 0 7 0",                 // SUB_TEXT
    };
    for (const char *source : truncated) {
        Result r = list(source);
        EXPECT_TRUE(r.stopped) << source;
        EXPECT_EQ(r.out, row(0, "NOP")) << source;
        EXPECT_NE(r.err.find("Object is corrupt: instruction at 1 runs past the end of the code"),
                  std::string::npos)
            << r.err;
    }
}

TEST_F(Listing, OperandThatNamesNothingStopsWithTheLookupMessage) {
    Result r = list("NOP\nPUSH 99");
    EXPECT_TRUE(r.stopped);
    EXPECT_FALSE(r.pending);
    EXPECT_EQ(r.out, row(0, "NOP") + "    1\tPUSH    ");
    EXPECT_NE(r.err.find("Symbol number '99' not found."), std::string::npos) << r.err;

    r = list("NOP\nPUSHS 5");
    EXPECT_EQ(r.out, row(0, "NOP") + "    1\tPUSHS   ");
    EXPECT_NE(r.err.find("String with offset '5' not found."), std::string::npos) << r.err;

    r = list("PUSHFP_B 1");
    EXPECT_NE(r.err.find("Symbol number '1' not found."), std::string::npos) << r.err;
}

TEST_F(Listing, LongListingIsWrittenInLargeBlocks) {
    std::string source;
    for (int i = 0; i < 20000; ++i)
        source += "PUSH 2\nXY_MOVE 0 1\nPUSHS 6\n";
    Result r = list(source);
    EXPECT_FALSE(r.stopped);
    ASSERT_GT(r.out.size(), 1000000u);
    EXPECT_LT(r.writes, long(r.out.size() / 4096) + 10);
    std::string last = row(219997, "PUSHS", "   \"prog.4gl\"");
    EXPECT_EQ(r.out.substr(r.out.size() - last.size()), last);
}

// Damaged code either lists to its end or stops with a message; it never
// makes the listing read outside the code.
TEST_F(Listing, RandomCodeNeverReadsPastTheBuffer) {
    std::mt19937 rng(7);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> code(1 + rng() % 24);
        for (uint8_t &b : code)
            b = uint8_t(rng() % 3 ? rng() % 8 : rng() % OPCODE_COUNT);
        code[0] = uint8_t(rng() % OPCODE_COUNT);
        Result r = list(code);
        EXPECT_TRUE(r.stopped ? !r.pending : r.out.back() == '\n') << r.out;
    }
}

TEST_F(Listing, NoStreamOrNoCodeListsNothing) {
    zel.code = {op::NOP};
    write_assembler(nullptr);
    EXPECT_EQ(list(std::vector<uint8_t>{}).out, "");
}

// Every fixed-size instruction is consumed by the listing exactly as far as
// its table size says, and `sizeof_instruction` agrees.
TEST(InstructionLength, ListingConsumesTheTableSize) {
    init_zel_struct();
    create_keytab();
    init_keytab();
    zel.info = INFO_ALL;
    for (Symbol *s : {addsymbol(nullptr, "v", 0, TOK_VARIABLE, 0, 0, 0, 0)}) {
        zel.symnr.push_back(s);
        add_symbol_list(s);
    }
    Symbol *f = addsymbol(nullptr, "f", FUNCTION, TOK_FUNCTION, 0, 0, 0, 0);
    zel.funnr.push_back(f);
    add_fun_list(f);
    add_glob_fun_list(addsymbol(nullptr, "g", FUNCTION, TOK_FUNCTION, 0, 0, 0, 0));
    add_dbl_list(constant("1.5", TOK_DOUBLE));
    add_str_list(constant("t", TOK_STRING));
    STREAM *s = smemopen(nullptr, 0, "w");
    for (int opcode = 0; opcode < OPCODE_COUNT; ++opcode) {
        if (opcode == op::SUB_LINK || opcode == op::SWITCH_T || opcode == op::CAT_N) continue;
        long size = itab[opcode].size;
        zel.code.assign(size > 0 ? size_t(size) : 1, 0);
        zel.code[0] = uint8_t(opcode);
        EXPECT_EQ(sizeof_instruction(zel.code.data(), zel.code.size()), size) << opcode;
        EXPECT_EQ(print_instruction(zel.code.data(), s), size > 0 ? size : 1) << opcode;
        if (size > 1) {
            EXPECT_EQ(sizeof_instruction(zel.code.data(), size_t(size) - 1), -1) << opcode;
        }
    }
    sclose(s);
}

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

TEST(InstructionTable, BranchFormsPointAtTheirTwins) {
    for (int opcode = op::TBGT; opcode <= op::BRA; ++opcode) {
        uint8_t fwd = itab[opcode].shortop;
        ASSERT_EQ(itab[fwd].format, 4) << itab[opcode].mnemonic;
        EXPECT_STREQ(itab[fwd].mnemonic + 2, itab[opcode].mnemonic);
        uint8_t back = itab[fwd].shortop;
        EXPECT_EQ(itab[back].format, 5);
        EXPECT_EQ(itab[back].shortop, fwd);
        if (uint8_t inverse = itab[opcode].paired) {
            EXPECT_EQ(itab[inverse].paired, opcode);
        }
    }
    EXPECT_EQ(itab[op::PUSH_PR].format, 1);
    EXPECT_STREQ(itab[op::LAST].mnemonic, "LAST");
}

} // namespace
