// The object writer: builds complete 4GL objects (header, TIV block, the
// thirteen sections, the descriptions block and the additional information
// block) from a description, in release 72 or 61, and on request damages
// them in controlled ways for tests.
//
// Objects are described in C++ (`ObjSpec`, then `build_object`) or in the
// text format of objdesc.h.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace objw {

struct DescError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class Kind { Program, Dll };

// Day number of a date: days since the start of the (proleptic Gregorian)
// year 1, with 1 January of year 1 as day 1.
int32_t day_number(int year, int month, int day);

struct ProtoArg {
    ProtoArg() = default;
    ProtoArg(std::string n, uint32_t f = 0x1, std::string dom = {}, std::vector<uint32_t> d = {})
        : name(std::move(n)), domain(std::move(dom)), flags(f), dims(std::move(d)) {}

    std::string name;
    std::string domain;
    uint32_t flags = 0x1; // LONG
    std::string reserved;
    uint16_t whereused = 0; // written when flags has WHERE_USED and obj_revision != 0
    std::vector<uint32_t> dims;
};

struct Prototype {
    Prototype() = default;
    Prototype(std::string n, uint16_t fun, uint32_t f = 0x1, std::vector<ProtoArg> a = {})
        : name(std::move(n)), funnr(fun), flags(f), args(std::move(a)) {}

    std::string name;
    uint16_t funnr = 0; // index in the function table
    std::string domain; // of the return value
    uint32_t flags = 0x1;
    int required = -1; // -1: the number of args
    int argcount = -1; // -1: the number of args; 255: variable
    std::vector<ProtoArg> args;
};

struct SymbolEntry {
    SymbolEntry() = default;
    SymbolEntry(std::string n, uint32_t f = 0x1, std::vector<uint32_t> d = {}, uint32_t len = 0,
                std::string dom = {})
        : name(std::move(n)), flags(f), dims(std::move(d)), length(len), domain(std::move(dom)) {}

    std::string name;
    uint32_t flags = 0x1;       // without the width bits SIZE16/SIZE32
    std::vector<uint32_t> dims; // array dimensions, declaration order
    uint32_t length = 0;        // string length
    int width = 0;              // 0: narrowest; 1, 2 or 4 forced
    std::string domain;         // makes a domains entry for this symbol
    int code61 = -1;            // release 61: raw flag code instead of the encoding
};

struct FunctionEntry {
    FunctionEntry() = default;
    FunctionEntry(std::string n, uint32_t f = 0x200, std::optional<uint32_t> v = {})
        : name(std::move(n)), flags(f), value(v) {}

    std::string name;
    uint32_t flags = 0x200;
    std::optional<uint32_t> value; // code offset or used-DLL number; unset: from the frames
    int code61 = -1;
};

struct DomainEntry {
    std::string name;
    std::vector<std::string> symbols; // names or numbers of symbol entries
    std::vector<uint32_t> offsets;    // raw offsets, after those of the symbols
};

struct FunctionDescription {
    uint16_t funnr = 0;
    std::string text;
};

struct Tiv {
    int32_t type = 1;
    int32_t length = 0; // type 1: bytes to skip (filler, at most 1 MiB written); type 2: 4
    int32_t value = 0;  // type 2 only
};

struct SectionOverride {
    std::optional<uint32_t> start, size;
    std::optional<uint16_t> count;
    std::optional<std::vector<uint8_t>> raw; // replaces the section's bytes
    uint32_t gap = 0;                        // filler bytes in front of it
};

struct HeaderOverride {
    std::optional<std::string> magic; // padded with NULs to 12 bytes
    std::optional<int32_t> relno, bytesheader, startdate, enddate, options, flags, count_extern,
        obj_revision, fsm;
    std::optional<uint32_t> checksum; // the stored value
    int32_t checksum_delta = 0;
};

struct Patch {
    size_t offset = 0;
    std::vector<uint8_t> bytes;
};

struct ObjSpec {
    Kind kind = Kind::Program;
    int relno = 72;
    int32_t startdate = day_number(2024, 1, 15);
    int32_t enddate = day_number(9999, 1, 1);
    int32_t options = 1;
    uint32_t flags = 0; // DLL and ADDINFO are added when they apply
    int32_t obj_revision = 0;
    std::optional<int32_t> count_extern;
    std::optional<Tiv> tiv = Tiv{}; // release 72; nullopt writes no block
    std::array<int32_t, 3> compnr{0, 0, 0};

