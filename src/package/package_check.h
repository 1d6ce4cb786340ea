// SPDX-License-Identifier: Apache-2.0
#pragma once
// The format checks of an update package, apart from the package object: pure functions over the
// package's bytes that read nothing else, write nothing and never throw. They check the blocks
// (header and one descriptor per data pack), every block and section sum, that each section lies
// wholly inside the file, and the product model; the package object keeps the facts they read and
// does everything that touches files or updaters.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace vortan {

// Why the checks refused a package: the first rule it broke, in the order the checks run (the
// count, the header sum, each descriptor's sum, the chip descriptions, the images, the model).
enum class PackageRefusal {
  kNone,                // every check passed
  kTooShort,            // the file ends inside a block it declares (see PackageFormat::pack)
  kDataPackCount,       // the count byte is neither 1 nor 2
  kHeaderSum,           // the byte sum of bytes 0 to 123 differs from the word at 124
  kDescriptorSum,       // the byte sum of the descriptor's bytes +0 to +123 differs from +124
  kDescriptionOutside,  // the chip description does not lie wholly inside the file
  kDescriptionSum,      // the chip description's byte sum differs from its descriptor's
  kImageOutside,        // the firmware image does not lie wholly inside the file
  kImageSum,            // the firmware image's byte sum differs from its descriptor's
  kProductModel,        // the product model lacks "VORTAN" or "25" before its first NUL
};

// What the descriptor of one data pack says, as far as the checks read it (0 where they stopped
// before).
struct PackFields {
  uint32_t dataType = 0;  // the word at +44; its low 16 bits hold the two family characters
  uint32_t cnfgAddr = 0;
  uint32_t cnfgLength = 0;
  uint32_t dataAddr = 0;
  uint32_t dataLength = 0;

  bool operator==(const PackFields&) const = default;
};

// The outcome of CheckPackageFormat, meant to be compared whole.
struct PackageFormat {
  PackageRefusal refusal = PackageRefusal::kNone;
  // The data pack the refusal concerns (1 or 2), or 0 for the header and the product model (and
  // for kTooShort: 0 when even the header is cut off).
  int pack = 0;
  // The count byte as read, also when it was refused; 0 when the header is cut off.
  uint8_t countDataPack = 0;
  // Data packs 1 and 2 as far as read; pack 2 stays all 0 with one data pack.
  std::array<PackFields, 2> packs{};

  bool Accepted() const { return refusal == PackageRefusal::kNone; }
  bool operator==(const PackageFormat&) const = default;
};

// Runs every format check on the whole package `bytes`, in order, and stops at the first that
// fails. Each block is read only once the file is known to hold it, and each section only once it
// is known to lie inside the file (checked in 64 bits, so no offset + length wraps). Sections may
// overlap each other and the blocks; with one data pack bytes 256 to 383 belong to no block.
PackageFormat CheckPackageFormat(std::span<const uint8_t> bytes);

// True when the `length` bytes from `offset` lie wholly inside `bytes`.
bool SectionInPackage(std::span<const uint8_t> bytes, uint64_t offset, uint64_t length);

// True when the product model field's bytes before their first NUL (all of them when there is
// none) contain "VORTAN" and, anywhere and in either order, "25", compared byte by byte.
bool ProductModelNamesDevice(std::string_view productModel);

}  // namespace vortan
