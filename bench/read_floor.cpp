// The read floor: what any converter must at least do with its input. Reads
// each named file whole into one buffer (one read call where the kernel gives
// the whole file at once; the buffer grows only to the largest file, once) and
// counts its newlines with memchr, so that every byte is looked at.
//
//   read_floor FILE...    prints "<bytes> bytes, <lines> lines, <files> files"
//
// Exit status 0, or 1 when a file cannot be opened or read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  char* buffer = nullptr;
  size_t capacity = 0;
  unsigned long long total_bytes = 0, line_count = 0;
  for (int i = 1; i < argc; ++i) {
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
    const char* const end = buffer + length;
    for (const char* p = buffer; (p = static_cast<const char*>(std::memchr(p, '\n', end - p))); ++p) {
      ++line_count;
    }
    total_bytes += length;
  }
  std::free(buffer);
  std::printf("%llu bytes, %llu lines, %d files\n", total_bytes, line_count, argc - 1);
  return 0;
}
