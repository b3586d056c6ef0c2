#include "platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

// While another process holds the folder's lock, it is tried again every
// kLockPollMs; try_lock_folder is one try, and says how it went.
constexpr int kLockPollMs = 20;
enum class LockTry { kTaken, kHeld, kNone };
static LockTry try_lock_folder();
static void unlock_folder();
static void pause_ms(int milliseconds);

// The raw tries of the folder's lock, one per platform, which try_lock_folder
// puts together. try_own_lock takes the lock through a descriptor or handle
// of the run's own. try_handed_lock tries the descriptor or handle `number`
// that the parent handed down: kNone when it is no lock of the current folder
// (the run then takes its own), kTaken when it holds the lock for this run,
// kHeld while another process holds it.
static LockTry try_own_lock();
static LockTry try_handed_lock(long long number);

#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

void report_result(const char* text, const char* caption) {
  unlock_folder();
  MessageBoxA(GetActiveWindow(), text, caption, MB_OK);
}

// `name` (UTF-8) in UTF-16 for the wide-character file functions; empty, which
// names no file, if it is not UTF-8.
static std::wstring wide(const char* name) {
  const int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
  if (count <= 1) return std::wstring();
  std::wstring text(static_cast<size_t>(count), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, &text[0], count);
  text.resize(static_cast<size_t>(count) - 1);
  return text;
}

OutputSlot output_slot(const char* name) {
  const DWORD attributes = GetFileAttributesW(wide(name).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return GetLastError() == ERROR_FILE_NOT_FOUND ? OutputSlot::kFree : OutputSlot::kBlocked;
  }
  // A read-only output is one the user has protected: it is not replaced.
  const DWORD in_the_way = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY;
  if ((attributes & in_the_way) != 0) return OutputSlot::kBlocked;
  // Nor can a file that another program holds open without delete sharing
  // (an engine, a viewer): found out before a commit makes its backups,
  // which could not be removed either.
  const HANDLE handle =
      CreateFileW(wide(name).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_SHARING_VIOLATION ? OutputSlot::kBlocked : OutputSlot::kFile;
  }
  CloseHandle(handle);
  return OutputSlot::kFile;
}

bool is_plain_file(const char* name) {
  const DWORD attributes = GetFileAttributesW(wide(name).c_str());
  const DWORD not_plain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & not_plain) == 0;
}

bool link_file(const char* from, const char* to) {
  return !fault_links_fail() && CreateHardLinkW(wide(to).c_str(), wide(from).c_str(), nullptr) != 0;
}

