#include "platform.h"

#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

void report_result(const char* text, const char* caption) {
  MessageBoxA(GetActiveWindow(), text, caption, MB_OK);
}

OutputSlot output_slot(const char* name) {
  const DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return GetLastError() == ERROR_FILE_NOT_FOUND ? OutputSlot::kFree : OutputSlot::kBlocked;
  }
  // A read-only output is one the user has protected: it is not replaced.
  const DWORD in_the_way = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY;
  return (attributes & in_the_way) == 0 ? OutputSlot::kFile : OutputSlot::kBlocked;
}

bool replace_file(const char* from, const char* to) {
  // A plain rename refuses to replace an existing file on Windows.
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

void* allocate_buffer(size_t bytes) { return std::malloc(bytes); }

void release_buffer(void* buffer, size_t) { std::free(buffer); }

void use_binary_standard_streams() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

#else

#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

void report_result(const char* text, const char* caption) {
  std::printf("%s: %s\n", text, caption);
  std::fflush(stdout);
}

OutputSlot output_slot(const char* name) {
  struct stat status;
  if (stat(name, &status) != 0) return errno == ENOENT ? OutputSlot::kFree : OutputSlot::kBlocked;
  return S_ISREG(status.st_mode) ? OutputSlot::kFile : OutputSlot::kBlocked;
}

bool replace_file(const char* from, const char* to) { return std::rename(from, to) == 0; }

void use_binary_standard_streams() {}

#ifdef ANIM3D_HEAP_BUFFER

// Sanitizer builds keep the heap, whose bounds AddressSanitizer watches.
void* allocate_buffer(size_t bytes) { return std::malloc(bytes); }

void release_buffer(void* buffer, size_t) { std::free(buffer); }

#else

// A run touches a few megabytes once. Taken page by page, the page faults cost
// a third of a run; a mapping aligned to 2 MiB lets the kernel back it with
// huge pages instead. Nothing is touched before it is used, so memory in use
// still follows the largest frame.
constexpr size_t kHugePageBytes = size_t{2} << 20;

#if !defined(MAP_ANONYMOUS) && defined(MAP_ANON)
#define MAP_ANONYMOUS MAP_ANON  // the older name, on some BSDs
#endif

static size_t huge_page_multiple(size_t bytes) {
  return (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
}

// A mapping of `length` bytes (a huge-page multiple) aligned to a huge page, or
// nullptr where mappings cannot be had.
static void* map_aligned(size_t length) {
  void* mapping =
      mmap(nullptr, length + kHugePageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return nullptr;
  // Keep the aligned part and give back the rest.
  const uintptr_t start = reinterpret_cast<uintptr_t>(mapping);
  const uintptr_t aligned = (start + kHugePageBytes - 1) & ~(uintptr_t{kHugePageBytes} - 1);
  const size_t head = aligned - start, tail = kHugePageBytes - head;
  if (head > 0) munmap(mapping, head);
  if (tail > 0) munmap(reinterpret_cast<void*>(aligned + length), tail);
#ifdef MADV_HUGEPAGE
  madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);  // a hint: without it, plain pages
#endif
  return reinterpret_cast<void*>(aligned);
}

// Which kind of memory the buffer is, so that it goes back the way it came.
static bool buffer_is_mapped = false;

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
    munmap(buffer, huge_page_multiple(bytes));
  } else {
    std::free(buffer);
  }
}

#endif

#endif
