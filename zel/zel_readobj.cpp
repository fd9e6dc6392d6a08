// Loading one object: open it, accept its header, read the thirteen sections
// in their fixed order into the symbol table model, read the two trailing
// blocks, print the report and compare the checksum.
//
// Every section is fetched with one seek and one block read and decoded in
// memory through a bounded cursor. Damaged objects are rejected before
// anything is allocated for them:
// - a section that starts past the end of the file, or whose end lies more
//   than SECTION_OVERRUN_LIMIT bytes past it, makes the object corrupt; a
//   section cut short by less is decoded from the zero-filled rest of its
//   buffer (and the checksum comparison then fails);
// - a trailing block (descriptions, additional information) must lie wholly
//   inside the file;
// - a record that runs past the end of its section ends the run with a
//   message naming the section.
#include "zel_readobj.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "al_env.h"
#include "al_strm.h"
#include "qpd.h"
#include "zel.h"
#include "zel_cursor.h"
#include "zel_dll.h"
#include "zel_error.h"
#include "zel_memory.h"
#include "zel_obj.h"
#include "zel_print.h"
#include "zel_symtab.h"

namespace {

constexpr size_t STREAM_NAME_MAX = 512;

using Buffer = std::vector<uint8_t>;

// What the loader knows about the open object.
struct Load {
    STREAM *s;
    long file_size;
    Buffer domains; // kept for the report
};

[[noreturn]] void read_failure(const char *label) {
    int err = errno;
    perror(label);
    fatal_error("Error %d while reading '%s'", err, zel.objname.c_str());
}

void check_stream(const Load &ld, const char *label) {
    if (serror(ld.s)) read_failure(label);
}

// Rejects a region that starts past the end of the file or ends more than
// `slack` bytes past it.
void check_extent(const Load &ld, uint64_t start, uint64_t size, uint64_t slack, const char *what) {
    uint64_t end = uint64_t(ld.file_size);
    if (start > end || start + size > end + slack)
        fatal_error("Object is corrupt: %s lies past the end of the file", what);
}

void seek_to(const Load &ld, uint64_t offset, const char *label) {
    if (sseek(ld.s, long(offset), 0) < 0) read_failure(label);
}

// Reads `size` bytes at `start` as one block into a zero-filled buffer.
Buffer read_section(const Load &ld, uint32_t start, uint32_t size, const char *label) {
    seek_to(ld, start, label);
    Buffer buf = zeroed_buffer(size);
    if (size) read_obj_block(buf.data(), size, ld.s);
    check_stream(ld, label);
    return buf;
}

// Flag word of a symbol-table or function-table entry.
uint32_t read_flag(Cursor &c) {
    if (zel.hdr.relno == 61) return object_flag(c.u8());
    return c.u32();
}

// Width in bytes of the size values of a symbol-table entry.
unsigned size_width(uint32_t flags) {
    switch (flags & (SIZE16 | SIZE32)) {
    case SIZE16:
        return 2;
    case SIZE32:
        return 4;
    default:
        return 1;
    }
}

// Name stored with an entry, or one made from its index.
const char *entry_name(Cursor &c, bool stored, long index, char (&made)[20]) {
    if (stored) return c.cstr();
    snprintf(made, sizeof made, "<%ld>", index);
    return made;
}

[[noreturn]] void corrupt_symtab(const char *message) {
    perror("read_symtab");
    fatal_error("%s", message);
}

void decode_used_dlls(Load &, Buffer &buf, unsigned count, const char *name) {
    Cursor c(buf.data(), buf.size(), name);
    for (unsigned i = 0; i < count; i++)
        add_dll_list(c.cstr());
}

void decode_symtab(Load &, Buffer &buf, unsigned count, const char *name) {
    init_object_flags();
    Cursor c(buf.data(), buf.size(), name);
    bool debug = zel.hdr.flags & objflag::DEBUG;
    for (unsigned i = 0; i < count; i++) {
        uint32_t offset = uint32_t(c.pos());
        uint32_t flags = read_flag(c);
        if (flags & EXT_SYM) corrupt_symtab("EXT_SYM symbol type is not supported");

        int32_t dims[4] = {0, 0, 0, 0};
        unsigned dim_count = 0;
        unsigned width = size_width(flags);
        uint32_t width_bit = flags & (SIZE16 | SIZE32);
        if (width_bit == (SIZE16 | SIZE32)) width_bit = 0;
        if (flags & DD_NAME) {
            // no size data
        } else if (flags & ARRAY) {
            dim_count = c.u8();
            if (dim_count > 4) corrupt_symtab("Object is corrupt");
            // The values stand from the last slot to the first.
            for (unsigned k = 0; k < dim_count; k++)
                dims[dim_count - 1 - k] = int32_t(c.uint(width));
            flags &= ~width_bit;
        } else if (flags & STRING) {
            dims[0] = int32_t(c.uint(width));
            dim_count = 1;
            flags &= ~width_bit;
        }

        char made[20];
        const char *name = entry_name(c, (flags & EXTERN) || debug, i, made);
        Symbol *s = addsymbol(nullptr, name, flags | IDENTIFIER, TOK_VARIABLE, 0, 0, 0, 0);
        s->dim_count = uint16_t(dim_count);
        memcpy(s->dims, dims, sizeof dims);
        s->used = 1;
        s->offset = offset;
        zel.symnr[i] = s;
        add_symbol_list(s);
    }
}

void decode_funtab(Load &, Buffer &buf, unsigned count, const char *name) {
    init_object_flags();
    Cursor c(buf.data(), buf.size(), name);
    bool names_stored = zel.hdr.relno == 72;
    bool debug_or_profile = zel.hdr.flags & (objflag::DEBUG | objflag::PROFILE);
    for (unsigned i = 0; i < count; i++) {
        uint32_t flags = read_flag(c);
        uint32_t value = c.u32();
        char made[20];
        const char *name =
            entry_name(c, names_stored || (flags & EXTERN) || debug_or_profile, i, made);
        Symbol *f = zel.funnr[i];
        if (!f) {
            f = addsymbol(nullptr, name, flags | IDENTIFIER, TOK_FUNCTION, 0, 0, 0, 0);
            zel.funnr[i] = f;
        }
        f->used = 1;
        if (flags == (FUNCTION | EXTERN))
            f->dll = search_dll(value);
        else
            f->offset = value;
        add_fun_list(f);
    }
}

void decode_global_functions(Load &, Buffer &buf, unsigned count, const char *name) {
    Cursor c(buf.data(), buf.size(), name);
    for (unsigned i = 0; i < count; i++) {
        Symbol *s = addsymbol(nullptr, c.cstr(), FUNCTION | IDENTIFIER, TOK_FUNCTION, 0, 0, 0, 0);
        add_glob_fun_list(s);
    }
}

void decode_strings(Load &, Buffer &buf, unsigned count, const char *name) {
    Cursor c(buf.data(), buf.size(), name);
    for (unsigned i = 0; i < count; i++) {
        size_t start = c.pos();
        unsigned length = c.u16();
        // The text runs up to its NUL; the length only steps to the next entry.
        add_str_list(constant(c.cstr(), TOK_STRING));
        if (i + 1 < count) c.seek(start + length + 3);
    }
}

void decode_doubles(Load &, Buffer &buf, unsigned count, const char *name) {
    Cursor c(buf.data(), buf.size(), name);
    for (unsigned i = 0; i < count; i++)
        add_dbl_list(constant(c.cstr(), TOK_DOUBLE));
}

void decode_domains(Load &ld, Buffer &buf, unsigned count, const char *name) {
    Cursor c(buf.data(), buf.size(), name);
    for (unsigned i = 0; i < count; i++) {
        const char *name = c.cstr();
        unsigned n = c.u16();
        // A record cut short is corrupt; it is rejected before its name is
        // looked up, so the run ends with that one message.
        c.need(size_t(n) * 4);
        const DomainRec *dom = search_domain(name);
        if (!dom) error("Domain '%s' not found in data dictionary.", name);
        for (unsigned k = 0; k < n; k++) {
            Symbol *s = search_off(c.u32(), zel.sym.head);
            if (s) s->domain = dom;
        }
    }
    ld.domains = std::move(buf);
}

void decode_idents(Load &, Buffer &buf, unsigned count, const char *name) {
    Cursor c(buf.data(), buf.size(), name);
    for (unsigned i = 0; i < count; i++)
        add_ident_list(constant(c.cstr(), TOK_STRING));
}

// The sections after the prototypes, in the order they are read.
struct SectionStep {
    int index;
    const char *label; // step label of read errors
    const char *name;  // how corrupt-object messages name the section
    void (*decode)(Load &, Buffer &, unsigned count, const char *name);
    int compnr; // 1 to 3 for a compnr check (one long), else 0
};

const SectionStep section_steps[] = {
    {SEC_USED_DLLS, "read_used_dlls", "used DLL's section", decode_used_dlls, 0},
    {SEC_CODE, "read_object_code", "object section", nullptr, 0},
    {SEC_COMPNR1, "read_compnr_check_1", "compnr check 1", nullptr, 1},
    {SEC_SYMTAB, "read_symtab", "symtab section", decode_symtab, 0},
    {SEC_COMPNR2, "read_compnr_check_2", "compnr check 2", nullptr, 2},
    {SEC_FUNTAB, "read_funtab", "funtab section", decode_funtab, 0},
    {SEC_GLOBFUN, "read_global_functions", "glob fun section", decode_global_functions, 0},
    {SEC_STRINGS, "read_strings", "strings section", decode_strings, 0},
    {SEC_COMPNR3, "read_compnr_check_3", "compnr check 3", nullptr, 3},
    {SEC_DOUBLES, "read_doubles", "doubles section", decode_doubles, 0},
    {SEC_DOMAINS, "read_domains", "domains section", decode_domains, 0},
    {SEC_IDENTS, "read_idents", "idents section", decode_idents, 0},
};

void check_section_extents(const Load &ld) {
    const ObjHeader &h = zel.hdr;
    check_extent(ld, h.start[SEC_PROTOTYPES], h.size[SEC_PROTOTYPES], SECTION_OVERRUN_LIMIT,
                 "the prototypes section");
    for (const SectionStep &step : section_steps) {
        uint32_t size = step.compnr ? 4 : h.size[step.index];
        char what[64];
        snprintf(what, sizeof what, "the %s", step.name);
        check_extent(ld, h.start[step.index], size, SECTION_OVERRUN_LIMIT, what);
    }
}

void read_sections(Load &ld) {
    ObjHeader &h = zel.hdr;
    for (const SectionStep &step : section_steps) {
        if (step.compnr) {
            seek_to(ld, h.start[step.index], step.label);
            h.compnr_check[step.compnr - 1] = int32_t(read_obj_long(ld.s));
            check_stream(ld, step.label);
            continue;
        }
        Buffer buf = read_section(ld, h.start[step.index], h.size[step.index], step.label);
        if (step.index == SEC_CODE)
            zel.code = std::move(buf);
        else
            step.decode(ld, buf, h.count[step.index], step.name);
    }
}

uint64_t idents_end() {
    return uint64_t(zel.hdr.start[SEC_IDENTS]) + zel.hdr.size[SEC_IDENTS];
}

// The additional information block: text records guarded by a checksum of
// their own. Its texts are not shown.
void read_additional_info(const Load &ld) {
    check_extent(ld, idents_end(), 4, 0, "the additional information block");
    seek_to(ld, idents_end(), "read_watermark");
    uint64_t block = idents_end() + 4 + read_obj_long(ld.s);
    check_extent(ld, block, 18, 0, "the additional information block");
    seek_to(ld, block, "read_watermark");
    read_obj_long(ld.s);  // total length
    read_obj_short(ld.s); // format
    unsigned header_length = read_obj_short(ld.s);
    uint32_t data_length = read_obj_long(ld.s);
    unsigned records = read_obj_short(ld.s);
    uint32_t stored = read_obj_long(ld.s);
    if (data_length == 0) return;
    check_extent(ld, block + header_length, data_length, 0, "the additional information block");
    Buffer data = read_section(ld, uint32_t(block + header_length), data_length, "read_watermark");
    Cursor c(data.data(), data.size(), "additional information block");
    uint32_t sum = 0;
    for (unsigned i = 0; i < records; i++) {
        for (const char *p = c.cstr(); *p; p++)
            sum += uint8_t(*p);
    }
    if (stored != sum)
        error("checksum for additional info failed, expected %d, but found %d", int(stored),
              int(sum));
}

// A text of `length` bytes (NUL included) at the cursor; the NUL must be
// among them.
const char *bounded_text(Cursor &c, uint32_t length) {
    c.need(length);
    const char *text = reinterpret_cast<const char *>(c.here());
    if (length == 0 || !memchr(text, 0, length))
        fatal_error("Object is corrupt: a text of the descriptions block has no end");
    return text;
}

// The descriptions block: the DLL usage description and one description per
// exported function. A record whose function number has no function symbol
// is passed over.
void read_descriptions(const Load &ld) {
    seek_to(ld, idents_end(), "read_descriptions");
    uint8_t raw[4];
    if (read_obj_block(raw, 4, ld.s) != 4) return; // no descriptions
    uint32_t length =
        uint32_t(raw[0]) << 24 | uint32_t(raw[1]) << 16 | uint32_t(raw[2]) << 8 | raw[3];
    check_extent(ld, idents_end() + 4, length, 0, "the descriptions block");
    zel.descriptions.assign(length, 0);
    if (length) read_obj_block(zel.descriptions.data(), length, ld.s);
    check_stream(ld, "read_descriptions");

    Cursor c(reinterpret_cast<const uint8_t *>(zel.descriptions.data()), length,
             "descriptions block");
    unsigned functions = c.u16();
    uint32_t usage_length = c.u32();
    if (usage_length) {
        zel.dll_usage = bounded_text(c, usage_length);
        c.skip(usage_length);
    }
    for (unsigned i = 0; i < functions; i++) {
        size_t start = c.pos();
        uint32_t text_length = c.u32();
        unsigned number = c.u16();
        const char *text = bounded_text(c, text_length);
        if (number < zel.funnr.size() && zel.funnr[number]) zel.funnr[number]->description = text;
        if (i + 1 < functions) c.seek(start + 6 + text_length);
    }
}

STREAM *open_object() {
    char name[STREAM_NAME_MAX];
    int n = snprintf(name, sizeof name, "{nofdlog}F_OBJ:%s", zel.objname.c_str());
    STREAM *s = nullptr;
    if (n >= int(sizeof name))
        errno = ENAMETOOLONG; // the stream name would not fit
    else
        s = sopen(name, "r");
    if (!s) {
        perror(zel.objname.c_str());
        fatal_error("Can't open object '%s' for reading", zel.objname.c_str());
    }
    return s;
}

long file_size(STREAM *s) {
    long size = sseek(s, 0, 2);
    sseek(s, 0, 0);
    return size < 0 ? 0 : size;
}

} // namespace

