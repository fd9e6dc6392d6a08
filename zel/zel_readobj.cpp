// Loading one object: open it, accept its header, read the thirteen sections
// in their fixed order into the symbol table model, read the two trailing
// blocks, print the report and compare the checksum.
//
// The object's bytes are taken once, with its header; every section is then
// found by its start offset and decoded in place through a bounded cursor.
// A section that lies partly or wholly past the end of the file reads as
// zeros there (its declared size costs no memory), and the checksum
// comparison decides; a record that runs past the end of its section ends
// the run with a message naming the section.
#include "zel_readobj.h"

#include <algorithm>
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
#include "zel_obj.h"
#include "zel_print.h"
#include "zel_symtab.h"

namespace {

// What one load carries from step to step, as the decoders see it: the
// object's header record, with the file that its regions are read from, and
// what the report will need. Each decoder reads a whole record through its
// cursor and checks it before the record has any effect. Symbols are made
// only when a block of the report can show them: with -c, -h and -f alone
// every record is read and checked just the same (with the same messages),
// but nothing is built.
struct LoadState {
    ObjHeader &hdr;
    bool build;   // symbols are made
    bool listing; // the code is kept for the listing
};

constexpr uint32_t SYMBOL_BLOCKS =
    INFO_ASM | INFO_DLLS | INFO_PROTO | INFO_SYMTAB | INFO_IDENTS | INFO_USAGE;

// Flag word of a symbol-table or function-table entry.
uint32_t read_flag(const LoadState &S, Cursor &c) {
    if (S.hdr.relno == 61) return object_flag(c.u8());
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
    fatal_system_error("read_symtab", "%s", message);
}

void decode_used_dlls(LoadState &, const ByteView &v, unsigned count, const char *what) {
    Cursor c(v, what);
    for (unsigned i = 0; i < count; i++) {
        const char *name = c.cstr();
        check_record(c);
        add_dll_list(name);
    }
}

void decode_symtab(LoadState &S, const ByteView &v, unsigned count, const char *what) {
    Cursor c(v, what);
    bool debug = S.hdr.flags & objflag::DEBUG;
    for (unsigned i = 0; i < count; i++) {
        uint32_t offset = uint32_t(c.pos());
        uint32_t flags = read_flag(S, c);
        check_record(c);
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
            check_record(c);
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
        check_record(c);
        if (!S.build) {
            check_symbol_count(i, name);
            continue;
        }
        Symbol *s = addsymbol(nullptr, name, flags | IDENTIFIER, TOK_VARIABLE, 0, 0, 0, 0);
        s->dim_count = uint16_t(dim_count);
        memcpy(s->dims, dims, sizeof dims);
        s->used = 1;
        s->offset = offset;
        zel.symnr[i] = s;
        add_symbol_list(s);
    }
}

void decode_funtab(LoadState &S, const ByteView &v, unsigned count, const char *what) {
    Cursor c(v, what);
    bool names_stored = S.hdr.relno == 72;
    bool debug_or_profile = S.hdr.flags & (objflag::DEBUG | objflag::PROFILE);
    for (unsigned i = 0; i < count; i++) {
        uint32_t flags = read_flag(S, c);
        uint32_t value = c.u32();
        char made[20];
        const char *name =
            entry_name(c, names_stored || (flags & EXTERN) || debug_or_profile, i, made);
        check_record(c);
        DllEntry *dll = flags == (FUNCTION | EXTERN) ? search_dll(value) : nullptr;
        if (!S.build) continue;
        Symbol *f = zel.funnr[i];
        if (!f) {
            f = addsymbol(nullptr, name, flags | IDENTIFIER, TOK_FUNCTION, 0, 0, 0, 0);
            zel.funnr[i] = f;
        }
        f->used = 1;
        if (flags == (FUNCTION | EXTERN))
            f->dll = dll;
        else
            f->offset = value;
        add_fun_list(f);
    }
}

void decode_global_functions(LoadState &S, const ByteView &v, unsigned count, const char *what) {
    Cursor c(v, what);
    for (unsigned i = 0; i < count; i++) {
        const char *name = c.cstr();
        check_record(c);
        if (S.build)
            add_glob_fun_list(
                addsymbol(nullptr, name, FUNCTION | IDENTIFIER, TOK_FUNCTION, 0, 0, 0, 0));
    }
}

// The text of an entry runs up to its NUL; the length only steps to the next
// entry, so texts may run on into the entries behind them. The texts are
// kept in the section as read, which stays for the report: however they
// overlap, they take no more memory than the section.
void decode_strings(LoadState &S, const ByteView &v, unsigned count, const char *what) {
    if (S.build) zel.strings = ByteView::of(v.data, v.avail);
    Cursor c(v, what);
    for (unsigned i = 0; i < count; i++) {
        size_t start = c.pos();
        unsigned length = c.u16();
        const char *text = c.cstr();
        check_record(c);
        if (S.build) add_str_list(constant(text, TOK_STRING, true));
        c.seek(start + length + layout::STRING_RECORD_EXTRA);
    }
}

void decode_doubles(LoadState &S, const ByteView &v, unsigned count, const char *what) {
    Cursor c(v, what);
    for (unsigned i = 0; i < count; i++) {
        const char *text = c.cstr();
        check_record(c);
        if (S.build) add_dbl_list(constant(text, TOK_DOUBLE));
    }
}

// A record cut short is corrupt; it is rejected before its name is looked
// up, so the run ends with that one message.
void decode_domains(LoadState &S, const ByteView &v, unsigned count, const char *what) {
    Cursor c(v, what);
    for (unsigned i = 0; i < count; i++) {
        const char *name = c.cstr();
        unsigned n = c.u16();
        c.need(size_t(n) * 4);
        check_record(c);
        const DomainRec *dom = search_domain(name);
        if (!dom) error("Domain '%s' not found in data dictionary.", name);
        if (!S.build) {
            c.skip(size_t(n) * 4);
            continue;
        }
        for (unsigned k = 0; k < n; k++) {
            Symbol *s = search_off(c.u32(), zel.sym.head);
            if (s) s->domain = dom;
        }
    }
}

void decode_idents(LoadState &S, const ByteView &v, unsigned count, const char *what) {
    Cursor c(v, what);
    for (unsigned i = 0; i < count; i++) {
        const char *text = c.cstr();
        check_record(c);
        if (S.build) add_ident_list(constant(text, TOK_STRING));
    }
}

// How each section after the prototypes is decoded, in the order the
// sections are read; a compnr check is one long, kept in the header record.
struct SectionStep {
    int index;
    void (*decode)(LoadState &S, const ByteView &, unsigned count, const char *name);
    int compnr; // 1 to 3 for a compnr check, else 0
};

const SectionStep section_steps[] = {
    {SEC_USED_DLLS, decode_used_dlls, 0},
    {SEC_CODE, nullptr, 0},
    {SEC_COMPNR1, nullptr, 1},
    {SEC_SYMTAB, decode_symtab, 0},
    {SEC_COMPNR2, nullptr, 2},
    {SEC_FUNTAB, decode_funtab, 0},
    {SEC_GLOBFUN, decode_global_functions, 0},
    {SEC_STRINGS, decode_strings, 0},
    {SEC_COMPNR3, nullptr, 3},
    {SEC_DOUBLES, decode_doubles, 0},
    {SEC_DOMAINS, decode_domains, 0},
    {SEC_IDENTS, decode_idents, 0},
};

// Sections that stay once decoded: the code for the listing, the strings,
// whose texts the string list keeps, and the domains, which the report walks
// again. The others are released at once (symbols keep copies of names).
bool kept_for_report(const LoadState &S, int index) {
    if (index == SEC_CODE) return S.listing;
    return S.build && (index == SEC_STRINGS || index == SEC_DOMAINS);
}

// Every section is found by its start offset.
ByteView read_sections(LoadState &S) {
    ObjHeader &h = S.hdr;
    ByteView domains;
    for (const SectionStep &step : section_steps) {
        if (step.index == SEC_CODE && !kept_for_report(S, SEC_CODE)) {
            sum_section(h, SEC_CODE); // not listed: summed as it passes
            continue;
        }
        ByteView v = read_section(h, step.index);
        const char *name = section_info[step.index].name;
        if (step.compnr) h.compnr_check[step.compnr - 1] = int32_t(Cursor(v, name).u32());
        if (step.index == SEC_CODE) zel.code = v; // listed last, if at all
        if (step.index == SEC_DOMAINS) domains = v;
        if (step.decode) step.decode(S, v, h.count[step.index], name);
        if (kept_for_report(S, step.index)) continue;
        h.file->release(v);
    }
    return domains;
}

uint64_t idents_end(const LoadState &S) {
    return uint64_t(S.hdr.start[SEC_IDENTS]) + S.hdr.size[SEC_IDENTS];
}

// The additional information block: text records guarded by a checksum of
// their own. Its texts are not shown. The block is found behind the
// descriptions block through its length field; when that field or the
// block's own fields are not in the file (an object cut short), there is no
// block to check, and nothing past the end of the file is taken for one.
// Text records cut short by the end of the file read as empty texts.
// The length field of the descriptions block, at the end of the idents
// section; false when its four bytes are not in the file.
bool descriptions_length(const LoadState &S, uint32_t &length) {
    ObjectFile &file = *S.hdr.file;
    ByteView field = file.read(idents_end(S), layout::DESCRIPTIONS_LENGTH_SIZE);
    bool there = field.avail == layout::DESCRIPTIONS_LENGTH_SIZE && !file.error();
    length = Cursor(field, "").u32();
    file.release(field);
    return there;
}

void read_additional_info(const LoadState &S) {
    ObjectFile &file = *S.hdr.file;
    uint32_t descriptions;
    if (!descriptions_length(S, descriptions)) return;
    uint64_t block = idents_end(S) + layout::DESCRIPTIONS_LENGTH_SIZE + descriptions;
    ByteView head = file.read(block, layout::ADDINFO_HEADER);
    bool there = head.avail == layout::ADDINFO_HEADER && !file.error();
    Cursor fields(head, "additional information block");
    fields.u32(); // total length
    fields.u16(); // format
    unsigned header_length = fields.u16();
    uint32_t data_length = fields.u32();
    unsigned records = fields.u16();
    uint32_t stored = fields.u32();
    file.release(head);
    if (!there) return;
    if (data_length == 0) return;
    ByteView data = read_block(S.hdr, block + header_length, data_length, "read_watermark");
    Cursor c(data, "additional information block");
    uint32_t sum = 0;
    for (unsigned i = 0; i < records; i++) {
        const char *text = c.cstr();
        check_record(c);
        for (const char *p = text; *p; p++)
            sum += uint8_t(*p);
    }
    file.release(data);
    if (stored != sum)
        error("checksum for additional info failed, expected %d, but found %d", int(stored),
              int(sum));
}

// A text of `length` bytes (NUL included) at the cursor; the NUL must be
// among them. A length of 0 (as in a block cut short by the end of the
// file, which reads as zeros) is the empty text.
const char *bounded_text(Cursor &c, uint32_t length) {
    c.need(length);
    check_record(c);
    if (length == 0) return "";
    size_t start = c.pos();
    const char *text = c.cstr();
    if (!c.ok() || c.pos() - start > length)
        fatal_error("Object is corrupt: a text of the descriptions block has no end");
    return text;
}

// The descriptions block: the DLL usage description and one description per
// exported function. A record whose function number has no function symbol
// is passed over.
void read_descriptions(const LoadState &S) {
    uint32_t length;
    if (!descriptions_length(S, length)) return; // no descriptions
    // The block stays: the descriptions point into it.
    Cursor c(read_block(S.hdr, idents_end(S) + layout::DESCRIPTIONS_LENGTH_SIZE, length,
                        "read_descriptions"),
             "descriptions block");
    // The block is not covered by the checksum; read_block counted it.
    unsigned functions = c.u16();
    uint32_t usage_length = c.u32();
    check_record(c);
    if (usage_length) {
        size_t start = c.pos();
        zel.dll_usage = bounded_text(c, usage_length);
        c.seek(start + usage_length);
    }
    for (unsigned i = 0; i < functions; i++) {
        size_t start = c.pos();
        uint32_t text_length = c.u32();
        unsigned number = c.u16();
        check_record(c);
        const char *text = bounded_text(c, text_length);
        if (number < zel.funnr.size() && zel.funnr[number]) zel.funnr[number]->description = text;
        c.seek(start + layout::DESCRIPTION_HEAD + size_t(text_length));
    }
}

// Room for the symbols that the section counts announce, each with a name
// of its own: the stored names take no more than their sections, and a name
// made from an index ("<%d>") eight bytes. The room is only made ahead of
// time as far as the file can hold the records (a record takes at least a
// byte of it); records that read as zeros past its end get room as they come.
void reserve_for_sections(const LoadState &S) {
    const ObjHeader &h = S.hdr;
    size_t symbols = 0, text = 0;
    for (int i : {SEC_SYMTAB, SEC_FUNTAB, SEC_GLOBFUN, SEC_STRINGS, SEC_DOUBLES, SEC_IDENTS}) {
        symbols += h.count[i];
        if (i != SEC_STRINGS) text += h.size[i]; // string texts stay in their section
    }
    const size_t file = size_t(h.file->size_hint());
    symbols = std::min(symbols, file);
    text = std::min(text, file) +
           8 * std::min(size_t(h.count[SEC_SYMTAB]) + h.count[SEC_FUNTAB], file);
    reserve_symbols(symbols, symbols, text);
}

STREAM *open_object() {
    STREAM *s = open_object_stream(zel.objname.c_str());
    if (!s)
        fatal_system_error(zel.objname.c_str(), "Can't open object '%s' for reading",
                           zel.objname.c_str());
    return s;
}

} // namespace

