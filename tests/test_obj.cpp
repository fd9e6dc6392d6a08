// Object encoding: the read and write primitives with the running checksum,
// the release-61 flag codes, the file-name checksum, and the header's TIV
// block and expected checksum. Rejected headers are tested end to end
// (test_damaged).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "al_strm.h"
#include "capture.h"
#include "objwriter.h"
#include "zel.h"
#include "zel_obj.h"

namespace {

using StreamPtr = std::unique_ptr<STREAM, int (*)(STREAM *)>;

StreamPtr reader(const std::vector<uint8_t> &bytes) {
    return StreamPtr(smemopen(bytes.data(), bytes.size(), "r"), &sclose);
}

StreamPtr writer() {
    return StreamPtr(smemopen(nullptr, 0, "w"), &sclose);
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

class Primitives : public ::testing::Test {
  protected:
    void SetUp() override { Rtot_bytes = 0; }
};

// Missing bytes read as 0xFF and count in the sum, which wraps at 2^32.
TEST_F(Primitives, ReadsBigEndianAndSumsEveryByte) {
    auto s = reader({0x00, 0x00, 0x01, 0x02, 0xAB, 0xCD, 0x7F, 0x12});
    EXPECT_EQ(read_obj_long(s.get()), 258u);
    EXPECT_EQ(Rtot_bytes, 3u);
    EXPECT_EQ(read_obj_short(s.get()), 0xABCDu);
    EXPECT_EQ(read_obj_char(s.get()), 0x7Fu);
    EXPECT_EQ(Rtot_bytes, 3u + 0xAB + 0xCD + 0x7F);
    Rtot_bytes = 0xFFFFFFFFu;
    EXPECT_EQ(read_obj_long(s.get()), 0x12FFFFFFu);
    EXPECT_EQ(read_obj_short(s.get()), 0xFFFFu);
    EXPECT_EQ(Rtot_bytes, 0x12u + 5 * 255 - 1);
}
TEST_F(Primitives, ReadString) {
    auto s = reader({'A', 'B', 0, 0, 'C', 'D', 'E', 'F', 0, 'G'});
    char buf[8];
    EXPECT_EQ(read_obj_string(s.get(), buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "AB");
    EXPECT_EQ(Rtot_bytes, unsigned('A' + 'B'));
    // The empty text adds nothing.
    EXPECT_EQ(read_obj_string(s.get(), buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(Rtot_bytes, unsigned('A' + 'B'));
    // A full buffer stops the read and still ends with a NUL.
    char small[3];
    EXPECT_EQ(read_obj_string(s.get(), small, sizeof small), 'E');
    EXPECT_STREQ(small, "CD");
    EXPECT_EQ(read_obj_char(s.get()), unsigned('F'));
    read_obj_char(s.get());
    // The end of the data stops it too.
    EXPECT_EQ(read_obj_string(s.get(), buf, sizeof buf), -1);
    EXPECT_STREQ(buf, "G");
}

TEST_F(Primitives, ReadBlockSumsOnlyWhatArrived) {
    auto s = reader({1, 2, 3});
    uint8_t buf[8] = {};
    EXPECT_EQ(read_obj_block(buf, 2, s.get()), 2);
    EXPECT_EQ(read_obj_block(buf, 8, s.get()), 1);
    EXPECT_EQ(buf[0], 3);
    EXPECT_EQ(Rtot_bytes, 6u);
    EXPECT_LE(read_obj_block(buf, 8, s.get()), 0);
    EXPECT_EQ(Rtot_bytes, 6u);
}

// Large blocks of high bytes sum without carries lost, in views and in
// block reads alike; bytes past the end of the data count as the fill.
TEST_F(Primitives, LargeSumsAndFill) {
    std::vector<uint8_t> high(100003, 0xFF);
    high[1] = 0x01;
    const uint32_t want = 100002u * 255 + 1;
    EXPECT_EQ(byte_sum(ByteView::of(high.data(), high.size())), want);
    EXPECT_EQ(byte_sum(ByteView{high.data(), 3, 7, 0xFF}), 255u * 6 + 1);
    auto s = reader(high);
    std::vector<uint8_t> buf(high.size());
    EXPECT_EQ(read_obj_block(buf.data(), buf.size(), s.get()), long(high.size()));
    EXPECT_EQ(Rtot_bytes, want);
}

TEST_F(Primitives, WritersEncodeBigEndianAndReturnByteSums) {
    auto s = writer();
    EXPECT_EQ(write_obj_long(s.get(), 0x01020304), 10);
    EXPECT_EQ(write_obj_short(s.get(), 0xFFFE), 0xFF + 0xFE);
    EXPECT_EQ(write_obj_char(s.get(), 0x99), 0x99);
    EXPECT_EQ(write_obj_string(s.get(), "AB"), 'A' + 'B');
    EXPECT_EQ(write_obj_string(s.get(), ""), 0);
    const uint8_t blk[] = {7, 8};
    EXPECT_EQ(write_obj_block(blk, 2, s.get()), 15);
    EXPECT_EQ(write_obj_block(blk, 0, s.get()), 0);
    std::vector<uint8_t> want = {1, 2, 3, 4, 0xFF, 0xFE, 0x99, 'A', 'B', 0, 0, 7, 8};
    EXPECT_EQ(smem_data(s.get()), want);
}

TEST(FlagTable, MatchesTheStoredCodes) {
    ASSERT_EQ(object_flag_count(), OBJECT_FLAG_CODES);
    for (unsigned i = 0; i < 238; ++i)
        EXPECT_EQ(object_flag(i), FLAG_TABLE[i]) << "code " << i;
    EXPECT_EQ(object_flag(238), 0u);
    EXPECT_EQ(object_flag(255), 0u);
    init_object_flags();
    EXPECT_EQ(object_flag_count(), OBJECT_FLAG_CODES);
    EXPECT_EQ(object_flag(237), 0x40009u);
}

TEST(FlagTable, CodeIsTheFirstIndexOfAWord) {
    EXPECT_EQ(object_flag_code(0x34), 71);
    EXPECT_EQ(object_flag_code(0x200), 190);
    EXPECT_EQ(object_flag_code(0x208), 191);
    EXPECT_EQ(object_flag_code(0x40009), 237);
    EXPECT_EQ(object_flag_code(0x3), -1);
    int duplicates = 0;
    for (unsigned i = 0; i < 238; ++i) {
        int first = object_flag_code(FLAG_TABLE[i]);
        EXPECT_EQ(FLAG_TABLE[first], FLAG_TABLE[i]);
        EXPECT_LE(unsigned(first), i);
        if (unsigned(first) != i) ++duplicates;
    }
    EXPECT_EQ(duplicates, 32);
}

TEST(FlagWriting, WordInRelease72CodeInRelease61NothingOtherwise) {
    const struct {
        int relno;
        uint32_t flags;
        int result;
        std::vector<uint8_t> bytes;
        std::string err = "";
    } cases[] = {
        {72, 0x10814, 1 + 8 + 0x14, {0, 1, 8, 0x14}},
        {61, 0x34, 71, {71}},
        {61, 0x40009, 237, {237}},
        {61, 0x10000003, -1, {}, "flag 02000000003\n"},
        {70, 0x1, -1, {}},
    };
    for (const auto &c : cases) {
        zel.hdr.relno = c.relno;
        auto s = writer();
        Captured cap = capture([&] { EXPECT_EQ(write_obj_flag(s.get(), c.flags), c.result); });
        EXPECT_EQ(cap.err, c.err);
        EXPECT_EQ(smem_data(s.get()), c.bytes) << c.relno << " " << c.flags;
    }
    zel.hdr.relno = 0;
}

// The sum of "oxxmod/omodtest" when the file lies in the directory that its
// name gives (prefix letter and group), else of the file name alone.
TEST(FileNameSum, ObjectDirectoryCountsWithTheFile) {
    auto sum_of = [](const char *text) { return fsum16(text, std::strlen(text)); };
    EXPECT_EQ(sum_of("A"), 16705u);
    EXPECT_EQ(sum_of(""), 0u);
    EXPECT_EQ(fsum16("\xff\x01", 2), 257u); // the first sum is reduced by 255 once it reaches it
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

const std::string PATH = "/kte/obj/oxxmod/omodtest";

struct Loaded {
    ObjHeader hdr;
    std::unique_ptr<STREAM, int (*)(STREAM *)> s{nullptr, &sclose};
    int result = 0;
    uint32_t sum = 0; // running checksum after the header
};

// Builds `desc` for PATH and reads its header back as stored at `path`.
std::unique_ptr<Loaded> load(const objw::ObjSpec &desc, const std::string &path = PATH) {
    auto l = std::make_unique<Loaded>();
    std::vector<uint8_t> image = objw::build_object(desc, PATH);
    l->s.reset(smemopen(image.data(), image.size(), "r"));
    Rtot_bytes = 0;
    l->result = read_header(l->hdr, l->s.get(), "oxxmodtest", path.c_str());
    l->sum = Rtot_bytes;
    return l;
}

uint32_t byte_sum(const std::vector<uint8_t> &b, size_t from, size_t n) {
    uint32_t sum = 0;
    for (size_t i = from; i < from + n && i < b.size(); ++i)
        sum += b[i];
    return sum;
}

objw::ObjSpec sample_spec() {
    objw::ObjSpec desc;
    desc.flags = objflag::DEBUG;
    desc.obj_revision = 7;
    desc.startdate = objw::day_number(2023, 5, 17);
    desc.symbols = {{"a", LONG | EXTERN}, {"s", STRING, {}, 20}};
    desc.code = objw::function_frame(0);
    desc.functions = {{"main"}};
    desc.strings = {"hello"};
    desc.compnr = {11, -2, 33};
    return desc;
}

// The expected checksum equals the running sum over the header and all
// sections, while neither the TIV block nor the trailing blocks count.
TEST(ReadHeader, ExpectedChecksumMatchesTheRunningSum) {
    for (int relno : {61, 72}) {
        objw::ObjSpec desc = sample_spec();
        desc.relno = relno;
        desc.tiv = objw::Tiv{2, 4, 1020};
        desc.usage = "usage";
        desc.addinfo_records = {"x"};
        std::vector<uint8_t> image = objw::build_object(desc, PATH);
        auto l = load(desc);
        ASSERT_EQ(l->result, 0);
        EXPECT_EQ(l->sum, byte_sum(image, 0, HEADER_SIZE)) << relno;
        for (int i = 0; i < NSECTIONS; ++i) {
            sseek(l->s.get(), long(l->hdr.start[i]), SEEK_SET);
            std::vector<uint8_t> buf(l->hdr.size[i]);
            read_obj_block(buf.data(), buf.size(), l->s.get());
        }
        EXPECT_EQ(Rtot_bytes, l->hdr.checksum) << relno;
    }
}

TEST(ReadHeader, TivBlock) {
    objw::ObjSpec desc = sample_spec();
    desc.relno = 61;
    desc.tiv = objw::Tiv{2, 4, 1020}; // release 61 has no TIV block
    auto l = load(desc);
    EXPECT_EQ(l->hdr.tiv, nullptr);

    desc.relno = 72;
    l = load(desc);
    ASSERT_NE(l->hdr.tiv, nullptr);
    EXPECT_EQ(l->hdr.tiv->type, 2);
    EXPECT_EQ(l->hdr.tiv->length, 4);
    EXPECT_EQ(l->hdr.tiv->value, 1020);
    EXPECT_EQ(l->hdr.obj_revision, 7);

    desc.tiv = objw::Tiv{1, 5, 0}; // skipped
    l = load(desc);
    EXPECT_EQ(l->result, 0);
    EXPECT_EQ(l->hdr.tiv, nullptr);

    for (int32_t type : {0, -1}) { // nothing more read
        desc.tiv = objw::Tiv{type, 4, 99};
        l = load(desc);
        EXPECT_EQ(l->result, 0);
        EXPECT_EQ(l->hdr.tiv, nullptr);
        EXPECT_EQ(l->sum, load(sample_spec())->sum);
    }

    // A header read again into the same record drops the old TIV record.
    desc.tiv = objw::Tiv{2, 4, 1020};
    l = load(desc);
    ASSERT_NE(l->hdr.tiv, nullptr);
    std::vector<uint8_t> image = objw::build_object(sample_spec(), PATH);
    StreamPtr s = reader(image);
    EXPECT_EQ(read_header(l->hdr, s.get(), "oxxmodtest", PATH.c_str()), 0);
    EXPECT_EQ(l->hdr.tiv, nullptr);
}

} // namespace
