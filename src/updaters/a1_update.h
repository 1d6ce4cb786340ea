#pragma once
// The A1 family: a flash written in blocks from a start address. The chip description gives the
// chip size and the transfer plan (start address, block size "Data Length"); each block goes out
// as a write command with its offset, length and byte checksum, then its bytes in 64-byte
// messages, acknowledged by 0xF4 and then 0xD4. One region check at the start address verifies
// the whole image.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "updaters/ax_update.h"

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

class A1Update final : public AXUpdate {
 public:
  static constexpr uint32_t kFamilyCode = 2;

  A1Update(std::string cnfgPath, std::string dataPath);

  bool Load() override;
  bool CheckSettings() override;
  bool PrepareSteps() override;
  bool RunStep(int block) override;
  bool FinalStep(int step) override;

  const std::optional<std::string>& ChipName() const { return chipName; }
  uint32_t ChipSize() const { return chipSize; }
  uint32_t StartAddress() const { return startAddress; }
  uint32_t DataLength() const { return dataLength; }
  uint32_t TimeOver() const { return timeOver; }
  const std::optional<A1StepPlan>& Plan() const { return plan; }

 private:
  std::optional<std::string> chipName;
  uint32_t chipSize = 0;
  uint32_t startAddress = 0;
  uint32_t dataLength = 0;
  uint32_t timeOver = 0;
  std::optional<A1StepPlan> plan;
  // Offset the next write command carries and the bytes announced so far in this run; the
  // region check covers bytesSent bytes.
  uint32_t transferOffset = 0;
  uint32_t bytesSent = 0;
};

}  // namespace vortan
