// Object encoding primitives, the running checksum, the symbol flag codes of
// release-61 objects, the object header and the file-name checksum.
//
// Every multi-byte field of an object is big-endian and unaligned. The read
// primitives take their bytes through the stream layer and add each one to
// the running checksum `Rtot_bytes`; the write primitives return the byte sum
// of what they wrote so a writer can keep its own checksum.
#include "zel_obj.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "al_strm.h"
#include "zel.h"

uint32_t Rtot_bytes = 0;

// ---------------------------------------------------------------------------
// The object's image

namespace {

constexpr size_t READ_CHUNK = 64 * 1024;

// Byte sum of `n` bytes, eight at a time: the bytes of a word are added in
// four 16-bit lanes, which are added into the total before they can carry.
uint64_t sum_bytes(const uint8_t *p, size_t n) {
    constexpr uint64_t EVEN = 0x00FF00FF00FF00FFull;
    constexpr size_t WORDS_PER_FOLD = 128; // 128 * 2 * 255 < 65536
    uint64_t total = 0;
    while (n >= 8) {
        uint64_t lanes = 0;
        size_t words = n / 8 < WORDS_PER_FOLD ? n / 8 : WORDS_PER_FOLD;
        for (size_t i = 0; i < words; ++i, p += 8) {
            uint64_t w;
            memcpy(&w, p, 8);
            lanes += (w & EVEN) + ((w >> 8) & EVEN);
        }
        uint64_t pairs = (lanes & 0x0000FFFF0000FFFFull) + ((lanes >> 16) & 0x0000FFFF0000FFFFull);
        total += (pairs & 0xFFFFFFFFull) + (pairs >> 32);
        n -= words * 8;
    }
    while (n--)
        total += *p++;
    return total;
}

} // namespace

ObjectImage::ObjectImage(STREAM *s) {
    struct stat st;
    int fd = s ? sfileno(s) : -1;
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        map_file(fd, size_t(st.st_size));
    if (!data_) read_stream(s);
}

ObjectImage::~ObjectImage() {
    if (mapping_) munmap(mapping_, mapping_size_);
}

// The file is mapped into a zeroed region one byte longer than the file, so
// that a NUL follows its bytes however long it is. The region begins one
// page past a 2 MiB boundary. The page cache may hold the file in folios of
// 2 MiB; in a region that lay on such a boundary, one touch of a page given
// back would map its whole folio again, and the peak memory of a run would
// depend on where the system happened to place the region.
void ObjectImage::map_file(int fd, size_t size) {
    constexpr size_t FOLIO = size_t(2) << 20;
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const size_t length = (size + 1 + page - 1) / page * page;
    const size_t reserved = length + FOLIO + page;
    void *area = mmap(nullptr, reserved, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED) return;
    auto *first = static_cast<char *>(area);
    char *region = first + ((FOLIO - reinterpret_cast<uintptr_t>(first) % FOLIO) % FOLIO + page);
    munmap(first, size_t(region - first));
    munmap(region + length, size_t(first + reserved - (region + length)));
    // Every byte is summed, so the pages are mapped at once.
    if (mmap(region, size, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd, 0) ==
        MAP_FAILED) {
        munmap(region, length);
        return;
    }
    mapping_ = region;
    mapping_size_ = length;
    data_ = reinterpret_cast<const uint8_t *>(region);
    size_ = size;
}

// Reads the stream to its end, or up to a read error, which is kept for the
// regions that lie behind it.
void ObjectImage::read_stream(STREAM *s) {
    while (s) {
        size_t have = copy_.size();
        copy_.resize(have + READ_CHUNK);
        long got = sread_blok(copy_.data() + have, READ_CHUNK, s);
        copy_.resize(have + size_t(got > 0 ? got : 0));
        if (serror(s)) error_ = errno ? errno : EIO;
        if (got < long(READ_CHUNK) || error_) break;
    }
    size_ = copy_.size();
    copy_.push_back(0);
    data_ = copy_.data();
}

void ObjectImage::release(const void *p, size_t n) const {
    if (!mapping_ || !holds(p)) return;
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + n) & ~(page - 1);
    if (end > begin) madvise(reinterpret_cast<void *>(begin), end - begin, MADV_DONTNEED);
}

ByteView ObjectImage::view(uint64_t start, uint64_t size, uint8_t fill) const {
    size_t present = start < size_ ? size_t(std::min<uint64_t>(size, size_ - start)) : 0;
    return {start < size_ ? data_ + start : data_ + size_, present, size_t(size), fill};
}

