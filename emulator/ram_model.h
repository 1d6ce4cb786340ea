// SPDX-License-Identifier: Apache-2.0
#pragma once
// A minimal family model over plain memory, for exercising the loader's common commands and the
// data path without a chip family's rules. Protocol:
//   07 <address u32> <length u32> <byte sum u16> 00   "ram.write": echoed whole (12 bytes); the
//                                                     next message is the data
//   <length bytes>                                    "ram.data": stored at address; answered
//                                                     0xF4, or kBadData when the sum differs
// Region checksum: 16-bit byte sum of [address, address + length), bytes outside the memory
// counting as 0xFF (erased flash).
#include <cstdint>
#include <optional>

#include "emulator/family_model.h"

namespace vortan::emu {

class RamModel final : public FamilyModel {
 public:
  static constexpr uint8_t kDataReceived = 0xF4;
  static constexpr uint8_t kBadData = 0xE4;

  explicit RamModel(uint32_t size) : memory_(size, 0xFF) {}

  void OnUpdateMode() override { pending_.reset(); }
  bool ExpectingData() const override { return pending_.has_value(); }
  std::optional<Handled> OnMessage(const Bytes& message) override;
  uint16_t RegionChecksum(uint32_t address, uint32_t length) const override;
  Bytes Read(uint64_t address, uint32_t length) const override {
    return ReadByteRegion([this](uint64_t a) { return a < memory_.size() ? memory_[a] : 0xFF; },
                          address, length);
  }

  const Bytes& Memory() const { return memory_; }
  Bytes& Memory() { return memory_; }

 private:
  struct Pending {
    uint32_t address;
    uint32_t length;
    uint16_t sum;
  };
  Bytes memory_;
  std::optional<Pending> pending_;
};

}  // namespace vortan::emu
