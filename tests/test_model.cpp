// The object model in-process: the encoding primitives with the running
// checksum, the file-name checksum, the header's TIV block and read errors;
// the tables of the instruction set, the keywords and the release-61 flag
// codes, pinned by literals typed from their definitions (the object writer
// and the assembler share the reader's tables, so only these catch a wrong
// entry); the symbol table and the name index through their lookups.
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "al_env.h"
#include "al_strm.h"
#include "capture.h"
#include "objrun.h"
#include "zel.h"
#include "zel_asm.h"
#include "zel_obj.h"
#include "zel_symtab.h"

namespace {

using StreamPtr = std::unique_ptr<STREAM, int (*)(STREAM *)>;

StreamPtr reader(const std::vector<uint8_t> &bytes) {
    return StreamPtr(smemopen(bytes.data(), bytes.size(), "r"), &sclose);
}

// Big-endian fields; every byte taken counts in the running sum, which
// wraps at 2^32; a missing byte reads as 0xFF and counts. A text ends at its
// NUL, a full buffer (which still ends with a NUL) or the end of the data
// (-1, nothing counted). A block counts what arrived; large blocks of high
// bytes lose no carries, and bytes past the end of a view count as its fill.
TEST(Primitives, ReadsAndSums) {
    Rtot_bytes = 0;
    auto s = reader({0, 0, 1, 2, 0xAB, 0xCD, 0x7F, 'A', 'B', 0, 0, 'C', 'D', 'E', 'F', 1, 2, 0x12});
    EXPECT_EQ(read_obj_long(s.get()), 258u);
    EXPECT_EQ(read_obj_short(s.get()), 0xABCDu);
    EXPECT_EQ(read_obj_char(s.get()), 0x7Fu);
    EXPECT_EQ(Rtot_bytes, 3u + 0xAB + 0xCD + 0x7F);
    char buf[8], small[3];
    EXPECT_EQ(read_obj_string(s.get(), buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "AB");
    EXPECT_EQ(read_obj_string(s.get(), buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(read_obj_string(s.get(), small, sizeof small), 'E');
    EXPECT_STREQ(small, "CD");
    EXPECT_EQ(read_obj_char(s.get()), unsigned('F'));
    uint8_t block[8] = {};
    EXPECT_EQ(read_obj_block(block, 2, s.get()), 2);
    EXPECT_EQ(Rtot_bytes, 3u + 0xAB + 0xCD + 0x7F + 'A' + 'B' + 'C' + 'D' + 'E' + 'F' + 1 + 2);
    Rtot_bytes = 0xFFFFFFFFu;
    EXPECT_EQ(read_obj_long(s.get()), 0x12FFFFFFu);
    EXPECT_EQ(read_obj_short(s.get()), 0xFFFFu);
    EXPECT_EQ(Rtot_bytes, 0x12u + 5 * 255 - 1);
    EXPECT_LE(read_obj_block(block, 8, s.get()), 0);
    s = reader({'G'});
    EXPECT_EQ(read_obj_string(s.get(), buf, sizeof buf), -1);
    EXPECT_STREQ(buf, "G");

    std::vector<uint8_t> high(100003, 0xFF);
    high[1] = 0x01;
    const uint32_t want = 100002u * 255 + 1;
    EXPECT_EQ(byte_sum(ByteView::of(high.data(), high.size())), want);
    EXPECT_EQ(byte_sum(ByteView{high.data(), 3, 7, 0xFF}), 255u * 6 + 1);
    Rtot_bytes = 0;
    s = reader(high);
    std::vector<uint8_t> copy(high.size() + 5);
    EXPECT_EQ(read_obj_block(copy.data(), copy.size(), s.get()), long(high.size()));
    EXPECT_EQ(Rtot_bytes, want);
}

// The sum of "oxxmod/omodtest" when the file lies in the directory that its
// name gives (prefix letter and group), else of the file name alone.
TEST(FileNameSum, ObjectDirectoryCountsWithTheFile) {
    auto sum_of = [](const char *text) { return fsum16(text, std::strlen(text)); };
    EXPECT_EQ(sum_of("A"), 16705u);
    EXPECT_EQ(sum_of(""), 0u);
    EXPECT_EQ(fsum16("\xff\x01", 1), 0u); // the first sum is reduced by 255 once it reaches it
    EXPECT_EQ(sum_of("AB"), unsigned(((65 + 131) % 255) << 8 | 131));
    const struct {
        const char *path, *summed;
    } cases[] = {
        {"/x/oxxmod/omodtest", "oxxmod/omodtest"},
        {"oxxmod/omodtest", "oxxmod/omodtest"},
        {"/k/oxxmai7/omain", "oxxmai7/omain"},
        {"/x/lib/omodtest", "omodtest"},
        {"/x/oxxmox/omodtest", "omodtest"},
        {"/x/pxxmod/omodtest", "omodtest"},
        {"/x/oxxmodtest1/omodtest", "omodtest"},
        {"/x/oxxmod/omo", "omo"},
        {"omodtest", "omodtest"},
        {"/omodtest", "/omodtest"}, // a "/" in the first position does not count
        {"/oxxmod/omodtest", "oxxmod/omodtest"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(fname_sum(c.path), sum_of(c.summed)) << c.path;
}

// Regions are read into blocks of the tool's own, each followed by a NUL:
// bytes past the end of the file read as the region's fill and take no
// memory. A pipe cannot seek, yet regions may come in any order: what it
// delivered is kept from offset 0 on. A stream of no known size (here one
// in memory) is read in growing chunks up to its end.
TEST(ObjectFile, ReadsRegionsAsDeclared) {
    TempDir dir;
    const std::string bytes = "0123456789";
    write_file(dir.path() + "/obj", bytes);
    auto text = [](const ByteView &v) {
        std::string t(reinterpret_cast<const char *>(v.data), v.avail + 1);
        for (size_t i = v.avail; i < v.size; i++)
            t += char(v.at(i));
        return t;
    };
    StreamPtr file(sopen((dir.path() + "/obj").c_str(), "r"), &sclose);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), long(bytes.size()));
    close(fds[1]);
    StreamPtr pipe_in(sdopen(fds[0], "r"), &sclose);
    StreamPtr in_memory(smemopen(bytes.data(), bytes.size(), "r"), &sclose);
    for (STREAM *s : {file.get(), pipe_in.get(), in_memory.get()}) {
        ObjectFile f(s);
        EXPECT_EQ(text(f.read_header_bytes(4)), std::string("0123\0", 5));
        EXPECT_EQ(text(f.read(6, 2)), std::string("67\0", 3));
        EXPECT_EQ(text(f.read(1, 3)), std::string("123\0", 4));
        EXPECT_EQ(text(f.read(8, 5, 0xFF)), std::string("89\0\xFF\xFF\xFF", 6));
        ByteView past = f.read(20, 4);
        EXPECT_EQ(past.avail, 0u);
        EXPECT_EQ(text(past), std::string("\0\0\0\0\0", 5));
        EXPECT_EQ(f.error(), 0);
    }
    const std::string large(200000, 'x');
    StreamPtr large_in(smemopen(large.data(), large.size(), "r"), &sclose);
    ObjectFile f(large_in.get());
    ByteView v = f.read(1, 300000);
    EXPECT_EQ(v.avail, large.size() - 1);
    EXPECT_EQ(v.data[v.avail - 1], 'x');
    EXPECT_EQ(v.data[v.avail], 0);
}

// The TIV line of the header block: the value of a TIV block of type 2
// behind a release-72 header, else the object's revision. A block of type 1
// is skipped; one of type 0 or below ends the block. None counts for the
// checksum.
TEST(Header, TivBlock) {
    const struct {
        int relno;
        objw::Tiv tiv;
        int shown;
    } cases[] = {
        {72, {2, 4, 1020}, 1020}, {61, {2, 4, 1020}, 7}, {72, {1, 5, 0}, 7},
        {72, {0, 4, 99}, 7},      {72, {-1, 4, 99}, 7},
    };
    for (const auto &c : cases) {
        objw::ObjSpec desc;
        desc.relno = c.relno;
        desc.obj_revision = 7;
        desc.tiv = c.tiv;
        RunResult r = objrun::TestObject(desc).run({"-h", "-c"});
        EXPECT_EQ(r.status, 0) << c.shown;
        EXPECT_NE(r.out.find("\nTIV\t\t= " + std::to_string(c.shown) + "\n"), std::string::npos)
            << r.out;
    }
}

// Reading that fails behind the header (here a pipe that has nothing more
// for now) ends the run when a section lies behind that point: the system
// error for the section's step, then the fatal message.
TEST(Header, ReadErrorsNameTheStepOfTheSection) {
    const char *steps[] = {"prototypes", "used_dlls",      "object_code", "compnr_check_1",
                           "symtab",     "compnr_check_2", "funtab",      "global_functions",
                           "strings",    "compnr_check_3", "doubles",     "domains",
                           "idents"};
    objw::ObjSpec desc;
    for (objw::SectionOverride &o : desc.sections)
        o.size = 1; // the header's sizes; the pipe holds no more than the header
    const std::string path = "/kte/obj/oxxmod/omodtest";
    const std::vector<uint8_t> image = objw::build_object(desc, path);
    for (int i = 0; i < NSECTIONS; ++i) {
        int fds[2];
        ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
        ASSERT_EQ(write(fds[1], image.data(), HEADER_SIZE + 8), HEADER_SIZE + 8);
        STREAM *s = sdopen(fds[0], "r");
        ObjHeader hdr;
        ASSERT_EQ(read_header(hdr, s, "oxxmodtest", path.c_str()), 0);
        init_zel_struct();
        Captured c = capture([&] { read_section(hdr, i); });
        EXPECT_TRUE(c.stopped) << i;
        EXPECT_EQ(c.err, "read_" + std::string(steps[i]) + ": Resource temporarily unavailable\n" +
                             objrun::fatal("Error 11 while reading 'oxxmodtest'", ""));
        sclose(s);
        close(fds[1]);
    }
}

// Each instruction in opcode order: mnemonic, size, operand format, paired
// and short opcode by mnemonic ("-" for none).
const char OPCODES[] =
    "NOP 1 0 - -, PUSH 3 1 - -, PUSH_B 2 2 - -, RESETBUF 1 0 - -, PUSHBYTE 2 21 - -, "
    "PUSHINT 3 22 - -, PUSHLONG 5 23 - -, PUSHNEGB 2 21 - -, PUSHNEGI 3 22 - -, "
    "PUSHNEGL 5 23 - -, PUSHFP_B 2 24 - -, PUSHFP 3 25 - -, PUSHS_B 2 26 - -, "
    "PUSHS 3 27 - -, PUSHS_3B 4 28 - -, MOVE 1 0 - -, XY_MOVE 5 15 - XY_MOV_B, "
    "XY_MOV_B 3 16 - -, POFF 3 1 - -, POES 3 1 - -, POP 1 0 - -, ADD 1 0 - -, SUB 1 0 - -, "
    "MUL 1 0 - -, DIV 1 0 - -, MOD 1 0 - -, CAT 1 0 - -, NEG 1 0 - -, INCR 1 0 X_INCR -, "
    "DECR 1 0 X_DECR -, TTX_ADD 3 1 - -, TTX_SUB 3 1 - -, TTX_MUL 3 1 - -, TTX_DIV 3 1 - -, "
    "TTX_MOD 3 1 - -, TTX_CAT 3 1 - -, TXY_ADD 5 15 XXY_ADD -, TXY_SUB 5 15 XXY_SUB -, "
    "TXY_MUL 5 15 XXY_MUL -, TXY_DIV 5 15 XXY_DIV -, TXY_MOD 5 15 XXY_MOD -, "
    "TXY_CAT 5 15 XXY_CAT -, TX_NEG 3 1 X_NEG -, TX_INCR 3 1 X_INCR -, TX_DECR 3 1 X_DECR -, "
    "XXY_ADD 5 15 - -, XXY_SUB 5 15 - -, XXY_MUL 5 15 - -, XXY_DIV 5 15 - -, "
    "XXY_MOD 5 15 - -, XXY_CAT 5 15 - -, X_NEG 3 1 - -, X_INCR 3 1 - -, X_DECR 3 1 - -, "
    "TBGT 3 3 TBLE F_TBGT, TBLE 3 3 TBGT F_TBLE, TBEQ 3 3 TBNE F_TBEQ, TBNE 3 3 TBEQ F_TBNE, "
    "EQ21 3 3 - F_EQ21, CBGT 3 3 CBLE F_CBGT, CBGE 3 3 CBLT F_CBGE, CBLT 3 3 CBGE F_CBLT, "
    "CBLE 3 3 CBGT F_CBLE, CBEQ 3 3 CBNE F_CBEQ, CBNE 3 3 CBEQ F_CBNE, BRA 3 3 - F_BRA, "
    "F_TBGT 2 4 - B_TBGT, F_TBLE 2 4 - B_TBLE, F_TBEQ 2 4 - B_TBEQ, F_TBNE 2 4 - B_TBNE, "
    "F_EQ21 2 4 - B_EQ21, F_CBGT 2 4 - B_CBGT, F_CBGE 2 4 - B_CBGE, F_CBLT 2 4 - B_CBLT, "
    "F_CBLE 2 4 - B_CBLE, F_CBEQ 2 4 - B_CBEQ, F_CBNE 2 4 - B_CBNE, F_BRA 2 4 - B_BRA, "
    "B_TBGT 2 5 - F_TBGT, B_TBLE 2 5 - F_TBLE, B_TBEQ 2 5 - F_TBEQ, B_TBNE 2 5 - F_TBNE, "
    "B_EQ21 2 5 - F_EQ21, B_CBGT 2 5 - F_CBGT, B_CBGE 2 5 - F_CBGE, B_CBLT 2 5 - F_CBLT, "
    "B_CBLE 2 5 - F_CBLE, B_CBEQ 2 5 - F_CBEQ, B_CBNE 2 5 - F_CBNE, B_BRA 2 5 - F_BRA, "
    "BASE 1 0 - -, LINE 6 29 - -, TO_LONG 1 0 - -, F_JSR 4 8 - B_JSR, F_JSR_0 3 6 - B_JSR_0, "
    "F_JSR_P 4 8 - B_JSR_P, F_JSR_0P 3 6 - B_JSR_0P, B_JSR 4 9 - F_JSR, "
    "B_JSR_0 3 7 - F_JSR_0, B_JSR_P 4 9 - F_JSR_P, B_JSR_0P 3 7 - F_JSR_0P, I_JSR 4 18 - -, "
    "I_JSR_0 3 1 - -, I_JSR_P 4 18 - -, I_JSR_0P 3 1 - -, S_JSR 4 18 - F_JSR, "
    "S_JSR_0 3 1 - F_JSR_0, S_JSR_P 4 18 - F_JSR_P, S_JSR_0P 3 1 - F_JSR_0P, "
    "JSR 4 14 - JSR_B, JSR_0 3 12 - JSR_0_B, JSR_P 4 14 - JSR_P_B, JSR_0P 3 12 - JSR_0P_B, "
    "JSR_B 3 13 - -, JSR_0_B 2 11 - -, JSR_P_B 3 13 - -, JSR_0P_B 2 11 - -, "
    "SUB_LINK 0 20 - -, RET 1 0 - -, CAT_N 0 30 - -, SWITCH_T 0 31 - -, SUB_TEXT 7 19 - -, "
    "LAST 0 0 - -, PUSH_PR 3 1 - -, ";

const char *mnemonic_or_dash(uint8_t opcode) {
    return opcode ? itab[opcode].mnemonic : "-";
}

TEST(Tables, InstructionSet) {
    std::istringstream in(OPCODES);
    std::string mnemonic, paired, shortop;
    int size, format, opcode = 0;
    for (; in >> mnemonic >> size >> format >> paired >> shortop; ++opcode) {
        ASSERT_LT(opcode, OPCODE_COUNT);
        shortop.pop_back(); // the comma
        const InstrInfo &i = itab[opcode];
        EXPECT_EQ(i.mnemonic, mnemonic) << opcode;
        EXPECT_EQ(i.size, size) << mnemonic;
        EXPECT_EQ(i.format, format) << mnemonic;
        EXPECT_EQ(mnemonic_or_dash(i.paired), paired) << mnemonic;
        EXPECT_EQ(mnemonic_or_dash(i.shortop), shortop) << mnemonic;
    }
    EXPECT_EQ(opcode, OPCODE_COUNT);
    const int widths[] = {0, 0, 1, 2, 1, 2, 3, 1, 2, 3, 4, 1, 2, 0, 0, 0, 0};
    ASSERT_EQ(std::size(widths), size_t(KIND_CODE_COUNT));
    for (int code = 0; code < KIND_CODE_COUNT; ++code)
        EXPECT_EQ(size_in_instructions[code], widths[code]) << code;
}

// Name and token of each keyword, in table order, and the twelve that are
// not keywords in the legacy mode. The comparison words carry the opcode of
// the branch taken when the comparison is false.
const char KEYWORDS[] =
    "default 325 eq 273 ne 274 ge 274 gt 274 le 274 lt 274 and 271 at 311 base 312 based 307 "
    "break 326 bset 340 btol 338 call 315 case 321 common 318 const 346 continue 327 "
    "dllusage 349 enddllusage 350 functionusage 351 endfunctionusage 352 dim 306 domain 302 "
    "domainof 304 double 300 else 259 end 295 stop 295 endcase 322 endfor 288 endif 282 "
    "endselect 363 endwhile 320 etol 336 extern 309 empty 332 fixed 308 function 333 for 283 "
    "global 298 goto 284 if 285 in 275 input 317 long 299 ltoe 337 ltob 339 mb 347 "
    "multibyte 347 not 272 on 305 or 270 print 289 prompt 316 reference 334 ref 334 "
    "repeat 323 return 314 select 356 selectbind 358 selectdo 359 selectempty 360 "
    "selecterror 361 selecteos 362 selectid 348 bindinput 366 update 364 updateempty 368 "
    "updateerror 367 endupdate 371 delete 365 deleteempty 370 deleteerror 369 enddelete 372 "
    "static 343 step 290 string 297 table 301 then 291 to 294 until 324 void 335 "
    "wherebind 357 whereused 344 while 319 __file__ 373 __line__ 374 __date__ 375 "
    "__time__ 376 __function__ 377 __object__ 378 __enable_yacc_debug 379 "
    "__disable_yacc_debug 380 __extended_symbol 381 boolean 353 false 355 true 354 ";

const std::string LEGACY = " update updateempty updateerror endupdate delete deleteempty "
                           "deleteerror enddelete __extended_symbol boolean false true ";

TEST(Tables, Keywords) {
    std::istringstream in(KEYWORDS);
    std::string name;
    int tok, i = 0;
    for (; in >> name >> tok; ++i) {
        ASSERT_LT(i, KEYWORD_COUNT);
        EXPECT_EQ(keyword[i].name, name);
        EXPECT_EQ(keyword[i].tok, tok) << name;
        EXPECT_EQ(keyword[i].kw_legacy, LEGACY.find(" " + name + " ") != std::string::npos) << name;
    }
    EXPECT_EQ(i, KEYWORD_COUNT);
    EXPECT_EQ(keyword[KEYWORD_COUNT].tok, 0);
    const struct {
        int index, opcode;
    } comparisons[] = {{1, 64}, {2, 63}, {3, 61}, {4, 62}, {5, 59}, {6, 60}};
    for (auto c : comparisons)
        EXPECT_EQ(keyword[c.index].number, c.opcode) << keyword[c.index].name;
    EXPECT_EQ(keyword[0].flags & LABEL_NAME, uint32_t(LABEL_NAME));
}

// The release-61 symbol flag table as stored objects use it.
constexpr uint32_t FLAG_TABLE[238] = {
    0x1,    0x9,    0x409,  0x11,   0x19,   0x419,  0x2,    0xA,    0x40A,  0x12,    0x1A,   0x41A,
    0x51,   0x59,   0x459,  0x52,   0x5A,   0x45A,  0x811,  0x819,  0xC19,  0x812,   0x81A,  0xC1A,
    0x851,  0x859,  0xC59,  0x852,  0x85A,  0xC5A,  0x111,  0x119,  0x519,  0x112,   0x11A,  0x51A,
    0x151,  0x159,  0x559,  0x152,  0x15A,  0x55A,  0x911,  0x919,  0xD19,  0x912,   0x91A,  0xD1A,
    0x951,  0x959,  0xD59,  0x952,  0x95A,  0xD5A,  0x4,    0x104,  0xC,    0x10C,   0x24,   0x124,
    0x2C,   0x12C,  0x44,   0x144,  0x4C,   0x14C,  0x64,   0x164,  0x6C,   0x16C,   0x42C,  0x34,
    0x134,  0x3C,   0x13C,  0x34,   0x134,  0x3C,   0x13C,  0x74,   0x174,  0x7C,    0x17C,  0x74,
    0x174,  0x7C,   0x17C,  0x43C,  0x804,  0x904,  0x80C,  0x90C,  0x824,  0x924,   0x82C,  0x92C,
    0x844,  0x944,  0x84C,  0x94C,  0x864,  0x964,  0x86C,  0x96C,  0xC2C,  0x834,   0x934,  0x83C,
    0x93C,  0x834,  0x934,  0x83C,  0x93C,  0x874,  0x974,  0x87C,  0x97C,  0x874,   0x974,  0x87C,
    0x97C,  0xC3C,  0x84,   0x184,  0x8C,   0x18C,  0xA4,   0x1A4,  0xAC,   0x1AC,   0xC4,   0x1C4,
    0xCC,   0x1CC,  0xE4,   0x1E4,  0xEC,   0x1EC,  0x4AC,  0xB4,   0x1B4,  0xBC,    0x1BC,  0xB4,
    0x1B4,  0xBC,   0x1BC,  0xF4,   0x1F4,  0xFC,   0x1FC,  0xF4,   0x1F4,  0xFC,    0x1FC,  0x4BC,
    0x884,  0x984,  0x88C,  0x98C,  0x8A4,  0x9A4,  0x8AC,  0x9AC,  0x8C4,  0x9C4,   0x8CC,  0x9CC,
    0x8E4,  0x9E4,  0x8EC,  0x9EC,  0xCAC,  0x8B4,  0x9B4,  0x8BC,  0x9BC,  0x8B4,   0x9B4,  0x8BC,
    0x9BC,  0x8F4,  0x9F4,  0x8FC,  0x9FC,  0x8F4,  0x9F4,  0x8FC,  0x9FC,  0xCBC,   0x200,  0x208,
    0x1011, 0x1019, 0x1419, 0x1012, 0x101A, 0x141A, 0x1051, 0x1059, 0x1459, 0x1052,  0x105A, 0x145A,
    0x1111, 0x1119, 0x1519, 0x1112, 0x111A, 0x151A, 0x1151, 0x1159, 0x1559, 0x1152,  0x115A, 0x155A,
    0x1034, 0x1134, 0x103C, 0x113C, 0x1004, 0x1104, 0x100C, 0x110C, 0x1024, 0x1124,  0x102C, 0x112C,
    0x1044, 0x1144, 0x104C, 0x114C, 0x1064, 0x1164, 0x106C, 0x116C, 0x142C, 0x40009,
};

TEST(Tables, FlagCodes) {
    ASSERT_EQ(OBJECT_FLAG_CODES, 238);
    for (unsigned i = 0; i < 238; ++i)
        EXPECT_EQ(object_flag(i), FLAG_TABLE[i]) << "code " << i;
    EXPECT_EQ(object_flag(238), 0u);
    EXPECT_EQ(object_flag(255), 0u);
    // A writer uses the first code of a word; 32 words stand twice.
    EXPECT_EQ(object_flag_code(0x34), 71);
    EXPECT_EQ(object_flag_code(0x3), -1);
    EXPECT_EQ(object_flag_code(0), -1); // no code stands for the empty word
    int duplicates = 0;
    for (unsigned i = 0; i < 238; ++i) {
        int first = object_flag_code(FLAG_TABLE[i]);
        EXPECT_EQ(FLAG_TABLE[first], FLAG_TABLE[i]);
        EXPECT_LE(unsigned(first), i);
        if (unsigned(first) != i) ++duplicates;
    }
    EXPECT_EQ(duplicates, 32);
}

void start_up() {
    init_zel_struct();
    create_keytab();
    init_keytab();
    zel.info = INFO_ALL;
}

Symbol *var(const std::string &name) {
    return addsymbol(nullptr, name.c_str(), IDENTIFIER, TOK_VARIABLE, 0, 0, 0, 0);
}

int keywords_entered() {
    int n = 0;
    for (const Symbol *k = keyword; k->tok != 0; ++k)
        n += (k->flags & KEYWORD) ? 1 : 0;
    return n;
}

class Symtab : public testing::Test {
  protected:
    void SetUp() override { start_up(); }
};

// Every keyword is found by its name, and so is every one of many symbols,
// also of names that share their first eight bytes or hold bytes above 127.
// The legacy mode leaves twelve keywords out; a second start-up rebuilds the
// index.
TEST_F(Symtab, NameIndexFindsKeywordsAndSymbols) {
    EXPECT_EQ(keywords_entered(), KEYWORD_COUNT);
    for (const Symbol *k = keyword; k->tok != 0; ++k)
        EXPECT_EQ(index_lookup(k->name), k);
    std::vector<std::pair<std::string, Symbol *>> made;
    for (int i = 0; i < 3000; ++i) {
        std::string name = (i % 2 ? "common_prefix_" : "v") + std::to_string(i * 7919 % 3001);
        made.emplace_back(name, var(name));
    }
    for (const char *name : {"\xe4x", "", "a", "ab", "abcdefgh", "abcdefghi", "abcdefgg"})
        made.emplace_back(name, var(name));
    for (const auto &[name, sym] : made)
        EXPECT_EQ(index_lookup(name.c_str()), sym) << name;
    for (const char *none : {"v3001", "abcdefg", "abcdefghij"})
        EXPECT_EQ(index_lookup(none), nullptr);
    const char behind_the_nul[] = {'a', 0, 'Q', 'R', 0}; // what follows a name does not count
    EXPECT_EQ(index_lookup(behind_the_nul), index_lookup("a"));

    setenv("KTE_LEGACY_MODE", "1", 1);
    al_env_reset();
    start_up();
    unsetenv("KTE_LEGACY_MODE");
    al_env_reset();
    EXPECT_EQ(keywords_entered(), 87);
    EXPECT_EQ(index_lookup("boolean"), nullptr);
    EXPECT_EQ(index_lookup("update"), var("update"));
    start_up();
    EXPECT_EQ(keywords_entered(), KEYWORD_COUNT);
    EXPECT_EQ(index_lookup("update")->namesake, nullptr);
    EXPECT_EQ(index_lookup("default")->flags, uint32_t(LABEL_NAME | KEYWORD));

    // Namesakes share the first one's text, the newest right behind it;
    // lookups match scope and kind, or scope and flags.
    Symbol *v = var("total"), *f = addsymbol(nullptr, "total", FUNCTION, TOK_FUNCTION, 0, 0, 0, 0);
    Symbol *g = addsymbol(nullptr, "total", LONG, TOK_VARIABLE, 1, 0, 0, 0);
    EXPECT_EQ(v->namesake, g);
    EXPECT_EQ(g->namesake, f);
    EXPECT_EQ(f->name, v->name);
    EXPECT_EQ(looktoken(nullptr, "total", TOK_FUNCTION), f);
    EXPECT_EQ(looktoken(f, "total", TOK_VARIABLE), nullptr);
    EXPECT_EQ(lookflags(nullptr, "total", LONG), g);
    EXPECT_EQ(lookflags(nullptr, "default", LABEL_NAME), index_lookup("default"));
}

// A string's offset follows the records before it (length, text, NUL), also
// for a text given again, which gets an entry of its own; a constant is made
// once per text and kind. Numbers run up to 65535. Without info bits the
// symbol list is walked.
TEST_F(Symtab, ListsNumbersAndOffsets) {
    for (const char *t : {"abc", "abc", "x", "abc"})
        add_str_list(constant(t, TOK_STRING));
    std::vector<uint32_t> offsets;
    for (const Symbol *s = zel.str.head; s; s = s->next)
        offsets.push_back(s->offset);
    EXPECT_EQ(offsets, (std::vector<uint32_t>{0, 6, 12, 16}));
    EXPECT_STREQ(search_str(12, zel.str.head)->name, "x");
    EXPECT_EQ(search_str(6, zel.str.head)->name, zel.str.head->name);
    EXPECT_EQ(constant("abc", TOK_STRING), zel.str.head);
    EXPECT_NE(constant("abc", TOK_DOUBLE), zel.str.head);
    add_dbl_list(constant("0", TOK_DOUBLE));
    EXPECT_STREQ(get_sym(0, zel.dbl.head)->name, "0"); // an index that the appends must renew
    while (zel.dbl.tail->number < 65535)
        add_dbl_list(constant(std::to_string(zel.dbl.tail->number + 1).c_str(), TOK_DOUBLE));
    EXPECT_STREQ(get_sym(65535, zel.dbl.head)->name, "65535");
    for (const char *name : {"s0", "s1"})
        add_symbol_list(var(name));
    zel.symnr = {zel.sym.head, zel.sym.tail};
    EXPECT_EQ(get_sym(0, zel.sym.head), zel.sym.head);
    zel.info = 0;
    EXPECT_STREQ(get_sym(1, zel.sym.head)->name, "s1");
}

} // namespace
