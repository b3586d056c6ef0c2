// The platform layer on Windows: the wide-character file functions, the
// message box, the folder's lock file and the handles the lock is held by.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform.h"

void report_result(const char* text, const char* caption) {
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
  return CreateHardLinkW(wide(to).c_str(), wide(from).c_str(), nullptr) != 0;
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

void* map_pages(size_t) { return nullptr; }  // the heap serves as well here

void unmap_pages(void*, size_t) {}

void advise_huge_pages(void*, size_t) {}

void use_binary_standard_streams() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

void ignore_file_size_signal() {}

// The folder's lock file, open while this run holds the lock.
constexpr wchar_t kFolderLockName[] = L"anim3d~lock";
static HANDLE folder_lock = INVALID_HANDLE_VALUE;

LockTry try_own_folder_lock() {
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

LockTry try_handed_folder_lock(long long number) {
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

void close_folder_lock() {
  if (folder_lock == INVALID_HANDLE_VALUE) return;
  // Closing a handle handed down by the parent leaves the parent's lock held.
  CloseHandle(folder_lock);
  folder_lock = INVALID_HANDLE_VALUE;
}

void pause_ms(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

void end_process_now() { TerminateProcess(GetCurrentProcess(), 137); }
