// Writes the large objects of the benchmark: program objects shaped like the
// output of the 4GL compiler for a big application module, at full size and
// at half size, so that the benchmark can show how the run time grows when an
// object doubles.
//
// The full object holds 32767 symbols (globals of every kind, arrays,
// strings, externs, statics and function locals, some of them typed by
// dictionary domains), 5000 functions, 20000 string constants, 2000 double
// constants, 200 global functions and about 5 MB of byte code. Each function
// is a complete frame (SUB_TEXT, body, RET, SUB_LINK with its arguments,
// locals and globals); the bodies are made of LINE-numbered statements:
// assignments, pushes of every operand width, relative calls forward and
// backward (F_JSR, B_JSR and their short forms), calls by function number
// (S_JSR), calls of global functions (JSR), if/else and loops with short and
// long branches, and switch statements compiled as direct jump tables,
// numeric search tables and string search tables. A few files carry line
// numbers above 65535 in the extended line form.
//
// The code bytes are produced here directly; the content is fixed by a seeded
// generator, so every run writes the same objects.
//
// Usage: gen_large OBJROOT
//   writes OBJROOT/oxxbig/obigf (object oxxbigf, full size) and
//   OBJROOT/oxxbig/obigh (object oxxbigh, half size).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "objwriter.h"
#include "zel.h"
#include "zel_asm.h"

namespace {

// A small deterministic generator (xorshift64*).
class Rng {
  public:
    explicit Rng(uint64_t seed) : s_(seed ? seed : 1) {}
    uint64_t next() {
        s_ ^= s_ >> 12;
        s_ ^= s_ << 25;
        s_ ^= s_ >> 27;
        return s_ * 2685821657736338717ULL;
    }
    // Uniform in [lo, hi].
    int range(int lo, int hi) { return lo + int(next() % uint64_t(hi - lo + 1)); }
    bool chance(int percent) { return range(0, 99) < percent; }

  private:
    uint64_t s_;
};

struct Size {
    const char *name; // object name
    int symbols;
    int functions;
    int strings;
    int doubles;
    int globals;       // global functions
    size_t code_bytes; // aimed at by the bodies; the frames and each body's
                       // last statement bring the code to about 5 MB (full)
};

constexpr Size FULL{"oxxbigf", 32767, 5000, 20000, 2000, 200, 4'700'000};
constexpr Size HALF{"oxxbigh", 16383, 2500, 10000, 1000, 100, 2'350'000};

constexpr int SOURCE_FILES_PER_1000_FUNCTIONS = 10;
constexpr int LOCALS_MAX = 6;

// Kind codes of switch table fields by the size of the value.
uint8_t value_code(uint32_t v) {
    return v < 256 ? 7 : v <= 65535 ? 8 : 10;
}
uint8_t string_key_code(uint32_t v) {
    return v < 256 ? 4 : v <= 65535 ? 5 : 6;
}

const char *const WORDS[] = {"total", "count", "name",  "code",   "amount", "index",
                             "line",  "flag",  "rate",  "buffer", "key",    "status",
                             "date",  "text",  "value", "limit",  "offset", "result"};
constexpr int WORD_COUNT = int(std::size(WORDS));

// Base64 text of the `chars` characters that encode the low 6 * chars bits of
// `bits`.
std::string base64(uint32_t bits, int chars) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (int i = chars - 1; i >= 0; --i)
        out.push_back(alphabet[(bits >> (6 * i)) & 63]);
    return out;
}

class Generator {
  public:
    Generator(const Size &size, uint64_t seed) : z_(size), rng_(seed) {}

    objw::ObjSpec build() {
        spec_.kind = objw::Kind::Program;
        spec_.flags = objflag::DEBUG | objflag::NOTRANSACTIONS;
        spec_.obj_revision = 7;
        spec_.compnr = {4711, -815, 12};
        spec_.used_dlls = {"oxxutil"};
        make_strings();
        make_doubles();
        make_global_functions();
        make_symbols();
        make_code();
        make_function_table();
        spec_.idents = {"@(#)big.4gl, 24/01/15 [10:30], by builder on host bench",
                        "$Id: big.4gl 1.42 2024/01/15 builder $"};
        spec_.addinfo_records = {"build=bench", "origin=big.4gl"};
        return std::move(spec_);
    }

  private:
    // ---------------------------------------------------------------- tables

