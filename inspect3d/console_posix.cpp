#include "console.h"
#include "platform.h"

// The arguments are bytes already, as the system hands them over.
void start_console_program(int&, char**&) {
  use_binary_standard_streams();
  ignore_file_size_signal();
}
