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