    // Appends a string constant; returns its offset in the string section.
    uint32_t add_string(std::string text) {
        uint32_t offset = string_end_;
        string_end_ += uint32_t(text.size() + layout::STRING_RECORD_EXTRA);
        spec_.strings.push_back(std::move(text));
        return offset;
    }

    void make_strings() {
        int files = std::max(2, z_.functions * SOURCE_FILES_PER_1000_FUNCTIONS / 1000);
        for (int i = 0; i < files; ++i) {
            char name[40];
            snprintf(name, sizeof name, "src/module_%03d_%s.4gl", i, WORDS[i % WORD_COUNT]);
            file_offsets_.push_back(add_string(name));
        }
        // Line numbers above 65535 in the first two files: a marker byte,
        // the file name's offset (4 Base64 characters) and the upper 16 bits
        // of the line (3 characters).
        for (int f = 0; f < 2; ++f) {
            for (uint32_t high = 1; high <= 2; ++high) {
                std::string text(1, '\x02');
                text += base64(file_offsets_[size_t(f)], 4);
                text += base64(high << 2, 3);
                extended_.push_back({f, high, add_string(text)});
            }
        }
        for (int i = 0; int(spec_.strings.size()) < z_.strings; ++i) {
            char text[160];
            int kind = i % 10;
            const char *w = WORDS[i % WORD_COUNT];
            if (kind < 2)
                snprintf(text, sizeof text, "CASE_%s_%d", w, i);
            else if (kind < 5)
                snprintf(text, sizeof text, "%s %d: %%s\\n", w, i);
            else if (kind < 8)
                snprintf(text, sizeof text, "Error %d while processing the %s of record %%d", i, w);
            else
                snprintf(text, sizeof text,
                         "select %s_%d, %s from tab%d where key = :1 and status <> 'X' "
                         "order by %s",
                         w, i, WORDS[(i + 3) % WORD_COUNT], i % 97, w);
            uint32_t off = add_string(text);
            if (kind < 2)
                case_strings_.push_back(off);
            else
                message_strings_.push_back(off);
        }
    }

    void make_doubles() {
        for (int i = 0; i < z_.doubles; ++i) {
            char text[32];
            snprintf(text, sizeof text, i % 3 ? "%d.%02d" : "%de%d", i / 7 + 1, i % 100);
            spec_.doubles.push_back(text);
        }
    }

    void make_global_functions() {
        const char *const builtin[] = {"chr$",    "printf", "sprintf", "strlen", "substr",
                                       "bit.and", "date$",  "time$",   "upper",  "lower"};
        for (const char *b : builtin)
            spec_.global_functions.push_back(b);
        for (int i = int(std::size(builtin)); i < z_.globals; ++i)
            spec_.global_functions.push_back("lib_" + std::string(WORDS[i % WORD_COUNT]) + "_" +
                                             std::to_string(i));
    }

    // Globals first, then the locals of each function in function order.
    void make_symbols() {
        std::vector<int> local_counts(size_t(z_.functions));
        int locals = 0;
        for (int &n : local_counts) {
            n = rng_.range(0, LOCALS_MAX);
            locals += n;
        }
        int globals = z_.symbols - locals;
        for (int i = 0; i < globals; ++i)
            spec_.symbols.push_back(global_symbol(i));
        global_count_ = globals;
        first_local_.resize(size_t(z_.functions));
        for (int f = 0; f < z_.functions; ++f) {
            first_local_[size_t(f)] = int(spec_.symbols.size());
            for (int k = 0; k < local_counts[size_t(f)]; ++k)
                spec_.symbols.push_back(local_symbol(f, k));
        }
        local_count_ = local_counts;
    }

