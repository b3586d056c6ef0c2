// The platform layer on POSIX systems: the closing line on standard output,
// flock on the open folder, anonymous mappings (the file calls are in
// files_posix.cpp).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "platform.h"

void report_result(const char* text, const char* caption) {
  std::printf("%s: %s\n", text, caption);
  std::fflush(stdout);
}

void ignore_file_size_signal() { std::signal(SIGXFSZ, SIG_IGN); }

void use_binary_standard_streams() {}

// The current folder, open while this run holds its lock.
static int folder_lock = -1;

// One try of flock on the open folder `descriptor`.
static LockTry try_flock(int descriptor) {
  if (flock(descriptor, LOCK_EX | LOCK_NB) == 0) return LockTry::kTaken;
  if (errno == EWOULDBLOCK || errno == EINTR) return LockTry::kHeld;
  return LockTry::kNone;  // a file system without locks
}

LockTry try_own_folder_lock() {
  if (folder_lock < 0) {
    folder_lock = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_lock < 0) return LockTry::kNone;
  }
  const LockTry tried = try_flock(folder_lock);
  if (tried == LockTry::kNone) close_folder_lock();
  return tried;
}

LockTry try_handed_folder_lock(long long number) {
  if (folder_lock >= 0) return try_flock(folder_lock);
  // Only a descriptor of the current folder itself, by device and inode, is
  // its lock; whatever else the number names is left alone.
  struct stat handed, here;
  if (number < 0 || number > INT32_MAX || fstat(static_cast<int>(number), &handed) != 0 ||
      !S_ISDIR(handed.st_mode) || stat(".", &here) != 0 || handed.st_dev != here.st_dev ||
      handed.st_ino != here.st_ino) {
    return LockTry::kNone;
  }
  // flock belongs to the open folder, which the child shares with its
  // parent: a try through it succeeds when the parent holds the lock (or no
  // one does, and then this run holds it), and waits while another process
  // holds it. It is never unlocked, only closed, so the parent keeps it.
  const int descriptor = static_cast<int>(number);
  const LockTry tried = try_flock(descriptor);
  if (tried == LockTry::kNone) return LockTry::kNone;
  fcntl(descriptor, F_SETFD, FD_CLOEXEC);
  folder_lock = descriptor;
  return tried;
}

void close_folder_lock() {
  if (folder_lock < 0) return;
  close(folder_lock);
  folder_lock = -1;
}

void pause_ms(int milliseconds) {
  const timespec pause = {milliseconds / 1000, milliseconds % 1000 * 1000000L};
  nanosleep(&pause, nullptr);
}

void end_process_now() { raise(SIGKILL); }

#if !defined(MAP_ANONYMOUS) && defined(MAP_ANON)
#define MAP_ANONYMOUS MAP_ANON  // the older name, on some BSDs
#endif

void* map_pages(size_t length) {
  void* mapping = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return mapping == MAP_FAILED ? nullptr : mapping;
}

void unmap_pages(void* start, size_t length) { munmap(start, length); }

void advise_huge_pages([[maybe_unused]] void* start, [[maybe_unused]] size_t length) {
#ifdef MADV_HUGEPAGE
  madvise(start, length, MADV_HUGEPAGE);  // a hint: without it, plain pages
#endif
}
