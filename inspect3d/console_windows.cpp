#include <windows.h>

#include "console.h"
// after windows.h, which it needs
#include <shellapi.h>

#include <string>
#include <vector>

#include "platform.h"

// The UTF-8 arguments start_console_program hands out; they live as long as
// the program.
namespace {
std::vector<std::string> argument_texts;
std::vector<char*> arguments;

// shell32.dll's CommandLineToArgvW, looked up as the program starts rather
// than imported, so that inspect3d imports from no DLL but the few the
// converters need too.
LPWSTR* split_command_line(LPCWSTR line, int* count) {
  using Split = LPWSTR*(WINAPI*)(LPCWSTR, int*);
  const HMODULE shell = LoadLibraryW(L"shell32.dll");
  const FARPROC split = shell ? GetProcAddress(shell, "CommandLineToArgvW") : nullptr;
  return split ? reinterpret_cast<Split>(reinterpret_cast<void*>(split))(line, count) : nullptr;
}

}  // namespace

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