    objw::SymbolEntry global_symbol(int i) {
        objw::SymbolEntry s;
        const char *w = WORDS[i % WORD_COUNT];
        char name[48];
        switch (i % 16) {
        case 0:
        case 1:
        case 2:
        case 3:
            snprintf(name, sizeof name, "g_%s_%d", w, i);
            s.flags = LONG;
            if (i % 40 == 0) s.domain = "xxcount";
            break;
        case 4:
        case 5:
            snprintf(name, sizeof name, "g_%s_amount_%d", w, i);
            s.flags = DOUBLE;
            if (i % 4 == 1) s.domain = "xxamount";
            break;
        case 6:
        case 7:
            snprintf(name, sizeof name, "g_%s_text_%d", w, i);
            s.flags = STRING;
            s.length = uint32_t(rng_.range(1, 400));
            if (i % 8 == 6) {
                s.domain = "xxcode";
                s.length = 10;
            } else if (i % 8 == 7 && i % 3 == 0) {
                s.domain = "xxname";
                s.length = 40;
            }
            break;
        case 8:
            snprintf(name, sizeof name, "g_%s_tab_%d", w, i);
            s.flags = LONG | ARRAY;
            for (int d = rng_.range(1, 3); d > 0; --d)
                s.dims.push_back(uint32_t(rng_.range(2, i % 5 == 0 ? 70000 : 300)));
            break;
        case 9:
            snprintf(name, sizeof name, "g_%s_names_%d", w, i);
            s.flags = STRING | ARRAY | FIXED;
            s.dims.push_back(uint32_t(rng_.range(2, 50)));
            s.length = uint32_t(rng_.range(1, 80));
            break;
        case 10:
            snprintf(name, sizeof name, "g_%s_hist_%d", w, i);
            s.flags = DOUBLE | ARRAY;
            s.dims.push_back(uint32_t(rng_.range(2, 1000)));
            break;
        case 11:
            snprintf(name, sizeof name, "ext_%s_%d", w, i);
            s.flags = LONG | EXTERN;
            break;
        case 12:
            snprintf(name, sizeof name, "ext_%s_title_%d", w, i);
            s.flags = STRING | EXTERN;
            s.length = uint32_t(rng_.range(1, 200));
            break;
        case 13:
            snprintf(name, sizeof name, "st_%s_%d", w, i);
            s.flags = LONG | STATIC;
            if (i % 3 == 0) s.domain = "xxflag";
            break;
        case 14:
            snprintf(name, sizeof name, "g_%s_rate_%d", w, i);
            s.flags = i % 2 ? DOUBLE | FIXED : LONG | BASED;
            break;
        default:
            snprintf(name, sizeof name, "g_%s_shared_%d", w, i);
            s.flags = LONG | ARRAY | COMMON;
            s.dims.push_back(uint32_t(rng_.range(2, 64)));
            break;
        }
        s.name = name;
        return s;
    }

    objw::SymbolEntry local_symbol(int f, int k) {
        objw::SymbolEntry s;
        char name[48];
        snprintf(name, sizeof name, "f%04d_%s.%s%d", f, WORDS[f % WORD_COUNT],
                 WORDS[(f + k * 5) % WORD_COUNT], k);
        s.name = name;
        switch (rng_.range(0, 5)) {
        case 0:
        case 1:
            s.flags = LONG;
            break;
        case 2:
            s.flags = DOUBLE;
            break;
        case 3:
            s.flags = STRING;
            s.length = uint32_t(rng_.range(1, 120));
            break;
        case 4:
            s.flags = LONG | CONST_ARG;
            break;
        default:
            s.flags = LONG | ARRAY;
            s.dims.push_back(uint32_t(rng_.range(2, 20)));
            break;
        }
        return s;
    }

    void make_function_table() {
        for (int f = 0; f < z_.functions; ++f) {
            char name[48];
            snprintf(name, sizeof name, "f%04d_%s_%s", f, WORDS[f % WORD_COUNT],
                     WORDS[(f / 7) % WORD_COUNT]);
            spec_.functions.push_back({name, FUNCTION, function_offset_[size_t(f)]});
        }
        // Functions that the used DLL supplies.
        for (const char *name : {"util_format", "util_sum", "util_log"})
            spec_.functions.push_back({name, FUNCTION | EXTERN, 1});
    }

    // ------------------------------------------------------------ code bytes

    std::vector<uint8_t> &code() { return spec_.code; }
    size_t here() { return code().size(); }
    void b(unsigned v) { code().push_back(uint8_t(v)); }
    void u16(unsigned v) { objw::put_be(code(), v, 2); }
    void u24(uint32_t v) { objw::put_be(code(), v, 3); }
    void u32(uint32_t v) { objw::put_be(code(), v, 4); }
    void put16_at(size_t at, unsigned v) { objw::put_be_at(code(), at, v, 2); }
    void value(uint8_t kind, uint32_t v) { objw::put_be(code(), v, size_in_instructions[kind]); }