bool replace_file(const char* from, const char* to) {
  // A plain rename refuses to replace an existing file on Windows.
  return MoveFileExW(wide(from).c_str(), wide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// Removes the plain file `path`, never a link or a folder: a link is kept
// (and the name stays taken), as Wine's DeleteFileW on a link of the host
// removes what it points to instead.
static bool remove_plain_file(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) return false;
  return DeleteFileW(path.c_str()) != 0;
}

bool remove_file(const char* name) { return remove_plain_file(wide(name)); }

// The C stream over an open file handle, or nullptr (the handle then closed).
static FILE* stream_of(HANDLE handle, int flags, const char* mode) {
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
  if (descriptor < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  FILE* file = _fdopen(descriptor, mode);
  if (!file) _close(descriptor);
  return file;
}

FILE* create_new_file(const char* name) {
  const std::wstring path = wide(name);
  // CREATE_NEW fails on any name that exists, a link included. A plain file
  // left by an interrupted run is removed and the name made afresh; anything
  // else stays, and the name cannot be written.
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE && remove_plain_file(path)) {
    handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  return stream_of(handle, _O_WRONLY, "wb");
}

bool flush_to_disk(FILE* file) {
  if (std::fflush(file) != 0) return false;
  return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != 0;
}

void flush_folder_of(const char*) {}  // the moves are written through

bool seek_file(FILE* file, uint64_t offset) {
  // fseek's long is 32 bits on Windows: a file may be 4 GiB.
  return offset <= INT64_MAX && _fseeki64(file, static_cast<int64_t>(offset), SEEK_SET) == 0;
}

FILE* open_regular_file(const char* name, bool& missing) {
  missing = false;
  const HANDLE handle =
      CreateFileW(wide(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  // A device name ("CON", "NUL", "COM1" and the like, whatever follows them)
  // opens a device, not a file on the disk.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return nullptr;
  }
  return stream_of(handle, _O_RDONLY, "rb");
}

bool file_identity(const char* name, FileIdentity& identity) {
  const HANDLE handle =
      CreateFileW(wide(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information;
  const bool ok = GetFileInformationByHandle(handle, &information) != 0;
  CloseHandle(handle);
  if (!ok) return false;
  identity.volume = information.dwVolumeSerialNumber;
  identity.index = uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow;
  return true;
}

void* allocate_buffer(size_t bytes) { return std::malloc(bytes); }

void release_buffer(void* buffer, size_t) { std::free(buffer); }

void use_binary_standard_streams() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

void ignore_file_size_signal() {}

// The folder's lock file, open while this run holds the lock.
constexpr wchar_t kFolderLockName[] = L"anim3d~lock";
static HANDLE folder_lock = INVALID_HANDLE_VALUE;

static LockTry try_own_lock() {
  if (folder_lock != INVALID_HANDLE_VALUE) return LockTry::kTaken;
  const HANDLE handle = CreateFileW(kFolderLockName, GENERIC_READ | GENERIC_WRITE | DELETE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    // A lock file that its last holder has closed denies access until the
    // system has removed it. Where nothing stands at the name, no file can be
    // made in this folder, so the run cannot write here anyway.
    const DWORD error = GetLastError();
    const bool taken_name = GetFileAttributesW(kFolderLockName) != INVALID_FILE_ATTRIBUTES ||
                            GetLastError() != ERROR_FILE_NOT_FOUND;
    if (error == ERROR_SHARING_VIOLATION || (error == ERROR_ACCESS_DENIED && taken_name))
      return LockTry::kHeld;
    return LockTry::kNone;
  }
  OVERLAPPED first_byte = {};
  if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &first_byte)) {
    const DWORD error = GetLastError();
    CloseHandle(handle);
    return error == ERROR_LOCK_VIOLATION ? LockTry::kHeld : LockTry::kNone;
  }
  folder_lock = handle;
  return LockTry::kTaken;
}

// The volume and file index of what `handle` has open; false if it has no
// file on a disk open.
static bool handle_identity(HANDLE handle, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION information;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &information))
    return false;
  identity.volume = information.dwVolumeSerialNumber;
  identity.index = uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow;
  return true;
}

static LockTry try_handed_lock(long long number) {
  if (folder_lock != INVALID_HANDLE_VALUE) return LockTry::kTaken;
  // A handle is a pointer-sized value; one that names nothing open here, or
  // anything but the lock file of this folder, is not the parent's lock.
  const HANDLE handed = reinterpret_cast<HANDLE>(static_cast<intptr_t>(number));
  FileIdentity lock_file, own_lock_file;
  if (number <= 0 || !handle_identity(handed, lock_file) || !file_identity("anim3d~lock", own_lock_file) ||
      !(lock_file == own_lock_file)) {
    return LockTry::kNone;
  }
  // A byte-range lock belongs to the process that took it, so the child
  // cannot take over its parent's: a lock it cannot take through the handle
  // it was given is the parent's. One it can take, no one held: it is given
  // back, and the run takes its own lock as any run does.
  OVERLAPPED first_byte = {};
  if (LockFileEx(handed, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &first_byte)) {
    UnlockFileEx(handed, 0, 1, 0, &first_byte);
    return LockTry::kNone;
  }
  if (GetLastError() != ERROR_LOCK_VIOLATION) return LockTry::kNone;
  folder_lock = handed;
  return LockTry::kTaken;
}

static void unlock_folder() {
  if (folder_lock == INVALID_HANDLE_VALUE) return;
  // Closing a handle handed down by the parent leaves the parent's lock held.
  CloseHandle(folder_lock);
  folder_lock = INVALID_HANDLE_VALUE;
}

static void pause_ms(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

#ifdef ANIM3D_FAULT_HOOKS
static void end_at_once() { TerminateProcess(GetCurrentProcess(), 137); }
#endif

// The UTF-8 arguments start_console_program hands out; they live as long as
// the program.
static std::vector<std::string> argument_texts;
static std::vector<char*> arguments;

// shell32.dll's CommandLineToArgvW, looked up as a console program starts
// rather than imported: frameconv and clipmerge share this file but never
// split a command line, and so need nothing of shell32.dll.
static LPWSTR* split_command_line(LPCWSTR line, int* count) {
  using Split = LPWSTR*(WINAPI*)(LPCWSTR, int*);
  const HMODULE shell = LoadLibraryW(L"shell32.dll");
  const FARPROC split = shell ? GetProcAddress(shell, "CommandLineToArgvW") : nullptr;
  return split ? reinterpret_cast<Split>(reinterpret_cast<void*>(split))(line, count) : nullptr;
}

void start_console_program(int& argc, char**& argv) {
  use_binary_standard_streams();
  int count = 0;
  LPWSTR* wide_arguments = split_command_line(GetCommandLineW(), &count);
  if (!wide_arguments) return;  // keep the arguments as they came
  argument_texts.assign(static_cast<size_t>(count), std::string());
  for (int i = 0; i < count; ++i) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide_arguments[i], -1, nullptr, 0, nullptr, nullptr);
    std::string& text = argument_texts[static_cast<size_t>(i)];
    text.assign(bytes > 0 ? static_cast<size_t>(bytes) : 1, '\0');
    if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, wide_arguments[i], -1, &text[0], bytes, nullptr, nullptr);
    text.resize(text.size() - 1);
  }
  LocalFree(wide_arguments);
  arguments.clear();
  for (std::string& text : argument_texts) arguments.push_back(&text[0]);
  arguments.push_back(nullptr);
  argc = count;
  argv = arguments.data();
}

