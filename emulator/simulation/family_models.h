// SPDX-License-Identifier: Apache-2.0
#pragma once
// The emulator's chip families by family code, as the host finds its updaters: one row per
// family, making a flash model shaped to the geometry an updater asks for.
#include <memory>

#include "emulator/family_model.h"
#include "updaters/ax_update.h"

namespace vortan::emu {

// A model of `geometry.family` shaped to the geometry; nullptr for a family without a model.
std::unique_ptr<FamilyModel> MakeFamilyModel(const FlashGeometry& geometry);

}  // namespace vortan::emu
