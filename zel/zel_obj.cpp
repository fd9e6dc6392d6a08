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

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "al_strm.h"
#include "zel.h"
#include "zel_error.h"

uint32_t Rtot_bytes = 0;

namespace {

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

// ---------------------------------------------------------------------------
// Reading the object file

namespace {

// A region that a pipe or a device declares is read in chunks that grow
// with what arrives, so memory follows what is read, not what is declared.
constexpr size_t FIRST_CHUNK = size_t(64) << 10;

// Blocks of this size or more are mappings of their own.
constexpr size_t MAPPED_BLOCK = size_t(128) << 10;

// Regions of at most this many bytes (with their NUL) are pieces of chunks.
constexpr size_t SMALL_REGION = size_t(4) << 10;
constexpr size_t CHUNK = size_t(16) << 10;

// What a view of no bytes points at: a NUL, as behind every block.
const uint8_t no_bytes[1] = {0};

} // namespace

// Memory of one block: `capacity` bytes and a NUL behind them. A large
// block is a mapping of its own, so that releasing it, or pages of it, gives
// the memory back to the system at once.
struct ObjectFile::Block {
    uint8_t *bytes = nullptr;
    size_t capacity = 0;
    size_t mapped = 0; // length of the mapping; 0 for a block from the heap

    explicit Block(size_t n) : capacity(n) {
        if (n + 1 >= MAPPED_BLOCK) {
            const size_t page = size_t(sysconf(_SC_PAGESIZE));
            mapped = (n + 1 + page - 1) / page * page;
            void *p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
            if (p == MAP_FAILED) throw std::bad_alloc();
            bytes = static_cast<uint8_t *>(p);
        } else {
            bytes = static_cast<uint8_t *>(std::malloc(n + 1));
            if (!bytes) throw std::bad_alloc();
        }
        bytes[n] = 0;
    }
    ~Block() {
        if (mapped)
            munmap(bytes, mapped);
        else
            std::free(bytes);
    }
    Block(const Block &) = delete;
    Block &operator=(const Block &) = delete;
    // Grows to `n` bytes, keeping the first `keep`.
    void grow(size_t n, size_t keep) {
        Block bigger(n);
        memcpy(bigger.bytes, bytes, keep);
        std::swap(bytes, bigger.bytes);
        std::swap(capacity, bigger.capacity);
        std::swap(mapped, bigger.mapped);
    }
};

ObjectFile::ObjectFile(STREAM *s) : stream_(s) {
    struct stat st;
    int fd = sfileno(s);
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        bounded_ = true;
        bound_ = uint64_t(st.st_size);
    }
    seekable_ = !(sflags(s) & STRM_NOSEEK);
}

ObjectFile::~ObjectFile() = default;

uint64_t ObjectFile::in_file(uint64_t start, uint64_t size) const {
    if (!bounded_) return size;
    return start < bound_ ? std::min(size, bound_ - start) : 0;
}

ObjectFile::Block &ObjectFile::new_block(size_t capacity) {
    return *blocks_.emplace_back(std::make_unique<Block>(capacity));
}

// A small region is a piece of a chunk that the file keeps whole: the
// header, the TIV block, the fields of the trailing blocks and the sections
// of a small object cost no allocation each. Releasing it gives nothing
// back; the chunks go with the file.
uint8_t *ObjectFile::room(size_t n) {
    if (n + 1 > SMALL_REGION) return new_block(n).bytes;
    if (chunk_left_ < n + 1) {
        chunks_.push_back(std::make_unique_for_overwrite<uint8_t[]>(CHUNK));
        chunk_at_ = chunks_.back().get();
        chunk_left_ = CHUNK;
    }
    uint8_t *p = chunk_at_;
    chunk_at_ += n + 1;
    chunk_left_ -= n + 1;
    p[n] = 0;
    return p;
}

ByteView ObjectFile::read_header_bytes(size_t size) {
    error_ = 0;
    uint8_t *bytes = room(size);
    long got = stream_ ? read_obj_block(bytes, size, stream_) : -1;
    size_t have = got > 0 ? size_t(got) : 0;
    bytes[have] = 0;
    if (!seekable_) prefix_.assign(bytes, bytes + have);
    furthest_ = have;
    return {bytes, have, size, 0};
}

ByteView ObjectFile::read(uint64_t start, uint64_t size, uint8_t fill) {
    error_ = 0;
    if (size == 0 || !stream_) return {no_bytes, 0, size_t(size), fill};
    furthest_ = std::max(furthest_, start + size);
    return seekable_ ? read_seekable(start, size, fill) : read_prefix(start, size, fill);
}