int ObjectImage::read_error(uint64_t start, uint64_t size) const {
    return error_ && size > 0 && start + size > size_ ? error_ : 0;
}

uint32_t byte_sum(const ByteView &v) {
    return uint32_t(sum_bytes(v.data, v.avail) + uint64_t(v.fill) * (v.size - v.avail));
}

namespace {

// A byte the stream cannot deliver reads as 0xFF (and counts 255).
unsigned take_byte(STREAM *s) {
    int c = sgetc(s);
    unsigned b = c < 0 ? 0xFFu : unsigned(c) & 0xFFu;
    Rtot_bytes += b;
    return b;
}

} // namespace

// ---------------------------------------------------------------------------
// Reading

uint32_t read_obj_long(STREAM *s) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v = v << 8 | take_byte(s);
    return v;
}

unsigned read_obj_short(STREAM *s) {
    unsigned hi = take_byte(s);
    return hi << 8 | take_byte(s);
}

unsigned read_obj_char(STREAM *s) {
    return take_byte(s);
}

// Takes at most `size` bytes: up to and including the NUL, or until the
// buffer is full (its last byte then becomes the NUL), or until the end of
// the data (the result is then -1 and nothing is counted for it).
int read_obj_string(STREAM *s, char *buf, size_t size) {
    if (size == 0) return -1;
    int last = 0;
    size_t n = 0;
    while (n < size) {
        int c = sgetc(s);
        if (c < 0) {
            last = -1;
            break;
        }
        Rtot_bytes += unsigned(c) & 0xFFu;
        last = c;
        buf[n++] = char(c);
        if (c == 0) break;
    }
    buf[n < size ? n : size - 1] = 0;
    return last;
}

long read_obj_block(void *buf, size_t n, STREAM *s) {
    long got = sread_blok(buf, n, s);
    if (got > 0) Rtot_bytes += uint32_t(sum_bytes(static_cast<const uint8_t *>(buf), size_t(got)));
    return got;
}

// ---------------------------------------------------------------------------
// Writing

int write_obj_long(STREAM *s, uint32_t v) {
    int sum = 0;
    for (int shift = 24; shift >= 0; shift -= 8)
        sum += write_obj_char(s, (v >> shift) & 0xFF);
    return sum;
}

int write_obj_short(STREAM *s, unsigned v) {
    int sum = write_obj_char(s, (v >> 8) & 0xFF);
    return sum + write_obj_char(s, v & 0xFF);
}

int write_obj_char(STREAM *s, unsigned v) {
    v &= 0xFF;
    sputc(int(v), s);
    return int(v);
}

int write_obj_string(STREAM *s, const char *text) {
    size_t len = std::strlen(text);
    int sum = write_obj_block(text, len, s);
    sputc(0, s);
    return sum;
}

int write_obj_block(const void *data, size_t n, STREAM *s) {
    if (n == 0) return 0;
    long put = swrite_blok(data, n, s);
    if (put <= 0) return 0;
    return int(sum_bytes(static_cast<const uint8_t *>(data), size_t(put) < n ? size_t(put) : n));
}

// The release is the one of the object being written, `zel.hdr.relno`.
int write_obj_flag(STREAM *s, uint32_t flags) {
    switch (zel.hdr.relno) {
    case 72:
        return write_obj_long(s, flags);
    case 61: {
        int code = object_flag_code(flags);
        if (code < 0) {
            std::fprintf(stderr, "flag %011o\n", flags);
            return -1;
        }
        return write_obj_char(s, unsigned(code));
    }
    default:
        return -1;
    }
}

// ---------------------------------------------------------------------------
// The symbol flag table of release-61 objects

namespace {

struct FlagTable {
    std::array<uint32_t, 256> entry{};
    int count = 0;
    bool built = false;

    bool stands_below_last(uint32_t value) const {
        for (int i = 0; i + 1 < count; ++i)
            if (entry[size_t(i)] == value) return true;
        return false;
    }

