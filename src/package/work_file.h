// SPDX-License-Identifier: Apache-2.0
#pragma once
// Writing the work files. They have fixed names in a folder every local user can write, so the
// write must not let another user redirect or read the bytes: a symbolic link is never followed,
// an existing file is reused only if it is a regular file with one link owned by us, the file is
// (made) private to us (mode 0600), and every write and the close are checked.
#include <cstddef>
#include <cstdint>
#include <string>

namespace vortan {

// Replaces the content of the work file at `path` with `length` bytes from `data`, creating the
// file with mode 0600 if it does not exist. False, with nothing written through any link, when
// the path is a symbolic link, a FIFO, a device, a folder, a file with several links or another
// user's file; and false when opening, writing, truncating or closing fails (a full disk).
// On failure `why`, when given, gets the reason in the system's words.
bool WriteWorkFile(const std::string& path, const uint8_t* data, size_t length,
                   std::string* why = nullptr);

}  // namespace vortan
