// SPDX-License-Identifier: Apache-2.0
#include "updaters/c1_step_plan.h"

#include <algorithm>
#include <limits>

#include "updaters/c1_commands.h"

namespace vortan {
C1SectorMap::C1SectorMap(uint32_t sectorSize, std::span<const uint32_t> reservedSectors)
    : sectorSize_(sectorSize) {
  // An entry that is not a sector start reserves nothing.
  for (uint32_t entry : reservedSectors) {
    if (entry % sectorSize_ == 0) reservedIndexes_.push_back(entry / sectorSize_);
  }
  std::sort(reservedIndexes_.begin(), reservedIndexes_.end());
  reservedIndexes_.erase(std::unique(reservedIndexes_.begin(), reservedIndexes_.end()),
                         reservedIndexes_.end());
}

bool C1SectorMap::IsReserved(uint64_t sector) const {
  return std::binary_search(reservedIndexes_.begin(), reservedIndexes_.end(), sector);
}

std::optional<uint32_t> C1SectorMap::FreeSector(uint64_t n) const {
  // Each reserved sector at or below the candidate pushes it one sector up.
  uint64_t sector = n;
  for (uint64_t reserved : reservedIndexes_) {
    if (reserved > sector) break;
    ++sector;
  }
  if (sector >= kC1AddressSpace || (sector + 1) * sectorSize_ > kC1AddressSpace)
    return std::nullopt;
  return static_cast<uint32_t>(sector);
}

std::optional<uint64_t> C1SectorMap::RequiredSpan(int64_t length) const {
  if (length < 1) return 0;
  const uint64_t blocks = (static_cast<uint64_t>(length) - 1) / sectorSize_ + 1;
  const auto last = FreeSector(blocks - 1);
  if (!last) return std::nullopt;
  return (uint64_t{*last} + 1) * sectorSize_;
}

std::optional<C1StepPlan> C1StepPlan::Make(const C1SectorMap& map, int64_t imageLength) {
  if (imageLength < 1) return C1StepPlan(map, 0, 0);
  const uint64_t blocks = (static_cast<uint64_t>(imageLength) - 1) / map.SectorSize() + 1;
  if (blocks > static_cast<uint64_t>(std::numeric_limits<int32_t>::max() - 2)) return std::nullopt;
  // The last block takes the highest sector; if it fits, every block does.
  if (!map.FreeSector(blocks - 1)) return std::nullopt;
  return C1StepPlan(map, imageLength, static_cast<int32_t>(blocks));
}

C1Block C1StepPlan::Block(int32_t b) const {
  const uint32_t size = map_.SectorSize();
  const uint32_t sector = *map_.FreeSector(static_cast<uint64_t>(b));
  const uint64_t offset = static_cast<uint64_t>(b) * size;
  const uint32_t length = b == blockCount_ - 1
                              ? static_cast<uint32_t>(static_cast<uint64_t>(imageLength_) - offset)
                              : size;
  return C1Block{sector, sector * size, offset, length};
}

std::vector<C1Block> C1StepPlan::Blocks() const {
  std::vector<C1Block> blocks;
  for (int32_t b = 0; b < blockCount_; ++b) blocks.push_back(Block(b));
  return blocks;
}

std::vector<C1Chunk> C1Chunks(const C1Block& block) {
  std::vector<C1Chunk> chunks;
  for (uint32_t done = 0; done < block.length; done += kC1ChunkSize) {
    chunks.push_back({block.address + done, block.imageOffset + done,
                      std::min(kC1ChunkSize, block.length - done)});
  }
  return chunks;
}

}  // namespace vortan
