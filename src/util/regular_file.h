// SPDX-License-Identifier: Apache-2.0
#pragma once
// Whole-file reading of user-named files that must never hang or exhaust memory: only regular
// files are read (a FIFO or device answers at once with a failure), the size is capped, and the
// read count is checked.
#include <cstdint>
#include <string>

#include "util/bulk_buffer.h"

namespace vortan {

// Reads the regular file at `path` whole into `out`. False, with `out` empty, when the file
// cannot be opened, is not a regular file, is larger than `maxBytes`, cannot be held in memory,
// or yields fewer bytes than its size. An empty regular file gives true and an empty `out`.
// Symbolic links are followed where the user chose the path (kFollow); a file in a folder others
// can write to, such as a work file in /tmp, is read only if it is no link (kRefuse).
enum class SymlinkPolicy { kFollow, kRefuse };
// On failure `why`, when given, gets the reason in the system's words, and errno is ENOMEM when
// only the memory to hold the bytes was lacking.
bool ReadRegularFile(const std::string& path, uint64_t maxBytes, ByteBuffer& out,
                     SymlinkPolicy links = SymlinkPolicy::kFollow, std::string* why = nullptr);

}  // namespace vortan
