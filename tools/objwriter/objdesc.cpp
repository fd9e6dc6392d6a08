// The object writer's text description format (see objdesc.h): a line-based
// parser that fills an ObjSpec.
#include "objdesc.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

#include "al_env.h"
#include "assembler.h"
#include "zel.h"
#include "zel_asm.h"

namespace objw {

// ---------------------------------------------------------------------------
// The text description format (see objdesc.h)

namespace {
struct NameValue {
    const char *name;
    uint32_t value;
};

constexpr NameValue SYMBOL_FLAG_NAMES[] = {
    {"LONG", LONG},
    {"DOUBLE", DOUBLE},
    {"STRING", STRING},
    {"EXTERN", EXTERN},
    {"ARRAY", ARRAY},
    {"FIXED", FIXED},
    {"BASED", BASED},
    {"TSS_STRING", TSS_STRING},
    {"COMMON", COMMON},
    {"FUNCTION", FUNCTION},
    {"DD_NAME", DD_NAME},
    {"KEYWORD", KEYWORD},
    {"COMBINED", COMBINED},
    {"CONSTANT", CONSTANT},
    {"BOOLEXPR", BOOLEXPR},
    {"MACRO", MACRO},
    {"BOOLEAN", BOOLEAN},
    {"EXT_SYM", EXT_SYM},
    {"TABLE", TABLE},
    {"DOMA", DOMA},
    {"STATIC", STATIC},
    {"ENUM", ENUM},
    {"BITSET", BITSET},
    {"LABEL_NAME", LABEL_NAME},
    {"OPTIONAL_ARG", OPTIONAL_ARG},
    {"WHERE_USED", WHERE_USED},
    {"REF_ARG", REF_ARG},
    {"IDENTIFIER", IDENTIFIER},
    {"GLOBAL", GLOBAL},
    {"CONST_ARG", CONST_ARG},
    {"SIZE16", SIZE16},
    {"SIZE32", SIZE32},
};

constexpr NameValue OBJECT_FLAG_NAMES[] = {
    {"NOTRANSACTIONS", objflag::NOTRANSACTIONS},
    {"DEBUG", objflag::DEBUG},
    {"PROFILE", objflag::PROFILE},
    {"DLL", objflag::DLL},
    {"STICKY", objflag::STICKY},
    {"ADDINFO", objflag::ADDINFO},
};

constexpr const char *SECTION_NAMES[NSECTIONS] = {
    "prototypes", "dlls",    "code",    "compnr1", "symtab",  "compnr2", "funtab",
    "globfun",    "strings", "compnr3", "doubles", "domains", "idents",
};

using IntField = std::optional<int32_t> HeaderOverride::*;
struct HeaderFieldName {
    const char *name;
    IntField field;
};
constexpr HeaderFieldName HEADER_FIELD_NAMES[] = {
    {"relno", &HeaderOverride::relno},
    {"bytesheader", &HeaderOverride::bytesheader},
    {"startdate", &HeaderOverride::startdate},
    {"enddate", &HeaderOverride::enddate},
    {"options", &HeaderOverride::options},
    {"flags", &HeaderOverride::flags},
    {"count_extern", &HeaderOverride::count_extern},
    {"obj_revision", &HeaderOverride::obj_revision},
    {"fsm", &HeaderOverride::fsm},
};

std::vector<std::string> split(std::string_view t, std::string_view separators) {
    std::vector<std::string> out;
    size_t p = 0;
    while (p < t.size()) {
        size_t b = t.find_first_not_of(separators, p);
        if (b == std::string_view::npos) break;
        size_t e = t.find_first_of(separators, b);
        if (e == std::string_view::npos) e = t.size();
        out.emplace_back(t.substr(b, e - b));
        p = e;
    }
    return out;
}

int64_t parse_int(std::string_view t) {
    std::string s(trim(t));
    if (s.empty()) throw DescError("number expected");
    size_t used = 0;
    int64_t v = 0;
    try {
        v = std::stoll(s, &used, 0);
    } catch (const std::exception &) {
        throw DescError("bad number '" + s + "'");
    }
    if (used != s.size()) throw DescError("bad number '" + s + "'");
    return v;
}

uint32_t parse_u32(std::string_view t) {
    return uint32_t(parse_int(t));
}

uint32_t parse_flag_word(std::string_view expr, const NameValue *names, size_t n) {
    uint32_t word = 0;
    for (const std::string &part : split(expr, "| \t")) {
        const NameValue *hit =
            std::find_if(names, names + n, [&](const NameValue &nv) { return part == nv.name; });
        word |= hit != names + n ? hit->value : parse_u32(part);
    }
    return word;
}

uint32_t parse_symbol_flags(std::string_view expr) {
    return parse_flag_word(expr, SYMBOL_FLAG_NAMES, std::size(SYMBOL_FLAG_NAMES));
}

int32_t parse_date(std::string_view t) {
    std::vector<std::string> parts = split(t, "-");
    if (parts.size() == 3 && t.find('-') != 0)
        return day_number(int(parse_int(parts[0])), int(parse_int(parts[1])),
                          int(parse_int(parts[2])));
    return int32_t(parse_int(t));
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<uint8_t> parse_hex(std::string_view t) {
    std::string digits;
    for (char c : t) {
        if (c == ' ' || c == '\t' || c == '\r') continue;
        if (hex_digit(c) < 0) throw DescError(std::string("bad hex digit '") + c + "'");
        digits += c;
    }
    if (digits.size() % 2) throw DescError("odd number of hex digits");
    std::vector<uint8_t> out;
    for (size_t i = 0; i < digits.size(); i += 2)
        out.push_back(uint8_t(hex_digit(digits[i]) << 4 | hex_digit(digits[i + 1])));
    return out;
}

// TEXT: optionally in double quotes, with \n \t \\ \" \xHH.
std::string parse_text(std::string_view t) {
    t = trim(t);
    if (t.size() >= 2 && t.front() == '"' && t.back() == '"') t = t.substr(1, t.size() - 2);
    std::string out;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] != '\\' || i + 1 == t.size()) {
            out += t[i];
            continue;
        }
        char c = t[++i];
        if (c == 'n')
            out += '\n';
        else if (c == 't')
            out += '\t';
        else if (c == 'x' && i + 2 < t.size() && hex_digit(t[i + 1]) >= 0 &&
                 hex_digit(t[i + 2]) >= 0) {
            out += char(hex_digit(t[i + 1]) << 4 | hex_digit(t[i + 2]));
            i += 2;
        } else
            out += c;
    }
    return out;
}