LoadedObject load_object() {
    Rtot_bytes = 0;
    const char *objname = zel.objname.c_str();
    Load ld{open_object(), 0, {}};
    ld.file_size = file_size(ld.s);
    std::string path = get_last_exploded_fname_ptr();

    zel.hdr.tiv.reset();
    int rc = read_header(zel.hdr, ld.s, objname, path.c_str());
    if (rc == -1) fatal_error("object '%s' not in proper format.", objname);
    if (rc == -2) fatal_error("object '%s' has incorrect path or name.", objname);
    check_section_extents(ld);

    zel.symnr.assign(zel.hdr.count[SEC_SYMTAB], nullptr);
    zel.funnr.assign(zel.hdr.count[SEC_FUNTAB], nullptr);

    read_prototypes(zel.hdr, nullptr, create_function_symbol, create_function_arg, nullptr,
                    nullptr);
    read_sections(ld);

    uint32_t saved = Rtot_bytes;
    if (zel.hdr.flags & objflag::ADDINFO) read_additional_info(ld);
    Rtot_bytes = saved;
    read_descriptions(ld);
    Rtot_bytes = saved;
    return {ld.s, std::move(ld.domains), saved};
}

void close_object(LoadedObject &obj) {
    zel.hdr.tiv.reset();
    if (obj.stream) sclose(obj.stream);
    obj.stream = nullptr;
    zel.hdr.stream = nullptr;
}

void object_info() {
    LoadedObject obj = load_object();
    print_object_ex(zel.hdr, &obj.domains);
    if (zel.hdr.checksum != obj.checksum) {
        if (zel.info & INFO_CHECKSUM) stop(1);
        fatal_error("Illegal checksum %d expected %d\n", int(zel.hdr.checksum), int(obj.checksum));
    }
    close_object(obj);
}
