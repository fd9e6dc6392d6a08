// Object encoding primitives, the running checksum, the symbol flag codes of
// release-61 objects, and the object header.
#pragma once

#include <cstddef>
#include <cstdint>

struct STREAM;
struct ObjHeader;

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

// Returns 0 (accepted), -1 (not in proper format) or -2 (file-name checksum).
int read_header(ObjHeader &hdr, STREAM *s, const char *objname, const char *pathname);
unsigned fsum16(const char *text, size_t len);
unsigned fname_sum(const char *path);
