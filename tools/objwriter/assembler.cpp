// The byte-code assembler; its syntax is described in assembler.h.
//
// One pass emits the bytes; branch and call distances to labels that are not
// yet defined are patched when the input ends. Switch tables point backwards
// only, so their labels are known when the table is written and its field
// widths can be chosen right away.
#include "assembler.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <string>
#include <unordered_map>

#include "objwriter.h"
#include "zel_asm.h"

namespace {

// ---------------------------------------------------------------------------
// Operand fields, in byte order, as the instruction set's formats give them.

enum class Dist : uint8_t {
    none,   // a plain value
    fwd,    // distance to a label ahead of the field
    back,   // distance to a label behind the field
    signed_ // signed distance either way
};

struct Field {
    uint8_t width = 0;
    Dist dist = Dist::none;
};

Field field_of(const OperandField &f) {
    switch (f.what) {
    case Operand::jump_signed:
        return {f.width, Dist::signed_};
    case Operand::jump_fwd:
    case Operand::call_fwd:
        return {f.width, Dist::fwd};
    case Operand::jump_back:
    case Operand::call_back:
        return {f.width, Dist::back};
    default:
        return {f.width, Dist::none};
    }
}

// Kind codes of switch table fields.
constexpr uint8_t KIND_STACK = 1, KIND_SYM8 = 2, KIND_SYM16 = 3;
constexpr uint8_t KIND_STR8 = 4, KIND_STR16 = 5, KIND_STR24 = 6;
constexpr uint8_t KIND_U8 = 7, KIND_U16 = 8, KIND_U32 = 10;

uint8_t unsigned_kind(uint64_t v) {
    return v < 256 ? KIND_U8 : v <= 0xFFFF ? KIND_U16 : KIND_U32;
}
uint8_t string_kind(uint64_t v) {
    return v < 256 ? KIND_STR8 : v <= 0xFFFF ? KIND_STR16 : KIND_STR24;
}

// ---------------------------------------------------------------------------
// Lexing

std::vector<std::string_view> split_operands(std::string_view text) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (isspace(static_cast<unsigned char>(text[i])) || text[i] == ','))
            ++i;
        size_t start = i;
        while (i < text.size() && !isspace(static_cast<unsigned char>(text[i])) && text[i] != ',')
            ++i;
        if (i > start) words.push_back(text.substr(start, i - start));
    }
    return words;
}

std::string_view strip_comment(std::string_view line) {
    size_t cut = line.find_first_of(";#");
    return cut == std::string_view::npos ? line : line.substr(0, cut);
}

bool is_label_char(char c, bool first) {
    unsigned char u = static_cast<unsigned char>(c);
    return isalpha(u) || c == '_' || c == '.' || c == '$' || (!first && isdigit(u));
}

bool is_label_name(std::string_view s) {
    if (s.empty() || !is_label_char(s[0], true)) return false;
    return std::all_of(s.begin() + 1, s.end(), [](char c) { return is_label_char(c, false); });
}

std::optional<int64_t> parse_number(std::string_view s) {
    bool negative = !s.empty() && s[0] == '-';
    if (negative) s.remove_prefix(1);
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        base = 16;
    }
    uint64_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || v > (uint64_t(1) << 40))
        return std::nullopt;
    return negative ? -int64_t(v) : int64_t(v);
}

std::string upper(std::string_view s) {
    std::string u(s);
    for (char &c : u)
        c = char(toupper(static_cast<unsigned char>(c)));
    return u;
}

// ---------------------------------------------------------------------------
// The assembler

struct Fixup {
    size_t at;   // position of the distance field
    Field field; // its width and direction
    std::string label;
    int line;
};

struct SwitchEntry {
    int64_t key;
    std::string target; // label, or empty for no label
};

struct OpenSwitch {
    int line = 0;
    uint8_t arg_kind = KIND_STACK;
    uint32_t arg_value = 0;
    std::string default_label;
    int64_t subtract = 0;
    int64_t divide = 0;
    std::optional<uint8_t> key_kind;
    std::optional<uint8_t> addr_kind;
    enum class Entries { none, jump, numeric, string } entries = Entries::none;
    std::vector<SwitchEntry> list;
};

struct OpenFunction {
    size_t at;                    // position of its SUB_TEXT
    std::optional<uint32_t> size; // given length
};

class Assembler {
  public:
    Assembler();
    void statement(std::string_view text, int line);
    std::vector<uint8_t> finish();

  private:
    [[noreturn]] void fail(const std::string &msg) const {
        throw AsmError("line " + std::to_string(line_) + ": " + msg);
    }
    [[noreturn]] static void fail_at(int line, const std::string &msg) {
        throw AsmError("line " + std::to_string(line) + ": " + msg);
    }

