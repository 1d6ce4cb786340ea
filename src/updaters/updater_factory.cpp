// SPDX-License-Identifier: Apache-2.0
#include "updaters/updater_factory.h"

#include <utility>

#include "updaters/a1_update.h"
#include "updaters/a2_update.h"
#include "updaters/c1_update.h"

namespace vortan {
namespace {

using Factory = std::unique_ptr<AXUpdate> (*)(std::string, std::string);

template <typename Updater>
std::unique_ptr<AXUpdate> Make(std::string cnfgPath, std::string dataPath) {
  return std::make_unique<Updater>(std::move(cnfgPath), std::move(dataPath));
}

struct FamilyEntry {
  uint16_t word;
  Factory make;
};

constexpr FamilyEntry kFamilies[] = {
    {kFamilyWordA2, &Make<A2Update>},
    {kFamilyWordC1, &Make<C1Update>},
    {kFamilyWordA1, &Make<A1Update>},
};

const FamilyEntry* Find(uint32_t dataType) {
  for (const FamilyEntry& entry : kFamilies) {
    if (entry.word == static_cast<uint16_t>(dataType)) return &entry;
  }
  return nullptr;
}

}  // namespace

std::unique_ptr<AXUpdate> MakeUpdater(uint32_t dataType, std::string cnfgPath,
                                      std::string dataPath) {
  const FamilyEntry* entry = Find(dataType);
  return entry ? entry->make(std::move(cnfgPath), std::move(dataPath)) : nullptr;
}

}  // namespace vortan
