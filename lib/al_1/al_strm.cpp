// The runtime's buffered stream layer.
//
// A stream reads and writes through a buffer of STRM_BUFSIZE bytes and four
// primitive operations of its kind: a local file descriptor or a byte array
// in memory. Candidates of remote hosts ("host!...") are not served by this
// runtime: they fail to open (ENOSYS) and the search goes on with the next
// candidate.
//
// Buffer bookkeeping: while the buffer holds read data (STRM_RDATA) it holds
// the `fill` bytes of the file that begin at offset `bufoff`; `pos` is the
// next byte and `rcount` the bytes left after it. While it holds data not yet
// written (STRM_WDATA) it holds `wlen` bytes that belong at offset `sysoff`.
// `sysoff` is always the offset of the underlying handle. The two uses never
// overlap: reading flushes pending output first, writing gives up read data.
#include "al_strm.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <list>
#include <memory>
#include <string>
#include <unistd.h>

#include "al_env.h"
#include "al_log.h"

namespace {

// The primitive operations of one kind of stream.
struct StreamOps {
    long (*read)(STREAM &s, void *buf, size_t n);
    long (*write)(STREAM &s, const void *data, size_t n);
    long (*seek)(STREAM &s, long offset, int origin);
    int (*close)(STREAM &s);
};

} // namespace

struct STREAM {
    unsigned flags = 0;
    const StreamOps *ops = nullptr;
    int fd = -1;         // local streams
    bool append = false; // writes land at the end: the handle's offset is asked after each
    size_t bufsize = STRM_BUFSIZE;
    std::unique_ptr<uint8_t[]> buf; // allocated at first use
    size_t pos = 0;                 // next byte of read data
    size_t rcount = 0;              // bytes of read data left after pos
    size_t fill = 0;                // bytes the last fill put into the buffer
    size_t wlen = 0;                // bytes waiting to be written
    long bufoff = 0;                // file offset of buf[0] while it holds read data
    long sysoff = 0;                // offset of the underlying handle
    StreamStats stats;
    std::vector<uint8_t> mem; // memory streams: the bytes
    size_t mempos = 0;        // memory streams: the handle's offset
};

