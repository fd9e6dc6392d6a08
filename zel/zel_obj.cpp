// Object encoding primitives, the running checksum, the symbol flag codes of
// release-61 objects, the object header and the file-name checksum.
//
// Every multi-byte field of an object is big-endian and unaligned. The read
// primitives take their bytes through the stream layer and add each one to
// the running checksum `Rtot_bytes`; the write primitives return the byte sum
// of what they wrote so a writer can keep its own checksum.
#include "zel_obj.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "al_strm.h"
#include "zel.h"

uint32_t Rtot_bytes = 0;

namespace {

// A byte the stream cannot deliver reads as 0xFF (and counts 255).
unsigned take_byte(STREAM *s) {
    int c = sgetc(s);
    unsigned b = c < 0 ? 0xFFu : unsigned(c) & 0xFFu;
    Rtot_bytes += b;
    return b;
}

unsigned byte_sum(const void *data, size_t n) {
    const auto *p = static_cast<const uint8_t *>(data);
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += p[i];
    return sum;
}

uint32_t be32(const uint8_t *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
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
    if (got > 0) Rtot_bytes += byte_sum(buf, size_t(got));
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
    return int(byte_sum(data, size_t(put) < n ? size_t(put) : n));
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
constexpr int TIV_SKIP = 1;
constexpr int TIV_VALUE = 2;

// Byte offsets of the header fields.
enum HeaderOffset : size_t {
    H_RELNO = 12,
    H_BYTESHEADER = 16,
    H_STARTDATE = 20,
    H_ENDDATE = 24,
    H_OPTIONS = 28,
    H_FLAGS = 32,
    H_COUNT_EXTERN = 36,
    H_OBJ_REVISION = 40,
    H_FSM = 44,
    H_SECTIONS = 48,
    H_CHECKSUM = 178,
};
constexpr size_t SECTION_ENTRY = 10;

void decode_header(ObjHeader &hdr, const uint8_t *b) {
    std::memcpy(hdr.magic, b, sizeof hdr.magic);
    hdr.relno = int32_t(be32(b + H_RELNO));
    hdr.bytesheader = int32_t(be32(b + H_BYTESHEADER));
    hdr.startdate = int32_t(be32(b + H_STARTDATE));
    hdr.enddate = int32_t(be32(b + H_ENDDATE));
    hdr.options = int32_t(be32(b + H_OPTIONS));
    hdr.flags = int32_t(be32(b + H_FLAGS));
    hdr.count_extern = int32_t(be32(b + H_COUNT_EXTERN));
    hdr.obj_revision = int32_t(be32(b + H_OBJ_REVISION));
    hdr.fsm = int32_t(be32(b + H_FSM));
    for (int i = 0; i < NSECTIONS; ++i) {
        const uint8_t *e = b + H_SECTIONS + SECTION_ENTRY * size_t(i);
        hdr.start[i] = be32(e);
        hdr.size[i] = be32(e + 4);
        hdr.count[i] = uint16_t(e[8] << 8 | e[9]);
    }
    // The running sum includes the checksum field's own bytes; adding them to
    // the stored value makes the two comparable.
    hdr.checksum = be32(b + H_CHECKSUM) + byte_sum(b + H_CHECKSUM, 4);
}

bool known_magic(const char *magic) {
    return std::memcmp(magic, MAGIC_PROGRAM, sizeof MAGIC_PROGRAM) == 0 ||
           std::memcmp(magic, MAGIC_DLL, sizeof MAGIC_DLL) == 0;
}

// The TIV block behind a release-72 header; not part of the checksum.
// Returns the block's type.
int32_t read_tiv_block(ObjHeader &hdr, STREAM *s) {
    const uint32_t saved = Rtot_bytes;
    int32_t type = int32_t(read_obj_long(s));
    int32_t length = int32_t(read_obj_long(s));
    if (type == TIV_SKIP) {
        // Only a positive length moves the stream; the sections are found by
        // their offsets, so nothing depends on where the block ends.
        if (length > 0) sseek(s, length, SEEK_CUR);
    } else if (type == TIV_VALUE) {
        int32_t value = int32_t(read_obj_long(s));
        hdr.tiv = std::make_unique<TivRecord>(TivRecord{type, length, value});
    }
    Rtot_bytes = saved;
    return type;
}

} // namespace

int read_header(ObjHeader &hdr, STREAM *s, const char *objname, const char *pathname) {
    hdr.objname = objname ? objname : "";
    hdr.pathname = pathname ? pathname : "";
    hdr.stream = s;
    hdr.tiv.reset();

    uint8_t raw[HEADER_SIZE];
    if (read_obj_block(raw, sizeof raw, s) < long(sizeof raw)) return -1;
    decode_header(hdr, raw);

    if (!known_magic(hdr.magic)) return -1;
    if (hdr.relno != 61 && hdr.relno != 72) return -1;
    if (hdr.bytesheader != HEADER_SIZE) return -1;
    if (uint32_t(hdr.fsm) != fname_sum(hdr.pathname.c_str())) return -2;
    if (hdr.relno == 61) return 0;
    return read_tiv_block(hdr, s) > TIV_VALUE ? -1 : 0;
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
