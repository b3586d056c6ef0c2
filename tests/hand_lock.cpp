// hand_lock HAND PROGRAM: a Windows test helper, the parent of a run that
// holds the folder's lock. Takes the lock of the current directory as the
// programs and the add-on do (byte 0 of "anim3d~lock"), then runs PROGRAM in
// it twice while holding it: first as a child that it hands the lock down to
// (ANIM3D_FOLDER_LOCK) as HAND says, then as a run started by hand, with no
// such variable. HAND: "held", the handle that holds the lock; "none", no
// variable; "other", a handle of another file; "unheld", a second handle of
// the lock file, through which nothing is locked; "closed", a number that
// names no handle. Its exit status is the first run's, or 90 if the lock or
// PROGRAM cannot be had.
#include <windows.h>

#include <cstdio>
#include <cstring>

// A new handle of `name` in the current directory that the child inherits,
// removed when the last handle of it closes; INVALID_HANDLE_VALUE on failure.
static HANDLE open_inherited(const wchar_t* name) {
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  return CreateFileW(name, GENERIC_READ | GENERIC_WRITE | DELETE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

// Runs `program` and waits for it; its exit status, or 90 if it cannot start.
static DWORD run(const char* program) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  DWORD status = 90;
  if (CreateProcessA(program, nullptr, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  return status;
}

int main(int argc, char** argv) {
  if (argc != 3) return 90;
  const HANDLE lock = open_inherited(L"anim3d~lock");
  OVERLAPPED first_byte = {};
  if (lock == INVALID_HANDLE_VALUE ||
      !LockFileEx(lock, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &first_byte)) {
    return 90;
  }
  HANDLE named = lock;
  if (std::strcmp(argv[1], "other") == 0) named = open_inherited(L"anim3d~other");
  if (std::strcmp(argv[1], "unheld") == 0) named = open_inherited(L"anim3d~lock");
  if (std::strcmp(argv[1], "closed") == 0) named = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x7ff0));
  char number[32];
  std::snprintf(number, sizeof number, "%llu",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(named)));
  if (std::strcmp(argv[1], "none") != 0) SetEnvironmentVariableA("ANIM3D_FOLDER_LOCK", number);
  const DWORD status = run(argv[2]);
  SetEnvironmentVariableA("ANIM3D_FOLDER_LOCK", nullptr);
  run(argv[2]);
  return static_cast<int>(status);
}