namespace {

// ---------------------------------------------------------------------------
// Kinds of stream

long fd_read(STREAM &s, void *buf, size_t n) {
    ssize_t r;
    do
        r = ::read(s.fd, buf, n);
    while (r < 0 && errno == EINTR);
    return long(r);
}

long fd_write(STREAM &s, const void *data, size_t n) {
    ssize_t r;
    do
        r = ::write(s.fd, data, n);
    while (r < 0 && errno == EINTR);
    return long(r);
}

long fd_seek(STREAM &s, long offset, int origin) {
    return long(::lseek(s.fd, offset, origin));
}

int fd_close(STREAM &s) {
    return s.fd >= 0 ? ::close(s.fd) : 0;
}

long mem_read(STREAM &s, void *buf, size_t n) {
    size_t avail = s.mempos < s.mem.size() ? s.mem.size() - s.mempos : 0;
    size_t k = n < avail ? n : avail;
    if (k) std::memcpy(buf, s.mem.data() + s.mempos, k);
    s.mempos += k;
    return long(k);
}

long mem_write(STREAM &s, const void *data, size_t n) {
    if (s.append) s.mempos = s.mem.size();
    if (s.mempos + n > s.mem.size()) s.mem.resize(s.mempos + n);
    if (n) std::memcpy(s.mem.data() + s.mempos, data, n);
    s.mempos += n;
    return long(n);
}

long mem_seek(STREAM &s, long offset, int origin) {
    long base = origin == SEEK_SET   ? 0
                : origin == SEEK_CUR ? long(s.mempos)
                : origin == SEEK_END ? long(s.mem.size())
                                     : -1;
    long target;
    if (base < 0 || __builtin_add_overflow(base, offset, &target) || target < 0) {
        errno = EINVAL;
        return -1;
    }
    s.mempos = size_t(target);
    return target;
}

int mem_close(STREAM &) {
    return 0;
}

constexpr StreamOps fd_ops{fd_read, fd_write, fd_seek, fd_close};
constexpr StreamOps mem_ops{mem_read, mem_write, mem_seek, mem_close};

// ---------------------------------------------------------------------------
// Open modes: a base letter, then "b" or "t", then "+".

struct ModeBase {
    char letter;
    int oflags; // besides the access bits
};

constexpr ModeBase mode_bases[] = {
    {'r', 0},
    {'w', O_CREAT | O_TRUNC},
    {'x', O_CREAT | O_TRUNC | O_EXCL},
    {'a', O_APPEND | O_CREAT},
};

struct OpenMode {
    char base = 0;
    int oflags = 0;
    unsigned flags = 0; // STRM_READ, STRM_WRITE, STRM_TEXT
};

bool parse_mode(const char *mode, OpenMode &m) {
    if (!mode) return false;
    const ModeBase *base = nullptr;
    for (const ModeBase &b : mode_bases)
        if (mode[0] == b.letter) base = &b;
    if (!base) return false;
    const char *p = mode + 1;
    bool text = false;
    if (*p == 'b' || *p == 't') text = *p++ == 't';
    bool plus = *p == '+';
    if (plus) ++p;
    if (*p) return false;
    m.base = base->letter;
    m.flags = plus ? STRM_READ | STRM_WRITE : base->letter == 'r' ? STRM_READ : STRM_WRITE;
    if (text) m.flags |= STRM_TEXT;
    m.oflags = base->oflags | (plus ? O_RDWR : base->letter == 'r' ? O_RDONLY : O_WRONLY);
    return true;
}

// ---------------------------------------------------------------------------
// The process-wide list of open streams, newest first.

// Writes what is left in the buffer without any report (the process is
// ending and the log may be gone).
void flush_quietly(STREAM &s) {
    if (!(s.flags & STRM_WDATA) || !s.buf) return;
    size_t done = 0;
    while (done < s.wlen) {
        long r = s.ops->write(s, s.buf.get() + done, s.wlen - done);
        if (r <= 0) break;
        done += size_t(r);
    }
    s.wlen = 0;
}

// Set when the list is gone at process end: a late sclose finds nothing.
bool streams_gone = false;

struct OpenStreams {
    std::list<std::unique_ptr<STREAM>> list;
    ~OpenStreams() {
        for (auto &s : list)
            flush_quietly(*s);
        streams_gone = true;
    }
};

OpenStreams &open_streams() {
    static OpenStreams streams;
    return streams;
}

STREAM *new_stream(const StreamOps &ops, const OpenMode &m) {
    auto s = std::make_unique<STREAM>();
    s->ops = &ops;
    s->flags = m.flags;
    s->append = m.base == 'a';
    STREAM *raw = s.get();
    open_streams().list.push_front(std::move(s));
    return raw;
}

// ---------------------------------------------------------------------------
// System calls, counted

long sys_read(STREAM &s, void *buf, size_t n) {
    ++s.stats.reads;
    long r = s.ops->read(s, buf, n);
    if (r > 0) s.sysoff += r;
    return r;
}

long sys_seek(STREAM &s, long offset, int origin) {
    ++s.stats.seeks;
    return s.ops->seek(s, offset, origin);
}

long sys_write(STREAM &s, const void *data, size_t n) {
    ++s.stats.writes;
    long r = s.ops->write(s, data, n);
    if (r > 0) {
        if (s.append) {
            long end = sys_seek(s, 0, SEEK_CUR);
            s.sysoff = end >= 0 ? end : s.sysoff + r;
        } else {
            s.sysoff += r;
        }
    }
    return r;
}

// ---------------------------------------------------------------------------
// The buffer

uint8_t *buffer(STREAM &s) {
    if (!s.buf) s.buf = std::make_unique_for_overwrite<uint8_t[]>(s.bufsize);
    return s.buf.get();
}

void drop_read_data(STREAM &s) {
    s.flags &= ~STRM_RDATA;
    s.pos = s.rcount = s.fill = 0;
}

void set_error(STREAM &s, int err) {
    errno = err;
    s.flags |= STRM_ERR;
}

// The system error number of the first write to standard output that failed
// since the run's output was last finished (0: none failed). The run reports
// it once at its end (finish_standard_output), so a failed write of a stream
// on descriptor 1 is not logged on its own.
int stdout_failure = 0;

void note_stdout_failure(int err) {
    if (!stdout_failure) stdout_failure = err ? err : EIO;
}

// A write of the stream failed: the error flag, and for standard output the
// note of the failure.
void write_failed(STREAM &s, int err) {
    set_error(s, err);
    if (s.fd == STDOUT_FILENO) note_stdout_failure(err);
}

// Writes the pending bytes once. A partial write keeps the rest at the start
// of the buffer.
int flush_pending(STREAM &s) {
    if (s.wlen == 0) {
        s.flags &= ~STRM_WDATA;
        return 0;
    }
    long r = sys_write(s, s.buf.get(), s.wlen);
    if (r < 0) {
        int err = errno;
        if (s.fd != STDOUT_FILENO)
            log_mesg("al_1/al_strm", __LINE__, "strm", 0, "sflush(): write error\n");
        s.wlen = 0;
        s.flags &= ~STRM_WDATA;
        write_failed(s, err);
        return -1;
    }
    size_t done = size_t(r);
    if (done < s.wlen) std::memmove(s.buf.get(), s.buf.get() + done, s.wlen - done);
    s.wlen -= done;
    if (s.wlen == 0) s.flags &= ~STRM_WDATA;
    return 0;
}

// Pending output is flushed before anything is read.
bool begin_read(STREAM &s) {
    if (!(s.flags & STRM_READ)) {
        set_error(s, EBADF);
        return false;
    }
    return !(s.flags & STRM_WDATA) || flush_pending(s) == 0;
}

// Read data is given up before anything is written: the handle goes back to
// the logical position.
bool begin_write(STREAM &s) {
    if (!(s.flags & STRM_WRITE)) {
        set_error(s, EBADF);
        return false;
    }
    if (s.flags & STRM_RDATA) {
        long logical = s.bufoff + long(s.pos);
        if (logical != s.sysoff && !(s.flags & STRM_NOSEEK)) {
            long r = sys_seek(s, logical, SEEK_SET);
            if (r < 0) {
                s.flags |= STRM_ERR;
                return false;
            }
            s.sysoff = r;
        }
        drop_read_data(s);
    }
    return true;
}

void mark_end(STREAM &s, long r) {
    s.flags |= r == 0 ? STRM_EOF : STRM_ERR;
}

// One system read into the buffer. At end of file or on an error the
// previous contents stay, so seeks into them still need no system call.
long fill_buffer(STREAM &s) {
    uint8_t *b = buffer(s);
    long off = s.sysoff;
    long r = sys_read(s, b, s.bufsize);
    if (r <= 0) {
        mark_end(s, r);
        return r;
    }
    s.flags |= STRM_RDATA;
    s.bufoff = off;
    s.fill = size_t(r);
    s.pos = 0;
    s.rcount = s.fill;
    return r;
}

size_t take_buffered(STREAM &s, uint8_t *out, size_t n) {
    size_t k = n < s.rcount ? n : s.rcount;
    if (k) std::memcpy(out, s.buf.get() + s.pos, k);
    s.pos += k;
    s.rcount -= k;
    return k;
}

long logical_position(const STREAM &s) {
    if (s.flags & STRM_RDATA) return s.bufoff + long(s.pos);
    return s.sysoff + long(s.wlen);
}

int sgetc_slow(STREAM *s) {
    if (!s || !begin_read(*s)) return -1;
    if (s->rcount == 0 && fill_buffer(*s) <= 0) return -1;
    --s->rcount;
    return s->buf[s->pos++];
}

} // namespace