    int64_t number(std::string_view s, int64_t lo, int64_t hi) const;
    int64_t unsigned_value(std::string_view s, unsigned width) const {
        return number(s, 0, int64_t((uint64_t(1) << (8 * width)) - 1));
    }
    void emit(uint64_t v, unsigned width) { objw::put_be(code_, v, width); }
    void patch(size_t at, uint64_t v, unsigned width) { objw::put_be_at(code_, at, v, width); }
    void define_label(std::string_view name);
    std::optional<uint32_t> label_position(const std::string &name) const;

    void instruction(uint8_t opcode, const std::vector<std::string_view> &args);
    void distance_field(Field f, std::string_view arg);
    void resolve(const Fixup &f);
    void directive(std::string_view name, const std::vector<std::string_view> &args);
    void function(const std::vector<std::string_view> &args);
    void link(const std::vector<std::string_view> &args);
    void raw(unsigned width, const std::vector<std::string_view> &args);
    void switch_open(const std::vector<std::string_view> &args);
    void switch_line(std::string_view word, const std::vector<std::string_view> &args);
    void switch_close();
    uint32_t distance_back(size_t from, const std::string &label) const;

    std::vector<uint8_t> code_;
    std::unordered_map<std::string, uint8_t> opcodes_;
    std::unordered_map<std::string, uint32_t> labels_;
    std::vector<Fixup> fixups_;
    std::optional<OpenFunction> function_;
    std::optional<OpenSwitch> switch_;
    int line_ = 0;
};

Assembler::Assembler() {
    for (int i = 0; i < OPCODE_COUNT; ++i)
        opcodes_.emplace(itab[i].mnemonic, uint8_t(i));
}

int64_t Assembler::number(std::string_view s, int64_t lo, int64_t hi) const {
    auto v = parse_number(s);
    if (!v) fail("expected a number, found '" + std::string(s) + "'");
    if (*v < lo || *v > hi)
        fail("value " + std::string(s) + " out of range " + std::to_string(lo) + ".." +
             std::to_string(hi));
    return *v;
}

void Assembler::define_label(std::string_view name) {
    if (!is_label_name(name)) fail("bad label name '" + std::string(name) + "'");
    if (!labels_.emplace(std::string(name), uint32_t(code_.size())).second)
        fail("label '" + std::string(name) + "' defined twice");
}

std::optional<uint32_t> Assembler::label_position(const std::string &name) const {
    auto it = labels_.find(name);
    if (it == labels_.end()) return std::nullopt;
    return it->second;
}

void Assembler::statement(std::string_view text, int line) {
    line_ = line;
    auto words = split_operands(strip_comment(text));
    size_t first = 0;
    while (first < words.size() && words[first].size() > 1 && words[first].back() == ':') {
        define_label(words[first].substr(0, words[first].size() - 1));
        ++first;
    }
    if (first == words.size()) return;
    std::string_view head = words[first];
    std::vector<std::string_view> args(words.begin() + long(first) + 1, words.end());
    if (switch_ && head[0] != '.') return switch_line(head, args);
    if (head[0] == '.') return directive(head, args);
    auto it = opcodes_.find(upper(head));
    if (it == opcodes_.end()) fail("unknown mnemonic '" + std::string(head) + "'");
    instruction(it->second, args);
}

void Assembler::instruction(uint8_t opcode, const std::vector<std::string_view> &args) {
    const FormatInfo &format = operand_formats[itab[opcode].format];
    if (format.shape == Shape::sub_link || format.shape == Shape::switch_table)
        fail(std::string(itab[opcode].mnemonic) + " is written with " +
             (opcode == op::SUB_LINK ? ".link" : ".switch"));
    size_t wanted = 0;
    for (const OperandField &f : format.fields)
        wanted += f.width ? 1 : 0;
    if (args.size() != wanted)
        fail(std::string(itab[opcode].mnemonic) + " takes " + std::to_string(wanted) +
             " operand(s), found " + std::to_string(args.size()));
    code_.push_back(opcode);
    for (size_t i = 0; i < wanted; ++i) {
        const Field f = field_of(format.fields[i]);
        if (f.dist == Dist::none)
            emit(uint64_t(unsigned_value(args[i], f.width)), f.width);
        else
            distance_field(f, args[i]);
    }
}

// A distance operand: a label, resolved now or when the input ends, or a
// number stored as the distance itself.
void Assembler::distance_field(Field f, std::string_view arg) {
    if (!is_label_name(arg)) {
        int64_t lo = f.dist == Dist::signed_ ? -32768 : 0;
        int64_t v = number(arg, lo, int64_t((uint64_t(1) << (8 * f.width)) - 1));
        emit(uint64_t(v), f.width);
        return;
    }
    Fixup fx{code_.size(), f, std::string(arg), line_};
    emit(0, f.width);
    if (label_position(fx.label))
        resolve(fx);
    else
        fixups_.push_back(std::move(fx));
}

