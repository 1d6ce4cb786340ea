// SPDX-License-Identifier: Apache-2.0
#include "updaters/a1_step_plan.h"

#include <algorithm>

#include "updaters/a1_commands.h"

namespace vortan {

std::optional<A1StepPlan> A1StepPlan::Make(uint32_t chipSize, uint32_t startAddress,
                                           uint32_t dataLength, int64_t imageLength) {
  if (imageLength < 1 || dataLength == 0) return std::nullopt;
  // The room is chipSize - 2 x startAddress; computed in 64 bits so that a start address past
  // half the chip refuses instead of wrapping to a huge room.
  const uint64_t reserved = 2 * uint64_t{startAddress};
  if (reserved > chipSize) return std::nullopt;
  if (static_cast<uint64_t>(imageLength) > chipSize - reserved) return std::nullopt;
  if (imageLength < dataLength) dataLength = static_cast<uint32_t>(imageLength);
  // The write command announces the low 16 bits of the length; anything above 65536 would
  // reach the loader short and leave the rest of the block to be read as commands.
  if (dataLength > kA1MaxBlockLength) return std::nullopt;
  const int64_t blocks = (imageLength + dataLength - 1) / dataLength;
  return A1StepPlan{dataLength, imageLength, static_cast<int32_t>(blocks)};
}

A1Block A1StepPlan::Block(int32_t b) const {
  const uint32_t offset = static_cast<uint32_t>(b) * dataLength;
  const uint32_t length =
      b == blockCount - 1 ? static_cast<uint32_t>(imageLength - offset) : dataLength;
  return A1Block{offset, length};
}

std::vector<A1Block> A1StepPlan::Blocks() const {
  std::vector<A1Block> blocks;
  for (int32_t b = 0; b < blockCount; ++b) blocks.push_back(Block(b));
  return blocks;
}

std::vector<A1Piece> A1Pieces(const A1Block& block) {
  std::vector<A1Piece> pieces;
  for (uint32_t done = 0; done < block.length; done += kA1PieceSize) {
    pieces.push_back({block.offset + done, std::min(kA1PieceSize, block.length - done)});
  }
  return pieces;
}

}  // namespace vortan
