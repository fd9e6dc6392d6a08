// Object encoding primitives, the running checksum, the symbol flag codes of
// release-61 objects, and the object header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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

// The object's layout: where the header's fields lie, and the fixed parts
// of the records and blocks that the loader steps over. The loader, the
// object writer and the fuzz target all take them from here.
constexpr int HEADER_SIZE = 182;
namespace layout {
constexpr size_t MAGIC_SIZE = 12;         // the magic text and its NUL
constexpr size_t RELNO_AT = 12;           // then nine longs: relno ... fsm
constexpr size_t FSM_AT = 44;             // file-name checksum
constexpr size_t SECTION_TABLE_AT = 48;   // 13 entries:
constexpr size_t SECTION_ENTRY_SIZE = 10; //   start (long), size (long), count (short)
constexpr size_t CHECKSUM_AT = 178;       // the object's checksum, a long
constexpr size_t TIV_AT = HEADER_SIZE;    // release 72: type, length and a value, longs
// A string record: its length (short), the text, a NUL.
constexpr size_t STRING_RECORD_EXTRA = 3;
// The descriptions block follows the idents section behind a length field
// (long); a function description: text length (long), function number
// (short), the text.
constexpr size_t DESCRIPTIONS_LENGTH_SIZE = 4;
constexpr size_t DESCRIPTION_HEAD = 6;
// The fields in front of the additional information's text records.
constexpr size_t ADDINFO_HEADER = 18;
} // namespace layout
static_assert(layout::RELNO_AT + 9 * 4 == layout::SECTION_TABLE_AT);
static_assert(layout::SECTION_TABLE_AT + NSECTIONS * layout::SECTION_ENTRY_SIZE ==
              layout::CHECKSUM_AT);
static_assert(layout::CHECKSUM_AT + 4 == HEADER_SIZE);

// Labels of the reading steps of the sections (in the messages of read
// errors) and their names in corrupt-object messages, by index.
struct SectionInfo {
    const char *label;
    const char *name;
};
extern const SectionInfo section_info[NSECTIONS];

// The open object file, read as the loading sequence reads it: the header
// first, then each region that the header and the trailing blocks declare,
// into memory of the tool's own. Nothing is mapped, so another process that
// rewrites or cuts the file cannot pull bytes from under a view; bytes that
// no region covers are never read. A regular file is read at most up to the
// size it had when it was opened; a pipe or a device up to the last byte that
// a region asks for, never to its end. Each block read is followed by a NUL
// in memory and stays valid until it is released or the file object dies.
class ObjectFile {
  public:
    // `s` is open at offset 0 and stays open while regions are read.
    explicit ObjectFile(STREAM *s);
    ~ObjectFile();
    ObjectFile(const ObjectFile &) = delete;
    ObjectFile &operator=(const ObjectFile &) = delete;

    // The header: its bytes taken with the block read primitive (so they
    // count for the running checksum); fewer when the file is shorter.
    ByteView read_header_bytes(size_t size);
    // The region of `size` bytes at `start`; bytes past the end of the file
    // read as `fill`. After a read error, error() tells the system error and
    // the bytes in front of the failure are there.
    ByteView read(uint64_t start, uint64_t size, uint8_t fill = 0);
    // The byte sum of the region, as read() would give it, without keeping
    // its bytes: they pass through a small buffer of their own.
    uint32_t sum(uint64_t start, uint64_t size, uint8_t fill = 0);
    // System error of the last read, or 0.
    int error() const { return error_; }
    // Frees the block of a view that read() or read_header_bytes() gave
    // (a small one goes with the file).
    void release(const ByteView &v);
    // Gives back the memory of the whole pages of `n` bytes at `p`, inside a
    // block, that will not be read again (the code, as it is listed).
    void release_pages(const void *p, size_t n);
    // The file is closed: no region can be read any more, and the blocks
    // read stay.
    void detach() { stream_ = nullptr; }
    // Most bytes a region can hold: the file's size for a regular file, else
    // what has been read so far (a pipe or a device has no size).
    uint64_t size_hint() const;

  private:
    struct Block;
    Block &new_block(size_t capacity);
    uint8_t *room(size_t n);
    // How many of `size` bytes at `start` a regular file can hold (all of
    // them for a file of no known size).
    uint64_t in_file(uint64_t start, uint64_t size) const;
    ByteView read_seekable(uint64_t start, uint64_t size, uint8_t fill);
    ByteView read_prefix(uint64_t start, uint64_t size, uint8_t fill);
    void extend_prefix(uint64_t to);

    STREAM *stream_;
    bool seekable_ = true;
    bool bounded_ = false;
    uint64_t bound_ = 0;    // size of a regular file
    uint64_t furthest_ = 0; // end of the furthest region read
    int error_ = 0;
    std::vector<std::unique_ptr<Block>> blocks_;
    std::vector<std::unique_ptr<uint8_t[]>> chunks_; // of the small regions
    uint8_t *chunk_at_ = nullptr;
    size_t chunk_left_ = 0;
    std::unique_ptr<uint8_t[]> passing_; // what sum() reads through
    // A pipe cannot seek: what has been read from it, from offset 0, and the
    // error that ended its reading.
    std::vector<uint8_t> prefix_;
    bool prefix_end_ = false;
    int prefix_error_ = 0;
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

// The symbol flag table of release-61 objects: OBJECT_FLAG_CODES entries,
// built by add_object_flag's steps when the tool is compiled.
constexpr int OBJECT_FLAG_CODES = 238;
// Flag word of a code (0 for a code outside the table).
uint32_t object_flag(unsigned code);
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
// Section `index` summed as read_section would sum it, without keeping it.
void sum_section(const ObjHeader &hdr, int index);
// The region of `size` bytes at `start` of the object of `hdr`, read as
// one block by the step `label`: its bytes count for the running checksum
// (bytes past the end of the file read as `fill` and count as such), and a
// read error inside it ends the run.
ByteView read_block(const ObjHeader &hdr, uint64_t start, uint64_t size, const char *label,
                    uint8_t fill = 0);
// Ends the run with the corrupt-object message naming the region of `c`
// when a read of its record failed.
void check_record(const Cursor &c);
// Prints the system error `err` for the reading step `label`, then ends the
// run with "Error %d while reading '%s'" for the object of `hdr`.
[[noreturn]] void read_failure(const ObjHeader &hdr, const char *label, int err);

unsigned fsum16(const char *text, size_t len);
unsigned fname_sum(const char *path);
