// A bounded reader over one buffer of the object. Every decoder reads
// through it; a read that would pass the end of the buffer ends the run
// with one fatal message naming the buffer, so nothing outside it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "zel_error.h"

class Cursor {
  public:
    Cursor(const uint8_t *data, size_t size, const char *what)
        : data_(data), size_(size), what_(what) {}

    size_t pos() const { return pos_; }
    size_t size() const { return size_; }
    size_t left() const { return size_ - pos_; }
    const uint8_t *here() const { return data_ + pos_; }

    void need(size_t n) const {
        if (n > size_ - pos_) overrun();
    }
    void skip(size_t n) {
        need(n);
        pos_ += n;
    }
    void seek(size_t pos) {
        if (pos > size_) overrun();
        pos_ = pos;
    }
    uint8_t u8() {
        need(1);
        return data_[pos_++];
    }
    uint16_t u16() {
        need(2);
        uint16_t v = uint16_t(data_[pos_] << 8 | data_[pos_ + 1]);
        pos_ += 2;
        return v;
    }
    uint32_t u24() {
        need(3);
        uint32_t v = uint32_t(data_[pos_]) << 16 | uint32_t(data_[pos_ + 1]) << 8 | data_[pos_ + 2];
        pos_ += 3;
        return v;
    }
    uint32_t u32() {
        need(4);
        uint32_t v = uint32_t(data_[pos_]) << 24 | uint32_t(data_[pos_ + 1]) << 16 |
                     uint32_t(data_[pos_ + 2]) << 8 | data_[pos_ + 3];
        pos_ += 4;
        return v;
    }
    // Unsigned value of 1, 2, 3 or 4 bytes (0 bytes: 0).
    uint32_t uint(unsigned width) {
        switch (width) {
        case 0:
            return 0;
        case 1:
            return u8();
        case 2:
            return u16();
        case 3:
            return u24();
        default:
            return u32();
        }
    }
    // A NUL-terminated text; the NUL must lie inside the buffer.
    const char *cstr() {
        const void *nul = pos_ < size_ ? memchr(data_ + pos_, 0, size_ - pos_) : nullptr;
        if (!nul) overrun();
        const char *text = reinterpret_cast<const char *>(data_ + pos_);
        pos_ = static_cast<const uint8_t *>(nul) - data_ + 1;
        return text;
    }

  private:
    [[noreturn]] void overrun() const {
        fatal_error("Object is corrupt: %s runs past the end of its data", what_);
    }
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
    const char *what_;
};