// One seek and one block read through the stream. A region of a file of
// unknown size is read in growing chunks up to its end or the file's.
ByteView ObjectFile::read_seekable(uint64_t start, uint64_t size, uint8_t fill) {
    const uint64_t want = in_file(start, size);
    if (want == 0) return {no_bytes, 0, size_t(size), fill};
    if (sseek(stream_, long(start), SEEK_SET) < 0) {
        error_ = errno ? errno : EIO;
        return {no_bytes, 0, size_t(size), fill};
    }
    if (bounded_ && want + 1 <= SMALL_REGION) {
        uint8_t *bytes = room(size_t(want));
        long got = sread_blok(bytes, size_t(want), stream_);
        size_t have = got > 0 ? size_t(got) : 0;
        if (serror(stream_)) error_ = errno ? errno : EIO;
        bytes[have] = 0;
        return {bytes, have, size_t(size), fill};
    }
    Block &b = new_block(size_t(bounded_ ? want : std::min<uint64_t>(want, FIRST_CHUNK)));
    size_t have = 0;
    for (;;) {
        long got = sread_blok(b.bytes + have, b.capacity - have, stream_);
        have += got > 0 ? size_t(got) : 0;
        if (serror(stream_)) error_ = errno ? errno : EIO;
        if (have < b.capacity || error_ || have == want) break;
        b.grow(size_t(std::min<uint64_t>(want, uint64_t(b.capacity) * 2)), have);
    }
    b.bytes[have] = 0;
    return {b.bytes, have, size_t(size), fill};
}

// A pipe is read forward from where it stands, and what it delivered is kept
// from offset 0 on, since the regions need not come in the file's order.
ByteView ObjectFile::read_prefix(uint64_t start, uint64_t size, uint8_t fill) {
    extend_prefix(start + size);
    size_t have =
        start < prefix_.size() ? size_t(std::min<uint64_t>(size, prefix_.size() - start)) : 0;
    if (have < size && prefix_error_) error_ = prefix_error_;
    if (have == 0) return {no_bytes, 0, size_t(size), fill};
    uint8_t *bytes = room(have);
    memcpy(bytes, prefix_.data() + start, have);
    return {bytes, have, size_t(size), fill};
}

void ObjectFile::extend_prefix(uint64_t to) {
    while (prefix_.size() < to && !prefix_end_ && !prefix_error_) {
        size_t have = prefix_.size();
        size_t chunk = size_t(std::min<uint64_t>(to - have, std::max(have, FIRST_CHUNK)));
        prefix_.resize(have + chunk);
        long got = sread_blok(prefix_.data() + have, chunk, stream_);
        prefix_.resize(have + (got > 0 ? size_t(got) : 0));
        if (serror(stream_))
            prefix_error_ = errno ? errno : EIO;
        else if (got < long(chunk))
            prefix_end_ = true;
    }
}

uint32_t ObjectFile::sum(uint64_t start, uint64_t size, uint8_t fill) {
    constexpr size_t PASSING = size_t(256) << 10;
    error_ = 0;
    if (size == 0) return 0;
    if (!seekable_ || !stream_) {
        ByteView v = read(start, size, fill);
        uint32_t total = byte_sum(v);
        release(v);
        return total;
    }
    furthest_ = std::max(furthest_, start + size);
    const uint64_t want = in_file(start, size);
    uint64_t have = 0;
    uint64_t total = 0;
    if (want > 0 && sseek(stream_, long(start), SEEK_SET) < 0) error_ = errno ? errno : EIO;
    if (!passing_) passing_ = std::make_unique_for_overwrite<uint8_t[]>(PASSING);
    while (have < want && !error_) {
        size_t chunk = size_t(std::min<uint64_t>(want - have, PASSING));
        long got = sread_blok(passing_.get(), chunk, stream_);
        if (got > 0) total += sum_bytes(passing_.get(), size_t(got));
        have += got > 0 ? uint64_t(got) : 0;
        if (serror(stream_)) error_ = errno ? errno : EIO;
        if (got < long(chunk)) break;
    }
    return uint32_t(total + uint64_t(fill) * (size - have));
}

void ObjectFile::release(const ByteView &v) {
    std::erase_if(blocks_, [&](const std::unique_ptr<Block> &b) { return b->bytes == v.data; });
}

void ObjectFile::release_pages(const void *p, size_t n) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(p);
    for (const std::unique_ptr<Block> &b : blocks_) {
        const uintptr_t begin_block = reinterpret_cast<uintptr_t>(b->bytes);
        if (at < begin_block || at + n > begin_block + b->capacity) continue;
        const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
        const uintptr_t begin = (at + page - 1) & ~(page - 1);
        const uintptr_t end = (at + n) & ~(page - 1);
        if (end > begin) madvise(reinterpret_cast<void *>(begin), end - begin, MADV_DONTNEED);
        return;
    }
}

