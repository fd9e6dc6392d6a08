// The object writer: encodes an ObjSpec through the object write primitives
// into memory streams, lays the sections out, fills in the header and the
// checksum, and applies the requested damage.
#include "objwriter.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "al_strm.h"
#include "assembler.h"
#include "zel.h"
#include "zel_asm.h"
#include "zel_obj.h"

namespace objw {

namespace {

constexpr uint32_t SUB_TEXT_SIZE = 7;
constexpr uint32_t SUB_LINK_FIXED = 10;
constexpr uint32_t HEADER_CHECKSUM_AT = 178;
constexpr uint32_t SECTION_TABLE_AT = 48;
constexpr uint16_t ADDINFO_FORMAT = 1;
constexpr uint16_t ADDINFO_HEADER = 18;
constexpr size_t TIV_FILLER_MAX = 1 << 20;

bool is_compnr(int section) {
    return section == SEC_COMPNR1 || section == SEC_COMPNR2 || section == SEC_COMPNR3;
}

uint32_t be32_at(const std::vector<uint8_t> &b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

void put_be32(std::vector<uint8_t> &b, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        b.push_back(uint8_t(v >> shift));
}

void put_be16(std::vector<uint8_t> &b, uint32_t v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}

// `write_obj_flag` encodes in the release of `zel.hdr.relno`; the writer sets
// it for the time of a build.
class ReleaseScope {
  public:
    explicit ReleaseScope(int relno) : saved_(zel.hdr.relno) { zel.hdr.relno = relno; }
    ~ReleaseScope() { zel.hdr.relno = saved_; }
    ReleaseScope(const ReleaseScope &) = delete;
    ReleaseScope &operator=(const ReleaseScope &) = delete;

  private:
    int32_t saved_;
};

// A memory stream written through the object primitives, with the count of
// bytes written so far (record offsets are taken from it).
class Out {
  public:
    Out() : s_(smemopen(nullptr, 0, "w"), &sclose) {
        if (!s_) throw DescError("cannot open a memory stream");
    }

    uint32_t pos() const { return pos_; }
    void u32(uint32_t v) {
        write_obj_long(s_.get(), v);
        pos_ += 4;
    }
    void u16(unsigned v) {
        write_obj_short(s_.get(), v);
        pos_ += 2;
    }
    void u8(unsigned v) {
        write_obj_char(s_.get(), v);
        pos_ += 1;
    }
    void str(const std::string &t) {
        write_obj_string(s_.get(), t.c_str());
        pos_ += uint32_t(std::strlen(t.c_str())) + 1;
    }
    void block(const void *data, size_t n) {
        write_obj_block(data, n, s_.get());
        pos_ += uint32_t(n);
    }
    void bytes(const std::vector<uint8_t> &b) { block(b.data(), b.size()); }
    // A value of 1, 2 or 4 bytes.
    void sized(uint32_t v, int width) {
        if (width == 4)
            u32(v);
        else if (width == 2)
            u16(v);
        else
            u8(v);
    }
    // A symbol flag word: release 72 a long, release 61 its flag code.
    void flag(uint32_t flags, int code61, int relno, const std::string &what) {
        if (relno == 61 && code61 >= 0) {
            u8(unsigned(code61));
            return;
        }
        if (write_obj_flag(s_.get(), flags) < 0)
            throw DescError(what + ": flag word has no release-61 code");
        pos_ += relno == 61 ? 1 : 4;
    }

    std::vector<uint8_t> take() {
        sflush(s_.get());
        return smem_data(s_.get());
    }

  private:
    std::unique_ptr<STREAM, int (*)(STREAM *)> s_;
    uint32_t pos_ = 0;
};

// ---------------------------------------------------------------------------
// Sections

bool is_number(std::string_view t) {
    return !t.empty() &&
           std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int resolve_symbol(const ObjSpec &desc, const std::string &ref) {
    int i = is_number(ref) ? std::stoi(ref) : symbol_index(desc, ref);
    if (i < 0 || size_t(i) >= desc.symbols.size()) throw DescError("unknown symbol '" + ref + "'");
    return i;
}

std::vector<uint8_t> write_prototypes(const ObjSpec &desc) {
    Out o;
    auto text_with_length = [&](const std::string &t) {
        if (t.empty()) {
            o.u16(0);
            return;
        }
        o.u16(unsigned(t.size() + 1));
        o.str(t);
    };
    for (const Prototype &p : desc.prototypes) {
        o.u16(unsigned(p.name.size() + 1));
        o.str(p.name);
        o.u16(p.funnr);
        text_with_length(p.domain);
        o.u32(p.flags);
        o.u8(unsigned(p.required < 0 ? int(p.args.size()) : p.required));
        o.u8(unsigned(p.argcount < 0 ? int(p.args.size()) : p.argcount));
        for (const ProtoArg &a : p.args) {
            o.u16(unsigned(a.name.size() + 1));
            o.str(a.name);
            text_with_length(a.domain);
            o.u32(a.flags);
            o.u16(unsigned(a.reserved.size()));
            o.block(a.reserved.data(), a.reserved.size());
            if ((a.flags & WHERE_USED) && desc.obj_revision != 0) o.u16(a.whereused);
            o.u8(unsigned(a.dims.size()));
            for (uint32_t d : a.dims)
                o.u32(d);
        }
    }
    return o.take();
}

std::vector<uint8_t> write_strings_only(const std::vector<std::string> &texts) {
    Out o;
    for (const std::string &t : texts)
        o.str(t);
    return o.take();
}

std::vector<uint8_t> write_long(int32_t v) {
    Out o;
    o.u32(uint32_t(v));
    return o.take();
}

bool string_has_domain(const SymbolEntry &s) {
    return !s.domain.empty() && (s.flags & STRING);
}

// Size values of a symbol entry in file order: a string array stores the
// string length first, then the dimensions from the last to the first.
std::vector<uint32_t> size_values(const SymbolEntry &s, uint32_t flags) {
    std::vector<uint32_t> v;
    if (flags & DD_NAME) return v;
    if (flags & ARRAY) {
        if (flags & STRING) v.push_back(s.length);
        v.insert(v.end(), s.dims.rbegin(), s.dims.rend());
    } else if (flags & STRING) {
        v.push_back(s.length);
    }
    return v;
}

int narrowest_width(const std::vector<uint32_t> &values) {
    uint32_t largest = values.empty() ? 0 : *std::max_element(values.begin(), values.end());
    return largest < 256 ? 1 : largest < 65536 ? 2 : 4;
}

uint32_t width_bits(int width) {
    return width == 2 ? SIZE16 : width == 4 ? SIZE32 : 0;
}

bool names_stored(const ObjSpec &desc, uint32_t flags) {
    return (flags & EXTERN) || (desc.flags & objflag::DEBUG);
}

// Writes the symbol table; `offsets` receives each entry's offset.
std::vector<uint8_t> write_symtab(const ObjSpec &desc, std::vector<uint32_t> &offsets) {
    Out o;
    for (const SymbolEntry &s : desc.symbols) {
        offsets.push_back(o.pos());
        uint32_t flags = s.flags & ~(SIZE16 | SIZE32);
        std::vector<uint32_t> values = size_values(s, flags);
        int width = s.width ? s.width : narrowest_width(values);
        if (!s.width && string_has_domain(s) && width < 2) width = 2;
        bool has_size_data = !(flags & DD_NAME) && (flags & (ARRAY | STRING));
        if (has_size_data) flags |= width_bits(width);
        o.flag(flags, s.code61, desc.relno, "symbol '" + s.name + "'");
        if (!(flags & DD_NAME) && (flags & ARRAY)) o.u8(unsigned(values.size()));
        for (uint32_t v : values)
            o.sized(v, width);
        if (names_stored(desc, flags)) o.str(s.name);
    }
    return o.take();
}

// Positions of the function frames of `code`, by the function number in
// their SUB_TEXT. The walk stops at the first byte that does not begin a
// frame.
std::vector<std::pair<uint16_t, uint32_t>> frame_positions(const std::vector<uint8_t> &code) {
    std::vector<std::pair<uint16_t, uint32_t>> found;
    size_t p = 0;
    while (p + SUB_TEXT_SIZE <= code.size() && code[p] == op::SUB_TEXT) {
        uint32_t len = be32_at(code, p + 1);
        found.emplace_back(uint16_t(code[p + 5] << 8 | code[p + 6]), uint32_t(p));
        size_t link = p + len;
        if (len == 0 || link + 5 > code.size() || code[link] != op::SUB_LINK) break;
        uint32_t link_len = be32_at(code, link + 1);
        if (link_len == 0) break;
        p = link + link_len;
    }
    return found;
}

uint32_t function_value(const ObjSpec &desc, size_t index,
                        const std::vector<std::pair<uint16_t, uint32_t>> &frames) {
    const FunctionEntry &f = desc.functions[index];
    if (f.value) return *f.value;
    if (f.flags == (FUNCTION | EXTERN)) return 0;
    for (auto [number, pos] : frames)
        if (number == index) return pos;
    return 0;
}

std::vector<uint8_t> write_funtab(const ObjSpec &desc) {
    const auto frames = frame_positions(desc.code);
    Out o;
    for (size_t i = 0; i < desc.functions.size(); ++i) {
        const FunctionEntry &f = desc.functions[i];
        o.flag(f.flags, f.code61, desc.relno, "function '" + f.name + "'");
        o.u32(function_value(desc, i, frames));
        bool named = desc.relno == 72 || (f.flags & EXTERN) ||
                     (desc.flags & (objflag::DEBUG | objflag::PROFILE));
        if (named) o.str(f.name);
    }
    return o.take();
}

std::vector<uint8_t> write_string_constants(const ObjSpec &desc) {
    Out o;
    for (const std::string &t : desc.strings) {
        o.u16(unsigned(std::strlen(t.c_str())));
        o.str(t);
    }
    return o.take();
}

// The domain entries: one per domain named by symbols (in the order of first
// use), then the explicit ones.
std::vector<DomainEntry> all_domains(const ObjSpec &desc) {
    std::vector<DomainEntry> out;
    for (size_t i = 0; i < desc.symbols.size(); ++i) {
        const std::string &d = desc.symbols[i].domain;
        if (d.empty()) continue;
        auto it = std::find_if(out.begin(), out.end(), [&](auto &e) { return e.name == d; });
        if (it == out.end()) it = out.insert(out.end(), DomainEntry{d, {}, {}});
        it->symbols.push_back(std::to_string(i));
    }
    out.insert(out.end(), desc.domains.begin(), desc.domains.end());
    return out;
}

std::vector<uint8_t> write_domains(const ObjSpec &desc, const std::vector<DomainEntry> &domains,
                                   const std::vector<uint32_t> &offsets) {
    Out o;
    for (const DomainEntry &d : domains) {
        o.str(d.name);
        o.u16(unsigned(d.symbols.size() + d.offsets.size()));
        for (const std::string &ref : d.symbols)
            o.u32(offsets[size_t(resolve_symbol(desc, ref))]);
        for (uint32_t off : d.offsets)
            o.u32(off);
    }
    o.u8(0); // closing NUL, counted in the size and never read; written even with no entries
    return o.take();
}

std::vector<uint8_t> write_descriptions(const ObjSpec &desc) {
    Out body;
    body.u16(unsigned(desc.function_descriptions.size()));
    if (desc.usage) {
        body.u32(uint32_t(desc.usage->size() + 1));
        body.str(*desc.usage);
    } else {
        body.u32(0);
    }
    for (const FunctionDescription &d : desc.function_descriptions) {
        body.u32(uint32_t(d.text.size() + 1));
        body.u16(d.funnr);
        body.str(d.text);
    }
    std::vector<uint8_t> b = body.take();
    Out o;
    o.u32(uint32_t(b.size()));
    o.bytes(b);
    return o.take();
}

std::vector<uint8_t> write_addinfo(const ObjSpec &desc) {
    Out data;
    for (const std::string &r : desc.addinfo_records)
        data.str(r);
    std::vector<uint8_t> d = data.take();
    Out o;
    o.u32(uint32_t(ADDINFO_HEADER + d.size()));
    o.u16(ADDINFO_FORMAT);
    o.u16(ADDINFO_HEADER);
    o.u32(uint32_t(d.size()));
    o.u16(unsigned(desc.addinfo_records.size()));
    o.u32(desc.addinfo_checksum.value_or(addinfo_sum(desc.addinfo_records)));
    o.bytes(d);
    return o.take();
}

int32_t counted_externs(const ObjSpec &desc) {
    constexpr uint32_t mask = TABLE | DD_NAME | EXTERN;
    return int32_t(std::count_if(desc.symbols.begin(), desc.symbols.end(),
                                 [](const SymbolEntry &s) { return (s.flags & mask) == EXTERN; }));
}

// The contents of every section, in index order.
std::array<std::vector<uint8_t>, NSECTIONS> write_sections(const ObjSpec &desc) {
    std::array<std::vector<uint8_t>, NSECTIONS> sec;
    std::vector<uint32_t> offsets;
    sec[SEC_PROTOTYPES] = write_prototypes(desc);
    sec[SEC_USED_DLLS] = write_strings_only(desc.used_dlls);
    {
        Out o;
        o.bytes(desc.code);
        sec[SEC_CODE] = o.take();
    }
    sec[SEC_COMPNR1] = write_long(desc.compnr[0]);
    sec[SEC_SYMTAB] = write_symtab(desc, offsets);
    sec[SEC_COMPNR2] = write_long(desc.compnr[1]);
    sec[SEC_FUNTAB] = write_funtab(desc);
    sec[SEC_GLOBFUN] = write_strings_only(desc.global_functions);
    sec[SEC_STRINGS] = write_string_constants(desc);
    sec[SEC_COMPNR3] = write_long(desc.compnr[2]);
    sec[SEC_DOUBLES] = write_strings_only(desc.doubles);
    const std::vector<DomainEntry> domains = all_domains(desc);
    sec[SEC_DOMAINS] = write_domains(desc, domains, offsets);
    sec[SEC_IDENTS] = write_strings_only(desc.idents);
    return sec;
}

std::array<uint16_t, NSECTIONS> record_counts(const ObjSpec &desc) {
    return {uint16_t(desc.prototypes.size()),
            uint16_t(desc.used_dlls.size()),
            1,
            1,
            uint16_t(desc.symbols.size()),
            1,
            uint16_t(desc.functions.size()),
            uint16_t(desc.global_functions.size()),
            uint16_t(desc.strings.size()),
            1,
            uint16_t(desc.doubles.size()),
            uint16_t(all_domains(desc).size()),
            uint16_t(desc.idents.size())};
}

std::vector<int> file_order(const ObjSpec &desc) {
    std::vector<int> order;
    for (int s : desc.order) {
        if (s < 0 || s >= NSECTIONS) throw DescError("section index out of range");
        if (std::find(order.begin(), order.end(), s) != order.end())
            throw DescError("section named twice in the order");
        order.push_back(s);
    }
    for (int s = 0; s < NSECTIONS; ++s)
        if (std::find(order.begin(), order.end(), s) == order.end()) order.push_back(s);
    return order;
}

void append_tiv(const ObjSpec &desc, std::vector<uint8_t> &image) {
    if (desc.relno != 72 || !desc.tiv) return;
    const Tiv &t = *desc.tiv;
    Out o;
    o.u32(uint32_t(t.type));
    o.u32(uint32_t(t.length));
    if (t.type == 2) o.u32(uint32_t(t.value));
    std::vector<uint8_t> b = o.take();
    image.insert(image.end(), b.begin(), b.end());
    // The reader skips these bytes by a relative seek and finds the sections
    // by their offsets, so a huge length needs only a bounded filler.
    if (t.type == 1 && t.length > 0)
        image.insert(image.end(), std::min<size_t>(size_t(t.length), TIV_FILLER_MAX), desc.filler);
}

struct HeaderFields {
    std::string magic;
    int32_t relno, bytesheader, startdate, enddate, options, flags, count_extern, obj_revision, fsm;
};

HeaderFields header_fields(const ObjSpec &desc, const std::string &path) {
    uint32_t flags = desc.flags;
    if (desc.kind == Kind::Dll) flags |= objflag::DLL;
    if (desc.addinfo) flags |= objflag::ADDINFO;
    HeaderFields h{desc.kind == Kind::Dll ? "[_zel_dll_]" : "[_zel_obj_]",
                   desc.relno,
                   HEADER_SIZE,
                   desc.startdate,
                   desc.enddate,
                   desc.options,
                   int32_t(flags),
                   desc.count_extern.value_or(counted_externs(desc)),
                   desc.obj_revision,
                   int32_t(fname_sum(path.c_str()))};
    const HeaderOverride &o = desc.header;
    if (o.magic) h.magic = *o.magic;
    h.relno = o.relno.value_or(h.relno);
    h.bytesheader = o.bytesheader.value_or(h.bytesheader);
    h.startdate = o.startdate.value_or(h.startdate);
    h.enddate = o.enddate.value_or(h.enddate);
    h.options = o.options.value_or(h.options);
    h.flags = o.flags.value_or(h.flags);
    h.count_extern = o.count_extern.value_or(h.count_extern);
    h.obj_revision = o.obj_revision.value_or(h.obj_revision);
    h.fsm = o.fsm.value_or(h.fsm);
    return h;
}

// The 182 header bytes with the checksum field 0.
std::vector<uint8_t> write_header(const HeaderFields &h, const Layout &l,
                                  const std::array<uint16_t, NSECTIONS> &count) {
    Out o;
    char magic[12] = {};
    std::copy_n(h.magic.begin(), std::min<size_t>(h.magic.size(), sizeof magic), magic);
    o.block(magic, sizeof magic);
    for (int32_t v : {h.relno, h.bytesheader, h.startdate, h.enddate, h.options, h.flags,
                      h.count_extern, h.obj_revision, h.fsm})
        o.u32(uint32_t(v));
    for (int i = 0; i < NSECTIONS; ++i) {
        o.u32(l.start[size_t(i)]);
        o.u32(l.size[size_t(i)]);
        o.u16(count[size_t(i)]);
    }
    o.u32(0);
    return o.take();
}

void apply_patches(const ObjSpec &desc, std::vector<uint8_t> &image) {
    for (const Patch &p : desc.patches) {
        if (p.offset + p.bytes.size() > image.size())
            image.resize(p.offset + p.bytes.size(), desc.filler);
        std::copy(p.bytes.begin(), p.bytes.end(), image.begin() + long(p.offset));
    }
}

} // namespace

// ---------------------------------------------------------------------------

int32_t day_number(int year, int month, int day) {
    static constexpr int month_days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int y = year - 1;
    int32_t n = y * 365 + y / 4 - y / 100 + y / 400;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    for (int m = 1; m < month && m <= 12; ++m)
        n += month_days[m - 1] + (m == 2 && leap ? 1 : 0);
    return n + day;
}

int function_index(const ObjSpec &desc, std::string_view name) {
    for (size_t i = 0; i < desc.functions.size(); ++i)
        if (desc.functions[i].name == name) return int(i);
    return -1;
}

int symbol_index(const ObjSpec &desc, std::string_view name) {
    for (size_t i = 0; i < desc.symbols.size(); ++i)
        if (desc.symbols[i].name == name) return int(i);
    return -1;
}

std::vector<uint8_t> function_frame(uint16_t funnr, const std::vector<uint8_t> &body,
                                    const std::vector<uint16_t> &args,
                                    const std::vector<uint16_t> &locals,
                                    const std::vector<uint16_t> &globals) {
    std::vector<uint8_t> f;
    f.push_back(op::SUB_TEXT);
    put_be32(f, uint32_t(SUB_TEXT_SIZE + body.size() + 1));
    put_be16(f, funnr);
    f.insert(f.end(), body.begin(), body.end());
    f.push_back(op::RET);
    f.push_back(op::SUB_LINK);
    put_be32(f, uint32_t(SUB_LINK_FIXED + 2 * (args.size() + locals.size() + globals.size())));
    f.push_back(uint8_t(args.size()));
    put_be16(f, uint32_t(locals.size()));
    put_be16(f, uint32_t(globals.size()));
    for (const auto *words : {&args, &locals, &globals})
        for (uint16_t w : *words)
            put_be16(f, w);
    return f;
}

uint32_t addinfo_sum(const std::vector<std::string> &records) {
    uint32_t sum = 0;
    for (const std::string &r : records)
        for (unsigned char c : r)
            sum += c;
    return sum;
}

// Sums what a loader takes through the read primitives: the header up to the
// checksum field, then every section as its header entry places it (bytes
// past the end are not there), except that each compnr check is one long
// whose missing bytes read as 0xFF.
uint32_t object_checksum(const std::vector<uint8_t> &image) {
    uint32_t sum = 0;
    auto add_range = [&](uint64_t from, uint64_t to) {
        for (uint64_t i = from; i < to && i < image.size(); ++i)
            sum += image[i];
    };
    add_range(0, HEADER_CHECKSUM_AT);
    if (image.size() < HEADER_SIZE) return sum;
    for (int i = 0; i < NSECTIONS; ++i) {
        size_t entry = SECTION_TABLE_AT + 10 * size_t(i);
        uint64_t start = be32_at(image, entry);
        if (is_compnr(i)) { // read as one long: missing bytes count 0xFF
            for (uint64_t k = start; k < start + 4; ++k)
                sum += k < image.size() ? image[k] : 0xFF;
        } else {
            add_range(start, start + be32_at(image, entry + 4));
        }
    }
    return sum;
}

std::vector<uint8_t> build_object(const ObjSpec &desc, const std::string &path, Layout *layout) {
    if (desc.relno != 61 && desc.relno != 72) throw DescError("relno must be 61 or 72");
    ReleaseScope release(desc.relno);
    auto sections = write_sections(desc);
    const auto counts = record_counts(desc);

    std::vector<uint8_t> image(HEADER_SIZE, 0);
    append_tiv(desc, image);
    Layout l;
    for (int i : file_order(desc)) {
        const SectionOverride &ov = desc.sections[size_t(i)];
        const std::vector<uint8_t> &bytes = ov.raw ? *ov.raw : sections[size_t(i)];
        image.insert(image.end(), ov.gap, desc.filler);
        l.start[size_t(i)] = uint32_t(image.size());
        l.size[size_t(i)] = uint32_t(bytes.size());
        image.insert(image.end(), bytes.begin(), bytes.end());
        if (i != SEC_IDENTS) continue;
        if (desc.descriptions) {
            l.descriptions = uint32_t(image.size());
            auto d = write_descriptions(desc);
            image.insert(image.end(), d.begin(), d.end());
        }
        if (desc.addinfo) {
            l.addinfo = uint32_t(image.size());
            auto a = write_addinfo(desc);
            image.insert(image.end(), a.begin(), a.end());
        }
    }
    l.end = uint32_t(image.size());
    if (layout) *layout = l;

    Layout table = l;
    std::array<uint16_t, NSECTIONS> count = counts;
    for (size_t i = 0; i < NSECTIONS; ++i) {
        const SectionOverride &ov = desc.sections[i];
        table.start[i] = ov.start.value_or(table.start[i]);
        table.size[i] = ov.size.value_or(table.size[i]);
        count[i] = ov.count.value_or(count[i]);
    }
    std::vector<uint8_t> header = write_header(header_fields(desc, path), table, count);
    std::copy(header.begin(), header.end(), image.begin());

    uint32_t checksum = desc.header.checksum.value_or(object_checksum(image));
    checksum += uint32_t(desc.header.checksum_delta);
    for (int k = 0; k < 4; ++k)
        image[HEADER_CHECKSUM_AT + size_t(k)] = uint8_t(checksum >> (24 - 8 * k));

    apply_patches(desc, image);
    if (desc.hook) desc.hook(image);
    if (desc.truncate && *desc.truncate < image.size()) image.resize(*desc.truncate);
    return image;
}

void write_object_file(const ObjSpec &desc, const std::string &path) {
    std::vector<uint8_t> image = build_object(desc, path);
    std::filesystem::path p(path);
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(image.data()), std::streamsize(image.size()));
    out.close();
    if (!out) throw DescError("cannot write '" + path + "'");
}

std::string object_path(const std::string &objroot, const std::string &name) {
    std::string file = "o" + (name.size() > 3 ? name.substr(3) : std::string());
    return objroot + "/" + name.substr(0, 6) + "/" + file;
}

// ---------------------------------------------------------------------------
// The text description format (see objwriter.h)

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

std::string_view trim(std::string_view t) {
    size_t b = t.find_first_not_of(" \t\r");
    if (b == std::string_view::npos) return {};
    size_t e = t.find_last_not_of(" \t\r");
    return t.substr(b, e - b + 1);
}

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