// ---------------------------------------------------------------------------
// Opening

STREAM *sopen(const char *name, const char *mode) {
    OpenMode m;
    if (!name || !parse_mode(mode, m)) {
        errno = EINVAL;
        return nullptr;
    }
    ExplodeState st;
    char path[EXPLODE_PATH_MAX];
    STREAM *opened = nullptr;
    while (_explode_fname("sopen", name, path, sizeof path, st)) {
        if (std::strchr(path, '!')) { // remote host: no remote file service here
            errno = ENOSYS;
            continue;
        }
        int fd = ::open(path, m.oflags | O_CLOEXEC, 0666);
        if (fd >= 0) {
            opened = new_stream(fd_ops, m);
            opened->fd = fd;
            int saved = errno;
            if (::lseek(fd, 0, SEEK_CUR) < 0) opened->flags |= STRM_NOSEEK; // a pipe
            errno = saved;
            break;
        }
        if (errno == EACCES && std::strchr(mode, 'w')) {
            explode_fname_report("sopen", name, st, errno);
            break;
        }
    }
    set_last_exploded_fname(opened ? path : name);
    return opened;
}

STREAM *sdopen(int fd, const char *mode) {
    OpenMode m;
    if (!parse_mode(mode, m)) {
        errno = EINVAL;
        return nullptr;
    }
    if (fd < 0) {
        errno = EBADF;
        return nullptr;
    }
    int saved = errno;
    long off = long(::lseek(fd, 0, SEEK_CUR));
    errno = saved;
    STREAM *s = new_stream(fd_ops, m);
    s->fd = fd;
    if (off < 0)
        s->flags |= STRM_NOSEEK; // a pipe or a terminal
    else
        s->sysoff = off;
    return s;
}