uint64_t ObjectFile::size_hint() const {
    return bounded_ ? bound_ : furthest_;
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

    constexpr bool stands_below_last(uint32_t value) const {
        for (int i = 0; i + 1 < count; ++i)
            if (entry[size_t(i)] == value) return true;
        return false;
    }

    constexpr int append(uint32_t value) {
        if (count > 255) return -1;
        entry[size_t(count++)] = value;
        return 0;
    }
};

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

// One step of the construction: appends `add` when `base` is 0; otherwise
// each entry that was in the table when the step began and holds every bit
// of `base` gives a candidate with the bits of `add` set, unless it holds
// every bit of `exclude`; with an `exclude`, a candidate that stands in the
// table already (below its last entry) ends the step. -1 on overflow.
constexpr int add_object_flag(FlagTable &t, uint32_t base, uint32_t exclude, uint32_t add) {
    if (base == 0) return t.append(add);
    const int initial = t.count; // entries appended by this step are not visited
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

constexpr FlagTable build_object_flags() {
    FlagTable t;
    for (const FlagStep &step : FLAG_STEPS)
        add_object_flag(t, step.base, step.exclude, step.add);
    return t;
}

// Built when the tool is compiled: the same table for writer and reader.
constexpr FlagTable flag_table = build_object_flags();
static_assert(flag_table.count == OBJECT_FLAG_CODES);

} // namespace

uint32_t object_flag(unsigned code) {
    return code < unsigned(flag_table.count) ? flag_table.entry[code] : 0;
}

int object_flag_code(uint32_t flags) {
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

// The fields in their order; the magic is taken as its 12 bytes.
void decode_header(ObjHeader &hdr, const ByteView &raw) {
    Cursor c(raw, "header");
    for (char &m : hdr.magic)
        m = char(c.u8());
    c.seek(layout::RELNO_AT);
    for (int32_t *field : {&hdr.relno, &hdr.bytesheader, &hdr.startdate, &hdr.enddate, &hdr.options,
                           &hdr.flags, &hdr.count_extern, &hdr.obj_revision, &hdr.fsm})
        *field = int32_t(c.u32());
    for (int i = 0; i < NSECTIONS; ++i) {
        c.seek(layout::SECTION_TABLE_AT + size_t(i) * layout::SECTION_ENTRY_SIZE);
        hdr.start[i] = c.u32();
        hdr.size[i] = c.u32();
        hdr.count[i] = c.u16();
    }
    // The running sum includes the checksum field's own bytes; adding them to
    // the stored value makes the two comparable.
    c.seek(layout::CHECKSUM_AT);
    hdr.checksum = c.u32() + byte_sum(raw.from(layout::CHECKSUM_AT));
}

bool known_magic(const char *magic) {
    return std::memcmp(magic, MAGIC_PROGRAM, sizeof MAGIC_PROGRAM) == 0 ||
           std::memcmp(magic, MAGIC_DLL, sizeof MAGIC_DLL) == 0;
}

// The TIV block behind a release-72 header: longs that read as 0xFF bytes
// past the end of the file; not part of the checksum, and nothing depends
// on where it ends. Returns the block's type.
int32_t read_tiv_block(ObjHeader &hdr) {
    ObjectFile &file = *hdr.file;
    ByteView fields = file.read(layout::TIV_AT, 8, 0xFF);
    Cursor c(fields, "TIV block");
    int32_t type = int32_t(c.u32());
    int32_t length = int32_t(c.u32());
    file.release(fields);
    if (type == TIV_VALUE) {
        ByteView value = file.read(layout::TIV_AT + 8, 4, 0xFF);
        hdr.tiv =
            std::make_unique<TivRecord>(TivRecord{type, length, int32_t(Cursor(value, "").u32())});
        file.release(value);
    }
    return type;
}

} // namespace

int read_header(ObjHeader &hdr, STREAM *s, const char *objname, const char *pathname) {
    hdr.objname = objname ? objname : "";
    hdr.pathname = pathname ? pathname : "";
    hdr.stream = s;
    hdr.tiv.reset();
    hdr.file = std::make_unique<ObjectFile>(s);

    ByteView raw = hdr.file->read_header_bytes(HEADER_SIZE); // counted by the block read
    if (raw.avail < size_t(HEADER_SIZE)) return -1;
    decode_header(hdr, raw);
    hdr.file->release(raw);

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
    ByteView v = hdr.file->read(start, size, fill);
    if (int err = hdr.file->error()) read_failure(hdr, label, err);
    Rtot_bytes += byte_sum(v);
    return v;
}

void sum_section(const ObjHeader &hdr, int index) {
    Region r = section_region(hdr, index);
    uint32_t sum = hdr.file->sum(r.start, r.size, r.fill);
    if (int err = hdr.file->error()) read_failure(hdr, section_info[index].label, err);
    Rtot_bytes += sum;
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

void check_record(const Cursor &c) {
    if (!c.ok()) fatal_error("Object is corrupt: %s runs past the end of its data", c.what());
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
