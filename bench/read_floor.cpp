// The read floor: what any converter must at least do with its input. Reads
// each named file whole into one buffer (one read call where the kernel gives
// the whole file at once; the buffer grows only to the largest file, once) and
// counts its newlines with memchr, so that every byte is looked at.
//
//   read_floor FILE...    prints "<bytes> bytes, <lines> lines, <files> files"
//
// With --write BYTES (given once for each output) it is instead the floor of
// a converter whose outputs are durable: it reads each file whole, as above,
// without looking at its bytes, then writes a file of BYTES bytes for each
// output, floor-output-1, floor-output-2, ... in the current directory, each
// created afresh, written from the read buffer and flushed to the disk
// (fsync); it prints "<bytes> bytes, <files> files, <bytes> bytes written".
//
// Exit status 0, or 1 when a file cannot be opened, read or written.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// Writes a file `name` of `bytes` bytes, created afresh, from `data` of
// `data_bytes` bytes over and over, and flushes it to the disk.
static bool write_durably(const char* name, size_t bytes, const char* data, size_t data_bytes) {
  unlink(name);
  const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  size_t written = 0;
  while (written < bytes) {
    const size_t piece = bytes - written < data_bytes ? bytes - written : data_bytes;
    const ssize_t put = write(fd, data, piece);
    if (put <= 0) break;
    written += static_cast<size_t>(put);
  }
  const bool ok = written == bytes && fsync(fd) == 0;
  return close(fd) == 0 && ok;
}

int main(int argc, char** argv) {
  std::vector<size_t> outputs;
  int first = 1;
  for (; first + 1 < argc && std::strcmp(argv[first], "--write") == 0; first += 2) {
    outputs.push_back(std::strtoull(argv[first + 1], nullptr, 10));
  }
  char* buffer = nullptr;
  size_t capacity = 0;
  unsigned long long total_bytes = 0, line_count = 0;
  for (int i = first; i < argc; ++i) {
    const int fd = open(argv[i], O_RDONLY);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
      std::fprintf(stderr, "read_floor: cannot open %s\n", argv[i]);
      return 1;
    }
    // One byte more than the file, so that the read that fills it also sees its end.
    const size_t wanted = static_cast<size_t>(status.st_size) + 1;
    if (wanted > capacity) {
      std::free(buffer);
      buffer = static_cast<char*>(std::malloc(wanted));
      capacity = wanted;
      if (!buffer) {
        std::fprintf(stderr, "read_floor: out of memory\n");
        return 1;
      }
    }
    size_t length = 0;
    for (;;) {
      const ssize_t got = read(fd, buffer + length, capacity - length);
      if (got < 0) {
        std::fprintf(stderr, "read_floor: cannot read %s\n", argv[i]);
        return 1;
      }
      if (got == 0) break;
      length += static_cast<size_t>(got);
      if (length == capacity) break;  // the file grew: the floor reads what it sized for
    }
    close(fd);
    total_bytes += length;
    if (!outputs.empty()) continue;
    const char* const end = buffer + length;
    for (const char* p = buffer; (p = static_cast<const char*>(std::memchr(p, '\n', end - p))); ++p) {
      ++line_count;
    }
  }
  if (outputs.empty()) {
    std::printf("%llu bytes, %llu lines, %d files\n", total_bytes, line_count, argc - first);
  } else {
    // The bytes written are those last read, over and over.
    static char zeros[4096];
    const char* data = capacity > 1 ? buffer : zeros;
    const size_t data_bytes = capacity > 1 ? capacity - 1 : sizeof zeros;
    size_t written = 0;
    for (size_t i = 0; i < outputs.size(); ++i) {
      const std::string name = "floor-output-" + std::to_string(i + 1);
      if (!write_durably(name.c_str(), outputs[i], data, data_bytes)) {
        std::fprintf(stderr, "read_floor: cannot write %s\n", name.c_str());
        return 1;
      }
      written += outputs[i];
    }
    std::printf("%llu bytes, %d files, %zu bytes written\n", total_bytes, argc - first, written);
  }
  std::free(buffer);
  return 0;
}
