// Memory for the symbol store of a load. On the virtual machines the tool
// runs on, the first touch of every small page of fresh memory costs a
// fault that is dearer than reading the page's bytes from a file; a huge
// page costs one fault and the clearing of its bytes. Blocks of a huge page
// or more therefore begin on a huge page, and the kernel is asked to back the
// huge pages that they fill with huge pages where it supports that; the rest
// of the last one stays in small pages, which cost memory only as far as
// they are used. Smaller blocks come from the heap.
#pragma once

#include <cstddef>

constexpr size_t HUGE_PAGE_SIZE = size_t(2) << 20;

// A block of `bytes` bytes (rounded up to whole huge pages when it is at
// least one); released with free_large.
void *allocate_large(size_t bytes);
void free_large(void *p) noexcept;
