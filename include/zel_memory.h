// Memory for the large buffers of a load (the code section, the section
// buffers, the blocks of the symbol store). Such a buffer is filled right
// after it is allocated, and on first touch every 4 KB page costs a page
// fault; on virtual machines a fault can cost more than reading the page's
// bytes from the file. Large buffers are therefore requested in whole huge
// pages and the kernel is asked to back them with huge pages, where it
// supports that; elsewhere they are ordinary allocations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t HUGE_PAGE_SIZE = size_t(2) << 20;

// A zero-filled buffer of `size` bytes.
std::vector<uint8_t> zeroed_buffer(size_t size);

// A block of `bytes` bytes, aligned to huge pages and backed by them when it
// is at least one huge page; smaller blocks come from the heap. Released with
// free_large.
void *allocate_large(size_t bytes);
void free_large(void *p) noexcept;
