// The file calls of POSIX systems, shared by the POSIX platform and the web
// page's (whose in-memory file system emscripten gives the same calls).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform.h"

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