// A memory stream: read modes and append modes start with a copy of `data`,
// the other write modes start empty. Every mode may read what it holds.
STREAM *smemopen(const void *data, size_t size, const char *mode) {
    OpenMode m;
    if (!parse_mode(mode, m)) {
        errno = EINVAL;
        return nullptr;
    }
    STREAM *s = new_stream(mem_ops, m);
    if ((m.base == 'r' || m.base == 'a') && data && size) {
        const auto *p = static_cast<const uint8_t *>(data);
        s->mem.assign(p, p + size);
    }
    return s;
}

const std::vector<uint8_t> &smem_data(STREAM *s) {
    static const std::vector<uint8_t> none;
    if (!s || s->ops != &mem_ops) return none;
    if (s->flags & STRM_WDATA) flush_pending(*s);
    return s->mem;
}

// ---------------------------------------------------------------------------
// Reading

long sread_blok(void *buf, size_t n, STREAM *s) {
    if (!s) {
        errno = EBADF;
        return -1;
    }
    if (!begin_read(*s)) return -1;
    auto *out = static_cast<uint8_t *>(buf);
    size_t done = take_buffered(*s, out, n);
    size_t rest = n - done;
    size_t direct = rest - rest % s->bufsize;
    if (direct) {
        drop_read_data(*s); // the buffer no longer lies next to the file position
        while (direct) {
            long r = sys_read(*s, out + done, direct);
            if (r <= 0) {
                mark_end(*s, r);
                return long(done);
            }
            done += size_t(r);
            direct -= size_t(r);
        }
    }
    while (done < n) {
        if (fill_buffer(*s) <= 0) break;
        done += take_buffered(*s, out + done, n - done);
    }
    return long(done);
}

int sgetc(STREAM *s) {
    if (s && s->rcount) {
        --s->rcount;
        return s->buf[s->pos++];
    }
    return sgetc_slow(s);
}

