// The report: type, dimension and option rendering, dates, the header and
// flag blocks, and the order and lines of the report sections.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "capture.h"
#include "qpd.h"
#include "zel.h"
#include "zel_print.h"
#include "zel_symtab.h"

namespace {

testing::AssertionResult contains(const std::string &text, const std::string &part) {
    if (text.find(part) != std::string::npos) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "'" << text << "' lacks '" << part << "'";
}

std::string banner(const std::string &title) {
    std::string line = std::string(27, '-') + title;
    return "\n" + line + std::string(72 - line.size(), '-') + "\n";
}

// What print_type, the name, print_dims and print_type_options print.
std::string render(const Symbol &s) {
    return capture([&] {
               print_type(&s);
               printf(" %s", s.name);
               print_dims(&s);
               print_type_options(&s);
           })
        .out;
}

Symbol sym(const char *name, uint32_t flags, std::vector<int32_t> dims = {},
           const DomainRec *domain = nullptr) {
    Symbol s{};
    s.name = name;
    s.flags = flags;
    s.domain = domain;
    s.dim_count = uint16_t(dims.size());
    for (size_t i = 0; i < dims.size(); ++i)
        s.dims[i] = dims[i];
    return s;
}

TEST(PrintType, StorageTypeDimsAndOptions) {
    EXPECT_EQ(render(sym("x", EXTERN | LONG | ARRAY, {10})), " extern long x(10)");
    EXPECT_EQ(render(sym("s", STRING, {20})), " string s(20)");
    EXPECT_EQ(render(sym("a", STRING | ARRAY, {5, 20})), " string a(5,20)");
    EXPECT_EQ(render(sym("b", BOOLEAN | LONG)), " boolean b");
    EXPECT_EQ(render(sym("e", ENUM | LONG)), " e");
    EXPECT_EQ(render(sym("m", STRING | TSS_STRING, {8})), " string m(8) mb");
    EXPECT_EQ(render(sym("z", BITSET | ENUM)), " bset z");
    EXPECT_EQ(render(sym("o", OPTIONAL_ARG | LONG)), " [ long ] o");
    EXPECT_EQ(render(sym("n", OPTIONAL_ARG)), " n");
    EXPECT_EQ(render(sym("r", REF_ARG | LONG | ARRAY | BASED, {3, 4})), " ref long r(,)");
    EXPECT_EQ(render(sym("c", REF_ARG | CONST_ARG | DOUBLE)), " const double c");
    EXPECT_EQ(render(sym("all", COMMON | EXTERN | STATIC | GLOBAL | DD_NAME | TABLE | FIXED |
                                    BASED | DOUBLE)),
              " common extern static global DD_NAME table double all fixed based");
    Symbol w = sym("w", WHERE_USED | STRING, {30});
    w.whereused = 3;
    EXPECT_EQ(render(w), " string w(30) whereused 3");
}

TEST(PrintType, DomainReplacesTypeWordAndStringLength) {
    DomainList list;
    memcpy(list.package, "ab", 3);
    DomainRec dom;
    memcpy(dom.name, "kname", 6);
    dom.list = &list;
    char buf[32];
    const std::string d = std::string(" domain ") + dddomainname_from_domain(&dom, buf);
    EXPECT_EQ(render(sym("s", STRING | OPTIONAL_ARG, {20}, &dom)), d + " s");
    EXPECT_EQ(render(sym("a", STRING | ARRAY | EXTERN, {5, 20}, &dom)), " extern" + d + " a(20)");
    EXPECT_EQ(render(sym("l", LONG | ARRAY, {7}, &dom)), d + " l(7)");
}

TEST(DateToStr, MatchesTheCivilCalendar) {
    using namespace std::chrono;
    const sys_days day1 = sys_days{year{1} / January / 1};
    for (int32_t n = 1; n <= 3652059; n += 997) {
        year_month_day ymd{day1 + days{n - 1}};
        char want[16];
        snprintf(want, sizeof want, "%04d-%02u-%02u", int(ymd.year()), unsigned(ymd.month()),
                 unsigned(ymd.day()));
        ASSERT_STREQ(date_to_str(n), want) << n;
    }
    EXPECT_STREQ(date_to_str(1), "0001-01-01");
    EXPECT_STREQ(date_to_str(3652059), "9999-12-31");
    EXPECT_STREQ(date_to_str(730120 + 59), "2000-02-29");
    for (int32_t bad : {0, -5, 3652060})
        EXPECT_STREQ(date_to_str(bad), "    -  -  ");
}

class Report : public testing::Test {
  protected:
    void SetUp() override {
        init_zel_struct();
        create_keytab();
        init_keytab();
    }

    Captured report(uint32_t info, std::vector<uint8_t> *domains = nullptr) {
        zel.info = info;
        return capture([&] { print_object_ex(hdr, domains); });
    }