    // A symbol the current function may use: one of its locals or a global.
    int some_symbol() {
        int n = local_count_[size_t(fn_)];
        if (n > 0 && rng_.chance(45)) return first_local_[size_t(fn_)] + rng_.range(0, n - 1);
        // Low numbers often, so the one-byte forms appear too.
        if (rng_.chance(15)) return rng_.range(0, std::min(255, global_count_ - 1));
        return rng_.range(0, global_count_ - 1);
    }

    void push_symbol(int s) {
        if (s < 256 && rng_.chance(70)) {
            b(op::PUSH_B);
            b(unsigned(s));
        } else {
            b(op::PUSH);
            u16(unsigned(s));
        }
    }

    void push_string(uint32_t off) {
        if (off < 256) {
            b(op::PUSHS_B);
            b(off);
        } else if (off <= 65535) {
            b(op::PUSHS);
            u16(off);
        } else {
            b(op::PUSHS_3B);
            u24(off);
        }
    }

    uint32_t some_message() {
        // Early strings are used more often, so all three widths appear.
        if (rng_.chance(20))
            return message_strings_[size_t(
                rng_.range(0, std::min(40, int(message_strings_.size()) - 1)))];
        return message_strings_[size_t(rng_.range(0, int(message_strings_.size()) - 1))];
    }

    void line() {
        line_ += uint32_t(rng_.range(1, 4));
        b(op::LINE);
        u16(line_ & 0xFFFF);
        uint32_t high = line_ >> 16;
        uint32_t file = file_offsets_[size_t(file_)];
        if (high)
            for (const Extended &x : extended_)
                if (x.file == file_ && x.high == high) file = x.offset;
        u24(file);
    }

    // ---------------------------------------------------------- statements

    void assignment() {
        push_symbol(some_symbol());
        push_symbol(some_symbol());
        static const uint8_t ops[] = {op::ADD, op::SUB, op::MUL, op::DIV, op::MOD, op::CAT};
        b(ops[rng_.range(0, 5)]);
        b(rng_.chance(80) ? op::POFF : op::POES);
        u16(unsigned(some_symbol()));
    }

    void two_operand() {
        int x = some_symbol(), y = some_symbol();
        if (x < 256 && y < 256 && rng_.chance(60)) {
            b(op::XY_MOV_B);
            b(unsigned(x));
            b(unsigned(y));
            return;
        }
        static const uint8_t ops[] = {op::XY_MOVE, op::TXY_ADD, op::TXY_SUB,
                                      op::XXY_ADD, op::XXY_CAT, op::TXY_MUL};
        b(ops[rng_.range(0, 5)]);
        u16(unsigned(x));
        u16(unsigned(y));
    }

    void call_global() {
        push_string(some_message());
        push_symbol(some_symbol());
        int g = rng_.chance(60) ? rng_.range(0, 9) : rng_.range(0, z_.globals - 1);
        bool keep = rng_.chance(50);
        if (g < 256 && rng_.chance(50)) {
            b(keep ? op::JSR_B : op::JSR_P_B);
            b(unsigned(g));
            b(2);
        } else {
            b(keep ? op::JSR : op::JSR_P);
            u16(unsigned(g));
            b(2);
        }
        if (keep) b(op::POP);
    }

    void numbers() {
        switch (rng_.range(0, 6)) {
        case 0:
            b(op::PUSHBYTE);
            b(unsigned(rng_.range(0, 255)));
            break;
        case 1:
            b(op::PUSHINT);
            u16(unsigned(rng_.range(256, 65535)));
            break;
        case 2:
            b(op::PUSHLONG);
            u32(uint32_t(rng_.next()));
            break;
        case 3:
            b(op::PUSHNEGB);
            b(unsigned(rng_.range(1, 255)));
            break;
        case 4:
            b(op::PUSHNEGI);
            u16(unsigned(rng_.range(256, 65535)));
            break;
        case 5: {
            int d = rng_.range(0, z_.doubles - 1);
            if (d < 256) {
                b(op::PUSHFP_B);
                b(unsigned(d));
            } else {
                b(op::PUSHFP);
                u16(unsigned(d));
            }
            break;
        }
        default:
            push_symbol(some_symbol());
            break;
        }
        b(op::POFF);
        u16(unsigned(some_symbol()));
    }

