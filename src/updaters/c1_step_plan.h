// SPDX-License-Identifier: Apache-2.0
#pragma once
// The C1 step plan: which sector takes which block of the image, and the write commands of each
// block. A pure function of the sector size, the reserved sectors and the image length.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vortan {

// Flash byte addresses are 32-bit.
constexpr uint64_t kC1AddressSpace = uint64_t{1} << 32;

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

}  // namespace vortan
