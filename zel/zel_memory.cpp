// The symbol store and the huge-page backing of its blocks; see zel_memory.h.
#include "zel_memory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>

#include "zel.h"

void *allocate_large(size_t bytes) {
    void *p = nullptr;
    if (bytes >= HUGE_PAGE_SIZE) {
        size_t size = (bytes + HUGE_PAGE_SIZE - 1) / HUGE_PAGE_SIZE * HUGE_PAGE_SIZE;
        p = std::aligned_alloc(HUGE_PAGE_SIZE, size);
#ifdef MADV_HUGEPAGE
        // Only the huge pages that the block fills: the rest of the last one
        // is small pages, which cost memory only as far as they are used.
        if (p) madvise(p, bytes / HUGE_PAGE_SIZE * HUGE_PAGE_SIZE, MADV_HUGEPAGE);
#endif
    } else {
        p = std::malloc(bytes ? bytes : 1);
    }
    if (!p) throw std::bad_alloc();
    return p;
}

void free_large(void *p) noexcept {
    std::free(p);
}

// ---------------------------------------------------------------------------
// The symbol store

namespace {

constexpr size_t FIRST_BLOCK = 64 * 1024;

} // namespace

// A block is as large as asked: allocate_large backs the huge pages that it
// fills with huge pages, so a large load costs a few faults, and the rest in
// small pages as far as it is used.
void *SymbolArena::allocate(size_t bytes) {
    bytes = (bytes + alignof(Symbol) - 1) & ~(alignof(Symbol) - 1);
    if (texts_at_ - used_ < bytes) new_block(bytes);
    void *p = blocks_.back().get() + used_;
    used_ += bytes;
    return p;
}

void SymbolArena::new_block(size_t bytes) {
    size_t size = std::max(blocks_.empty() ? FIRST_BLOCK : 4 * FIRST_BLOCK, bytes);
    blocks_.emplace_back(static_cast<unsigned char *>(allocate_large(size)));
    used_ = 0;
    texts_at_ = size;
}

void SymbolArena::reserve(size_t bytes) {
    if (texts_at_ - used_ < bytes) new_block(bytes);
}

void SymbolArena::clear() {
    blocks_.clear();
    used_ = texts_at_ = 0;
}

Symbol &SymbolArena::make_symbol(const char *name) {
    Symbol *s = std::construct_at(static_cast<Symbol *>(allocate(sizeof(Symbol))));
    if (name) s->name = keep_text(name, strlen(name));
    return *s;
}

// Texts fill the block from its end, so that the names lie side by side
// apart from the records: the listing, which reads names of symbols in any
// order, then touches few memory lines for them.
const char *SymbolArena::keep_text(const char *text, size_t length) {
    if (texts_at_ - used_ < length + 1) new_block(length + 1);
    texts_at_ -= length + 1;
    char *copy = reinterpret_cast<char *>(blocks_.back().get() + texts_at_);
    memcpy(copy, text, length);
    copy[length] = 0;
    return copy;
}
