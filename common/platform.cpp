#include "platform.h"

#ifdef _WIN32

#include <windows.h>

void report_result(const char* text, const char* caption) {
  MessageBoxA(GetActiveWindow(), text, caption, MB_OK);
}

bool can_replace(const char* name) {
  const DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool replace_file(const char* from, const char* to) {
  // A plain rename refuses to replace an existing file on Windows.
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

#else

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

void report_result(const char* text, const char* caption) {
  std::printf("%s: %s\n", text, caption);
  std::fflush(stdout);
}

bool can_replace(const char* name) {
  struct stat status;
  if (stat(name, &status) != 0) return errno == ENOENT;
  return S_ISREG(status.st_mode);
}

bool replace_file(const char* from, const char* to) { return std::rename(from, to) == 0; }

#endif
