// The object header: acceptance, every rejection, the TIV block and the
// expected checksum.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "al_strm.h"
#include "objwriter.h"
#include "zel.h"
#include "zel_obj.h"

namespace {

const std::string PATH = "/kte/obj/oxxmod/omodtest";

struct Loaded {
    ObjHeader hdr;
    std::unique_ptr<STREAM, int (*)(STREAM *)> s{nullptr, &sclose};
    int result = 0;
    uint32_t sum = 0; // running checksum after the header
};

// Builds `spec` for PATH and reads its header back as stored at `path`.
std::unique_ptr<Loaded> load(const objw::ObjSpec &spec, const std::string &path = PATH) {
    auto l = std::make_unique<Loaded>();
    std::vector<uint8_t> image = objw::build_object(spec, PATH);
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
    objw::ObjSpec spec;
    spec.flags = objflag::DEBUG;
    spec.obj_revision = 7;
    spec.startdate = objw::day_number(2023, 5, 17);
    spec.symbols = {{"a", LONG | EXTERN}, {"s", STRING, {}, 20}};
    spec.code = objw::function_frame(0);
    spec.functions = {{"main"}};
    spec.strings = {"hello"};
    spec.compnr = {11, -2, 33};
    return spec;
}

TEST(ReadHeader, AcceptsAndDecodesAProgramObject) {
    auto l = load(sample_spec());
    ASSERT_EQ(l->result, 0);
    const ObjHeader &h = l->hdr;
    EXPECT_STREQ(h.magic, "[_zel_obj_]");
    EXPECT_EQ(h.relno, 72);
    EXPECT_EQ(h.bytesheader, 182);
    EXPECT_EQ(h.startdate, 738657);
    EXPECT_EQ(h.enddate, objw::day_number(9999, 1, 1));
    EXPECT_EQ(h.options, 1);
    EXPECT_EQ(h.flags, int32_t(objflag::DEBUG | objflag::ADDINFO));
    EXPECT_EQ(h.count_extern, 1);
    EXPECT_EQ(h.obj_revision, 7);
    EXPECT_EQ(uint32_t(h.fsm), fname_sum(PATH.c_str()));
    EXPECT_EQ(h.count[SEC_SYMTAB], 2);
    EXPECT_EQ(h.size[SEC_COMPNR2], 4u);
    EXPECT_EQ(h.objname, "oxxmodtest");
    EXPECT_EQ(h.pathname, PATH);
    EXPECT_EQ(h.stream, l->s.get());
    EXPECT_EQ(h.tiv, nullptr);
}

TEST(ReadHeader, AcceptsADllObjectOfRelease61) {
    objw::ObjSpec spec = sample_spec();
    spec.kind = objw::Kind::Dll;
    spec.relno = 61;
    auto l = load(spec);
    ASSERT_EQ(l->result, 0);
    EXPECT_STREQ(l->hdr.magic, "[_zel_dll_]");
    EXPECT_EQ(l->hdr.relno, 61);
    EXPECT_TRUE(l->hdr.flags & objflag::DLL);
}

// The expected checksum equals the running sum over the header and all
// sections, while neither the TIV block nor the trailing blocks count.
TEST(ReadHeader, ExpectedChecksumMatchesTheRunningSum) {
    for (int relno : {61, 72}) {
        objw::ObjSpec spec = sample_spec();
        spec.relno = relno;
        spec.tiv = objw::Tiv{2, 4, 1020};
        spec.usage = "usage";
        spec.addinfo_records = {"x"};
        std::vector<uint8_t> image = objw::build_object(spec, PATH);
        auto l = load(spec);
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

TEST(ReadHeader, RejectsMalformedHeaders) {
    struct Case {
        const char *what;
        std::function<void(objw::ObjSpec &)> damage;
    };
    const Case cases[] = {
        {"short header", [](objw::ObjSpec &s) { s.truncate = 181; }},
        {"magic without NUL", [](objw::ObjSpec &s) { s.header.magic = "[_zel_obj_]X"; }},
        {"unknown magic", [](objw::ObjSpec &s) { s.header.magic = "[_zel_xyz_]"; }},
        {"relno 70", [](objw::ObjSpec &s) { s.header.relno = 70; }},
        {"bytesheader 183", [](objw::ObjSpec &s) { s.header.bytesheader = 183; }},
        {"TIV type 3",
         [](objw::ObjSpec &s) {
             s.tiv = objw::Tiv{3, 4, 0};
         }},
    };
    for (const Case &c : cases) {
        objw::ObjSpec spec = sample_spec();
        c.damage(spec);
        auto l = load(spec);
        EXPECT_EQ(l->result, -1) << c.what;
        EXPECT_EQ(l->hdr.objname, "oxxmodtest") << c.what;
        EXPECT_EQ(l->hdr.pathname, PATH) << c.what;
    }
}

TEST(ReadHeader, FileNameChecksum) {
    objw::ObjSpec spec = sample_spec();
    EXPECT_EQ(load(spec, "/elsewhere/oxxmod/omodtest")->result, 0);
    EXPECT_EQ(load(spec, "/kte/obj/oxxmod/omodtes2")->result, -2);
    EXPECT_EQ(load(spec, "/kte/obj/lib/omodtest")->result, -2);
    // The file-name check comes after the format checks.
    spec.header.relno = 60;
    EXPECT_EQ(load(spec, "/kte/obj/lib/omodtest")->result, -1);
}

TEST(ReadHeader, TivBlock) {
    objw::ObjSpec spec = sample_spec();
    spec.relno = 61;
    spec.tiv = objw::Tiv{2, 4, 1020}; // release 61 has no TIV block
    auto l = load(spec);
    EXPECT_EQ(l->hdr.tiv, nullptr);

    spec.relno = 72;
    l = load(spec);
    ASSERT_NE(l->hdr.tiv, nullptr);
    EXPECT_EQ(l->hdr.tiv->type, 2);
    EXPECT_EQ(l->hdr.tiv->length, 4);
    EXPECT_EQ(l->hdr.tiv->value, 1020);
    EXPECT_EQ(l->hdr.obj_revision, 7);
    EXPECT_EQ(stream_stell(l->s.get(), 0), HEADER_SIZE + 12);

    spec.tiv = objw::Tiv{1, 5, 0}; // skipped
    l = load(spec);
    EXPECT_EQ(l->result, 0);
    EXPECT_EQ(l->hdr.tiv, nullptr);
    EXPECT_EQ(stream_stell(l->s.get(), 0), HEADER_SIZE + 8 + 5);

    for (int32_t type : {0, -1}) { // nothing more read
        spec.tiv = objw::Tiv{type, 4, 99};
        l = load(spec);
        EXPECT_EQ(l->result, 0);
        EXPECT_EQ(l->hdr.tiv, nullptr);
        EXPECT_EQ(stream_stell(l->s.get(), 0), HEADER_SIZE + 8);
        EXPECT_EQ(l->sum, load(sample_spec())->sum);
    }
}

TEST(ReadHeader, OldTivRecordIsDropped) {
    objw::ObjSpec spec = sample_spec();
    spec.tiv = objw::Tiv{2, 4, 1020};
    auto l = load(spec);
    ASSERT_NE(l->hdr.tiv, nullptr);
    std::vector<uint8_t> image = objw::build_object(sample_spec(), PATH);
    std::unique_ptr<STREAM, int (*)(STREAM *)> s(smemopen(image.data(), image.size(), "r"),
                                                 &sclose);
    EXPECT_EQ(read_header(l->hdr, s.get(), "oxxmodtest", PATH.c_str()), 0);
    EXPECT_EQ(l->hdr.tiv, nullptr);
}

} // namespace
