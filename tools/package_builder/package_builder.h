// SPDX-License-Identifier: Apache-2.0
#pragma once
// Makes update packages for tests, samples and fuzz seeds: a header, one descriptor per data
// pack and the sections (chip description 1, image 1, then those of pack 2) right after the
// descriptors, with every sum computed. A Breakage makes exactly one rule of the reader fail
// while every other field stays consistent, so a test can tell which rule refused the package.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vortan::pack {

struct DataPackContents {
  std::string chipFamily = "A2";  // at most two characters, NUL-padded
  uint16_t familyTail = 0;        // bytes +46 and +47, which the reader ignores
  std::string description;        // chip description file text
  std::vector<uint8_t> image;
};

struct PackageContents {
  std::string productModel = "VORTAN KB 25";  // at most 16 bytes each text
  std::string firmwareVersion = "V1.0.0";
  std::array<std::string, 3> keys;      // at most 8 bytes each; empty when not used
  std::vector<DataPackContents> packs;  // one or two
};

enum class Fault {
  kNone,
  kCountByte,           // count byte = value (header sum kept consistent)
  kHeaderSum,           // header sum off by one
  kDescriptorSum,       // descriptor sum of `pack` off by one
  kDescriptionSum,      // chip description sum of `pack` off by one
  kImageSum,            // image sum of `pack` off by one
  kDescriptionOutside,  // chip description of `pack` runs one byte past the end of the file
  kImageOutside,        // image of `pack` runs one byte past the end of the file
  kImageOffsetWrap,     // image of `pack` at 0xFFFFFFF0, 0x20 long: ends inside the file mod 2^32
  kProductModel,        // product model without "25" (header sum kept consistent)
  kChipFamily,          // chip family "Z9" for `pack` (descriptor sum kept consistent)
  kTruncate,            // file cut to `value` bytes
};

struct Breakage {
  Fault fault = Fault::kNone;
  int pack = 1;
  uint32_t value = 0;
};

// The package bytes for `contents` with `breakage` applied. False, with `error` set, when the
// contents cannot be laid out (no or more than two packs, a text longer than its field, a breakage
// that names a missing pack, a truncation that does not shorten the file).
bool BuildPackage(const PackageContents& contents, const Breakage& breakage,
                  std::vector<uint8_t>& out, std::string& error);

// Writes `bytes` to `path`, replacing it. False on any failure.
bool WritePackageFile(const std::string& path, const std::vector<uint8_t>& bytes);

// `length` reproducible pseudo-random bytes for an image.
std::vector<uint8_t> GenerateImage(size_t length, uint32_t seed);

// Breakage names as vortan-pack takes them: "count-byte=N", "header-sum", "descriptor-sum[:P]",
// "description-sum[:P]", "image-sum[:P]", "description-outside[:P]", "image-outside[:P]",
// "image-offset-wrap[:P]", "product-model", "chip-family[:P]", "truncate=N" (P is the pack, 1 or
// 2, default 1).
bool ParseBreakage(std::string_view text, Breakage& out);
std::vector<std::string> BreakageNames();

}  // namespace vortan::pack
