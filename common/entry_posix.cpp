// The program entry elsewhere than on Windows: main, which hands over to the
// program's run once its temporaries carry its name (ANIM3D_PROGRAM, from the
// build) and a file size limit makes a write fail rather than end the run.
#include "output.h"
#include "platform.h"

int main() {
  set_program_name(ANIM3D_PROGRAM);
  ignore_file_size_signal();
  return program_main();
}
