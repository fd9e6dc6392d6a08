// Symbol table model and keyword table through their public lookups: the
// name index, symbols and constants, the lists and the lookups by number
// and offset. The limit of 32768 symbols is tested end to end (test_damaged).
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

Symbol *fun(const std::string &name) {
    return addsymbol(nullptr, name.c_str(), FUNCTION, TOK_FUNCTION, 0, 0, 0, 0);
}

// The message of a lookup that ends the run with status 1.
std::string failure(const std::function<void()> &fn) {
    zel.errors = 0;
    Captured c = capture(fn);
    return c.stopped && c.status == 1 ? c.err : "<not stopped>";
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
    Symbol *v = var("total"), *f = fun("total");
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
// for a text given again; numbers run up to 65535. The number tables serve
// the symbol and function lists while there are info bits; the other lists,
// and all lists without info bits, are walked.
TEST_F(Symtab, ListsNumbersAndOffsets) {
    for (const char *t : {"abc", "abc", "x", "abc"})
        add_str_list(constant(t, TOK_STRING));
    std::vector<uint32_t> offsets;
    for (const Symbol *s = zel.str.head; s; s = s->next)
        offsets.push_back(s->offset);
    EXPECT_EQ(offsets, (std::vector<uint32_t>{0, 6, 12, 16}));
    EXPECT_STREQ(search_str(12, zel.str.head)->name, "x");
    EXPECT_EQ(search_str(6, zel.str.head)->name, zel.str.head->name);
    EXPECT_EQ(constant("abc", TOK_STRING), zel.str.head); // a constant once per text and kind
    EXPECT_NE(constant("abc", TOK_DOUBLE), zel.str.head);
    add_dbl_list(constant("0", TOK_DOUBLE));
    while (zel.dbl.tail->number < 65535)
        add_dbl_list(constant(std::to_string(zel.dbl.tail->number + 1).c_str(), TOK_DOUBLE));
    EXPECT_STREQ(get_sym(65535, zel.dbl.head)->name, "65535");

    zel.symnr.assign(3, nullptr);
    for (int i = 0; i < 2; ++i)
        add_symbol_list(zel.symnr[i] = var("s" + std::to_string(i)));
    zel.funnr.assign(1, fun("f"));
    add_fun_list(zel.funnr[0]);
    for (const char *name : {"g0", "g1", "g2"})
        add_glob_fun_list(fun(name));
    EXPECT_EQ(get_sym(1, zel.sym.head), zel.symnr[1]);
    EXPECT_EQ(get_sym(0, zel.fun.head), zel.funnr[0]);
    EXPECT_STREQ(get_sym(2, zel.glob_fun.head)->name, "g2");
    const std::string none = ": Fatal Error: Symbol number '";
    const std::string summary = "' not found.\n\n  1 ERROR     REPORTED.\n\n";
    for (long bad : {2L, 3L, -1L})
        EXPECT_EQ(failure([&] { get_sym(bad, zel.sym.head); }),
                  none + std::to_string(bad) + summary);
    EXPECT_EQ(failure([] { get_sym(3, zel.glob_fun.head); }), none + "3" + summary);
    EXPECT_EQ(failure([] { search_str(5, zel.str.head); }),
              ": Fatal Error: String with offset '5' not found.\n\n  1 ERROR     REPORTED.\n\n");
    zel.info = 0;
    EXPECT_STREQ(get_sym(1, zel.sym.head)->name, "s1");
}

Symbol *walk_off(uint32_t offset, Symbol *head) {
    for (Symbol *s = head; s; s = s->next)
        if (s->offset == offset && s->used) return s;
    return nullptr;
}

// search_off gives what a walk along the list gives, for lists of offsets
// in any order, of symbols not in use, of lists that grow, and from inside
// a list; without info bits a miss ends the run.
TEST_F(Symtab, SearchOffAnswersLikeAWalk) {
    for (int i = 0; i < 400; ++i) {
        Symbol *s = var("o" + std::to_string(i));
        add_symbol_list(s);
        s->offset = uint32_t(i % 150) * 3;
        if (i % 7 == 0) s->used = 0;
    }
    for (uint32_t off = 0; off < 460; ++off)
        EXPECT_EQ(search_off(off, zel.sym.head), walk_off(off, zel.sym.head)) << off;
    Symbol *late = var("late");
    add_symbol_list(late);
    late->offset = 9999;
    EXPECT_EQ(search_off(9999, zel.sym.head), late);
    Symbol *mid = search(200, zel.sym.head);
    EXPECT_EQ(search(201, mid), mid->next);
    EXPECT_EQ(search_off(3, mid), walk_off(3, mid));
    EXPECT_EQ(search_off(1, nullptr), nullptr);
    zel.info = 0;
    EXPECT_EQ(failure([] { search_off(1, zel.fun.head); }),
              ": Fatal Error: Function with offset '1' not found.\n\n  1 ERROR     REPORTED.\n\n");
}

} // namespace