    void increment() {
        switch (rng_.range(0, 4)) {
        case 0:
            b(op::X_INCR);
            u16(unsigned(some_symbol()));
            break;
        case 1:
            b(op::X_DECR);
            u16(unsigned(some_symbol()));
            break;
        case 2:
            b(op::TX_INCR);
            u16(unsigned(some_symbol()));
            b(op::POP);
            break;
        case 3:
            push_symbol(some_symbol());
            b(op::TO_LONG);
            b(op::INCR);
            b(op::POP);
            break;
        default:
            b(op::RESETBUF);
            break;
        }
    }

    // A call of another function of the object: relative forward or backward
    // (to a near function), or by function number.
    void call_function() {
        int f = fn_;
        int kind = rng_.range(0, 9);
        if (kind < 3 && f + 1 < z_.functions) {
            int target = rng_.range(f + 1, std::min(z_.functions - 1, f + 12));
            push_symbol(some_symbol());
            if (rng_.chance(50)) {
                b(rng_.chance(50) ? op::F_JSR : op::F_JSR_P);
                b(1);
            } else {
                b(rng_.chance(50) ? op::F_JSR_0 : op::F_JSR_0P);
            }
            forward_calls_.push_back({here(), target});
            u16(0);
        } else if (kind < 6) {
            int target = rng_.range(std::max(0, f - 12), f); // recursion included
            push_symbol(some_symbol());
            bool with_count = rng_.chance(50);
            if (with_count) {
                b(rng_.chance(50) ? op::B_JSR : op::B_JSR_P);
                b(1);
            } else {
                b(rng_.chance(50) ? op::B_JSR_0 : op::B_JSR_0P);
            }
            size_t base = here();
            u16(unsigned(base - function_offset_[size_t(target)]));
        } else if (kind < 9) {
            int target = rng_.range(0, z_.functions - 1);
            push_symbol(some_symbol());
            push_symbol(some_symbol());
            b(rng_.chance(50) ? op::S_JSR : op::I_JSR);
            b(2);
            u16(unsigned(target));
        } else {
            b(rng_.chance(50) ? op::S_JSR_0 : op::S_JSR_0P);
            u16(unsigned(rng_.range(0, z_.functions - 1)));
        }
        if (rng_.chance(50)) {
            b(op::POFF);
            u16(unsigned(some_symbol()));
        }
    }

    void simple_statement() {
        line();
        int k = rng_.range(0, 99);
        if (k < 30)
            assignment();
        else if (k < 45)
            two_operand();
        else if (k < 60)
            call_global();
        else if (k < 75)
            numbers();
        else if (k < 85)
            increment();
        else
            call_function();
    }

    // A forward branch whose distance operand is filled in later.
    struct Fixup {
        size_t operand;
        unsigned width; // 1: unsigned byte; 2: signed 16 bits
    };

    Fixup branch_forward(bool short_form) {
        static const uint8_t long_ops[] = {op::CBEQ, op::CBNE, op::CBLT, op::CBGE,
                                           op::TBEQ, op::TBNE, op::EQ21};
        static const uint8_t short_ops[] = {op::F_CBEQ, op::F_CBNE, op::F_CBGT, op::F_CBLE,
                                            op::F_TBEQ, op::F_TBGT, op::F_EQ21};
        if (short_form) {
            b(short_ops[rng_.range(0, 6)]);
            Fixup x{here(), 1};
            b(0);
            return x;
        }
        b(long_ops[rng_.range(0, 6)]);
        Fixup x{here(), 2};
        u16(0);
        return x;
    }

    Fixup jump_forward(bool short_form) {
        b(short_form ? op::F_BRA : op::BRA);
        Fixup x{here(), short_form ? 1u : 2u};
        if (short_form)
            b(0);
        else
            u16(0);
        return x;
    }

    // Points the branch at the current position.
    void land(const Fixup &x) {
        size_t distance = here() - x.operand;
        if (x.width == 1) {
            if (distance > 255) throw std::runtime_error("short branch out of range");
            code()[x.operand] = uint8_t(distance);
        } else {
            if (distance > 32767) throw std::runtime_error("branch out of range");
            put16_at(x.operand, unsigned(distance));
        }
    }

    void condition() {
        push_symbol(some_symbol());
        if (rng_.chance(50))
            push_symbol(some_symbol());
        else {
            b(op::PUSHBYTE);
            b(unsigned(rng_.range(0, 99)));
        }
    }

