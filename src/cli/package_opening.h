// SPDX-License-Identifier: Apache-2.0
#pragma once
// Opening a package as the window does (ReadFile, then Examine), shared by every command that
// takes one, so that each refuses a package with the window's own message.
#include <string>
#include <string_view>

#include "package/dat_file_examine.h"

namespace vortan::cli {

// Reads and examines `path`. On refusal prints the window's message on stderr and returns
// false; the package object is then not ready.
bool OpenPackage(DatFileExamine& datFile, const std::string& path);

}  // namespace vortan::cli
