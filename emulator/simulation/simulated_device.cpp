#include "emulator/simulation/simulated_device.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>

#include "emulator/a1_model.h"
#include "emulator/a2_model.h"
#include "emulator/c1_model.h"
#include "link/hid_device.h"
#include "updaters/a1_update.h"
#include "updaters/a2_update.h"
#include "updaters/c1_update.h"

namespace vortan::emu {
namespace {

// Smallest capacity a simulated serial flash reports.
constexpr uint64_t kMinC1Capacity = 0x10000;

using ModelConfig = std::variant<A2ModelConfig, C1ModelConfig, A1ModelConfig>;

uint32_t C1Capacity(uint64_t span) {
  uint64_t capacity = kMinC1Capacity;
  while (capacity < span) capacity <<= 1;
  // The setup reply carries 32 bits; an image needing 4 GiB fits no device.
  return static_cast<uint32_t>(std::min<uint64_t>(capacity, std::numeric_limits<uint32_t>::max()));
}

std::optional<ModelConfig> ConfigFor(const AXUpdate& updater) {
  if (const auto* a2 = dynamic_cast<const A2Update*>(&updater)) {
    A2ModelConfig config;
    config.sectorAddresses = a2->Settings().sectorAddressList;
    config.eraseCycles = a2->Settings().eraseCycles;
    return config;
  }
  if (const auto* c1 = dynamic_cast<const C1Update*>(&updater)) {
    C1ModelConfig config;
    const auto span = c1->RequiredSpan(static_cast<int64_t>(c1->ImageBytes().size()));
    config.capacity = C1Capacity(span.value_or(std::numeric_limits<uint64_t>::max()));
    return config;
  }
  if (const auto* a1 = dynamic_cast<const A1Update*>(&updater)) {
    A1ModelConfig config;
    config.startAddress = a1->StartAddress();
    config.chipSize = a1->ChipSize();
    return config;
  }
  return std::nullopt;
}

void Merge(A2ModelConfig& into, const A2ModelConfig& more) {
  std::vector<uint32_t>& sectors = into.sectorAddresses;
  sectors.insert(sectors.end(), more.sectorAddresses.begin(), more.sectorAddresses.end());
  std::sort(sectors.begin(), sectors.end());
  sectors.erase(std::unique(sectors.begin(), sectors.end()), sectors.end());
  // 0 erases on the poll that follows the cycles, whatever their count.
  if (into.eraseCycles != more.eraseCycles) into.eraseCycles = 0;
}

void Merge(C1ModelConfig& into, const C1ModelConfig& more) {
  into.capacity = std::max(into.capacity, more.capacity);
}

void Merge(A1ModelConfig& into, const A1ModelConfig& more) {
  into.chipSize = std::max(into.chipSize, more.chipSize);
}

std::unique_ptr<FamilyModel> MakeModel(const ModelConfig& config) {
  return std::visit(
      [](const auto& c) -> std::unique_ptr<FamilyModel> {
        using Config = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<Config, A2ModelConfig>) return std::make_unique<A2Model>(c);
        if constexpr (std::is_same_v<Config, C1ModelConfig>) return std::make_unique<C1Model>(c);
        if constexpr (std::is_same_v<Config, A1ModelConfig>) return std::make_unique<A1Model>(c);
      },
      config);
}

}  // namespace

LoaderDevice& AttachSimulatedDevice(Emulator& emulator) {
  return emulator.Attach(static_cast<uint16_t>(HidDevice::Vid()),
                         static_cast<uint16_t>(HidDevice::Pid()));
}

bool FitSimulatedDevice(LoaderDevice& device, const DatFileExamine& package) {
  device.ClearFamilies();
  if (!package.IsFileReady()) return false;
  std::map<uint8_t, ModelConfig> configs;
  for (int pack = 1; pack <= package.CountDataPack(); ++pack) {
    const AXUpdate* updater = package.Updater(pack);
    if (!updater) return false;
    std::optional<ModelConfig> config = ConfigFor(*updater);
    if (!config) return false;
    const uint8_t code = static_cast<uint8_t>(updater->FamilyCode());
    auto [it, added] = configs.try_emplace(code, *config);
    if (!added && it->second.index() == config->index()) {
      std::visit([&](auto& into) { Merge(into, std::get<std::decay_t<decltype(into)>>(*config)); },
                 it->second);
    }
  }
  for (const auto& [code, config] : configs) device.AddFamily(code, MakeModel(config));
  return true;
}

}  // namespace vortan::emu
