// Bounded reading of object bytes. Every decoder reads through a Cursor over
// a ByteView; no read ever leaves the view's memory.
//
// A ByteView is a region of the object as the loader sees it: `size` bytes
// declared by the object, of which the first `avail` are really there (the
// rest lies past the end of the file) and read as `fill`. Block reads of the
// loader see zeros there, the long and short readers 0xFF bytes.
//
// A Cursor's error is sticky: a read past the declared size yields 0 (a text
// reads as ""), puts the cursor at the end and marks it failed. Callers read
// a whole record and check once with ok(); the decoder that owns the region
// reports a failure under the region's name (what()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

struct ByteView {
    const uint8_t *data = nullptr; // the bytes present
    size_t avail = 0;              // how many are present
    size_t size = 0;               // declared size; avail <= size
    uint8_t fill = 0;              // value of the bytes not present

    // A view of a whole buffer.
    static ByteView of(const void *p, size_t n) {
        return {static_cast<const uint8_t *>(p), n, n, 0};
    }
    uint8_t at(size_t i) const { return i < avail ? data[i] : fill; }
    // The part from `from` on (empty past the end).
    ByteView from(size_t from) const {
        if (from >= size) return {data, 0, 0, fill};
        size_t present = from < avail ? from : avail;
        return {data + present, avail - present, size - from, fill};
    }
};

class Cursor {
  public:
    Cursor(const ByteView &view, const char *what) : v_(view), what_(what) {}
    Cursor(const void *data, size_t size, const char *what)
        : v_(ByteView::of(data, size)), what_(what) {}

    size_t pos() const { return pos_; }
    size_t size() const { return v_.size; }
    size_t left() const { return v_.size - pos_; }
    bool ok() const { return !failed_; }
    // The name of the region, for the message of a failure.
    const char *what() const { return what_; }

    // Takes `n` bytes; false (and failed) when fewer are left.
    bool take(size_t n) {
        if (n <= left()) {
            pos_ += n;
            return true;
        }
        failed_ = true;
        pos_ = v_.size;
        return false;
    }
    void skip(size_t n) { take(n); }
    // Marks the cursor failed unless `n` more bytes are left; takes nothing.
    void need(size_t n) {
        if (n > left()) {
            failed_ = true;
            pos_ = v_.size;
        }
    }
    void seek(size_t to) {
        if (to <= v_.size)
            pos_ = to;
        else
            take(to - pos_);
    }

    // Unsigned big-endian value of `width` bytes (0 to 4).
    uint32_t uint(unsigned width) {
        size_t at = pos_;
        if (!take(width)) return 0;
        if (at + width > v_.avail) { // partly or wholly past the end of the file
            uint32_t v = 0;
            for (unsigned i = 0; i < width; ++i)
                v = v << 8 | v_.at(at + i);
            return v;
        }
        const uint8_t *p = v_.data + at;
        switch (width) {
        case 1:
            return p[0];
        case 2:
            return uint32_t(p[0]) << 8 | p[1];
        case 3:
            return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        case 4:
            return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
        default:
            return 0;
        }
    }
    // The next `n` bytes, taken, when all of them are in the file; nullptr
    // when fewer are left (the cursor fails) or some lie past the file.
    const uint8_t *bytes(size_t n) {
        size_t at = pos_;
        if (!take(n)) return nullptr;
        return at + n <= v_.avail ? v_.data + at : nullptr;
    }
    uint8_t u8() { return uint8_t(uint(1)); }
    uint16_t u16() { return uint16_t(uint(2)); }
    uint32_t u24() { return uint(3); }
    uint32_t u32() { return uint(4); }

    // A NUL-terminated text; its NUL must lie inside the view. Bytes past
    // the end of the file read as zeros, so a text cut short there ends at
    // the end of the file (the object's bytes are always followed by a NUL
    // in memory), and a text wholly past it is "".
    const char *cstr() {
        if (v_.fill != 0) return fail_text();
        size_t present = v_.size < v_.avail ? v_.size : v_.avail;
        if (pos_ >= present) {
            if (pos_ >= v_.size) return fail_text();
            ++pos_;
            return "";
        }
        const char *text = reinterpret_cast<const char *>(v_.data + pos_);
        const void *nul = memchr(text, 0, present - pos_);
        if (nul) {
            pos_ = size_t(static_cast<const uint8_t *>(nul) - v_.data) + 1;
            return text;
        }
        if (v_.size > present) { // the NUL is the first byte past the file
            pos_ = present + 1;
            return text;
        }
        return fail_text();
    }

  private:
    const char *fail_text() {
        take(left() + 1);
        return "";
    }

    ByteView v_;
    const char *what_;
    size_t pos_ = 0;
    bool failed_ = false;
};