    static Symbol *fun(const char *name) {
        Symbol *f = addsymbol(nullptr, name, FUNCTION | IDENTIFIER, TOK_FUNCTION, 0, 0, 0, 0);
        add_fun_list(f);
        return f;
    }

    ObjHeader hdr;
};

TEST_F(Report, HeaderBlock) {
    snprintf(hdr.magic, sizeof hdr.magic, "[_zel_obj_]");
    hdr.relno = 72;
    hdr.bytesheader = 182;
    hdr.startdate = 730120;
    hdr.enddate = 0;
    hdr.options = 0x70001;
    hdr.flags = 0x4B;
    hdr.count_extern = 2;
    hdr.obj_revision = 7;
    hdr.fsm = 1234;
    hdr.objname = "omain";
    hdr.pathname = "/k/omain";
    for (int i = 0; i < NSECTIONS; ++i) {
        hdr.start[i] = 182 + 10 * i;
        hdr.size[i] = i;
        hdr.count[i] = uint16_t(i % 3);
    }
    hdr.tiv = std::make_unique<TivRecord>(TivRecord{2, 4, 1020});
    const std::string want =
        "---------------------------GENERAL INFO---------------------------------\n"
        "Object\t\t= omain\n"
        "Pathname\t= /k/omain\n"
        "\n---------------------------OBJECT HEADER--------------------------------\n"
        "Magic\t\t= [_zel_obj_]\n"
        "relno\t\t= 72\n"
        "TIV\t\t= 1020\n"
        "bytesheader\t= 182\n"
        "startdate\t= 2000-01-01\n"
        "enddate\t\t=     -  -  \n"
        "options\t\t= 1\n"
        "object_flags\t= 1=NOTRANSACTIONS  2=DEBUG  8=DLL  \n"
        "count_extern\t= 2\n"
        "obj_revision\t= 7\n"
        "fsm\t\t= 1234\n"
        "prototypes\t= start: 182    size: 0      count: 0\n"
        "used DLL's\t= start: 192    size: 1      count: 1\n"
        "object\t\t= start: 202    size: 2      count: 2\n"
        "symtab\t\t= start: 222    size: 4      count: 1\n"
        "funtab\t\t= start: 242    size: 6      count: 0\n"
        "glob fun\t= start: 252    size: 7      count: 1\n"
        "strings\t\t= start: 262    size: 8      count: 2\n"
        "doubles\t\t= start: 282    size: 10     count: 1\n"
        "domains\t\t= start: 292    size: 11     count: 2\n"
        "idents\t\t= start: 302    size: 12     count: 0\n";
    // -h with -f and a mask: the mask is ignored and the run goes on.
    zel.flagmask = 0x100;
    Captured c = report(INFO_HEADER | INFO_FLAGS);
    EXPECT_FALSE(c.stopped);
    EXPECT_EQ(c.out, want);

    hdr.tiv.reset();
    EXPECT_TRUE(contains(report(INFO_HEADER).out, "TIV\t\t= 7\n"));
}

TEST_F(Report, FlagTestAndFlagsBlock) {
    struct {
        uint32_t flags, mask;
        int status;
    } tests[] = {{0x46, 6, 0}, {0x42, 6, 1}, {0x80000001u, 0x80000000u, 0}};
    for (const auto &t : tests) {
        hdr.flags = int32_t(t.flags);
        zel.flagmask = t.mask;
        Captured c = report(INFO_FLAGS | INFO_SYMTAB);
        EXPECT_TRUE(c.stopped && c.status == t.status && c.out.empty()) << t.flags;
    }
    zel.flagmask = 0;
    hdr.flags = 0;
    Captured c = report(INFO_FLAGS | INFO_IDENTS);
    EXPECT_FALSE(c.stopped);
    EXPECT_EQ(c.out, banner("OBJECT FLAGS") + "object_flags\t= \n");
    hdr.flags = 0x1F;
    EXPECT_EQ(report(INFO_FLAGS).out,
              banner("OBJECT FLAGS") +
                  "object_flags\t= 1=NOTRANSACTIONS  4=PROFILE  2=DEBUG  8=DLL  16=STICKY  \n");
}

TEST_F(Report, SymbolTableSections) {
    for (auto [name, flags, size] : {std::tuple{"total", EXTERN | LONG | ARRAY, 10},
                                     std::tuple{"<1>", uint32_t(STRING), 30}}) {
        Symbol *s = addsymbol(nullptr, name, flags | IDENTIFIER, TOK_VARIABLE, 0, 0, 0, 0);
        s->dim_count = 1;
        s->dims[0] = size;
        add_symbol_list(s);
    }
    fun("main");
    DllEntry dll{"dmath", 1, 0, 1, nullptr};
    fun("sqrt")->dll = &dll;
    add_glob_fun_list(addsymbol(nullptr, "strlen", FUNCTION, TOK_FUNCTION, 0, 0, 0, 0));
    for (const char *t : {"say \"hi\"", "", "two\nlines"})
        add_str_list(constant(t, TOK_STRING));
    add_dbl_list(constant("1.5e3", TOK_DOUBLE));
    add_ident_list(constant("@(#) ident", TOK_STRING));

    const std::string want =
        banner("SYMBOL TABLE") + "0   extern long total(10)\n" + "1   string <1>(30)\n" +
        banner("FUNCTION TABLE") + "0   main\n" + "1   sqrt\t(Hint: Located in DLL: dmath)\n" +
        banner("GLOBAL FUNCTIONS") + "strlen\n" + banner("STRING CONSTANTS") +
        "\"say \"hi\"\"\n\"\"\n\"two\nlines\"\n" + banner("DOUBLE CONSTANTS") + "1.5e3\n";
    EXPECT_EQ(report(INFO_SYMTAB).out, want);
    EXPECT_EQ(report(INFO_SYMTAB | INFO_IDENTS).out,
              want + banner("OBJECT IDENTS") + "@(#) ident\n");
}

TEST_F(Report, EmptyListsPrintOnlyTheTwoTableBanners) {
    EXPECT_EQ(report(INFO_SYMTAB | INFO_IDENTS).out,
              banner("SYMBOL TABLE") + banner("FUNCTION TABLE"));
    EXPECT_EQ(report(INFO_CHECKSUM).out, "");
}

// Domain records: name, NUL, 16-bit count, count 4-byte offsets.
std::vector<uint8_t> domain_records(const std::vector<std::pair<std::string, int>> &recs) {
    std::vector<uint8_t> buf;
    for (const auto &[name, n] : recs) {
        buf.insert(buf.end(), name.begin(), name.end());
        buf.push_back(0);
        buf.push_back(uint8_t(n >> 8));
        buf.push_back(uint8_t(n));
        buf.insert(buf.end(), size_t(n) * 4, 0xAB);
    }
    buf.push_back(0);
    return buf;
}

TEST_F(Report, DomainsAndCompnrChecksNeedAllBits) {
    hdr.compnr_check[0] = 11;
    hdr.compnr_check[1] = -2;
    hdr.compnr_check[2] = 33;
    hdr.count[SEC_DOMAINS] = 2;
    std::vector<uint8_t> doms = domain_records({{"abkname", 2}, {"cdother", 0}});

    std::vector<uint8_t> copy = doms;
    Captured c = report(INFO_SYMTAB, &copy);
    EXPECT_FALSE(contains(c.out, "DOMAINS"));
    EXPECT_FALSE(contains(c.out, "COMPNR"));
    EXPECT_TRUE(copy.empty()); // released also when not printed

    copy = doms;
    c = report(INFO_ALL, &copy);
    const std::string tail = banner("DOMAINS") + "abkname\ncdother\n" + banner("COMPNR CHECKS") +
                             "Compnr check 1\t= 11\nCompnr check 2\t= -2\n" +
                             "Compnr check 3\t= 33\n" + banner("ASSEMBLER CODE");
    EXPECT_TRUE(contains(c.out, tail)) << c.out;
    EXPECT_TRUE(copy.empty());

    hdr.count[SEC_DOMAINS] = 0;
    copy = doms;
    EXPECT_FALSE(contains(report(INFO_ALL, &copy).out, "DOMAINS"));
    EXPECT_FALSE(contains(capture([&] { print_object(hdr); }).out, "DOMAINS"));
}

TEST_F(Report, DomainWalkStaysInsideTheBuffer) {
    hdr.count[SEC_DOMAINS] = 3; // one more record than the buffer holds
    std::vector<uint8_t> doms = domain_records({{"abkname", 1}, {"cdother", 1}});
    doms.pop_back(); // no trailing NUL
    Captured c = report(INFO_ALL, &doms);
    EXPECT_TRUE(c.stopped);
    EXPECT_EQ(c.status, 1);
    EXPECT_TRUE(contains(c.out, "abkname\ncdother\n"));
    EXPECT_TRUE(doms.empty());

    hdr.count[SEC_DOMAINS] = 1;
    doms = domain_records({{"abkname", 40}}); // offsets cut off
    doms.resize(12);
    EXPECT_TRUE(report(INFO_ALL, &doms).stopped);
}

TEST_F(Report, ListingFollowsEverythingPrintedBefore) {
    fun("main");
    Captured c = report(INFO_SYMTAB | INFO_ASM);
    ASSERT_FALSE(c.stopped) << c.err;
    const std::string before =
        banner("SYMBOL TABLE") + banner("FUNCTION TABLE") + "0   main\n" + banner("ASSEMBLER CODE");
    EXPECT_EQ(c.out.substr(0, before.size()), before);
}

} // namespace
