// SPDX-License-Identifier: Apache-2.0
#include "emulator/simulation/family_models.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "emulator/a1_model.h"
#include "emulator/a2_model.h"
#include "emulator/c1_model.h"
#include "updaters/a1_update.h"
#include "updaters/a2_update.h"
#include "updaters/c1_update.h"

namespace vortan::emu {
namespace {

std::unique_ptr<FamilyModel> MakeA2(const FlashGeometry& geometry) {
  A2ModelConfig config;
  config.sectorAddresses = geometry.sectorAddresses;
  config.eraseCycles = geometry.eraseCycles;
  return std::make_unique<A2Model>(config);
}

// A serial flash reports a power of two of at least 64 KiB; the setup reply carries 32 bits, so
// an image needing 4 GiB fits no device.
std::unique_ptr<FamilyModel> MakeC1(const FlashGeometry& geometry) {
  uint64_t capacity = 0x10000;
  while (capacity < geometry.size) capacity <<= 1;
  C1ModelConfig config;
  config.capacity =
      static_cast<uint32_t>(std::min<uint64_t>(capacity, std::numeric_limits<uint32_t>::max()));
  return std::make_unique<C1Model>(config);
}

std::unique_ptr<FamilyModel> MakeA1(const FlashGeometry& geometry) {
  A1ModelConfig config;
  config.startAddress = geometry.startAddress;
  config.chipSize = static_cast<uint32_t>(geometry.size);
  return std::make_unique<A1Model>(config);
}

struct ModelEntry {
  uint32_t family;
  std::unique_ptr<FamilyModel> (*make)(const FlashGeometry&);
};

constexpr ModelEntry kModels[] = {
    {A2Update::kFamilyCode, &MakeA2},
    {C1Update::kFamilyCode, &MakeC1},
    {A1Update::kFamilyCode, &MakeA1},
};

}  // namespace

std::unique_ptr<FamilyModel> MakeFamilyModel(const FlashGeometry& geometry) {
  for (const ModelEntry& entry : kModels) {
    if (entry.family == geometry.family) return entry.make(geometry);
  }
  return nullptr;
}

}  // namespace vortan::emu
