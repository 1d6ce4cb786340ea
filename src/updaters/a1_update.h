// SPDX-License-Identifier: Apache-2.0
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

#include "updaters/a1_step_plan.h"
#include "updaters/ax_update.h"

namespace vortan {

class A1Update final : public AXUpdate {
 public:
  static constexpr uint32_t kFamilyCode = 2;

  A1Update(std::string cnfgPath, std::string dataPath);

  bool Load() override;
  bool CheckSettings() override;
  bool PrepareSteps() override;
  bool RunStep(int block) override;
  bool FinalStep(int step) override;
  std::vector<PlannedRegion> PlannedRegions() const override;
  FlashGeometry Geometry() const override;

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