int parse_section(std::string_view t) {
    for (int i = 0; i < NSECTIONS; ++i)
        if (t == SECTION_NAMES[i]) return i;
    int64_t i = parse_int(t);
    if (i < 0 || i >= NSECTIONS) throw DescError("unknown section '" + std::string(t) + "'");
    return int(i);
}

std::vector<uint32_t> parse_u32_list(std::string_view t) {
    std::vector<uint32_t> out;
    for (const std::string &v : split(t, ","))
        out.push_back(parse_u32(v));
    return out;
}

// The words of a directive: positional words and name=value pairs.
struct Words {
    std::vector<std::string> pos;
    std::vector<std::pair<std::string, std::string>> named;

    explicit Words(std::string_view rest) {
        for (std::string &w : split(rest, " \t\r")) {
            size_t eq = w.find('=');
            if (eq == std::string::npos || eq == 0)
                pos.push_back(std::move(w));
            else
                named.emplace_back(w.substr(0, eq), w.substr(eq + 1));
        }
    }
    const std::string *get(std::string_view key) const {
        for (const auto &[k, v] : named)
            if (k == key) return &v;
        return nullptr;
    }
    const std::string &at(size_t i, const char *what) const {
        if (i >= pos.size()) throw DescError(std::string(what) + " expected");
        return pos[i];
    }
    void allow(std::initializer_list<std::string_view> keys) const {
        for (const auto &[k, v] : named)
            if (std::find(keys.begin(), keys.end(), k) == keys.end())
                throw DescError("unknown argument '" + k + "'");
    }
};

struct CodePiece {
    enum Kind { Bytes, Frame, Asm } kind = Bytes;
    int line = 0;
    std::vector<uint8_t> bytes; // Bytes; the body of a Frame
    std::string text;           // Asm source; the function of a Frame
    std::vector<std::string> args, locals, globals;
};

// A reference to a function or DLL that may be defined further down.
struct PendingRef {
    size_t index;
    std::string ref;
    int line;
};

class DescParser {
  public:
    ObjSpec parse(std::string_view text);