void Assembler::resolve(const Fixup &f) {
    auto target = label_position(f.label);
    if (!target) fail_at(f.line, "undefined label '" + f.label + "'");
    int64_t d = int64_t(*target) - int64_t(f.at);
    int64_t max = int64_t((uint64_t(1) << (8 * f.field.width)) - 1);
    switch (f.field.dist) {
    case Dist::fwd:
        if (d < 0) fail_at(f.line, "label '" + f.label + "' lies behind a forward distance");
        break;
    case Dist::back:
        if (d > 0) fail_at(f.line, "label '" + f.label + "' lies ahead of a backward distance");
        d = -d;
        break;
    case Dist::signed_:
        if (d < -32768 || d > 32767) fail_at(f.line, "label '" + f.label + "' is out of reach");
        patch(f.at, uint64_t(d) & 0xFFFF, 2);
        return;
    case Dist::none:
        break;
    }
    if (d > max) fail_at(f.line, "label '" + f.label + "' is out of reach");
    patch(f.at, uint64_t(d), f.field.width);
}

void Assembler::directive(std::string_view name, const std::vector<std::string_view> &args) {
    if (name == ".function") return function(args);
    if (name == ".link") return link(args);
    if (name == ".switch") return switch_open(args);
    if (name == ".endswitch") return switch_close();
    if (name == ".byte") return raw(1, args);
    if (name == ".short") return raw(2, args);
    if (name == ".long") return raw(4, args);
    fail("unknown directive '" + std::string(name) + "'");
}

void Assembler::function(const std::vector<std::string_view> &args) {
    if (function_) fail("function still open: .link missing");
    if (args.size() != 1 && !(args.size() == 3 && args[1] == "size"))
        fail("usage: .function NUMBER [size LENGTH]");
    OpenFunction f{0, std::nullopt};
    if (args.size() == 3) f.size = uint32_t(unsigned_value(args[2], 4));
    f.at = objw::open_sub_text(code_, uint16_t(unsigned_value(args[0], 2)));
    function_ = f;
}

void Assembler::link(const std::vector<std::string_view> &args) {
    std::vector<uint16_t> lists[3]; // arguments, locals, globals
    std::optional<uint32_t> length;
    int current = -1;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view a = args[i];
        if (a == "args")
            current = 0;
        else if (a == "locals")
            current = 1;
        else if (a == "globals")
            current = 2;
        else if (a == "length") {
            if (++i == args.size()) fail("length needs a value");
            length = uint32_t(unsigned_value(args[i], 4));
        } else if (current < 0) {
            fail("symbol number outside args, locals or globals");
        } else if (a[0] == '&') {
            if (current != 0) fail("only arguments are passed by reference");
            lists[0].push_back(uint16_t(0x8000 | number(a.substr(1), 0, 0x7FFF)));
        } else {
            lists[current].push_back(uint16_t(number(a, 0, current == 0 ? 0x7FFF : 0xFFFF)));
        }
    }
    if (lists[0].size() > 255) fail("more than 255 arguments");
    if (lists[1].size() > 0xFFFF || lists[2].size() > 0xFFFF) fail("too many symbols");
    if (function_) {
        objw::close_sub_text(code_, function_->at, function_->size);
        function_.reset();
    }
    objw::append_sub_link(code_, lists[0], lists[1], lists[2], length);
}

void Assembler::raw(unsigned width, const std::vector<std::string_view> &args) {
    int64_t lo = -(int64_t(1) << (8 * width - 1));
    int64_t hi = int64_t((uint64_t(1) << (8 * width)) - 1);
    for (std::string_view a : args)
        emit(uint64_t(number(a, lo, hi)), width);
}

void Assembler::switch_open(const std::vector<std::string_view> &args) {
    if (switch_) fail("switch table still open: .endswitch missing");
    OpenSwitch s;
    s.line = line_;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view a = args[i];
        if (a == "stack") {
            s.arg_kind = KIND_STACK;
            continue;
        }
        if (i + 1 == args.size()) fail("'" + std::string(a) + "' needs a value");
        std::string_view v = args[++i];
        if (a == "var") {
            s.arg_value = uint32_t(number(v, 0, 0xFFFF));
            s.arg_kind = s.arg_value <= 255 ? KIND_SYM8 : KIND_SYM16;
        } else if (a == "default") {
            s.default_label = std::string(v);
        } else if (a == "subtract") {
            s.subtract = number(v, INT32_MIN, UINT32_MAX);
        } else if (a == "divide") {
            s.divide = number(v, 0, UINT32_MAX);
        } else if (a == "keys") {
            s.key_kind = uint8_t(number(v, 0, sizeof size_in_instructions - 1));
        } else if (a == "addr") {
            s.addr_kind = uint8_t(number(v, 0, sizeof size_in_instructions - 1));
        } else {
            fail("unknown switch option '" + std::string(a) + "'");
        }
    }
    switch_ = std::move(s);
}

