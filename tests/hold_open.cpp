// hold_open FILE PROGRAM: a Windows test helper. Opens FILE the way an engine
// or a viewer may keep it open, for reading and without delete sharing, so
// that it can be neither renamed nor replaced; runs PROGRAM in the current
// directory while it is held; then closes it. Its exit status is PROGRAM's, or
// 90 if FILE or PROGRAM cannot be opened.
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 3) return 90;
  HANDLE held = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 90;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  DWORD status = 90;
  if (CreateProcessA(argv[2], nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(held);
  return static_cast<int>(status);
}