    std::vector<Prototype> prototypes;
    std::vector<std::string> used_dlls;
    std::vector<uint8_t> code;
    std::vector<SymbolEntry> symbols;
    std::vector<FunctionEntry> functions;
    std::vector<std::string> global_functions;
    std::vector<std::string> strings;
    std::vector<std::string> doubles;
    std::vector<DomainEntry> domains;
    std::vector<std::string> idents;

    bool descriptions = true;
    std::optional<std::string> usage;
    std::vector<FunctionDescription> function_descriptions;
    bool addinfo = true;
    std::vector<std::string> addinfo_records;
    std::optional<uint32_t> addinfo_checksum;

    // Damage.
    std::vector<int> order; // file order of the sections; the rest follow in index order
    uint8_t filler = 0x5A;
    std::array<SectionOverride, 13> sections;
    HeaderOverride header;
    std::vector<Patch> patches;
    std::function<void(std::vector<uint8_t> &)> hook; // after the patches
    std::optional<size_t> truncate;
};

// True for a reference by number (decimal digits) rather than by name.
bool is_number(std::string_view t);
// Index of a function-table entry or a symbol entry by name; -1 when none.
int function_index(const ObjSpec &desc, std::string_view name);
int symbol_index(const ObjSpec &desc, std::string_view name);

// Function frames, encoded for the writer, the assembler and the benchmark
// generator alike.
//
// `value` as `width` bytes, most significant first, appended to `code`, or
// written over its bytes from `at` on.
void put_be(std::vector<uint8_t> &code, uint64_t value, unsigned width);
void put_be_at(std::vector<uint8_t> &code, size_t at, uint64_t value, unsigned width);
// Appends the SUB_TEXT of function `funnr` and returns its position; its
// length is filled in by close_sub_text.
size_t open_sub_text(std::vector<uint8_t> &code, uint16_t funnr);
// The length of the SUB_TEXT at `at`: up to the end of `code` (the final
// RET included), or `length` when given.
void close_sub_text(std::vector<uint8_t> &code, size_t at,
                    std::optional<uint32_t> length = std::nullopt);
// Appends a SUB_LINK with the argument words (bit 15: by reference), the
// locals and the globals; its stored length is the one its counts give,
// unless `length` is given.
void append_sub_link(std::vector<uint8_t> &code, const std::vector<uint16_t> &args,
                     const std::vector<uint16_t> &locals, const std::vector<uint16_t> &globals,
                     std::optional<uint32_t> length = std::nullopt);
// A whole frame: SUB_TEXT, the body, RET and SUB_LINK.
std::vector<uint8_t> function_frame(uint16_t funnr, const std::vector<uint8_t> &body = {},
                                    const std::vector<uint16_t> &args = {},
                                    const std::vector<uint16_t> &locals = {},
                                    const std::vector<uint16_t> &globals = {});

// Section positions of a built object (before damage by patches or
// truncation), for tests that want to aim at a particular byte.
struct Layout {
    std::array<uint32_t, 13> start{}, size{};
    uint32_t descriptions = 0; // start of the descriptions block (0: none)
    uint32_t addinfo = 0;      // start of the additional information block (0: none)
    uint32_t end = 0;
};

// The object's bytes; `path` is where it will be stored (for fsm). Throws
// DescError when the description cannot be encoded (a flag word without a release-61
// code, an unknown symbol name).
std::vector<uint8_t> build_object(const ObjSpec &desc, const std::string &path,
                                  Layout *layout = nullptr);
// Builds the object for `path`, creates the directories and writes the file.
void write_object_file(const ObjSpec &desc, const std::string &path);
// Where object `name` lives under the directory `objroot`: the directory is
// the first six characters of the name, the file "o" plus the name from its
// fourth character on (objroot/oxxmod/omodtest for oxxmodtest).
std::string object_path(const std::string &objroot, const std::string &name);

// Checksum helpers: the stored header checksum that matches `image`, and the
// checksum of additional information records.
uint32_t object_checksum(const std::vector<uint8_t> &image);
uint32_t addinfo_sum(const std::vector<std::string> &records);

} // namespace objw
