// Huge-page backing for the blocks of the symbol store; see zel_memory.h.
#include "zel_memory.h"

#include <cstdlib>
#include <new>
#include <sys/mman.h>

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
