// The program entry: a GUI-subsystem WinMain on Windows (no window of its own,
// arguments unused), main elsewhere. Both hand over to the program's run, once
// its temporaries carry its name (ANIM3D_PROGRAM, from the build) and a file
// size limit makes a write fail rather than end the run.
#include "output.h"
#include "platform.h"

#ifdef _WIN32

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  set_program_name(ANIM3D_PROGRAM);
  return program_main();
}

#else

int main() {
  set_program_name(ANIM3D_PROGRAM);
  ignore_file_size_signal();
  return program_main();
}

#endif
