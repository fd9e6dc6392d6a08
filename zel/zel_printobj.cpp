// The report: rendering of symbol types, dimensions and options, dates, the
// header and flag blocks, and the report layout that prints the selected
// sections in their fixed order on standard output.
#include "zel_print.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "al_strm.h"
#include "qpd.h"
#include "zel.h"
#include "zel_asm.h"
#include "zel_cursor.h"
#include "zel_dll.h"
#include "zel_error.h"

namespace {

// ---------------------------------------------------------------------------
// Rendering tables
// ---------------------------------------------------------------------------

// A word printed when `bit` is set and `unless` is not.
struct FlagWord {
    uint32_t bit;
    uint32_t unless;
    const char *text;
};

// Storage class and declaration words in front of the type word.
constexpr FlagWord storage_words[] = {
    {COMMON, 0, " common"},   {EXTERN, 0, " extern"},       {STATIC, 0, " static"},
    {GLOBAL, 0, " global"},   {REF_ARG, CONST_ARG, " ref"}, {CONST_ARG, 0, " const"},
    {DD_NAME, 0, " DD_NAME"}, {TABLE, 0, " table"},
};

// Option words behind the dimension list (the where-used kind follows them).
constexpr FlagWord option_words[] = {
    {FIXED, 0, " fixed"},
    {BASED, REF_ARG, " based"},
    {TSS_STRING, 0, " mb"},
};

struct TypeWord {
    uint32_t bits;
    const char *text;
};

// Type word of each combination of type bits that has one.
constexpr TypeWord type_words[] = {
    {LONG, " long"},          {DOUBLE, " double"},
    {STRING, " string"},      {STRING | TSS_STRING, " string"},
    {BOOLEAN, " boolean"},    {BOOLEAN | LONG, " boolean"},
    {ENUM, " bset"},          {BITSET, " bset"},
    {ENUM | BITSET, " bset"},
};

// Object flags in the order in which the flags line names them.
struct ObjFlagName {
    uint32_t value;
    const char *name;
};
constexpr ObjFlagName object_flag_names[] = {
    {objflag::NOTRANSACTIONS, "NOTRANSACTIONS"},
    {objflag::PROFILE, "PROFILE"},
    {objflag::DEBUG, "DEBUG"},
    {objflag::DLL, "DLL"},
    {objflag::STICKY, "STICKY"},
};

// Sections listed in the OBJECT HEADER block, with their labels (tabs
// included); the compnr check sections are not listed.
struct SectionLabel {
    Section index;
    const char *label;
};
constexpr SectionLabel section_labels[] = {
    {SEC_PROTOTYPES, "prototypes\t"}, {SEC_USED_DLLS, "used DLL's\t"}, {SEC_CODE, "object\t\t"},
    {SEC_SYMTAB, "symtab\t\t"},       {SEC_FUNTAB, "funtab\t\t"},      {SEC_GLOBFUN, "glob fun\t"},
    {SEC_STRINGS, "strings\t\t"},     {SEC_DOUBLES, "doubles\t\t"},    {SEC_DOMAINS, "domains\t\t"},
    {SEC_IDENTS, "idents\t\t"},
};

// ---------------------------------------------------------------------------
// Banners
// ---------------------------------------------------------------------------

constexpr size_t BANNER_WIDTH = 72;
constexpr size_t BANNER_LEAD = 27;

// Prints the banner line of a block: 27 hyphens, the title, hyphens up to
// the full width. Every banner but the first of the report follows an empty
// line.
void print_banner(const char *title, bool empty_line_before = true) {
    std::string line(BANNER_LEAD, '-');
    line += title;
    if (line.size() < BANNER_WIDTH) line.append(BANNER_WIDTH - line.size(), '-');
    printf("%s%s\n", empty_line_before ? "\n" : "", line.c_str());
}

void print_flag_words(uint32_t flags, const FlagWord *first, const FlagWord *last) {
    for (const FlagWord *w = first; w != last; ++w)
        if ((flags & w->bit) && !(flags & w->unless)) fputs(w->text, stdout);
}

const char *type_word(uint32_t flags) {
    for (const TypeWord &t : type_words)
        if ((flags & TYPE_BITS) == t.bits) return t.text;
    return nullptr;
}

bool all_info_bits() {
    return (zel.info & INFO_ALL) == INFO_ALL;
}

// ---------------------------------------------------------------------------
// Calendar
// ---------------------------------------------------------------------------

constexpr int32_t LAST_DAY = 3652059; // 9999-12-31
constexpr int32_t DAYS_400Y = 146097, DAYS_100Y = 36524, DAYS_4Y = 1461, DAYS_1Y = 365;

bool leap_year(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

} // namespace

// ---------------------------------------------------------------------------
// Symbol rendering
// ---------------------------------------------------------------------------

void print_type(const Symbol *s) {
    print_flag_words(s->flags, std::begin(storage_words), std::end(storage_words));
    if (s->domain) {
        char name[32];
        printf(" domain %s", dddomainname_from_domain(s->domain, name));
        return;
    }
    const char *word = type_word(s->flags);
    if (!word) return;
    const bool optional = s->flags & OPTIONAL_ARG;
    if (optional) fputs(" [", stdout);
    fputs(word, stdout);
    if (optional) fputs(" ]", stdout);
}

void print_dims(const Symbol *s) {
    // With a domain, the string length in slot 0 is part of the domain.
    const int first = (s->domain && (s->flags & STRING)) ? 1 : 0;
    const int last = int(s->dim_count) - 1;
    if (first > last) return;
    fputc('(', stdout);
    for (int k = first; k <= last && k < 4; ++k) {
        if (k > first) fputc(',', stdout);
        if (!(s->flags & REF_ARG)) printf("%d", s->dims[k]);
    }
    fputc(')', stdout);
}

void print_type_options(const Symbol *s) {
    print_flag_words(s->flags, std::begin(option_words), std::end(option_words));
    if (s->flags & WHERE_USED) printf(" whereused %d", int(s->whereused));
}

void print_symbol_text(const Symbol *s) {
    print_type(s);
    printf(" %s", s->name);
    print_dims(s);
    print_type_options(s);
}

// Arguments after the required ones stand in brackets; a variable argument
// list ends with an ellipsis. Two prototypes are parted by an empty line.
void print_prototype(const Symbol *fn) {
    printf("function");
    print_type(fn);
    printf(" %s(\n\t", fn->name);
    int position = 1;
    for (const Symbol *arg = fn->next_arg; arg; arg = arg->next_arg, position++) {
        if (position > 1) printf(",\n\t");
        bool optional = position > required_args(*fn);
        if (optional) printf(" [");
        print_symbol_text(arg);
        if (optional) printf(" ]");
    }
    if (arg_count(*fn) == VARIABLE_ARGS) printf(fn->next_arg ? ",\n\t ..." : " ...");
    printf(" )\n\n");
}

// Day 1 is 1 January of year 1 in the proleptic Gregorian calendar. Numbers
// outside the years 1 to 9999 give the pattern with blank digits.
std::string date_to_str(int32_t day) {
    if (day < 1 || day > LAST_DAY) return "    -  -  ";
    int32_t n = day - 1;
    int year = 1 + 400 * (n / DAYS_400Y);
    n %= DAYS_400Y;
    int32_t centuries = n / DAYS_100Y;
    if (centuries == 4) centuries = 3; // last day of a 400-year cycle
    year += 100 * centuries;
    n -= centuries * DAYS_100Y;
    year += 4 * (n / DAYS_4Y);
    n %= DAYS_4Y;
    int32_t years = n / DAYS_1Y;
    if (years == 4) years = 3; // last day of a 4-year cycle
    year += years;
    n -= years * DAYS_1Y;

    static constexpr int month_days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int month = 0;
    for (; month < 11; ++month) {
        int len = month_days[month] + (month == 1 && leap_year(year) ? 1 : 0);
        if (n < len) break;
        n -= len;
    }
    char text[32];
    snprintf(text, sizeof text, "%04d-%02d-%02d", year, month + 1, int(n) + 1);
    return text;
}

// ---------------------------------------------------------------------------
// Header blocks
// ---------------------------------------------------------------------------

void print_object_flags(const ObjHeader &hdr) {
    const uint32_t flags = uint32_t(hdr.flags);
    if ((zel.info & INFO_FLAGS) && !(zel.info & INFO_HEADER)) {
        if (zel.flagmask != 0) stop((flags & zel.flagmask) == zel.flagmask ? 0 : 1);
        print_banner("OBJECT FLAGS");
    }
    std::string text;
    for (const ObjFlagName &f : object_flag_names)
        if (flags & f.value) text += std::to_string(f.value) + "=" + f.name + "  ";
    printf("object_flags\t= %s\n", text.c_str());
}

void print_header(const ObjHeader &hdr) {
    print_banner("GENERAL INFO", false);
    printf("Object\t\t= %s\n", hdr.objname.c_str());
    printf("Pathname\t= %s\n", hdr.pathname.c_str());
    print_banner("OBJECT HEADER");
    printf("Magic\t\t= %.*s\n", int(strnlen(hdr.magic, sizeof hdr.magic)), hdr.magic);
    printf("relno\t\t= %d\n", hdr.relno);
    printf("TIV\t\t= %d\n", hdr.tiv ? hdr.tiv->value : hdr.obj_revision);
    printf("bytesheader\t= %d\n", hdr.bytesheader);
    printf("startdate\t= %s\n", date_to_str(hdr.startdate).c_str());
    printf("enddate\t\t= %s\n", date_to_str(hdr.enddate).c_str());
    printf("options\t\t= %d\n", hdr.options & 0xFFFF);
    print_object_flags(hdr);
    printf("count_extern\t= %d\n", hdr.count_extern);
    printf("obj_revision\t= %d\n", hdr.obj_revision);
    printf("fsm\t\t= %d\n", hdr.fsm);
    for (const SectionLabel &sec : section_labels)
        printf("%s= start: %-6d size: %-6d count: %d\n", sec.label, int(hdr.start[sec.index]),
               int(hdr.size[sec.index]), int(hdr.count[sec.index]));
}

void print_compnr_checks(const ObjHeader &hdr) {
    print_banner("COMPNR CHECKS");
    for (int i = 0; i < 3; ++i)
        printf("Compnr check %d\t= %d\n", i + 1, hdr.compnr_check[i]);
}

// ---------------------------------------------------------------------------
// Symbol table sections
// ---------------------------------------------------------------------------

namespace {

void print_symbol_table() {
    print_banner("SYMBOL TABLE");
    for (const Symbol *s = zel.sym.head; s; s = s->next) {
        printf("%-3d", int(s->number));
        print_symbol_text(s);
        fputc('\n', stdout);
    }
}

// DLL USAGE DESCRIPTION and DLL PROTOTYPES, each with its function's
// description when -u is given too.
void print_dll_usage_and_prototypes() {
    const bool usage = zel.info & INFO_USAGE;
    if (usage && zel.dll_usage) {
        print_banner("DLL USAGE DESCRIPTION");
        printf("%s\n", zel.dll_usage);
    }
    if (!(zel.info & INFO_PROTO) || zel.dll_funcs.empty()) return;
    print_banner("DLL PROTOTYPES");
    for (const Symbol *fn : zel.dll_funcs) {
        print_prototype(fn);
        if (usage && fn->description) printf("%s\n", fn->description);
    }
}

// USED DLL'S, and the DLL HINTS unless the FUNCTION TABLE carries them.
void print_used_dlls_and_hints() {
    if (!(zel.info & INFO_DLLS) || !zel.dll_head) return;
    print_banner("USED DLL'S");
    for (const DllEntry *e = zel.dll_head; e; e = e->next)
        printf("Used DLL\t= %s\n", e->name.c_str());
    if (all_info_bits() || (zel.info & INFO_SYMTAB) || !zel.fun.head) return;
    print_banner("DLL HINTS");
    for (const Symbol *fn = zel.fun.head; fn; fn = fn->next) {
        if (!fn->dll) continue;
        printf("function %-25s ", fn->name);
        printf(dll_text::HINT, fn->dll->name.c_str());
        printf("\n");
    }
}

void print_function_table() {
    print_banner("FUNCTION TABLE");
    for (const Symbol *s = zel.fun.head; s; s = s->next) {
        printf("%-3d %s", int(s->number), s->name);
        if (s->dll) {
            putchar('\t');
            printf(dll_text::HINT, s->dll->name.c_str());
        }
        fputc('\n', stdout);
    }
}

// Prints a banner and one line per symbol of a list, unless the list is empty.
void print_symbol_names(const char *title, const SymList &list, const char *format) {
    if (!list.head) return;
    print_banner(title);
    for (const Symbol *s = list.head; s; s = s->next)
        printf(format, s->name);
}

// The domain buffer holds the records of the domain section: name, NUL, a
// 16-bit count n and n 4-byte offsets. The walk goes through a bounded
// reader; a record that runs past the end of the buffer ends the run with the
// reader's corrupt-object message (the loader has walked the same records
// before, so an object that loaded never gets there).
void print_domains(const ObjHeader &hdr, const ByteView &domains) {
    const unsigned count = hdr.count[SEC_DOMAINS];
    if (count == 0) return;
    print_banner("DOMAINS");
    Cursor in(domains, "domains");
    for (unsigned i = 0; i < count; ++i) {
        const char *name = in.cstr();
        check_record(in);
        printf("%s\n", name);
        in.skip(size_t(in.u16()) * 4);
    }
}

void print_idents() {
    if (zel.idents.empty()) return;
    print_banner("OBJECT IDENTS");
    for (const char *text : zel.idents)
        printf("%s\n", text);
}

// The listing's stream on descriptor 1, ended when the listing ends, also
// when a fatal error ends the run inside it. Descriptor 1 stays open for
// whatever is written after the listing.
struct ListingStream {
    STREAM *out;
    ~ListingStream() {
        if (out) sdclose(out);
    }
};

// The listing is written through the stream layer on descriptor 1; what the
// C library holds for standard output goes out first.
void print_assembler_code() {
    print_banner("ASSEMBLER CODE");
    flush_standard_output();
    ListingStream listing{sdopen(1, "w")};
    if (!listing.out) fatal_error("Can't re-open stdout");
    write_assembler(listing.out);
}

} // namespace

// ---------------------------------------------------------------------------
// The report
// ---------------------------------------------------------------------------

void print_object_ex(const ObjHeader &hdr, const ByteView *domains) {
    const uint32_t info = zel.info;

    if (info & INFO_HEADER) print_header(hdr);
    if ((info & INFO_FLAGS) && !(info & INFO_HEADER)) print_object_flags(hdr);
    // The DLL blocks decide from the info bits and their lists themselves.
    print_dll_usage_and_prototypes();
    print_used_dlls_and_hints();
    if (info & INFO_SYMTAB) {
        print_symbol_table();
        print_function_table();
        print_symbol_names("GLOBAL FUNCTIONS", zel.glob_fun, "%s\n");
        print_symbol_names("STRING CONSTANTS", zel.str, "\"%s\"\n");
        print_symbol_names("DOUBLE CONSTANTS", zel.dbl, "%s\n");
    }
    if (all_info_bits() && domains) print_domains(hdr, *domains);
    if (info & INFO_IDENTS) print_idents();
    if (all_info_bits()) print_compnr_checks(hdr);
    if (info & INFO_ASM) print_assembler_code();
}

void print_object(const ObjHeader &hdr) {
    print_object_ex(hdr, nullptr);
}
