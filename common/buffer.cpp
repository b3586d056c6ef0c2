#include "buffer.h"

#include <cstdint>
#include <cstdlib>

#include "platform.h"

#ifdef ANIM3D_HEAP_BUFFER

// Sanitizer builds keep the heap, whose bounds AddressSanitizer watches.
void* allocate_buffer(size_t bytes) { return std::malloc(bytes); }

void release_buffer(void* buffer, size_t) { std::free(buffer); }

#else

namespace {

// A mapping aligned to 2 MiB lets the kernel back it with huge pages. Nothing
// is touched before it is used, so memory in use still follows the largest
// frame.
constexpr size_t kHugePageBytes = size_t{2} << 20;

size_t huge_page_multiple(size_t bytes) {
  return (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
}

// A mapping of `length` bytes (a huge-page multiple) aligned to a huge page, or
// nullptr where mappings cannot be had.
void* map_aligned(size_t length) {
  void* mapping = map_pages(length + kHugePageBytes);
  if (!mapping) return nullptr;
  // Keep the aligned part and give back the rest.
  const uintptr_t start = reinterpret_cast<uintptr_t>(mapping);
  const uintptr_t aligned = (start + kHugePageBytes - 1) & ~(uintptr_t{kHugePageBytes} - 1);
  const size_t head = aligned - start, tail = kHugePageBytes - head;
  if (head > 0) unmap_pages(mapping, head);
  if (tail > 0) unmap_pages(reinterpret_cast<void*>(aligned + length), tail);
  advise_huge_pages(reinterpret_cast<void*>(aligned), length);
  return reinterpret_cast<void*>(aligned);
}

// Which kind of memory the buffer is, so that it goes back the way it came.
bool buffer_is_mapped = false;

}  // namespace

void* allocate_buffer(size_t bytes) {
  // Where the mapping fails (a system without anonymous mappings, a limit on
  // them), ordinary memory does the same job, with more page faults.
  const size_t length = huge_page_multiple(bytes);
  void* buffer = map_aligned(length);
  buffer_is_mapped = buffer != nullptr;
  return buffer_is_mapped ? buffer : std::malloc(bytes);
}

void release_buffer(void* buffer, size_t bytes) {
  if (!buffer) return;
  if (buffer_is_mapped) {
    unmap_pages(buffer, huge_page_multiple(bytes));
  } else {
    std::free(buffer);
  }
}

#endif
