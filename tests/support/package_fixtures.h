// SPDX-License-Identifier: Apache-2.0
#pragma once
// Well-formed packages for tests: one data pack per chip family with a chip description its
// updater accepts and a generated image, and helpers that build a package into a test's own
// folder.
#include <string>
#include <vector>

#include "package_builder/package_builder.h"

namespace vortan::testing {

class TempDir;

// Data packs whose chip descriptions (package_builder/description_pieces.h) pass each family's
// checks.
pack::DataPackContents A2Pack(size_t imageLength = 0x3000, uint32_t seed = 1);
pack::DataPackContents C1Pack(size_t imageLength = 0x1800, uint32_t seed = 2);
pack::DataPackContents A1Pack(size_t imageLength = 0x1000, uint32_t seed = 3);

// The fixture packs of every family with text that is not ASCII in their descriptions:
// comments, flash model and chip names in several scripts, and every byte value 0x80-0xFF in
// lines that are not UTF-8. Each reads exactly like its ASCII twin, the fixture pack `family`.
struct ForeignTextPack {
  std::string name;
  std::string family;
  pack::DataPackContents pack;
};
std::vector<ForeignTextPack> ForeignTextPacks();

// "VORTAN KB 25", "V1.0.0", keys "Fn" and "Esc", and `packs`.
pack::PackageContents PackageOf(std::vector<pack::DataPackContents> packs);
// As above with one A2 data pack.
pack::PackageContents OnePackPackage();
// As above with data packs A2 then A1.
pack::PackageContents TwoPackPackage();

// Builds the package into `dir` under `name` and returns its path; fails the current test if
// that cannot be done.
std::string WritePackage(const TempDir& dir, const std::string& name,
                         const pack::PackageContents& contents,
                         const pack::Breakage& breakage = {});

}  // namespace vortan::testing
