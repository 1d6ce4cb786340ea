// SPDX-License-Identifier: Apache-2.0
#pragma once
// Which updater serves a data pack: the chip family word of its descriptor (the two family
// characters, low 16 bits; the upper bytes take no part) chooses the class.
#include <cstdint>
#include <memory>
#include <string>

#include "updaters/ax_update.h"

namespace vortan {

// Family words as the descriptor stores them: "A2", "C1", "A1" read little-endian.
constexpr uint16_t kFamilyWordA2 = 0x3241;
constexpr uint16_t kFamilyWordC1 = 0x3143;
constexpr uint16_t kFamilyWordA1 = 0x3141;

// A new, not yet loaded updater for the family in the low 16 bits of `dataType`, keeping the two
// work-file paths; nullptr for a family no updater serves.
std::unique_ptr<AXUpdate> MakeUpdater(uint32_t dataType, std::string cnfgPath,
                                      std::string dataPath);

}  // namespace vortan
