// The platform layer on POSIX systems: the file calls, the closing line on
// standard output, flock on the open folder, anonymous mappings.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform.h"

void report_result(const char* text, const char* caption) {
  std::printf("%s: %s\n", text, caption);
  std::fflush(stdout);
}

OutputSlot output_slot(const char* name) {
  struct stat status;
  if (stat(name, &status) != 0) return errno == ENOENT ? OutputSlot::kFree : OutputSlot::kBlocked;
  if (!S_ISREG(status.st_mode)) return OutputSlot::kBlocked;
  // A file without any write permission is one the user has protected, as a
  // read-only file on Windows: it is not replaced.
  const bool protected_file = (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  return protected_file ? OutputSlot::kBlocked : OutputSlot::kFile;
}

bool is_plain_file(const char* name) {
  struct stat status;
  return lstat(name, &status) == 0 && S_ISREG(status.st_mode);
}

bool link_file(const char* from, const char* to) { return link(from, to) == 0; }

bool replace_file(const char* from, const char* to) { return std::rename(from, to) == 0; }

bool remove_file(const char* name) { return unlink(name) == 0; }

FILE* create_new_file(const char* name) {
  unlink(name);  // removes a link, never what it points to
  const int descriptor = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (descriptor < 0) return nullptr;
  FILE* file = fdopen(descriptor, "wb");
  if (!file) close(descriptor);
  return file;
}

bool flush_to_disk(FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

bool seek_file(FILE* file, uint64_t offset) {
  static_assert(sizeof(off_t) == 8, "a file offset of 64 bits");
  return offset <= INT64_MAX && fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

void flush_folder_of(const char* name) {
  char folder[4096] = ".";
  if (const char* slash = std::strrchr(name, '/')) {
    const size_t length = slash == name ? 1 : static_cast<size_t>(slash - name);  // "/x" is in "/"
    if (length >= sizeof folder) return;
    std::memcpy(folder, name, length);
    folder[length] = 0;
  }
  const int descriptor = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return;
  fsync(descriptor);
  close(descriptor);
}

FILE* open_regular_file(const char* name, bool& missing) {
  missing = false;
  // Whatever is not a regular file is never opened (a device may act on an
  // open); a FIFO put in place between the look and the open cannot make the
  // open wait either.
  struct stat status;
  if (stat(name, &status) != 0) {
    missing = errno == ENOENT;
    return nullptr;
  }
  if (!S_ISREG(status.st_mode)) return nullptr;
  const int descriptor = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (descriptor < 0) {
    missing = errno == ENOENT;
    return nullptr;
  }
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor);
    return nullptr;
  }
  FILE* file = fdopen(descriptor, "rb");
  if (!file) close(descriptor);
  return file;
}

bool file_identity(const char* name, FileIdentity& identity) {
  struct stat status;
  if (stat(name, &status) != 0) return false;
  identity.volume = static_cast<uint64_t>(status.st_dev);
  identity.index = static_cast<uint64_t>(status.st_ino);
  return true;
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
