// Huge-page backing for the large buffers of a load; see zel_memory.h.
#include "zel_memory.h"

#include <cstdlib>
#include <new>
#include <sys/mman.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#if defined(__linux__) && !defined(MADV_COLLAPSE)
#define MADV_COLLAPSE 25 // Linux 6.1 and later; older kernels refuse it
#endif

namespace {

// A zero-filled buffer of this size or more is worth a huge page: one fault
// and one cleared huge page cost less than the faults of its small pages.
constexpr size_t HUGE_BUFFER_MIN = 256 * 1024;

// What the allocator adds in front of a block it maps for itself (its size
// words); a reservation that leaves room for it maps whole huge pages.
constexpr size_t ALLOCATOR_HEADER = 64;

uintptr_t huge_page_down(uintptr_t a) {
    return a & ~uintptr_t(HUGE_PAGE_SIZE - 1);
}
uintptr_t huge_page_up(uintptr_t a) {
    return huge_page_down(a + HUGE_PAGE_SIZE - 1);
}

// Asks for huge pages over the huge pages of [data, data + size), counting
// the allocator's header around it as the block's own. When `header_written`,
// the allocator has already written its header into the first of them, which
// is therefore mapped in small pages; it is collapsed into a huge page at
// once. Where the kernel does not support this, nothing happens.
void back_with_huge_pages(const void *data, size_t size, bool header_written) {
#ifdef MADV_HUGEPAGE
    auto begin = reinterpret_cast<uintptr_t>(data);
    uintptr_t first = huge_page_up(begin > ALLOCATOR_HEADER ? begin - ALLOCATOR_HEADER : 0);
    uintptr_t last = huge_page_down(begin + size + ALLOCATOR_HEADER);
    if (last <= first) return;
    if (madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE) != 0) return;
#ifdef MADV_COLLAPSE
    if (header_written && first <= begin)
        madvise(reinterpret_cast<void *>(first), HUGE_PAGE_SIZE, MADV_COLLAPSE);
#endif
#else
    (void)data;
    (void)size;
    (void)header_written;
#endif
}

size_t round_to_huge_pages(size_t size) {
    return (size + HUGE_PAGE_SIZE - 1) / HUGE_PAGE_SIZE * HUGE_PAGE_SIZE;
}

// The C library maps large blocks of its own, but after one of them is freed
// it serves blocks up to that size from its heap, where they cannot be given
// huge pages. A fixed threshold keeps every large buffer in a mapping of its
// own.
void keep_large_blocks_mapped() {
#if defined(__GLIBC__) && defined(M_MMAP_THRESHOLD)
    static const bool done = mallopt(M_MMAP_THRESHOLD, int(HUGE_BUFFER_MIN)) != 0;
    (void)done;
#endif
}

} // namespace

std::vector<uint8_t> zeroed_buffer(size_t size) {
    std::vector<uint8_t> buf;
    if (size >= HUGE_BUFFER_MIN) {
        keep_large_blocks_mapped();
        buf.reserve(round_to_huge_pages(size + ALLOCATOR_HEADER) - ALLOCATOR_HEADER);
        back_with_huge_pages(buf.data(), buf.capacity(), true);
    }
    buf.resize(size);
    return buf;
}

// The allocator keeps its header in front of an aligned block, outside it, so
// nothing inside the block is touched before it has been advised.
void *allocate_large(size_t bytes) {
    void *p = nullptr;
    if (bytes >= HUGE_PAGE_SIZE) {
        size_t size = round_to_huge_pages(bytes);
        p = std::aligned_alloc(HUGE_PAGE_SIZE, size);
        if (p) back_with_huge_pages(p, size, false);
    } else {
        p = std::malloc(bytes ? bytes : 1);
    }
    if (!p) throw std::bad_alloc();
    return p;
}

void free_large(void *p) noexcept {
    std::free(p);
}
