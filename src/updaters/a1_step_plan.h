// SPDX-License-Identifier: Apache-2.0
#pragma once
// The A1 step plan: the blocks an image is sent in and the 64-byte messages of each block. A pure
// function of the chip size, start address, block size and image length.
#include <cstdint>
#include <optional>
#include <vector>

namespace vortan {

// One block: `offset` counts bytes both into the image and from the start address.
struct A1Block {
  uint32_t offset;
  uint32_t length;
  bool operator==(const A1Block&) const = default;
};

struct A1Piece {
  uint32_t offset;
  uint32_t length;
  bool operator==(const A1Piece&) const = default;
};

// The steps of one image: step 0 enters update mode, steps 1..blockCount send block step - 1,
// the last step verifies.
struct A1StepPlan {
  // The block size after shrinking to a smaller image.
  uint32_t dataLength;
  int64_t imageLength;
  int32_t blockCount;

  int32_t StepCount() const { return blockCount + 2; }
  A1Block Block(int32_t b) const;
  std::vector<A1Block> Blocks() const;

  // nullopt when the image is empty, when 2 x startAddress exceeds chipSize, when the image is
  // longer than chipSize - 2 x startAddress, or when a block would be longer than the 16-bit
  // length field can announce. `dataLength` is the checked block size (not 0).
  static std::optional<A1StepPlan> Make(uint32_t chipSize, uint32_t startAddress,
                                        uint32_t dataLength, int64_t imageLength);
};

// A block cut into data messages of 64 bytes, the last holding the rest, in order.
std::vector<A1Piece> A1Pieces(const A1Block& block);

}  // namespace vortan
