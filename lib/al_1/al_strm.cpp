// STUB: replaced by the stream layer.
#include "al_strm.h"

struct STREAM {
    unsigned flags = 0;
    std::vector<uint8_t> mem;
    StreamStats stats;
};

STREAM *sopen(const char *, const char *) { return nullptr; }
STREAM *sdopen(int, const char *) { return nullptr; }
STREAM *smemopen(const void *, size_t, const char *) { return nullptr; }
const std::vector<uint8_t> &smem_data(STREAM *s) { return s->mem; }
long sread_blok(void *, size_t, STREAM *) { return 0; }
int sgetc(STREAM *) { return -1; }
char *sgets(char *, int, STREAM *) { return nullptr; }
long sseek(STREAM *, long, int) { return -1; }
long stream_stell(STREAM *, int) { return -1; }
long swrite_blok(const void *, size_t n, STREAM *) { return long(n); }
int sputc(int c, STREAM *) { return c; }
long sputs(const char *, STREAM *) { return 0; }
int sflush(STREAM *) { return 0; }
int sclose(STREAM *) { return -1; }
int sfileno(STREAM *) { return -1; }
unsigned sflags(const STREAM *s) { return s->flags; }
const StreamStats &sstats(const STREAM *s) { return s->stats; }
