// What a console program of this project does first.
#pragma once

// Readies inspect3d: use_binary_standard_streams and ignore_file_size_signal,
// and on Windows replaces `argv` with the arguments of the wide-character
// command line in UTF-8, so that a name of any characters reaches the program
// whole.
void start_console_program(int& argc, char**& argv);
