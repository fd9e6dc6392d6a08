// The runtime's buffered stream layer. Every file the tool reads goes through
// it; streams are found by stream names that the file-name expansion turns
// into candidate paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Stream flags.
enum StreamFlag : unsigned {
    STRM_READ = 0x001,
    STRM_WRITE = 0x002,
    STRM_RDATA = 0x008, // the buffer holds read data
    STRM_EOF = 0x010,
    STRM_ERR = 0x020,   // an operation failed; callers test it
    STRM_WDATA = 0x080, // the buffer holds data not yet written
    STRM_TEXT = 0x100,
    STRM_NOSEEK = 0x200,
};

constexpr size_t STRM_BUFSIZE = 4096;

struct STREAM; // defined in al_strm.cpp

// Opens the first candidate of `name` that opens; nullptr when none does.
STREAM *sopen(const char *name, const char *mode);
// Stream on an open file descriptor.
STREAM *sdopen(int fd, const char *mode);
// Stream that writes into (or reads from) memory owned by the stream.
STREAM *smemopen(const void *data, size_t size, const char *mode);
// The bytes of a memory stream (what was written, or what it reads).
const std::vector<uint8_t> &smem_data(STREAM *s);

long sread_blok(void *buf, size_t n, STREAM *s);
int sgetc(STREAM *s); // one byte, or -1 at end of file or error
char *sgets(char *buf, int size, STREAM *s);
// One line of any length into `line` without its line end (same CR rules as
// sgets); bytes beyond `max` are dropped. false at end of file or error with
// nothing read.
bool sgetline(STREAM *s, std::string &line, size_t max = 4096);
long sseek(STREAM *s, long offset, int origin);
long stream_stell(STREAM *s, int unused);
long swrite_blok(const void *data, size_t n, STREAM *s);
int sputc(int c, STREAM *s);
long sputs(const char *text, STREAM *s);
int sflush(STREAM *s);
int sclose(STREAM *s);
// Ends a stream made by sdopen on a descriptor that stays in use (standard
// output): flushes and frees it as sclose does, but leaves the descriptor
// open.
int sdclose(STREAM *s);
int sfileno(STREAM *s);
// Everything written to standard output so far, through the C library or
// through streams on descriptor 1, goes out; done before any message on
// standard error, so that the two keep their order in one file. A write
// that fails is noted for finish_standard_output (errno is kept).
void flush_standard_output();
// Ends a run's output: flushes standard output and, when a write to it
// failed during the run (through the C library or a stream on descriptor 1:
// a full disk, a standard output that was closed), prints the one message
// "<prog>: write error on standard output: <system error text>" on standard
// error and returns 1; otherwise returns `status`. The failure is forgotten
// after it, so the next run in the process starts clean.
int finish_standard_output(const char *prog, int status);
// Number of open streams, and closing all but the `keep` oldest: for hosts
// that run many loads in one process (fuzzing), where a load that ends
// through the fatal path leaves its streams open.
size_t sopen_count();
void sclose_newest(size_t keep);
unsigned sflags(const STREAM *s);
inline bool serror(const STREAM *s) {
    return (sflags(s) & STRM_ERR) != 0;
}
inline bool seof(const STREAM *s) {
    return (sflags(s) & STRM_EOF) != 0;
}

// Counters of system calls made by a stream (for tests of the buffering).
struct StreamStats {
    long reads = 0;
    long seeks = 0;
    long writes = 0;
};
const StreamStats &sstats(const STREAM *s);