// One line without its line end. A CR directly before the LF belongs to the
// line end; any other CR is part of the text.
char *sgets(char *buf, int size, STREAM *s) {
    if (!s || !buf || size <= 0) return nullptr;
    if (s->flags & (STRM_EOF | STRM_ERR)) return nullptr;
    int n = 0;
    while (n < size - 1) {
        int c = sgetc(s);
        if (c < 0) {
            if (n == 0) return nullptr;
            break;
        }
        if (c == '\n') break;
        if (c == '\r') {
            int next = sgetc(s);
            if (next == '\n') break;
            if (next >= 0) { // read it again as the next byte: it is still in the buffer
                --s->pos;
                ++s->rcount;
            }
        }
        buf[n++] = char(c);
    }
    buf[n] = 0;
    return buf;
}

bool sgetline(STREAM *s, std::string &line, size_t max) {
    line.clear();
    if (!s || (s->flags & (STRM_EOF | STRM_ERR))) return false;
    bool any = false;
    for (;;) {
        int c = sgetc(s);
        if (c < 0) return any;
        any = true;
        if (c == '\n') return true;
        if (c == '\r') {
            int next = sgetc(s);
            if (next == '\n') return true;
            if (next >= 0) {
                --s->pos;
                ++s->rcount;
            }
        }
        if (line.size() < max) line.push_back(char(c));
    }
}

// ---------------------------------------------------------------------------
// Positioning

long sseek(STREAM *s, long offset, int origin) {
    if (!s) {
        errno = EBADF;
        return -1;
    }
    if (s->flags & STRM_NOSEEK) return -1;
    if ((s->flags & STRM_WDATA) && flush_pending(*s) < 0) return -1;
    if (origin < 0 || origin > 2) {
        set_error(*s, EINVAL);
        return -1;
    }
    long target = -1;
    bool have_target = true;
    if (origin == 0)
        target = offset;
    else if (origin == 1)
        have_target = !__builtin_add_overflow(logical_position(*s), offset, &target);
    else
        have_target = false;
    if (s->flags & STRM_RDATA) {
        long end = s->bufoff + long(s->fill);
        long inside = have_target ? target : -1;
        if (origin == 2 && offset == 0 && s->fill < s->bufsize) inside = end; // end of file
        if (inside >= s->bufoff && inside <= end) {
            s->pos = size_t(inside - s->bufoff);
            s->rcount = s->fill - s->pos;
            s->flags &= ~(STRM_EOF | STRM_ERR);
            return inside;
        }
    }
    if (origin != 2 && !have_target) {
        set_error(*s, EINVAL);
        return -1;
    }
    long r = origin == 2 ? sys_seek(*s, offset, SEEK_END) : sys_seek(*s, target, SEEK_SET);
    if (r < 0) {
        s->flags |= STRM_ERR;
        return -1;
    }
    s->sysoff = r;
    drop_read_data(*s);
    s->wlen = 0;
    s->flags &= ~(STRM_EOF | STRM_ERR | STRM_WDATA);
    return r;
}

long stream_stell(STREAM *s, int) {
    if (!s) {
        errno = EBADF;
        return -1;
    }
    if (s->flags & STRM_NOSEEK) return -1;
    if (s->flags & STRM_RDATA) return s->bufoff + long(s->pos);
    long sys = sys_seek(*s, 0, SEEK_CUR);
    if (sys < 0) return -1;
    return sys + long(s->wlen);
}

// ---------------------------------------------------------------------------
// Writing