  private:
    using Handler = void (DescParser::*)(std::string_view rest);
    struct Directive {
        const char *keyword;
        Handler handler;
    };
    static const Directive DIRECTIVES[];

    void dispatch(std::string_view line);
    void finish();
    [[noreturn]] void fail(int line, const std::string &msg) const {
        throw DescError("line " + std::to_string(line) + ": " + msg);
    }
    int function_ref(const std::string &ref, int line) const;
    uint16_t symbol_word(std::string ref, int line) const;

    void kind(std::string_view r);
    void relno(std::string_view r) { spec_.relno = int(parse_int(r)); }
    void startdate(std::string_view r) { spec_.startdate = parse_date(trim(r)); }
    void enddate(std::string_view r) { spec_.enddate = parse_date(trim(r)); }
    void options(std::string_view r) { spec_.options = int32_t(parse_int(r)); }
    void flags(std::string_view r) {
        spec_.flags |= parse_flag_word(r, OBJECT_FLAG_NAMES, std::size(OBJECT_FLAG_NAMES));
    }
    void revision(std::string_view r) { spec_.obj_revision = int32_t(parse_int(r)); }
    void count_extern(std::string_view r) { spec_.count_extern = int32_t(parse_int(r)); }
    void tiv(std::string_view r);
    void compnr(std::string_view r);
    void uses(std::string_view r) { spec_.used_dlls.push_back(Words(r).at(0, "DLL name")); }
    void proto(std::string_view r);
    void arg(std::string_view r);
    void symbol(std::string_view r);
    void function(std::string_view r);
    void global(std::string_view r) { spec_.global_functions.push_back(Words(r).at(0, "name")); }
    void string(std::string_view r) { spec_.strings.push_back(parse_text(r)); }
    void dbl(std::string_view r) { spec_.doubles.push_back(parse_text(r)); }
    void ident(std::string_view r) { spec_.idents.push_back(parse_text(r)); }
    void domain(std::string_view r);
    void code(std::string_view r);
    void usage(std::string_view r) { spec_.usage = parse_text(r); }
    void describe(std::string_view r);
    void addinfo(std::string_view r) { spec_.addinfo_records.push_back(parse_text(r)); }
    void nodescriptions(std::string_view) { spec_.descriptions = false; }
    void noaddinfo(std::string_view) { spec_.addinfo = false; }
    void order(std::string_view r);
    void gap(std::string_view r);
    void filler(std::string_view r) { spec_.filler = uint8_t(parse_int(r)); }
    void section(std::string_view r);
    void header(std::string_view r);
    void checksum_delta(std::string_view r) { spec_.header.checksum_delta = int32_t(parse_int(r)); }
    void addinfo_checksum(std::string_view r) { spec_.addinfo_checksum = parse_u32(r); }
    void patch(std::string_view r);
    void truncate(std::string_view r) { spec_.truncate = size_t(parse_int(r)); }

    ObjSpec spec_;
    int line_ = 0;
    std::vector<CodePiece> code_;
    CodePiece *asm_open_ = nullptr; // inside "code asm" ... "end"
    std::vector<PendingRef> proto_funcs_, function_dlls_, described_;
};

const DescParser::Directive DescParser::DIRECTIVES[] = {
    {"kind", &DescParser::kind},
    {"relno", &DescParser::relno},
    {"startdate", &DescParser::startdate},
    {"enddate", &DescParser::enddate},
    {"options", &DescParser::options},
    {"flags", &DescParser::flags},
    {"revision", &DescParser::revision},
    {"count_extern", &DescParser::count_extern},
    {"tiv", &DescParser::tiv},
    {"compnr", &DescParser::compnr},
    {"uses", &DescParser::uses},
    {"proto", &DescParser::proto},
    {"arg", &DescParser::arg},
    {"symbol", &DescParser::symbol},
    {"function", &DescParser::function},
    {"global", &DescParser::global},
    {"string", &DescParser::string},
    {"double", &DescParser::dbl},
    {"ident", &DescParser::ident},
    {"domain", &DescParser::domain},
    {"code", &DescParser::code},
    {"usage", &DescParser::usage},
    {"describe", &DescParser::describe},
    {"addinfo", &DescParser::addinfo},
    {"nodescriptions", &DescParser::nodescriptions},
    {"noaddinfo", &DescParser::noaddinfo},
    {"order", &DescParser::order},
    {"gap", &DescParser::gap},
    {"filler", &DescParser::filler},
    {"section", &DescParser::section},
    {"header", &DescParser::header},
    {"checksum_delta", &DescParser::checksum_delta},
    {"addinfo_checksum", &DescParser::addinfo_checksum},
    {"patch", &DescParser::patch},
    {"truncate", &DescParser::truncate},
};

