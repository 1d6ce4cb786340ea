// SPDX-License-Identifier: Apache-2.0
#pragma once
// The C1 family: an SPI flash of equal sectors behind the loader. Reserved sectors are never
// erased or written; the image is cut into sector-sized blocks and block b is laid into the
// (b+1)-th sector that is not reserved, one sector per step: erase, write in chunks of 8 KiB
// (the whole sector again after a failed write), and at the end a byte-checksum region check of
// every block.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "updaters/ax_update.h"
#include "updaters/c1_step_plan.h"

namespace vortan {

class C1Update final : public AXUpdate {
 public:
  static constexpr uint32_t kFamilyCode = 3;
  // The flash setup command carries bits 0-23 of the sector size; larger sizes are refused.
  static constexpr uint32_t kMaxSectorSize = 0xFFFFFF;
  // Each block gets this many write attempts, each after a fresh erase.
  static constexpr int kWriteAttempts = 6;

  C1Update(std::string cnfgPath, std::string dataPath);

  bool Load() override;
  bool CheckSettings() override;
  bool PrepareSteps() override;
  bool RunStep(int block) override;
  bool FinalStep(int step) override;
  // The update-mode request, then the flash setup with the attempts the request left over, then
  // the capacity check against the flash the image needs.
  bool EnterUpdateMode(int attempts) override;
  std::vector<PlannedRegion> PlannedRegions() const override;
  FlashGeometry Geometry() const override;

  bool IsReservedSector(uint32_t sector) const;
  // See C1SectorMap::RequiredSpan; nullopt also before a sector size is known.
  std::optional<uint64_t> RequiredSpan(int64_t length) const;
  // The capacity the loader reports for the configured flash; 0 when it never accepted.
  uint32_t SetupFlash(int attempts);
  // Erases sector `sector` and polls until the loader reports it blank, within the poll budget.
  bool EraseSector(uint32_t sector);
  // Writes block `block` into sector `sector` in chunks.
  bool WriteSector(uint32_t sector, int block);

  const std::vector<uint32_t>& ReservedSectors() const { return reservedSectors; }
  uint32_t LineMode() const { return lineMode; }
  uint32_t SpiNumber() const { return spiNumber; }
  uint32_t ChipSelect() const { return chipSelect; }
  uint32_t SectorSize() const { return sectorSize; }
  uint32_t FlashCapacity() const { return flashCapacity; }
  const std::optional<C1StepPlan>& Plan() const { return plan; }

 private:
  std::vector<uint32_t> reservedSectors;
  uint32_t lineMode = 1;
  uint32_t spiNumber = 0;
  uint32_t chipSelect = 0;
  uint32_t sectorSize = 0x10000;
  // As the loader reports it: unsigned, so a flash of 2 GiB or more never reads as negative.
  uint32_t flashCapacity = 0;
  std::optional<C1StepPlan> plan;
};

}  // namespace vortan