    void if_statement() {
        line();
        condition();
        bool short_form = rng_.chance(40);
        Fixup to_else = branch_forward(short_form);
        int then_count = short_form ? 1 : rng_.range(1, 3);
        for (int i = 0; i < then_count; ++i)
            simple_statement();
        if (rng_.chance(50)) {
            Fixup to_end = jump_forward(short_form);
            land(to_else);
            simple_statement();
            land(to_end);
        } else {
            land(to_else);
        }
    }

    void loop_statement() {
        line();
        size_t top = here();
        int count = rng_.range(1, 3);
        for (int i = 0; i < count; ++i)
            simple_statement();
        condition();
        size_t distance_from = here() + 1;
        if (distance_from - top <= 255 && rng_.chance(60)) {
            static const uint8_t ops[] = {op::B_CBLT, op::B_CBLE, op::B_CBNE, op::B_TBNE,
                                          op::B_BRA};
            b(ops[rng_.range(0, 4)]);
            b(unsigned(distance_from - top));
        } else {
            static const uint8_t ops[] = {op::CBLT, op::CBLE, op::CBNE, op::BRA};
            b(ops[rng_.range(0, 3)]);
            put_signed16(-long(distance_from - top));
        }
    }

    void put_signed16(long v) { u16(unsigned(uint16_t(int16_t(v)))); }

    // A switch statement: the switch expression (or the dropped PUSH of a
    // variable), a BRA to the table, the case bodies each ending in a BRA to
    // the end, and the SWITCH_T behind them.
    void switch_statement() {
        line();
        enum {
            DIRECT,
            NUMERIC,
            STRINGS
        } kind = rng_.chance(40)   ? DIRECT
                 : rng_.chance(50) ? NUMERIC
                                   : STRINGS;
        int var = some_symbol();
        bool on_variable = rng_.chance(50);
        uint8_t arg_code = 1;
        Fixup to_table;
        if (on_variable) {
            arg_code = var < 256 ? 2 : 3;
            b(op::BRA);
            to_table = {here(), 2};
            u16(0);
            b(op::NOP);
            b(op::NOP);
            b(op::NOP);
        } else {
            push_symbol(var);
            to_table = jump_forward(false);
        }

        int cases = rng_.range(3, kind == DIRECT ? 10 : 14);
        std::vector<size_t> labels;
        std::vector<Fixup> to_end;
        for (int i = 0; i < cases; ++i) {
            labels.push_back(here());
            simple_statement();
            to_end.push_back(jump_forward(false));
        }
        size_t default_label = 0;
        if (rng_.chance(60)) {
            default_label = here();
            simple_statement();
        }
        land(to_table);

        // Keys and the label of each entry (0: no label).
        std::vector<uint32_t> keys;
        std::vector<size_t> targets;
        int32_t subtract = 0;
        uint32_t divide = 0;
        uint8_t key_code = 0;
        if (kind == DIRECT) {
            subtract = rng_.range(-20, 500);
            divide = rng_.chance(30) ? 10 : 0;
            int entries = cases + rng_.range(0, cases / 2);
            std::vector<size_t> slots(size_t(entries), 0);
            for (int i = 0; i < cases; ++i)
                slots[size_t(i * entries / cases)] = labels[size_t(i)];
            targets = slots;
        } else if (kind == NUMERIC) {
            subtract = rng_.range(-1000, 1000);
            // Gaps between the case values: small, medium or large, so the
            // keys take one, two or four bytes.
            int spread = rng_.range(0, 99);
            int gap = spread < 50 ? 15 : spread < 85 ? 3000 : 90000;
            uint32_t key = 0;
            for (int i = 0; i < cases; ++i) {
                keys.push_back(key);
                targets.push_back(labels[size_t(i)]);
                key += uint32_t(rng_.range(1, gap));
            }
            key_code = value_code(keys.back());
        } else {
            size_t first = size_t(rng_.range(0, int(case_strings_.size()) - cases));
            for (int i = 0; i < cases; ++i) {
                keys.push_back(case_strings_[first + size_t(i)]);
                targets.push_back(labels[size_t(i)]);
            }
            key_code = string_key_code(*std::max_element(keys.begin(), keys.end()));
        }

        size_t p = here();
        size_t base = p + 1;
        size_t earliest = default_label ? default_label : base;
        for (size_t t : targets)
            if (t) earliest = std::min(earliest, t);
        uint8_t addr_code = value_code(uint32_t(base - earliest));

        b(op::SWITCH_T);
        b(arg_code);
        if (arg_code == 2) b(unsigned(var));
        if (arg_code == 3) u16(unsigned(var));
        uint32_t count = uint32_t(targets.size());
        b(value_code(count));
        value(value_code(count), count);
        uint32_t d0 = default_label ? uint32_t(base - default_label) : 0;
        b(value_code(d0));
        value(value_code(d0), d0);
        if (subtract < 0) {
            b(10);
            u32(uint32_t(subtract));
        } else {
            b(value_code(uint32_t(subtract)));
            value(value_code(uint32_t(subtract)), uint32_t(subtract));
        }
        b(value_code(divide));
        value(value_code(divide), divide);
        b(key_code);
        b(addr_code);
        for (size_t i = 0; i < targets.size(); ++i) {
            if (key_code) value(key_code, keys[i]);
            value(addr_code, targets[i] ? uint32_t(base - targets[i]) : 0);
        }
        for (const Fixup &x : to_end)
            land(x);
    }