ObjSpec DescParser::parse(std::string_view text) {
    size_t p = 0;
    while (p <= text.size()) {
        size_t nl = text.find('\n', p);
        if (nl == std::string_view::npos) nl = text.size();
        std::string_view line = text.substr(p, nl - p);
        ++line_;
        p = nl + 1;
        if (asm_open_) {
            if (trim(line) == "end")
                asm_open_ = nullptr;
            else
                asm_open_->text.append(line).push_back('\n');
            continue;
        }
        std::string_view t = trim(line);
        if (t.empty() || t.front() == '#') continue;
        try {
            dispatch(t);
        } catch (const DescError &e) {
            if (std::string_view(e.what()).starts_with("line ")) throw;
            fail(line_, e.what());
        }
    }
    if (asm_open_) fail(asm_open_->line, "\"code asm\" without \"end\"");
    finish();
    return std::move(spec_);
}

void DescParser::dispatch(std::string_view line) {
    size_t sp = line.find_first_of(" \t");
    std::string_view keyword = line.substr(0, sp);
    std::string_view rest = sp == std::string_view::npos ? std::string_view() : line.substr(sp + 1);
    for (const Directive &d : DIRECTIVES)
        if (keyword == d.keyword) return (this->*d.handler)(rest);
    throw DescError("unknown keyword '" + std::string(keyword) + "'");
}

int DescParser::function_ref(const std::string &ref, int line) const {
    int i = is_number(ref) ? std::stoi(ref) : function_index(spec_, ref);
    if (i < 0) fail(line, "unknown function '" + ref + "'");
    return i;
}

uint16_t DescParser::symbol_word(std::string ref, int line) const {
    uint16_t by_reference = 0;
    if (!ref.empty() && ref.front() == '&') {
        by_reference = 0x8000;
        ref.erase(0, 1);
    }
    int i = is_number(ref) ? std::stoi(ref) : symbol_index(spec_, ref);
    if (i < 0) fail(line, "unknown symbol '" + ref + "'");
    return uint16_t(i | by_reference);
}

void DescParser::finish() {
    for (CodePiece &piece : code_) {
        std::vector<uint8_t> bytes;
        if (piece.kind == CodePiece::Bytes) {
            bytes = piece.bytes;
        } else if (piece.kind == CodePiece::Asm) {
            try {
                bytes = assemble(piece.text);
            } catch (const std::exception &e) {
                fail(piece.line, std::string("assembler: ") + e.what());
            }
        } else {
            auto words = [&](const std::vector<std::string> &refs) {
                std::vector<uint16_t> w;
                for (const std::string &r : refs)
                    w.push_back(symbol_word(r, piece.line));
                return w;
            };
            bytes = function_frame(uint16_t(function_ref(piece.text, piece.line)), piece.bytes,
                                   words(piece.args), words(piece.locals), words(piece.globals));
        }
        spec_.code.insert(spec_.code.end(), bytes.begin(), bytes.end());
    }
    for (const PendingRef &p : proto_funcs_)
        spec_.prototypes[p.index].funnr = uint16_t(function_ref(p.ref, p.line));
    for (const PendingRef &p : described_)
        spec_.function_descriptions[p.index].funnr = uint16_t(function_ref(p.ref, p.line));
    for (const PendingRef &p : function_dlls_) {
        int n = 0;
        if (is_number(p.ref)) {
            n = std::stoi(p.ref);
        } else {
            auto it = std::find(spec_.used_dlls.begin(), spec_.used_dlls.end(), p.ref);
            if (it == spec_.used_dlls.end()) fail(p.line, "unknown used DLL '" + p.ref + "'");
            n = int(it - spec_.used_dlls.begin()) + 1;
        }
        spec_.functions[p.index].value = uint32_t(n);
    }
}

void DescParser::kind(std::string_view r) {
    std::string k(trim(r));
    if (k == "program")
        spec_.kind = Kind::Program;
    else if (k == "dll")
        spec_.kind = Kind::Dll;
    else
        throw DescError("kind must be program or dll");
}

