// The program entry: a GUI-subsystem WinMain on Windows (no window of its own,
// arguments unused), main elsewhere. Both hand over to the program's run.
#include "platform.h"

#ifdef _WIN32

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return program_main(); }

#else

int main() { return program_main(); }

#endif
