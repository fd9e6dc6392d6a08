// Object encoding: the read and write primitives with the running checksum,
// the release-61 flag codes, the file-name checksum, and the header's TIV
// block. Rejected headers are tested in test_damaged.
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "al_strm.h"
#include "capture.h"
#include "objrun.h"
#include "zel.h"
#include "zel_obj.h"

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
        EXPECT_EQ(c.err, "read_" + std::string(steps[i]) +
                             ": Resource temporarily unavailable\n: Fatal Error: Error 11 while "
                             "reading 'oxxmodtest'\n\n  1 ERROR     REPORTED.\n\n");
        sclose(s);
        close(fds[1]);
    }
}

} // namespace