LoadedObject load_object() {
    STREAM *s = open_object();
    return load_object(s, get_last_exploded_fname_ptr());
}

LoadedObject load_object(STREAM *s, const std::string &path) {
    Rtot_bytes = 0;
    const char *objname = zel.objname.c_str();
    zel.hdr.tiv.reset();
    int rc = read_header(zel.hdr, s, objname, path.c_str());
    if (rc == -1) fatal_error("object '%s' not in proper format.", objname);
    if (rc == -2) fatal_error("object '%s' has incorrect path or name.", objname);

    zel.symnr.assign(zel.hdr.count[SEC_SYMTAB], nullptr);
    zel.funnr.assign(zel.hdr.count[SEC_FUNTAB], nullptr);
    LoadState S{zel.hdr, (zel.info & SYMBOL_BLOCKS) != 0 || (zel.info & INFO_ALL) == INFO_ALL,
                (zel.info & INFO_ASM) != 0};
    if (S.build) reserve_for_sections(S);

    read_prototypes(zel.hdr, nullptr, create_function_symbol, create_function_arg, nullptr,
                    nullptr);
    ByteView domains = read_sections(S);

    uint32_t saved = Rtot_bytes;
    if (zel.hdr.flags & objflag::ADDINFO) read_additional_info(S);
    Rtot_bytes = saved;
    read_descriptions(S);
    Rtot_bytes = saved;
    return {s, domains, saved};
}

void close_object(LoadedObject &obj) {
    zel.hdr.tiv.reset();
    if (zel.hdr.file) zel.hdr.file->detach();
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
