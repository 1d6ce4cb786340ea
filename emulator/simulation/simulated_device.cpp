// SPDX-License-Identifier: Apache-2.0
#include "emulator/simulation/simulated_device.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <sstream>

#include "emulator/simulation/family_models.h"
#include "link/hid_device.h"

namespace vortan::emu {
namespace {

// Two packs of one family on one code share a flash: the geometry covers both.
void Merge(FlashGeometry& into, const FlashGeometry& more) {
  std::vector<uint32_t>& sectors = into.sectorAddresses;
  sectors.insert(sectors.end(), more.sectorAddresses.begin(), more.sectorAddresses.end());
  std::sort(sectors.begin(), sectors.end());
  sectors.erase(std::unique(sectors.begin(), sectors.end()), sectors.end());
  // 0 erases on the poll that follows the cycles, whatever their count.
  if (into.eraseCycles != more.eraseCycles) into.eraseCycles = 0;
  into.size = std::max(into.size, more.size);
}

}  // namespace

LoaderDevice& AttachSimulatedDevice(Emulator& emulator) {
  return emulator.Attach(static_cast<uint16_t>(HidDevice::Vid()),
                         static_cast<uint16_t>(HidDevice::Pid()));
}

bool FitSimulatedDevice(LoaderDevice& device, const DatFileExamine& package) {
  device.ClearFamilies();
  if (!package.IsFileReady()) return false;
  std::map<uint8_t, FlashGeometry> geometries;
  for (int pack = 1; pack <= package.CountDataPack(); ++pack) {
    const AXUpdate* updater = package.Updater(pack);
    if (!updater) return false;
    const FlashGeometry geometry = updater->Geometry();
    if (!MakeFamilyModel(geometry)) return false;
    const uint8_t code = static_cast<uint8_t>(updater->FamilyCode());
    auto [it, added] = geometries.try_emplace(code, geometry);
    if (!added && it->second.family == geometry.family) Merge(it->second, geometry);
  }
  for (const auto& [code, geometry] : geometries) device.AddFamily(code, MakeFamilyModel(geometry));
  return true;
}

std::optional<std::string> PlannedImageDifference(const LoaderDevice& device,
                                                  const AXUpdate& updater) {
  const FamilyModel* model = device.Family(static_cast<uint8_t>(updater.FamilyCode()));
  if (!model) return "no model for the family code";
  const std::span<const uint8_t> image = updater.ImageBytes();
  for (const PlannedRegion& region : updater.PlannedRegions()) {
    const Bytes held = model->Read(region.flashAddress, static_cast<uint32_t>(region.length));
    for (size_t i = 0; i < held.size(); ++i) {
      if (held[i] != image[region.imageOffset + i]) {
        std::ostringstream why;
        why << "flash byte at address 0x" << std::hex << region.flashAddress + i
            << " differs from image byte 0x" << region.imageOffset + i;
        return why.str();
      }
    }
  }
  return std::nullopt;
}

}  // namespace vortan::emu
