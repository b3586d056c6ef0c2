// Writing output files whole. Each output is first written under a temporary
// name beside it ("aniv00.3d.tmp") and moved over its real name only when every
// output of the run is complete, so an existing file is only ever replaced by a
// complete new one.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kTempNameBytes = 32;

// Creates or truncates `name` and writes `head` then `body`. Checks every write,
// the flush and the close; on failure removes what it created and returns false.
bool write_file(const char* name, const uint8_t* head, size_t head_bytes, const uint8_t* body,
                size_t body_bytes);

// The temporary name an output is written under: `name` + ".tmp".
void temp_name(const char* name, char (&temp)[kTempNameBytes]);

// Moves the temporary of each of `names` over it, in order. First checks that
// every name can be replaced, so that a refusal leaves all earlier files as
// they were. On failure removes the temporaries not yet moved and returns the
// name that failed; on success returns nullptr.
const char* commit_outputs(const char* const* names, int count);
