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

#include "al_env.h"
#include "al_strm.h"
#include "assembler.h"
#include "zel.h"
#include "zel_asm.h"
#include "zel_obj.h"

namespace objw {

namespace {

constexpr uint32_t SUB_LINK_FIXED = 10;
constexpr uint16_t ADDINFO_FORMAT = 1;
constexpr size_t TIV_FILLER_MAX = 1 << 20;

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
    for (;;) {
        Cursor text(code.data() + p, code.size() - p, "code");
        if (text.u8() != op::SUB_TEXT) break;
        uint32_t len = text.u32();
        uint16_t funnr = text.u16();
        if (!text.ok()) break;
        found.emplace_back(funnr, uint32_t(p));
        if (len == 0 || len > code.size() - p) break;
        Cursor link(code.data() + p + len, code.size() - p - len, "code");
        if (link.u8() != op::SUB_LINK) break;
        uint32_t link_len = link.u32();
        if (!link.ok() || link_len == 0) break;
        p += len + link_len;
        if (p >= code.size()) break;
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
    o.u32(uint32_t(layout::ADDINFO_HEADER + d.size()));
    o.u16(ADDINFO_FORMAT);
    o.u16(uint16_t(layout::ADDINFO_HEADER));
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

// The header bytes with the checksum field 0.
std::vector<uint8_t> write_header(const HeaderFields &h, const Layout &l,
                                  const std::array<uint16_t, NSECTIONS> &count) {
    std::vector<uint8_t> header(HEADER_SIZE, 0);
    std::copy_n(h.magic.begin(), std::min(h.magic.size(), layout::MAGIC_SIZE), header.begin());
    size_t at = layout::RELNO_AT;
    for (int32_t v : {h.relno, h.bytesheader, h.startdate, h.enddate, h.options, h.flags,
                      h.count_extern, h.obj_revision, h.fsm}) {
        put_be_at(header, at, uint32_t(v), 4);
        at += 4;
    }
    for (size_t i = 0; i < NSECTIONS; ++i) {
        at = layout::SECTION_TABLE_AT + i * layout::SECTION_ENTRY_SIZE;
        put_be_at(header, at, l.start[i], 4);
        put_be_at(header, at + 4, l.size[i], 4);
        put_be_at(header, at + 8, count[i], 2);
    }
    return header;
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

bool is_number(std::string_view t) {
    return !t.empty() &&
           std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

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

void put_be(std::vector<uint8_t> &code, uint64_t value, unsigned width) {
    for (unsigned i = width; i-- > 0;)
        code.push_back(uint8_t(value >> (8 * i)));
}

void put_be_at(std::vector<uint8_t> &code, size_t at, uint64_t value, unsigned width) {
    for (unsigned i = 0; i < width; ++i)
        code[at + i] = uint8_t(value >> (8 * (width - 1 - i)));
}

size_t open_sub_text(std::vector<uint8_t> &code, uint16_t funnr) {
    size_t at = code.size();
    code.push_back(op::SUB_TEXT);
    put_be(code, 0, 4);
    put_be(code, funnr, 2);
    return at;
}

void close_sub_text(std::vector<uint8_t> &code, size_t at, std::optional<uint32_t> length) {
    put_be_at(code, at + 1, length.value_or(uint32_t(code.size() - at)), 4);
}

void append_sub_link(std::vector<uint8_t> &code, const std::vector<uint16_t> &args,
                     const std::vector<uint16_t> &locals, const std::vector<uint16_t> &globals,
                     std::optional<uint32_t> length) {
    code.push_back(op::SUB_LINK);
    put_be(code,
           length.value_or(
               uint32_t(SUB_LINK_FIXED + 2 * (args.size() + locals.size() + globals.size()))),
           4);
    put_be(code, args.size(), 1);
    put_be(code, locals.size(), 2);
    put_be(code, globals.size(), 2);
    for (const auto *words : {&args, &locals, &globals})
        for (uint16_t w : *words)
            put_be(code, w, 2);
}

std::vector<uint8_t> function_frame(uint16_t funnr, const std::vector<uint8_t> &body,
                                    const std::vector<uint16_t> &args,
                                    const std::vector<uint16_t> &locals,
                                    const std::vector<uint16_t> &globals) {
    std::vector<uint8_t> f;
    size_t at = open_sub_text(f, funnr);
    f.insert(f.end(), body.begin(), body.end());
    f.push_back(op::RET);
    close_sub_text(f, at);
    append_sub_link(f, args, locals, globals);
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
// The header bytes in front of the checksum field, and the sections as the
// header's table (as it stands in the image) places them.
uint32_t object_checksum(const std::vector<uint8_t> &image) {
    auto view = [&image](uint64_t start, uint64_t size, uint8_t fill = 0) {
        size_t present =
            start < image.size() ? size_t(std::min<uint64_t>(size, image.size() - start)) : 0;
        return ByteView{image.data() + std::min<uint64_t>(start, image.size()), present,
                        size_t(size), fill};
    };
    uint32_t sum = byte_sum(view(0, layout::CHECKSUM_AT));
    if (image.size() < HEADER_SIZE) return sum;
    ObjHeader h;
    Cursor table(view(layout::SECTION_TABLE_AT, layout::SECTION_ENTRY_SIZE * NSECTIONS),
                 "section table");
    for (int i = 0; i < NSECTIONS; ++i) {
        h.start[i] = table.u32();
        h.size[i] = table.u32();
        table.u16();
        Region r = section_region(h, i);
        sum += byte_sum(view(r.start, r.size, r.fill));
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
        image[layout::CHECKSUM_AT + size_t(k)] = uint8_t(checksum >> (24 - 8 * k));

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

} // namespace objw
