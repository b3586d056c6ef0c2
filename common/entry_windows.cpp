// The program entry on Windows: a GUI-subsystem WinMain (no window of its
// own, arguments unused), which hands over to the program's run once its
// temporaries carry its name (ANIM3D_PROGRAM, from the build).
#include "output.h"
#include "platform.h"

// After output.h, whose MoveFile windows.h would make a macro.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  set_program_name(ANIM3D_PROGRAM);
  return program_main();
}
