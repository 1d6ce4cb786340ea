// SPDX-License-Identifier: Apache-2.0
#pragma once
// A private folder under $TMPDIR for a fuzz target's files, named after the program, made on
// first use and removed at exit.
#include <errno.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace vortan::fuzz {

inline const std::string& PrivateFolder() {
  // Never destroyed, so the exit handler can still name it.
  static const std::string* folder = [] {
    const char* base = getenv("TMPDIR");
    auto* path = new std::string(std::string(base && *base ? base : "/tmp") + "/" +
                                 program_invocation_short_name + "-XXXXXX");
    if (!mkdtemp(path->data())) abort();
    atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(*folder, ignored);
    });
    return path;
  }();
  return *folder;
}

}  // namespace vortan::fuzz
