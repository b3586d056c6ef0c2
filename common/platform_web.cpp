// The platform layer of the web page, where the programs run as WebAssembly in
// a worker, in a folder of their own in memory: the closing message goes to
// the page, and the rest has nothing to do (the file calls are POSIX's, in
// files_posix.cpp).
#include <emscripten.h>

#include <cstdlib>

#include "platform.h"

// The page's Module.onResult(text, caption) shows the message, as a message
// box would: the text as the body, the caption as its title.
EM_JS(void, hand_result_to_page, (const char* text, const char* caption), {
  Module.onResult(UTF8ToString(text), UTF8ToString(caption));
});

void report_result(const char* text, const char* caption) { hand_result_to_page(text, caption); }

// One run at a time works in a folder no other process can see: there is no
// lock to take, and the run goes on without one.
LockTry try_own_folder_lock() { return LockTry::kNone; }
LockTry try_handed_folder_lock(long long) { return LockTry::kNone; }
void close_folder_lock() {}

void pause_ms(int) {}

void end_process_now() { std::abort(); }

// The heap serves for the run's buffer.
void* map_pages(size_t) { return nullptr; }
void unmap_pages(void*, size_t) {}
void advise_huge_pages(void*, size_t) {}

void use_binary_standard_streams() {}

void ignore_file_size_signal() {}
