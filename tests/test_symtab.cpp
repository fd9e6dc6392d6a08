// Symbol table model and keyword table: the name index, symbols and
// constants, the lists and the lookups by number and offset. The limit of
// 32768 symbols is tested end to end (test_damaged).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "al_env.h"
#include "capture.h"
#include "zel.h"
#include "zel_symtab.h"

namespace {

void start_up() {
    init_zel_struct();
    create_keytab();
    init_keytab();
    zel.info = INFO_ALL;
}

Symbol *var(const std::string &name) {
    return addsymbol(nullptr, name.c_str(), IDENTIFIER, TOK_VARIABLE, 0, 0, 0, 0);
}

// Runs code that must end the run with status 1 and checks its message.
testing::AssertionResult fails_with(const std::function<void()> &fn, const std::string &msg) {
    Captured c = capture(fn);
    if (c.stopped && c.status == 1 && c.err.find(msg) != std::string::npos)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "stopped " << c.stopped << ", stderr '" << c.err << "'";
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
TEST_F(Symtab, NameIndexFindsKeywordsAndSymbols) {
    EXPECT_EQ(keywords_entered(), KEYWORD_COUNT);
    for (const Symbol *k = keyword; k->tok != 0; ++k)
        EXPECT_EQ(index_lookup(k->name), k);
    EXPECT_EQ(index_lookup("eq")->number, 64);
    EXPECT_EQ(index_lookup("lt")->number, 60);

    std::vector<std::pair<std::string, Symbol *>> made;
    for (int i = 0; i < 3000; ++i) {
        std::string name = (i % 2 ? "common_prefix_" : "v") + std::to_string(i * 7919 % 3001);
        made.emplace_back(name, var(name));
    }
    for (const char *name : {"\xe4x", "", "a", "ab", "abcdefgh", "abcdefghi", "abcdefgg"})
        made.emplace_back(name, var(name));
    for (const auto &[name, sym] : made)
        EXPECT_EQ(index_lookup(name.c_str()), sym) << name;
    EXPECT_EQ(index_lookup("v3001"), nullptr);
    EXPECT_EQ(index_lookup("abcdefg"), nullptr);
    EXPECT_EQ(index_lookup("abcdefghij"), nullptr);
}

TEST_F(Symtab, LegacyModeAndRestart) {
    setenv("KTE_LEGACY_MODE", "1", 1);
    al_env_reset();
    start_up();
    unsetenv("KTE_LEGACY_MODE");
    al_env_reset();
    EXPECT_EQ(keywords_entered(), 87);
    EXPECT_EQ(index_lookup("boolean"), nullptr);
    Symbol *update = var("update");
    EXPECT_EQ(index_lookup("update"), update);

    start_up(); // a second start-up rebuilds the index from scratch
    EXPECT_EQ(keywords_entered(), KEYWORD_COUNT);
    EXPECT_EQ(index_lookup("update")->namesake, nullptr);
    EXPECT_EQ(index_lookup("default")->flags, uint32_t(LABEL_NAME | KEYWORD));
    EXPECT_NE(var("update"), index_lookup("update"));
}

TEST_F(Symtab, NamesakesShareTextAndLookupsMatchScopeAndKind) {
    zel.cur_origin = "omain";
    Symbol *v = var("total");
    Symbol *f = addsymbol(nullptr, "total", FUNCTION, TOK_FUNCTION, 0, 0, 0, 0);
    Symbol *g = addsymbol(nullptr, "total", LONG, TOK_VARIABLE, 1, 0, 0, 0);
    EXPECT_EQ(index_lookup("total"), v); // then newest namesake first
    EXPECT_EQ(v->namesake, g);
    EXPECT_EQ(g->namesake, f);
    EXPECT_EQ(f->name, v->name);
    EXPECT_STREQ(g->origin, "omain");
    EXPECT_EQ(looktoken(nullptr, "total", TOK_FUNCTION), f);
    EXPECT_EQ(looktoken(f, "total", TOK_VARIABLE), nullptr);
    EXPECT_EQ(lookflags(nullptr, "total", LONG), g);

    Symbol *p = addsymbol(nullptr, "print", FUNCTION, TOK_FUNCTION, 0, 0, 0, 0);
    EXPECT_TRUE(index_lookup("print")->flags & KEYWORD);
    EXPECT_EQ(looktoken(nullptr, "print", TOK_FUNCTION), p);
    EXPECT_EQ(lookflags(nullptr, "default", LABEL_NAME), index_lookup("default"));

    Symbol *s = constant("then", TOK_STRING);
    EXPECT_EQ(constant("then", TOK_STRING), s);
    EXPECT_NE(constant("then", TOK_DOUBLE), s);
    EXPECT_EQ(s->flags, uint32_t(CONSTANT));
    EXPECT_EQ(s->dims[0], 4);
    add_ident_list(constant("then", TOK_STRING));
    EXPECT_EQ(zel.idents.back(), s->name);
}

TEST_F(Symtab, StringOffsetsFollowTheRecordsAlsoForRepeatedTexts) {
    for (const char *t : {"abc", "abc", "x", "abc"})
        add_str_list(constant(t, TOK_STRING));
    std::vector<uint32_t> offsets;
    for (const Symbol *s = zel.str.head; s; s = s->next)
        offsets.push_back(s->offset);
    EXPECT_EQ(offsets, (std::vector<uint32_t>{0, 6, 12, 16}));
    EXPECT_EQ(zel.str.tail->number, 3);
    EXPECT_STREQ(search_str(12, zel.str.head)->name, "x");
    EXPECT_EQ(search_str(6, zel.str.head)->name, zel.str.head->name);
    EXPECT_EQ(constant("abc", TOK_STRING), zel.str.head);
    EXPECT_TRUE(
        fails_with([] { search_str(5, zel.str.head); }, "String with offset '5' not found."));

    add_dbl_list(constant("1.5", TOK_DOUBLE));
    add_dbl_list(constant("1.5", TOK_DOUBLE));
    EXPECT_EQ(get_sym(1, zel.dbl.head), zel.dbl.tail);
    EXPECT_NE(zel.dbl.head, zel.dbl.tail);
    // Numbers run up to 65535.
    while (zel.dbl.tail->number < 65535)
        add_dbl_list(constant(std::to_string(zel.dbl.tail->number + 1).c_str(), TOK_DOUBLE));
    EXPECT_EQ(get_sym(65535, zel.dbl.head), zel.dbl.tail);
    EXPECT_STREQ(zel.dbl.tail->name, "65535");
}

TEST_F(Symtab, GetSymUsesNumberTablesAndWalksTheOtherLists) {
    zel.symnr.assign(3, nullptr);
    for (int i = 0; i < 2; ++i)
        add_symbol_list(zel.symnr[i] = var("s" + std::to_string(i)));
    zel.funnr.assign(1, addsymbol(nullptr, "f", FUNCTION, TOK_FUNCTION, 0, 0, 0, 0));
    add_fun_list(zel.funnr[0]);
    for (const char *name : {"g0", "g1", "g2"})
        add_glob_fun_list(addsymbol(nullptr, name, FUNCTION, TOK_FUNCTION, 0, 0, 0, 0));

    EXPECT_EQ(get_sym(1, zel.sym.head), zel.symnr[1]);
    EXPECT_EQ(get_sym(0, zel.fun.head), zel.funnr[0]);
    EXPECT_STREQ(get_sym(2, zel.glob_fun.head)->name, "g2");
    for (long bad : {2L, 3L, -1L})
        EXPECT_TRUE(fails_with([&] { get_sym(bad, zel.sym.head); },
                               "Symbol number '" + std::to_string(bad) + "' not found."));
    EXPECT_TRUE(fails_with([] { get_sym(3, zel.glob_fun.head); }, "Symbol number '3' not found."));
    EXPECT_TRUE(fails_with([] { get_sym(0, zel.dbl.head); }, "Symbol number '0' not found."));
    zel.info = 0; // without info bits every list is walked
    EXPECT_STREQ(get_sym(1, zel.sym.head)->name, "s1");
}

Symbol *walk_off(uint32_t offset, Symbol *head) {
    for (Symbol *s = head; s; s = s->next)
        if (s->offset == offset && s->used) return s;
    return nullptr;
}

TEST_F(Symtab, SearchOffAnswersLikeAWalk) {
    for (int i = 0; i < 400; ++i) {
        Symbol *s = var("o" + std::to_string(i));
        add_symbol_list(s);
        s->offset = uint32_t(i % 150) * 3;
        if (i % 7 == 0) s->used = 0;
    }
    for (uint32_t off = 0; off < 460; ++off)
        EXPECT_EQ(search_off(off, zel.sym.head), walk_off(off, zel.sym.head)) << off;
    Symbol *late = var("late"); // the index follows a list that grows
    add_symbol_list(late);
    late->offset = 9999;
    EXPECT_EQ(search_off(9999, zel.sym.head), late);
    Symbol *mid = search(200, zel.sym.head);
    EXPECT_EQ(search(201, mid), mid->next); // a walk from inside the list
    EXPECT_EQ(search_off(3, mid), walk_off(3, mid));
    EXPECT_EQ(search_off(1, nullptr), nullptr);
    zel.info = 0;
    EXPECT_TRUE(
        fails_with([] { search_off(1, zel.fun.head); }, "Function with offset '1' not found."));
}

} // namespace
