// DLL linkage: prototypes into symbols, DLL loading, the used-DLL list, the
// DLL function list and the DLL blocks of the report.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "al_strm.h"
#include "capture.h"
#include "objwriter.h"
#include "run.h"
#include "zel.h"
#include "zel_dll.h"
#include "zel_error.h"
#include "zel_symtab.h"

namespace {

using Names = std::vector<std::string>;
bool found(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

// Big-endian records of a prototypes section.
struct Bytes {
    std::vector<uint8_t> b;
    Bytes &u8(unsigned v) { return b.push_back(uint8_t(v)), *this; }
    Bytes &u16(unsigned v) { return u8(v >> 8).u8(v); }
    Bytes &u32(uint32_t v) { return u16(v >> 16).u16(v & 0xFFFF); }
    Bytes &text(const std::string &s) { // counted field with its NUL; "" has length 0
        if (s.empty()) return u16(0);
        u16(unsigned(s.size() + 1));
        b.insert(b.end(), s.c_str(), s.c_str() + s.size() + 1);
        return *this;
    }
    Bytes &fn(const std::string &name, unsigned nr, uint32_t flags, unsigned req, unsigned cnt) {
        return text(name).u16(nr).text("").u32(flags).u8(req).u8(cnt);
    }
    // `whereused` >= 0 is written as the where-used number.
    Bytes &arg(const std::string &name, uint32_t flags, std::vector<uint32_t> dims = {},
               int whereused = -1) {
        text(name).text("nodomain").u32(flags).text("");
        if (whereused >= 0) u16(unsigned(whereused));
        u8(unsigned(dims.size()));
        for (uint32_t d : dims)
            u32(d);
        return *this;
    }
};

class DllTest : public ::testing::Test {
  protected:
    void SetUp() override {
        init_zel_struct();
        create_keytab();
        zel.info = INFO_ALL;
        zel.objname = "prog";
        zel.cur_file = zel.cur_origin = zel.objname.c_str();
        zel.funnr.assign(8, nullptr);
    }
    // Reads `b` as the prototypes section of object "dllobj"; `extra` bytes
    // more than there are make the section short.
    Captured load(const Bytes &b, unsigned count, int relno = 72, int revision = 1,
                  size_t extra = 0) {
        ObjHeader &h = zel.hdr;
        h.objname = "dllobj";
        h.relno = relno;
        h.obj_revision = revision;
        h.size[SEC_PROTOTYPES] = uint32_t(b.b.size() + extra);
        h.count[SEC_PROTOTYPES] = uint16_t(count);
        h.stream = smemopen(b.b.data(), b.b.size(), "r");
        Captured c = capture([&] {
            read_prototypes(h, nullptr, create_function_symbol, create_function_arg, nullptr,
                            nullptr);
        });
        sclose(h.stream);
        return c;
    }
    Symbol *fn(const char *name) { return looktoken(nullptr, name, TOK_FUNCTION); }
    static Names args(const Symbol *f) {
        if (!f) return {"<no function>"};
        Names v;
        for (const Symbol *a = f->next_arg; a; a = a->next_arg)
            v.push_back(a->name);
        return v;
    }
    static int booleans(const Symbol *s) {
        return s->used << 3 | s->declared << 2 | s->optional << 1 | s->ref_to_dll;
    }
    Symbol *make(const char *name, uint32_t flags, int dimcount = 0, int d0 = 0) {
        Symbol &s = zel.symbol_store.emplace_back();
        s.name = zel.text_store.emplace_back(name).c_str();
        s.flags = flags;
        s.dim_count = uint16_t(dimcount);
        s.dims[0] = d0;
        return &s;
    }
};

TEST_F(DllTest, Release72RecordsBecomeFunctionsAndArguments) {
    Bytes b;
    b.fn("fb", 5, STRING | OPTIONAL_ARG, 0, 0);
    b.fn("fa", 2, LONG, 1, 2).arg("a", LONG).arg("s", STRING | WHERE_USED, {10}, 3);
    b.fn("v2", 0, LONG, 2, 255).arg("p", LONG).arg("q", LONG); // variable: required records
    b.fn("v0", 1, LONG, 0, 255);
    load(b, 4);

    Symbol *f = fn("fa");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(zel.funnr[2], f);
    EXPECT_EQ(f->number, 2);
    EXPECT_EQ(f->flags, uint32_t(LONG));
    EXPECT_EQ(required_args(*f) * 10 + arg_count(*f), 12);
    EXPECT_EQ(booleans(f), 0b0101); // declared, ref_to_dll
    EXPECT_STREQ(f->origin, "dllobj");
    EXPECT_EQ(args(f), (Names{"a", "s"}));
    const Symbol *s = f->next_arg->next_arg;
    EXPECT_EQ(s->tok, TOK_VARIABLE);
    EXPECT_EQ(s->scope, f);
    EXPECT_EQ(s->domain, nullptr); // unknown to the data dictionary
    EXPECT_EQ(s->whereused * 100 + s->dim_count * 10 + s->dims[0], 320);
    EXPECT_EQ(booleans(s), 0);
    EXPECT_EQ(fn("fb")->dim_count, 1); // the STRING bit
    EXPECT_EQ(booleans(fn("fb")), 0b0111);
    EXPECT_EQ(args(fn("v2")), (Names{"p", "q"}));
    EXPECT_EQ(args(fn("v0")), Names{});
    EXPECT_EQ(zel.dll_funcs, (std::vector<Symbol *>{f, fn("fb"), fn("v0"), fn("v2")}));
}

TEST_F(DllTest, Release61BooleansComeOutOfTheFlags) {
    Bytes b;
    b.fn("f61", 0, LONG | 0x01010000, 1, 1).arg("x", LONG | 0x03030000 | WHERE_USED);
    b.fn("next", 1, DOUBLE | EXT_SYM, 0, 0); // bit 17 is a boolean here
    load(b, 2, 61, 0);                       // revision 0: no where-used numbers

    Symbol *f = fn("f61");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->flags, uint32_t(LONG));
    EXPECT_EQ(booleans(f), 0b1111);
    ASSERT_NE(f->next_arg, nullptr);
    EXPECT_EQ(f->next_arg->flags, uint32_t(LONG));
    EXPECT_EQ(f->next_arg->whereused, 0);
    EXPECT_EQ(booleans(f->next_arg), 0b1111);
    EXPECT_EQ(fn("next")->flags, uint32_t(DOUBLE));
}

TEST_F(DllTest, DuplicateIsSkippedWithItsArgumentsAndWarnsWhenListed) {
    Bytes b;
    b.fn("dup", 0, LONG, 0, 0);
    b.fn("dup", 1, DOUBLE, 1, 1).arg("lost", LONG, {1, 2});
    b.fn("after", 2, LONG, 0, 0);
    load(b, 3);
    EXPECT_EQ(fn("dup")->flags, uint32_t(LONG));
    EXPECT_EQ(args(fn("dup")), Names{});
    EXPECT_EQ(zel.funnr[1], nullptr);
    EXPECT_EQ(zel.funnr[2], fn("after"));
    EXPECT_EQ(zel.warnings, 0);

    fn("dup")->used = 1;
    Captured c = load(Bytes().fn("dup", 3, LONG, 0, 0), 1);
    EXPECT_EQ(zel.warnings, 1);
    EXPECT_TRUE(found(c.err, "Function 'dup' in DLL 'dllobj' ignored. Taken from DLL 'dllobj'"));
}

TEST_F(DllTest, CorruptSectionsEndTheRun) {
    struct Case {
        Bytes b;
        unsigned count;
        size_t extra;
        const char *message;
    } cases[] = {
        {Bytes().fn("d", 0, LONG, 1, 1).arg("x", LONG, {1, 2, 3, 4, 5}), 1, 0, "Object is corrupt"},
        {Bytes().fn("e", 0, LONG | EXT_SYM, 0, 0), 1, 0, "EXT_SYM symbol type is not supported"},
        {Bytes().fn("e", 0, LONG, 1, 1).arg("x", LONG | EXT_SYM), 1, 0, "EXT_SYM"},
        {Bytes().fn("n", 8, LONG, 0, 0), 1, 0, "Object is corrupt"}, // past the number table
        {Bytes().fn("o", 0, LONG, 1, 1).u16(200).u8('x'), 1, 0, "prototypes section"},
        {Bytes().fn("c", 0, LONG, 0, 0), 2, 0, "prototypes section"},
        {Bytes().fn("s", 0, LONG, 0, 0), 1, 4, "Corrupt header in 'dllobj'"},
    };
    for (const Case &k : cases) {
        Captured c = load(k.b, k.count, 72, 1, k.extra);
        EXPECT_TRUE(c.stopped) << k.message;
        EXPECT_TRUE(found(c.err, k.message)) << c.err;
    }
}

TEST_F(DllTest, UsedDllListAndDllFunctionOrder) {
    DllEntry *a = add_dll_list("liba");
    Captured c = capture([] { EXPECT_EQ(add_dll_list(""), add_dll_list(nullptr)); });
    EXPECT_EQ(zel.errors, 2);
    EXPECT_TRUE(found(c.err, "add_dll_list"));
    EXPECT_EQ(add_dll_list("liba"), a);
    DllEntry *b = add_dll_list("libb");
    EXPECT_EQ(a->number * 10 + b->number, 12);
    EXPECT_EQ(search_dll(2), b);
    EXPECT_EQ(search_dll(0), nullptr);
    c = capture([] { search_dll(3); });
    EXPECT_TRUE(c.stopped);
    EXPECT_TRUE(found(c.err, "DLL with number '3' not found."));

    Symbol *b1 = make("b", LONG), *hi = make("\xe4z", LONG), *a1 = make("a", LONG);
    Symbol *b2 = make("b", LONG), *z = make("z", LONG);
    for (Symbol *s : {b1, hi, a1, b2, z})
        add_dllfunc_list(s);
    EXPECT_EQ(zel.dll_funcs, (std::vector<Symbol *>{a1, b1, b2, z, hi}));
}

TEST_F(DllTest, PrototypeTexts) {
    Symbol *f = make("f", LONG), *a = make("a", LONG), *b = make("b", STRING, 1, 10);
    f->next_arg = a;
    a->next_arg = b;
    required_args(*f) = 1;
    arg_count(*f) = 2;
    Captured c = capture([&] {
        print_prototype(f);
        required_args(*f) = 0;
        arg_count(*f) = 255;
        print_prototype(f);
        f->next_arg = nullptr;
        print_prototype(f);
    });
    EXPECT_EQ(c.out, "function long f(\n\t long a,\n\t [ string b(10) ] )\n\n"
                     "function long f(\n\t [ long a ],\n\t [ string b(10) ],\n\t ... )\n\n"
                     "function long f(\n\t ... )\n\n");
}

TEST_F(DllTest, UsageAndPrototypeBlocks) {
    Symbol *f = make("f", LONG);
    f->description = "adds";
    zel.dll_funcs.push_back(f);
    zel.dll_usage = "a library";
    const std::string usage = "\n---------------------------DLL USAGE DESCRIPTION------------------"
                              "------\na library\n";
    const std::string protos =
        "\n---------------------------DLL PROTOTYPES-------------------------"
        "------\nfunction long f(\n\t )\n\n";
    auto report = [](uint32_t info) {
        zel.info = info;
        return capture(print_dll_usage_and_prototypes).out;
    };
    EXPECT_EQ(report(INFO_ALL), usage + protos + "adds\n");
    EXPECT_EQ(report(INFO_USAGE), usage);
    EXPECT_EQ(report(INFO_PROTO), protos);
    zel.dll_usage = nullptr;
    zel.dll_funcs.clear();
    EXPECT_EQ(report(INFO_ALL), "");
}

TEST_F(DllTest, UsedDllsAndHintsBlocks) {
    auto report = [](uint32_t info) {
        zel.info = info;
        return capture(print_used_dlls_and_hints).out;
    };
    EXPECT_EQ(report(INFO_DLLS), "");
    DllEntry *d = add_dll_list("mathdll");
    add_dll_list("strdll");
    const std::string used = "\n---------------------------USED DLL'S-----------------------------"
                             "------\nUsed DLL\t= mathdll\nUsed DLL\t= strdll\n";
    const std::string hints = "\n---------------------------DLL HINTS------------------------------"
                              "------\n";
    EXPECT_EQ(report(INFO_DLLS), used); // no functions: no hints block

    Symbol *own = make("own", FUNCTION), *sq = make("sqrt", FUNCTION | EXTERN);
    sq->dll = d;
    zel.fun.head = own;
    own->next = zel.fun.tail = sq;
    EXPECT_EQ(report(INFO_DLLS), used + hints + "function sqrt" + std::string(22, ' ') +
                                     "(Hint: Located in DLL: mathdll)\n");
    EXPECT_EQ(report(INFO_DLLS | INFO_SYMTAB) + report(INFO_ALL), used + used);
    sq->dll = nullptr; // DLL number 0: no hint, the heading stays
    EXPECT_EQ(report(INFO_DLLS | INFO_PROTO), used + hints);
}

// DLL objects written into a temporary directory and named by their path.
class DllLoadTest : public DllTest {
  protected:
    void SetUp() override {
        DllTest::SetUp();
        zel.info = 0; // on-demand loading is the compiler's: no number table
    }
    DllEntry *dll(const std::string &name, std::vector<objw::Prototype> protos, bool bad = false) {
        objw::ObjSpec spec;
        spec.kind = objw::Kind::Dll;
        spec.prototypes = std::move(protos);
        if (bad) spec.header.magic = "[_nothing_]";
        objw::write_object_file(spec, dir.path() + "/" + name);
        return add_dll_list((dir.path() + "/" + name).c_str());
    }
    static objw::Prototype proto(const std::string &name, uint32_t argflags = 0) {
        objw::Prototype p;
        p.name = name;
        if (argflags) p.args.push_back(objw::ProtoArg("x", argflags));
        return p;
    }
    Symbol *wanted(const char *name, int declared = 0) {
        return addsymbol(nullptr, name, FUNCTION, TOK_FUNCTION, 1, 0, 0, declared);
    }
    TempDir dir;
};

TEST_F(DllLoadTest, LinkLoadsDllsInOrderUntilResolved) {
    DllEntry *one = dll("oone", {proto("alpha")});
    DllEntry *two = dll("otwo", {proto("beta", LONG), proto("alpha")});
    Symbol *beta = wanted("beta");
    EXPECT_EQ(link_dll_function(wanted("alpha")), 1);
    EXPECT_EQ(one->loaded * 10 + two->loaded, 10);
    Captured c = capture([&] { EXPECT_EQ(link_dll_function(beta), 1); });
    EXPECT_EQ(beta->dll, two);
    EXPECT_EQ(beta->origin, two->name);
    EXPECT_EQ(args(beta), Names{"x"});
    EXPECT_EQ(zel.warnings, 1); // alpha again, and the first one is listed
    EXPECT_TRUE(found(c.err, "Taken from DLL '" + one->name + "'"));
    EXPECT_EQ(fn("alpha")->dll, one);
    EXPECT_EQ(load_next_dll(), nullptr);
    EXPECT_EQ(link_dll_function(wanted("gamma")), 0);
    EXPECT_EQ(link_dll_function(wanted("own", 1)), 0);
}

TEST_F(DllLoadTest, SourceDefinitionWinsAndDeclarationsAreChecked) {
    Symbol *src = wanted("fromsrc", 1);
    src->origin = "main.src";
    src->line = 12;
    Symbol *decl = wanted("declared"); // declared only, with a long argument
    const int32_t nodims[4] = {};
    create_function_arg(zel.hdr, decl, "d", nullptr, LONG, "", 0, 0, nodims);
    DllEntry *e = dll("osrc", {proto("fromsrc"), proto("declared", STRING)});
    Captured c = capture([] { load_next_dll(); });
    EXPECT_TRUE(found(c.err, "Function 'fromsrc' in DLL '" + e->name +
                                 "' ignored. Taken from main.src(12)"));
    EXPECT_EQ(src->ref_to_dll * 10 + decl->ref_to_dll, 1);
    EXPECT_EQ(args(decl), Names{"x"});
    EXPECT_EQ(zel.errors, 1); // the declared long argument is a string in the DLL
    EXPECT_TRUE(found(c.err, "does not match its prototype"));
}

TEST_F(DllLoadTest, BadDllsAreReportedOrEndTheRun) {
    DllEntry *bad = dll("obad", {proto("f")}, true);
    Captured c = capture([&] { EXPECT_EQ(load_next_dll(), bad); });
    EXPECT_EQ(bad->loaded, 1);
    EXPECT_EQ(fn("f"), nullptr);
    EXPECT_TRUE(found(c.err, "DLL '" + bad->name + "' not in proper format."));

    add_dll_list((dir.path() + "/omissing").c_str());
    c = capture([] { load_next_dll(); });
    EXPECT_TRUE(c.stopped);
    EXPECT_TRUE(found(c.err, "Can't open DLL '" + dir.path() + "/omissing' for reading"));
}

} // namespace