long swrite_blok(const void *data, size_t n, STREAM *s) {
    if (!s) {
        errno = EBADF;
        return -1;
    }
    if (!begin_write(*s)) return -1;
    uint8_t *b = buffer(*s);
    const auto *p = static_cast<const uint8_t *>(data);
    size_t left = n;
    while (left) {
        if (s->wlen == 0 && left >= s->bufsize) {
            size_t direct = left - left % s->bufsize;
            long r = sys_write(*s, p, direct);
            if (r < 0 || size_t(r) != direct) {
                write_failed(*s, r < 0 ? errno : EIO);
                return -1;
            }
            p += direct;
            left -= direct;
            continue;
        }
        size_t k = s->bufsize - s->wlen;
        if (k > left) k = left;
        std::memcpy(b + s->wlen, p, k);
        s->wlen += k;
        s->flags |= STRM_WDATA;
        p += k;
        left -= k;
        if (s->wlen == s->bufsize) {
            if (flush_pending(*s) < 0) return -1;
            if (s->wlen == s->bufsize) { // the system took nothing
                write_failed(*s, EIO);
                return -1;
            }
        }
    }
    return long(n);
}

int sputc(int c, STREAM *s) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (s && (s->flags & (STRM_WDATA | STRM_RDATA)) == STRM_WDATA && s->wlen + 1 < s->bufsize) {
        s->buf[s->wlen++] = byte;
        return byte;
    }
    return swrite_blok(&byte, 1, s) == 1 ? byte : -1;
}

long sputs(const char *text, STREAM *s) {
    return swrite_blok(text, std::strlen(text), s);
}

int sflush(STREAM *s) {
    if (!s) {
        errno = EBADF;
        return -1;
    }
    if (!(s->flags & STRM_WRITE)) {
        set_error(*s, EBADF);
        return -1;
    }
    return flush_pending(*s);
}

// ---------------------------------------------------------------------------
// Closing and inspection

namespace {

// Unlinks, flushes and frees the stream; closes its handle unless
// `keep_handle`.
int end_stream(STREAM *s, bool keep_handle) {
    if (streams_gone) return -1;
    auto &list = open_streams().list;
    auto it = list.begin();
    while (it != list.end() && it->get() != s)
        ++it;
    if (!s || it == list.end()) {
        errno = EBADF;
        return -1;
    }
    std::unique_ptr<STREAM> owned = std::move(*it);
    list.erase(it);
    int rc = 0;
    if ((owned->flags & STRM_WDATA) && flush_pending(*owned) < 0) rc = -1;
    owned->buf.reset();
    if (!keep_handle && owned->ops->close(*owned) < 0) rc = -1;
    return rc;
}

} // namespace

int sclose(STREAM *s) {
    return end_stream(s, false);
}

int sdclose(STREAM *s) {
    return end_stream(s, true);
}

size_t sopen_count() {
    return streams_gone ? 0 : open_streams().list.size();
}

void flush_standard_output() {
    int saved = errno;
    if (fflush(stdout) != 0) note_stdout_failure(errno);
    if (!streams_gone) {
        for (auto &s : open_streams().list)
            if (s->fd == STDOUT_FILENO && (s->flags & STRM_WDATA)) sflush(s.get());
    }
    errno = saved;
}

int finish_standard_output(const char *prog, int status) {
    flush_standard_output();
    // The C library forgets why a write failed when its buffer had nothing
    // left to flush; the error flag still tells that one did.
    if (ferror(stdout)) note_stdout_failure(0);
    clearerr(stdout);
    int err = stdout_failure;
    stdout_failure = 0;
    if (!err) return status;
    fprintf(stderr, "%s: write error on standard output: %s\n", prog, strerror(err));
    fflush(stderr);
    return 1;
}

void sclose_newest(size_t keep) {
    while (sopen_count() > keep)
        sclose(open_streams().list.front().get());
}

int sfileno(STREAM *s) {
    return s ? s->fd : -1;
}

unsigned sflags(const STREAM *s) {
    return s ? s->flags : unsigned(STRM_ERR);
}

const StreamStats &sstats(const STREAM *s) {
    static const StreamStats none;
    return s ? s->stats : none;
}