void DescParser::tiv(std::string_view r) {
    Words w(r);
    const std::string &type = w.at(0, "TIV type");
    if (type == "none") {
        spec_.tiv.reset();
    } else if (type == "1") {
        spec_.tiv = Tiv{1, int32_t(parse_int(w.at(1, "length"))), 0};
    } else if (type == "2") {
        spec_.tiv = Tiv{2, 4, int32_t(parse_int(w.at(1, "TIV value")))};
    } else if (type == "raw") {
        spec_.tiv = Tiv{int32_t(parse_int(w.at(1, "type"))), int32_t(parse_int(w.at(2, "length"))),
                        w.pos.size() > 3 ? int32_t(parse_int(w.pos[3])) : 0};
    } else {
        throw DescError("tiv: none, 1, 2 or raw expected");
    }
}

void DescParser::compnr(std::string_view r) {
    Words w(r);
    for (size_t i = 0; i < 3; ++i)
        spec_.compnr[i] = int32_t(parse_int(w.at(i, "compnr check")));
}

void DescParser::proto(std::string_view r) {
    Words w(r);
    w.allow({"fun", "ret", "flags", "required", "args"});
    Prototype p;
    p.name = w.at(0, "prototype name");
    if (const auto *v = w.get("ret")) p.domain = *v;
    if (const auto *v = w.get("flags")) p.flags = parse_symbol_flags(*v);
    if (const auto *v = w.get("required")) p.required = int(parse_int(*v));
    if (const auto *v = w.get("args")) p.argcount = *v == "var" ? 255 : int(parse_int(*v));
    const auto *fun = w.get("fun");
    proto_funcs_.push_back({spec_.prototypes.size(), fun ? *fun : p.name, line_});
    spec_.prototypes.push_back(std::move(p));
}

void DescParser::arg(std::string_view r) {
    if (spec_.prototypes.empty()) throw DescError("arg without proto");
    Words w(r);
    w.allow({"domain", "flags", "where", "dims", "reserved"});
    ProtoArg a;
    a.name = w.at(0, "argument name");
    if (const auto *v = w.get("domain")) a.domain = *v;
    if (const auto *v = w.get("flags")) a.flags = parse_symbol_flags(*v);
    if (const auto *v = w.get("where")) a.whereused = uint16_t(parse_int(*v));
    if (const auto *v = w.get("dims")) a.dims = parse_u32_list(*v);
    if (const auto *v = w.get("reserved")) a.reserved = parse_text(*v);
    spec_.prototypes.back().args.push_back(std::move(a));
}

void DescParser::symbol(std::string_view r) {
    Words w(r);
    w.allow({"flags", "dims", "len", "width", "domain", "code61"});
    SymbolEntry s;
    s.name = w.at(0, "symbol name");
    if (const auto *v = w.get("flags")) s.flags = parse_symbol_flags(*v);
    if (const auto *v = w.get("dims")) s.dims = parse_u32_list(*v);
    if (const auto *v = w.get("len")) s.length = parse_u32(*v);
    if (const auto *v = w.get("width")) {
        s.width = int(parse_int(*v));
        if (s.width != 1 && s.width != 2 && s.width != 4)
            throw DescError("width must be 1, 2 or 4");
    }
    if (const auto *v = w.get("domain")) s.domain = *v;
    if (const auto *v = w.get("code61")) s.code61 = int(parse_int(*v));
    spec_.symbols.push_back(std::move(s));
}

void DescParser::function(std::string_view r) {
    Words w(r);
    w.allow({"flags", "offset", "dll", "code61"});
    FunctionEntry f;
    f.name = w.at(0, "function name");
    if (const auto *v = w.get("dll")) {
        f.flags = FUNCTION | EXTERN;
        function_dlls_.push_back({spec_.functions.size(), *v, line_});
    }
    if (const auto *v = w.get("flags")) f.flags = parse_symbol_flags(*v);
    if (const auto *v = w.get("offset")) f.value = parse_u32(*v);
    if (const auto *v = w.get("code61")) f.code61 = int(parse_int(*v));
    spec_.functions.push_back(std::move(f));
}

void DescParser::domain(std::string_view r) {
    Words w(r);
    DomainEntry d;
    d.name = w.at(0, "domain name");
    for (size_t i = 1; i < w.pos.size(); ++i) {
        if (w.pos[i].front() == '@')
            d.offsets.push_back(parse_u32(std::string_view(w.pos[i]).substr(1)));
        else
            d.symbols.push_back(w.pos[i]);
    }
    spec_.domains.push_back(std::move(d));
}