#else

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <ctime>

void report_result(const char* text, const char* caption) {
  unlock_folder();
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

bool link_file(const char* from, const char* to) { return !fault_links_fail() && link(from, to) == 0; }

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

void start_console_program(int&, char**&) {
  use_binary_standard_streams();
  ignore_file_size_signal();
}

void use_binary_standard_streams() {}

// The current folder, open while this run holds its lock.
static int folder_lock = -1;

// One try of flock on the open folder `descriptor`.
static LockTry try_flock(int descriptor) {
  if (flock(descriptor, LOCK_EX | LOCK_NB) == 0) return LockTry::kTaken;
  if (errno == EWOULDBLOCK || errno == EINTR) return LockTry::kHeld;
  return LockTry::kNone;  // a file system without locks
}

static LockTry try_own_lock() {
  if (folder_lock < 0) {
    folder_lock = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_lock < 0) return LockTry::kNone;
  }
  const LockTry tried = try_flock(folder_lock);
  if (tried == LockTry::kNone) unlock_folder();
  return tried;
}

static LockTry try_handed_lock(long long number) {
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

static void unlock_folder() {
  if (folder_lock < 0) return;
  close(folder_lock);
  folder_lock = -1;
}

static void pause_ms(int milliseconds) {
  const timespec pause = {milliseconds / 1000, milliseconds % 1000 * 1000000L};
  nanosleep(&pause, nullptr);
}

#ifdef ANIM3D_FAULT_HOOKS
static void end_at_once() { raise(SIGKILL); }
#endif

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

// The folder's lock as a parent hands it down: the decimal number of a
// descriptor (POSIX) or handle (Windows) that the program inherits, named in
// this environment variable. The add-on's export, which holds the lock of its
// folder from its check to its record, runs frameconv and clipmerge there
// under its own lock this way; a run started any other way never has it.
constexpr char kHandedLockVariable[] = "ANIM3D_FOLDER_LOCK";

// The number the parent handed down, or -1 where none (or no number) is.
static long long handed_lock_number() {
  const char* value = std::getenv(kHandedLockVariable);
  if (!value || *value < '0' || *value > '9') return -1;
  char* end = nullptr;
  const long long number = std::strtoll(value, &end, 10);
  return *end == 0 && number >= 0 ? number : -1;
}

// A lock handed down for this folder is the run's lock; any other hand-down is
// ignored, and the run takes the lock itself.
static LockTry try_lock_folder() {
  const long long handed = handed_lock_number();
  if (handed >= 0) {
    const LockTry tried = try_handed_lock(handed);
    if (tried != LockTry::kNone) return tried;
  }
  return try_own_lock();
}

bool lock_folder(int wait_ms) {
  wait_ms = fault_lock_wait(wait_ms);
  for (int waited = 0;; waited += kLockPollMs) {
    if (try_lock_folder() != LockTry::kHeld) return true;
    if (waited >= wait_ms) return false;
    pause_ms(kLockPollMs);
  }
}

#ifdef ANIM3D_FAULT_HOOKS

void fault_point(const char* step, const char* name) {
  char point[128];
  std::snprintf(point, sizeof point, "%s%s%s", step, *name ? " " : "", name);
  const char* kill_at = std::getenv("ANIM3D_KILL_AT");
  if (kill_at && std::strcmp(kill_at, point) == 0) end_at_once();
  const char* hold_at = std::getenv("ANIM3D_HOLD_AT");
  const char* hold_file = std::getenv("ANIM3D_HOLD_FILE");
  if (!hold_at || !hold_file || std::strcmp(hold_at, point) != 0) return;
  FILE* held = std::fopen(hold_file, "wb");
  if (held) std::fclose(held);
  while ((held = std::fopen(hold_file, "rb"))) {
    std::fclose(held);
    pause_ms(5);
  }
}

bool fault_links_fail() { return std::getenv("ANIM3D_FAULT_NO_LINKS") != nullptr; }

int fault_lock_wait(int wait_ms) {
  const char* wait = std::getenv("ANIM3D_LOCK_WAIT_MS");
  return wait ? std::atoi(wait) : wait_ms;
}

#endif