void Assembler::switch_line(std::string_view word, const std::vector<std::string_view> &args) {
    using E = OpenSwitch::Entries;
    E kind = word == "jump"     ? E::jump
             : word == "case"   ? E::numeric
             : word == "string" ? E::string
                                : E::none;
    if (kind == E::none) fail("expected jump, case, string or .endswitch");
    if (switch_->entries != E::none && switch_->entries != kind)
        fail("jump, case and string entries cannot be mixed");
    switch_->entries = kind;
    auto target = [](std::string_view t) { return t == "-" ? std::string() : std::string(t); };
    if (kind == E::jump) {
        for (std::string_view t : args)
            switch_->list.push_back({int64_t(switch_->list.size()), target(t)});
        return;
    }
    if (args.size() != 2) fail(std::string(word) + " takes a key and a target");
    switch_->list.push_back({number(args[0], 0, UINT32_MAX), target(args[1])});
}

uint32_t Assembler::distance_back(size_t from, const std::string &label) const {
    if (label.empty()) return 0;
    auto at = label_position(label);
    if (!at) fail("switch label '" + label + "' must be defined before the table");
    return uint32_t(from - *at);
}

void Assembler::switch_close() {
    if (!switch_) fail(".endswitch without .switch");
    OpenSwitch s = std::move(*switch_);
    switch_.reset();
    size_t base = code_.size() + 1; // distances are measured from behind the opcode
    uint32_t deflt = distance_back(base, s.default_label);
    std::vector<uint32_t> distances;
    uint64_t max_key = 0;
    uint32_t max_dist = deflt;
    for (const SwitchEntry &e : s.list) {
        distances.push_back(distance_back(base, e.target));
        max_dist = std::max(max_dist, distances.back());
        max_key = std::max(max_key, uint64_t(e.key));
    }
    using E = OpenSwitch::Entries;
    uint8_t key_kind = s.key_kind.value_or(s.entries == E::numeric  ? unsigned_kind(max_key)
                                           : s.entries == E::string ? string_kind(max_key)
                                                                    : 0);
    uint8_t addr_kind = s.addr_kind.value_or(unsigned_kind(max_dist));
    unsigned key_width = size_in_instructions[key_kind];
    unsigned addr_width = size_in_instructions[addr_kind];
    auto kind_value = [this](uint8_t kind, uint64_t v) {
        code_.push_back(kind);
        emit(v, size_in_instructions[kind]);
    };
    code_.push_back(op::SWITCH_T);
    kind_value(s.arg_kind, s.arg_value);
    kind_value(unsigned_kind(s.list.size()), s.list.size());
    kind_value(unsigned_kind(deflt), deflt);
    kind_value(s.subtract < 0 ? KIND_U32 : unsigned_kind(uint64_t(s.subtract)),
               uint64_t(s.subtract) & 0xFFFFFFFF);
    kind_value(unsigned_kind(uint64_t(s.divide)), uint64_t(s.divide));
    code_.push_back(key_kind);
    code_.push_back(addr_kind);
    auto fits = [](uint64_t v, unsigned width) { return width >= 4 || v >> (8 * width) == 0; };
    for (size_t i = 0; i < s.list.size(); ++i) {
        if (key_kind != 0 && !fits(uint64_t(s.list[i].key), key_width))
            fail_at(s.line, "switch key " + std::to_string(s.list[i].key) + " does not fit");
        if (!fits(distances[i], addr_width))
            fail_at(s.line, "switch target '" + s.list[i].target + "' is out of reach");
        if (key_kind != 0) emit(uint64_t(s.list[i].key), key_width);
        emit(distances[i], addr_width);
    }
}

std::vector<uint8_t> Assembler::finish() {
    if (switch_) fail_at(switch_->line, ".endswitch missing");
    if (function_) fail(".link missing at the end of the function");
    for (const Fixup &f : fixups_)
        resolve(f);
    return std::move(code_);
}

} // namespace

std::vector<uint8_t> assemble(std::string_view source) {
    Assembler a;
    int line = 0;
    while (!source.empty()) {
        size_t nl = source.find('\n');
        std::string_view text = source.substr(0, nl);
        a.statement(text, ++line);
        source.remove_prefix(nl == std::string_view::npos ? source.size() : nl + 1);
    }
    return a.finish();
}
