// The one large buffer of a run.
#pragma once

#include <cstddef>

// `bytes` bytes, or nullptr if memory is short; release_buffer gives them
// back. Where the system allows, a mapping aligned to huge pages: a run
// touches a few megabytes once, and taken page by page the page faults cost
// a third of a run.
void* allocate_buffer(size_t bytes);
void release_buffer(void* buffer, size_t bytes);
