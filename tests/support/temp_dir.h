// SPDX-License-Identifier: Apache-2.0
#pragma once
// A private temporary folder per test, removed with everything in it when the test ends, so
// tests running in parallel (and several builds at once) never share a file.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vortan::testing {

class TempDir {
 public:
  // Makes a fresh folder under $TMPDIR (or /tmp). Aborts the test program if that fails.
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / name, as a string.
  std::string File(std::string_view name) const;

 private:
  std::filesystem::path path_;
};

// Writes `bytes` to `path`, replacing it; false on any failure.
bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool WriteText(const std::string& path, std::string_view text);
// The whole file; empty when it cannot be read.
std::vector<uint8_t> ReadBytes(const std::string& path);
std::string ReadText(const std::string& path);

}  // namespace vortan::testing
