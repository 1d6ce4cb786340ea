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

namespace vortan {

// Which sectors hold data. Sector i starts at i * sectorSize; it is reserved when an entry of
// the reserved list equals that address exactly. Only sectors lying wholly inside the 32-bit
// flash address space are ever used, so no sector address wraps onto another sector.
class C1SectorMap {
 public:
  // `sectorSize` must not be 0.
  C1SectorMap(uint32_t sectorSize, std::span<const uint32_t> reservedSectors);

  uint32_t SectorSize() const { return sectorSize_; }
  bool IsReserved(uint64_t sector) const;
  // The (n+1)-th sector, counted from 0 upward, that is not reserved; nullopt when it would not
  // lie wholly inside the 32-bit address space.
  std::optional<uint32_t> FreeSector(uint64_t n) const;
  // Flash bytes from address 0 through the sector that takes the last of `length` image bytes,
  // reserved sectors included; 0 for a length below 1; nullopt when the image does not fit
  // into the address space.
  std::optional<uint64_t> RequiredSpan(int64_t length) const;

 private:
  uint32_t sectorSize_;
  // Indexes of the reserved sectors, ascending, without duplicates.
  std::vector<uint64_t> reservedIndexes_;
};

struct C1Block {
  uint32_t sector;
  uint32_t address;
  uint64_t imageOffset;
  uint32_t length;
  bool operator==(const C1Block&) const = default;
};

struct C1Chunk {
  uint32_t address;
  uint64_t imageOffset;
  uint32_t length;
  bool operator==(const C1Chunk&) const = default;
};

// The steps of one image: step 0 enters update mode, steps 1..blockCount write block
// step - 1, the last step verifies.
class C1StepPlan {
 public:
  // nullopt when a block would need a sector beyond the 32-bit address space, or when the
  // steps would not fit the run's step counter.
  static std::optional<C1StepPlan> Make(const C1SectorMap& map, int64_t imageLength);

  int32_t BlockCount() const { return blockCount_; }
  int32_t StepCount() const { return blockCount_ + 2; }
  // Block b, 0 <= b < BlockCount(): every block holds sectorSize bytes but the last, which
  // holds the rest of the image.
  C1Block Block(int32_t b) const;
  std::vector<C1Block> Blocks() const;

 private:
  C1StepPlan(const C1SectorMap& map, int64_t imageLength, int32_t blockCount)
      : map_(map), imageLength_(imageLength), blockCount_(blockCount) {}
  C1SectorMap map_;
  int64_t imageLength_;
  int32_t blockCount_;
};

// A block cut into write commands of at most 8192 bytes, in address order.
std::vector<C1Chunk> C1Chunks(const C1Block& block);

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