    int append(uint32_t value) {
        if (count > 255) return -1;
        entry[size_t(count++)] = value;
        return 0;
    }
};

FlagTable flag_table;

// One step of the table's construction: (base, exclude, add), or an append
// when base is 0.
struct FlagStep {
    uint32_t base, exclude, add;
};

// The construction, in order. The resulting 238 codes are stored in objects,
// so this list must never change.
constexpr FlagStep FLAG_STEPS[] = {
    {0, 0, 0x1},      {0, 0, 0x9},   {0, 0, 0x409},         {0x1, 0, 0x10},       {0, 0, 0x2},
    {0, 0, 0xA},      {0, 0, 0x40A}, {0x2, 0, 0x10},        {0x10, 0, 0x40},      {0x10, 0, 0x800},
    {0x10, 0, 0x100}, {0, 0, 0x4},   {0x4, 0, 0x100},       {0x4, 0, 0x8},        {0x4, 0, 0x20},
    {0x4, 0, 0x40},   {0, 0, 0x42C}, {0x4, 0, 0x30},        {0x4, 0, 0x800},      {0x4, 0, 0x80},
    {0, 0, 0x200},    {0, 0, 0x208}, {0x10, 0x810, 0x1000}, {0x4, 0x804, 0x1000}, {0, 0, 0x40009},
};

} // namespace

int add_object_flag(uint32_t base, uint32_t exclude, uint32_t add) {
    FlagTable &t = flag_table;
    if (base == 0) return t.append(add);
    const int initial = t.count; // entries appended by this call are not visited
    for (int i = 0; i < initial; ++i) {
        uint32_t e = t.entry[size_t(i)];
        if ((e & base) != base) continue;
        uint32_t candidate = e | add;
        if (exclude != 0) {
            if ((e & exclude) == exclude) continue;
            if (t.count > 1 && t.stands_below_last(candidate)) return 0;
        }
        if (t.append(candidate) < 0) return -1;
    }
    return 0;
}

void init_object_flags() {
    if (flag_table.built) return;
    flag_table.count = 0;
    for (const FlagStep &step : FLAG_STEPS)
        add_object_flag(step.base, step.exclude, step.add);
    flag_table.built = true;
}

uint32_t object_flag(unsigned code) {
    init_object_flags();
    return code < unsigned(flag_table.count) ? flag_table.entry[code] : 0;
}

int object_flag_count() {
    init_object_flags();
    return flag_table.count;
}

int object_flag_code(uint32_t flags) {
    init_object_flags();
    for (int i = 0; i < flag_table.count; ++i)
        if (flag_table.entry[size_t(i)] == flags) return i;
    return -1;
}

// ---------------------------------------------------------------------------
// The header

namespace {

constexpr char MAGIC_PROGRAM[12] = "[_zel_obj_]";
constexpr char MAGIC_DLL[12] = "[_zel_dll_]";
constexpr int TIV_VALUE = 2;

constexpr size_t CHECKSUM_AT = 178;

// The fields in their order; the magic is taken as its 12 bytes.
void decode_header(ObjHeader &hdr, const ByteView &raw) {
    Cursor c(raw, "header");
    for (char &m : hdr.magic)
        m = char(c.u8());
    for (int32_t *field : {&hdr.relno, &hdr.bytesheader, &hdr.startdate, &hdr.enddate, &hdr.options,
                           &hdr.flags, &hdr.count_extern, &hdr.obj_revision, &hdr.fsm})
        *field = int32_t(c.u32());
    for (int i = 0; i < NSECTIONS; ++i) {
        hdr.start[i] = c.u32();
        hdr.size[i] = c.u32();
        hdr.count[i] = c.u16();
    }
    // The running sum includes the checksum field's own bytes; adding them to
    // the stored value makes the two comparable.
    hdr.checksum = c.u32() + byte_sum(raw.from(CHECKSUM_AT));
}

bool known_magic(const char *magic) {
    return std::memcmp(magic, MAGIC_PROGRAM, sizeof MAGIC_PROGRAM) == 0 ||
           std::memcmp(magic, MAGIC_DLL, sizeof MAGIC_DLL) == 0;
}

// The TIV block behind a release-72 header: longs that read as 0xFF bytes
// past the end of the file; not part of the checksum, and nothing depends
// on where it ends. Returns the block's type.
int32_t read_tiv_block(ObjHeader &hdr) {
    Cursor c(hdr.image->view(HEADER_SIZE, 12, 0xFF), "TIV block");
    int32_t type = int32_t(c.u32());
    int32_t length = int32_t(c.u32());
    if (type == TIV_VALUE)
        hdr.tiv = std::make_unique<TivRecord>(TivRecord{type, length, int32_t(c.u32())});
    return type;
}

} // namespace

