#include "support/simulated_link.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#include "emulator/a1_model.h"
#include "emulator/a2_model.h"
#include "emulator/c1_model.h"
#include "link/hid_device.h"
#include "updaters/a1_update.h"
#include "updaters/a2_update.h"
#include "updaters/c1_update.h"

namespace vortan::testing {
namespace {

::testing::AssertionResult Compare(const std::vector<uint8_t>& held, std::span<const uint8_t> image,
                                   uint64_t imageOffset, uint64_t address) {
  for (size_t i = 0; i < held.size(); ++i) {
    if (held[i] != image[imageOffset + i]) {
      return ::testing::AssertionFailure() << "flash byte at address 0x" << std::hex << address + i
                                           << " differs from image byte 0x" << imageOffset + i;
    }
  }
  return ::testing::AssertionSuccess();
}

std::vector<uint8_t> WordBytes(const std::vector<uint16_t>& words) {
  std::vector<uint8_t> bytes;
  for (uint16_t w : words) {
    bytes.push_back(static_cast<uint8_t>(w));
    bytes.push_back(static_cast<uint8_t>(w >> 8));
  }
  return bytes;
}

}  // namespace

SimulatedLink::SimulatedLink()
    : emulator_(std::make_shared<emu::Emulator>()),
      previousVid_(HidDevice::Vid()),
      previousPid_(HidDevice::Pid()) {
  HidDevice::Instance().Close();
  HidDevice::SetIds(kSimVid, kSimPid);
  HidDevice::UseBackend(emulator_);
}

SimulatedLink::~SimulatedLink() {
  HidDevice::Instance().Close();
  HidDevice::UseBackend(nullptr);
  HidDevice::SetIds(previousVid_, previousPid_);
}

::testing::AssertionResult HoldsImage(const emu::LoaderDevice& device, const AXUpdate& updater) {
  const emu::FamilyModel* model = device.Family(static_cast<uint8_t>(updater.FamilyCode()));
  if (!model) return ::testing::AssertionFailure() << "no model for the family code";
  const std::span<const uint8_t> image = updater.ImageBytes();
  if (const auto* a2 = dynamic_cast<const A2Update*>(&updater)) {
    const auto* flash = dynamic_cast<const emu::A2Model*>(model);
    if (!flash) return ::testing::AssertionFailure() << "not an A2 model";
    for (const A2SectorStep& sector : a2->Plan().sectors) {
      if (sector.reserved) continue;
      // Whole words only: an odd last byte is not programmed.
      const auto held = WordBytes(flash->Words(sector.address, sector.words));
      auto result = Compare(held, image, sector.imageOffset, sector.address * uint64_t{2});
      if (!result) return result;
    }
    return ::testing::AssertionSuccess();
  }
  if (const auto* c1 = dynamic_cast<const C1Update*>(&updater)) {
    const auto* flash = dynamic_cast<const emu::C1Model*>(model);
    if (!flash) return ::testing::AssertionFailure() << "not a C1 model";
    for (const C1Block& block : c1->Plan()->Blocks()) {
      auto result = Compare(flash->Read(block.address, block.length), image, block.imageOffset,
                            block.address);
      if (!result) return result;
    }
    return ::testing::AssertionSuccess();
  }
  if (const auto* a1 = dynamic_cast<const A1Update*>(&updater)) {
    const auto* flash = dynamic_cast<const emu::A1Model*>(model);
    if (!flash) return ::testing::AssertionFailure() << "not an A1 model";
    const auto length = static_cast<uint32_t>(image.size());
    return Compare(flash->Read(a1->StartAddress(), length), image, 0, a1->StartAddress());
  }
  return ::testing::AssertionFailure() << "unknown updater";
}

}  // namespace vortan::testing
