#pragma once
// Buffers for whole-file reads of packages and images, which run to tens of MiB.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vortan {

// Makes `buffer` exactly `length` zero bytes, ready to be read into. A large buffer is first
// asked for 2 MiB pages: filling 64 MiB in 4 KiB pages takes 16384 page faults, which cost
// several times the read itself. False, with `buffer` empty, when the memory cannot be had.
bool SizeForWholeRead(std::vector<uint8_t>& buffer, size_t length);

}  // namespace vortan