int read_header(ObjHeader &hdr, STREAM *s, const char *objname, const char *pathname) {
    hdr.objname = objname ? objname : "";
    hdr.pathname = pathname ? pathname : "";
    hdr.stream = s;
    hdr.tiv.reset();
    hdr.image = std::make_shared<const ObjectImage>(s);

    ByteView raw = hdr.image->view(0, HEADER_SIZE);
    Rtot_bytes += byte_sum(raw); // the bytes that are there
    if (raw.avail < size_t(HEADER_SIZE)) return -1;
    decode_header(hdr, raw);

    if (!known_magic(hdr.magic)) return -1;
    if (hdr.relno != 61 && hdr.relno != 72) return -1;
    if (hdr.bytesheader != HEADER_SIZE) return -1;
    if (uint32_t(hdr.fsm) != fname_sum(hdr.pathname.c_str())) return -2;
    if (hdr.relno == 61) return 0;
    return read_tiv_block(hdr) > TIV_VALUE ? -1 : 0;
}

STREAM *open_object_stream(const char *name) {
    char stream_name[512];
    if (snprintf(stream_name, sizeof stream_name, "{nofdlog}F_OBJ:%s", name) >=
        int(sizeof stream_name)) {
        errno = ENAMETOOLONG; // the stream name would not fit
        return nullptr;
    }
    return sopen(stream_name, "r");
}

ByteView read_block(const ObjHeader &hdr, uint64_t start, uint64_t size, const char *label,
                    uint8_t fill) {
    if (int err = hdr.image->read_error(start, size)) read_failure(hdr, label, err);
    ByteView v = hdr.image->view(start, size, fill);
    Rtot_bytes += byte_sum(v);
    return v;
}

const SectionInfo section_info[NSECTIONS] = {
    {"read_prototypes", "prototypes section"}, {"read_used_dlls", "used DLL's section"},
    {"read_object_code", "object section"},    {"read_compnr_check_1", "compnr check 1"},
    {"read_symtab", "symtab section"},         {"read_compnr_check_2", "compnr check 2"},
    {"read_funtab", "funtab section"},         {"read_global_functions", "glob fun section"},
    {"read_strings", "strings section"},       {"read_compnr_check_3", "compnr check 3"},
    {"read_doubles", "doubles section"},       {"read_domains", "domains section"},
    {"read_idents", "idents section"},
};

Region section_region(const ObjHeader &hdr, int index) {
    if (index == SEC_COMPNR1 || index == SEC_COMPNR2 || index == SEC_COMPNR3)
        return {hdr.start[index], 4, 0xFF};
    return {hdr.start[index], hdr.size[index], 0};
}

ByteView read_section(const ObjHeader &hdr, int index) {
    Region r = section_region(hdr, index);
    return read_block(hdr, r.start, r.size, section_info[index].label, r.fill);
}

void read_failure(const ObjHeader &hdr, const char *label, int err) {
    errno = err;
    fatal_system_error(label, "Error %d while reading '%s'", err, hdr.objname.c_str());
}

// ---------------------------------------------------------------------------
// File-name checksum

unsigned fsum16(const char *text, size_t len) {
    unsigned first = 0, second = 0;
    for (size_t i = 0; i < len; ++i) {
        first += static_cast<unsigned char>(text[i]);
        if (first >= 255) first -= 255;
        second += first;
    }
    return (second % 255) << 8 | first;
}

namespace {

// Objects live in a directory named after the object's prefix letter, two
// further letters and a three-letter group that the file name repeats after
// its own first letter (oxxmod/omodtest): such a directory counts as part of
// the name.
bool is_object_directory(std::string_view dir, std::string_view file) {
    if (dir.size() != 6 && dir.size() != 7) return false;
    if (file.size() < 4) return false;
    return dir[0] == file[0] && dir.substr(3, 3) == file.substr(1, 3);
}

} // namespace

unsigned fname_sum(const char *path) {
    std::string_view p(path);
    size_t slash = p.size() > 1 ? p.find_last_of('/') : std::string_view::npos;
    if (slash == 0) slash = std::string_view::npos; // a leading "/" does not count
    if (slash == std::string_view::npos) return fsum16(p.data(), p.size());

    std::string_view file = p.substr(slash + 1);
    size_t prev = slash == 0 ? std::string_view::npos : p.find_last_of('/', slash - 1);
    size_t dir_begin = prev == std::string_view::npos ? 0 : prev + 1;
    std::string_view dir = p.substr(dir_begin, slash - dir_begin);
    std::string_view summed = is_object_directory(dir, file) ? p.substr(dir_begin) : file;
    return fsum16(summed.data(), summed.size());
}
