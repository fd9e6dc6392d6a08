// Object encoding primitives, the running checksum, the symbol flag codes of
// release-61 objects, and the object header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zel_cursor.h"

struct STREAM;
struct ObjHeader;

constexpr int NSECTIONS = 13;

// Section indices of the header's section table.
enum Section : int {
    SEC_PROTOTYPES = 0,
    SEC_USED_DLLS = 1,
    SEC_CODE = 2,
    SEC_COMPNR1 = 3,
    SEC_SYMTAB = 4,
    SEC_COMPNR2 = 5,
    SEC_FUNTAB = 6,
    SEC_GLOBFUN = 7,
    SEC_STRINGS = 8,
    SEC_COMPNR3 = 9,
    SEC_DOUBLES = 10,
    SEC_DOMAINS = 11,
    SEC_IDENTS = 12,
};

constexpr int HEADER_SIZE = 182;

// Labels of the reading steps of the sections (in the messages of read
// errors) and their names in corrupt-object messages, by index.
struct SectionInfo {
    const char *label;
    const char *name;
};
extern const SectionInfo section_info[NSECTIONS];

// The bytes of one object file, taken once when its header is read; the
// loader decodes every region of the object in place through views. The
// file is mapped where it can be and read through its stream otherwise. A
// NUL byte always follows the file's bytes in memory.
class ObjectImage {
  public:
    explicit ObjectImage(STREAM *s);
    ~ObjectImage();
    ObjectImage(const ObjectImage &) = delete;
    ObjectImage &operator=(const ObjectImage &) = delete;

    // Number of bytes of the file.
    size_t size() const { return size_; }
    // True when `p` points into the file's bytes (or the NUL behind them).
    bool holds(const void *p) const {
        auto at = reinterpret_cast<uintptr_t>(p), data = reinterpret_cast<uintptr_t>(data_);
        return at >= data && at <= data + size_;
    }
    // The region of `size` bytes at `start`; bytes past the end of the file
    // read as `fill`.
    ByteView view(uint64_t start, uint64_t size, uint8_t fill = 0) const;
    // Gives back the memory of the whole pages of `n` bytes at `p` (within
    // the file's bytes) that the process holds; the next read of them takes
    // them from the file again. A section decoded is not read again (the
    // code is listed once, front to back), so a large object costs memory
    // for the parts that are being read.
    void release(const void *p, size_t n) const;
    // The system error of a read that failed inside the region, or 0. Past
    // the point where reading failed nothing is known of the file.
    int read_error(uint64_t start, uint64_t size) const;

  private:
    void map_file(int fd, size_t size);
    void read_stream(STREAM *s);

    const uint8_t *data_ = nullptr;
    size_t size_ = 0;
    void *mapping_ = nullptr;
    size_t mapping_size_ = 0;
    std::vector<uint8_t> copy_; // the bytes when the file is not mapped
    int error_ = 0;             // errno of the read that stopped at size_
};

// Sum of the unsigned values of a view's bytes (its fill bytes included),
// modulo 2^32.
uint32_t byte_sum(const ByteView &v);

// Sum of every byte the read primitives take (modulo 2^32).
extern uint32_t Rtot_bytes;

uint32_t read_obj_long(STREAM *s);
unsigned read_obj_short(STREAM *s);
unsigned read_obj_char(STREAM *s);
// Copies bytes up to and including the NUL (at most size bytes; the buffer
// always ends with a NUL); returns the last byte taken.
int read_obj_string(STREAM *s, char *buf, size_t size);
long read_obj_block(void *buf, size_t n, STREAM *s);

int write_obj_long(STREAM *s, uint32_t v);
int write_obj_short(STREAM *s, unsigned v);
int write_obj_char(STREAM *s, unsigned v);
int write_obj_string(STREAM *s, const char *text);
int write_obj_block(const void *data, size_t n, STREAM *s);
// Writes a symbol flag word in the encoding of the release in `zel.hdr.relno`:
// release 72 the word as a long (returns its byte sum), release 61 the flag
// code as a char (returns the code; -1 when the word has none), any other
// release nothing (-1).
int write_obj_flag(STREAM *s, uint32_t flags);

// The symbol flag table of release-61 objects.
constexpr int OBJECT_FLAG_CODES = 238;
void init_object_flags();
int add_object_flag(uint32_t base, uint32_t exclude, uint32_t add);
// Flag word of a code (0 for a code outside the table); builds the table.
uint32_t object_flag(unsigned code);
// Number of entries in the table.
int object_flag_count();
// First code of a flag word, or -1.
int object_flag_code(uint32_t flags);

// Opens the object `name` for reading as the runtime finds objects: through
// the stream "{nofdlog}F_OBJ:" and the name (a name with a "/" is a path,
// others are placed by the file-definition table). nullptr, with errno set,
// when no candidate opens or the stream name would not fit its 512 bytes.
STREAM *open_object_stream(const char *name);

// Takes the bytes of the object open on `s` into the header record and
// decodes the header. Returns 0 (accepted), -1 (not in proper format) or -2
// (file-name checksum).
int read_header(ObjHeader &hdr, STREAM *s, const char *objname, const char *pathname);
// The bytes that section `index` of an object covers, as the loader reads
// them: a compnr check is one long, whose bytes past the end of the file
// read as 0xFF; any other section is its declared size, zeros past the end.
struct Region {
    uint64_t start;
    uint64_t size;
    uint8_t fill;
};
Region section_region(const ObjHeader &hdr, int index);
// Section `index` read as read_block reads a region, with its step label.
ByteView read_section(const ObjHeader &hdr, int index);
// The region of `size` bytes at `start` of the object of `hdr`, read as
// one block by the step `label`: its bytes count for the running checksum
// (bytes past the end of the file read as `fill` and count as such), and a
// read error inside it ends the run.
ByteView read_block(const ObjHeader &hdr, uint64_t start, uint64_t size, const char *label,
                    uint8_t fill = 0);
// Prints the system error `err` for the reading step `label`, then ends the
// run with "Error %d while reading '%s'" for the object of `hdr`.
[[noreturn]] void read_failure(const ObjHeader &hdr, const char *label, int err);

unsigned fsum16(const char *text, size_t len);
unsigned fname_sum(const char *path);