void DescParser::code(std::string_view r) {
    r = trim(r);
    size_t sp = r.find_first_of(" \t");
    std::string_view how = r.substr(0, sp);
    std::string_view rest = sp == std::string_view::npos ? std::string_view() : r.substr(sp + 1);
    CodePiece piece;
    piece.line = line_;
    if (how == "hex") {
        piece.bytes = parse_hex(rest);
    } else if (how == "frame") {
        Words w(rest);
        w.allow({"body", "args", "locals", "globals"});
        piece.kind = CodePiece::Frame;
        piece.text = w.at(0, "function");
        if (const auto *v = w.get("body")) piece.bytes = parse_hex(*v);
        if (const auto *v = w.get("args")) piece.args = split(*v, ",");
        if (const auto *v = w.get("locals")) piece.locals = split(*v, ",");
        if (const auto *v = w.get("globals")) piece.globals = split(*v, ",");
    } else if (how == "asm") {
        piece.kind = CodePiece::Asm;
    } else {
        throw DescError("code: hex, frame or asm expected");
    }
    code_.push_back(std::move(piece));
    if (code_.back().kind == CodePiece::Asm) asm_open_ = &code_.back();
}

void DescParser::describe(std::string_view r) {
    r = trim(r);
    size_t sp = r.find_first_of(" \t");
    if (sp == std::string_view::npos) throw DescError("describe FUNC TEXT expected");
    described_.push_back({spec_.function_descriptions.size(), std::string(r.substr(0, sp)), line_});
    spec_.function_descriptions.push_back({0, parse_text(r.substr(sp + 1))});
}

void DescParser::order(std::string_view r) {
    spec_.order.clear();
    for (const std::string &s : Words(r).pos)
        spec_.order.push_back(parse_section(s));
}

void DescParser::gap(std::string_view r) {
    Words w(r);
    spec_.sections[size_t(parse_section(w.at(0, "section")))].gap = parse_u32(w.at(1, "gap"));
}

void DescParser::section(std::string_view r) {
    r = trim(r);
    size_t sp = r.find_first_of(" \t");
    SectionOverride &ov = spec_.sections[size_t(parse_section(r.substr(0, sp)))];
    std::string_view rest = sp == std::string_view::npos ? std::string_view() : r.substr(sp + 1);
    rest = trim(rest);
    if (rest.starts_with("raw")) {
        ov.raw = parse_hex(rest.substr(3));
        return;
    }
    Words w(rest);
    w.allow({"start", "size", "count"});
    if (const auto *v = w.get("start")) ov.start = parse_u32(*v);
    if (const auto *v = w.get("size")) ov.size = parse_u32(*v);
    if (const auto *v = w.get("count")) ov.count = uint16_t(parse_int(*v));
}

void DescParser::header(std::string_view r) {
    r = trim(r);
    size_t sp = r.find_first_of(" \t");
    if (sp == std::string_view::npos) throw DescError("header FIELD VALUE expected");
    std::string_view field = r.substr(0, sp);
    std::string_view value = r.substr(sp + 1);
    if (field == "magic") {
        spec_.header.magic = parse_text(value);
        return;
    }
    if (field == "checksum") {
        spec_.header.checksum = parse_u32(value);
        return;
    }
    for (const HeaderFieldName &h : HEADER_FIELD_NAMES) {
        if (field != h.name) continue;
        bool date = field == "startdate" || field == "enddate";
        spec_.header.*h.field = date ? parse_date(trim(value)) : int32_t(parse_int(value));
        return;
    }
    throw DescError("unknown header field '" + std::string(field) + "'");
}

void DescParser::patch(std::string_view r) {
    r = trim(r);
    size_t sp = r.find_first_of(" \t");
    if (sp == std::string_view::npos) throw DescError("patch OFFSET HEX expected");
    spec_.patches.push_back({size_t(parse_int(r.substr(0, sp))), parse_hex(r.substr(sp + 1))});
}

} // namespace

ObjSpec parse_description(std::string_view text) {
    return DescParser().parse(text);
}

ObjSpec load_description(const std::string &file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw DescError("cannot read '" + file + "'");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return parse_description(text);
}

} // namespace objw