    void statement() {
        int k = rng_.range(0, 99);
        if (k < 70)
            simple_statement();
        else if (k < 85)
            if_statement();
        else if (k < 93)
            loop_statement();
        else
            switch_statement();
    }

    void function(int f, size_t body_target) {
        fn_ = f;
        file_ = f * int(file_offsets_.size()) / z_.functions;
        // Functions of the first two files start beyond line 65535 now and
        // then, so that the extended line form appears.
        line_ = file_ < 2 && f % 3 == 0 ? 65536u * uint32_t(rng_.range(1, 2)) - 200u
                                        : uint32_t(rng_.range(1, 20000));
        function_offset_.push_back(uint32_t(here()));
        size_t start = objw::open_sub_text(code(), uint16_t(f));
        while (here() - start < body_target)
            statement();
        b(op::RET);
        objw::close_sub_text(code(), start);

        // SUB_LINK: arguments (some by reference), locals, used globals.
        int n = local_count_[size_t(f)];
        int args = n ? rng_.range(0, n) : 0;
        int globals = rng_.range(0, 5);
        std::vector<uint16_t> words[3];
        for (int k = 0; k < n; ++k) {
            unsigned word = unsigned(first_local_[size_t(f)] + k);
            if (k < args && rng_.chance(25)) word |= 0x8000;
            words[k < args ? 0 : 1].push_back(uint16_t(word));
        }
        for (int k = 0; k < globals; ++k)
            words[2].push_back(uint16_t(rng_.range(0, global_count_ - 1)));
        objw::append_sub_link(code(), words[0], words[1], words[2]);
    }

    void make_code() {
        code().reserve(z_.code_bytes + z_.code_bytes / 20);
        size_t mean = z_.code_bytes / size_t(z_.functions);
        for (int f = 0; f < z_.functions; ++f)
            function(f, size_t(rng_.range(int(mean / 2), int(mean * 3 / 2))));
        for (const ForwardCall &c : forward_calls_) {
            size_t distance = function_offset_[size_t(c.target)] - c.operand;
            if (distance > 65535) throw std::runtime_error("forward call out of range");
            put16_at(c.operand, unsigned(distance));
        }
    }

    struct Extended {
        int file;
        uint32_t high;
        uint32_t offset;
    };
    struct ForwardCall {
        size_t operand;
        int target;
    };

    Size z_;
    Rng rng_;
    objw::ObjSpec spec_;
    uint32_t string_end_ = 0;
    std::vector<uint32_t> file_offsets_, case_strings_, message_strings_;
    std::vector<Extended> extended_;
    int global_count_ = 0;
    std::vector<int> first_local_, local_count_;
    std::vector<uint32_t> function_offset_;
    std::vector<ForwardCall> forward_calls_;
    int fn_ = 0;
    int file_ = 0;
    uint32_t line_ = 0;
};

void write(const Size &size, const std::string &objroot) {
    objw::ObjSpec desc = Generator(size, 0x5eed0000u + uint64_t(size.symbols)).build();
    std::string path = objw::object_path(objroot, size.name);
    objw::write_object_file(desc, path);
    std::printf("%s %s symbols=%zu functions=%zu strings=%zu code=%zu\n", size.name, path.c_str(),
                desc.symbols.size(), desc.functions.size(), desc.strings.size(), desc.code.size());
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OBJROOT\n", argv[0]);
        return 2;
    }
    try {
        write(FULL, argv[1]);
        write(HALF, argv[1]);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "gen_large: %s\n", e.what());
        return 1;
    }
    return 0;
}
