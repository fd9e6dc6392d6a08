// The symbol store of a load and the memory it is made of. On the virtual
// machines the tool runs on, the first touch of every small page of fresh
// memory costs a fault that is dearer than reading the page's bytes from a
// file; a huge page costs one fault and the clearing of its bytes. Blocks of
// a huge page or more therefore begin on a huge page, and the kernel is asked
// to back the huge pages that they fill with huge pages where it supports
// that; the rest of the last one stays in small pages, which cost memory only
// as far as they are used. Smaller blocks come from the heap.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

struct Symbol;

constexpr size_t HUGE_PAGE_SIZE = size_t(2) << 20;

// A block of `bytes` bytes (rounded up to whole huge pages when it is at
// least one); released with free_large.
void *allocate_large(size_t bytes);
void free_large(void *p) noexcept;

// Storage in large blocks for the symbols, names and index tables that a
// load makes, so that tens of thousands of symbols cost a few allocations.
// Records stay where they are made until the store is cleared.
class SymbolArena {
  public:
    // A new symbol with every field zero or none; with `name`, a copy of the
    // name becomes its `name`.
    Symbol &make_symbol(const char *name = nullptr);
    // A copy of `length` bytes of `text` and a NUL.
    const char *keep_text(const char *text, size_t length);
    // `bytes` of storage, aligned for a symbol (not cleared).
    void *allocate(size_t bytes);
    // Makes room for `bytes` in one block.
    void reserve(size_t bytes);
    void clear();

  private:
    void new_block(size_t bytes);
    struct FreeBlock {
        void operator()(unsigned char *p) const noexcept { free_large(p); }
    };
    std::vector<std::unique_ptr<unsigned char[], FreeBlock>> blocks_;
    size_t used_ = 0;     // bytes of records and tables at the start of the last block
    size_t texts_at_ = 0; // where the texts at the end of the last block begin
};
