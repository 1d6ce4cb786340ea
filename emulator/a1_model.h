// SPDX-License-Identifier: Apache-2.0
#pragma once
// The A1 part of the emulated loader: a flash written in blocks. A write command announces a
// block at an offset from the start address; its bytes follow in 64-byte pieces with no reply,
// and after the last piece the loader stores the block and answers 0xF4, then 0xD4. The region
// check answers the byte checksum of the memory at absolute addresses.
#include <cstdint>
#include <optional>

#include "emulator/family_model.h"

namespace vortan::emu {

struct A1ModelConfig {
  // Absolute address of offset 0 of the write commands.
  uint32_t startAddress = 0;
  // Flash size in bytes; a block reaching beyond it is refused.
  uint32_t chipSize = 0x40000;
  // Content of flash that no block has written.
  uint8_t initialFill = 0xFF;
};

class A1Model final : public FamilyModel {
 public:
  explicit A1Model(A1ModelConfig config = {});

  void OnUpdateMode() override { pending_.reset(); }
  bool ExpectingData() const override { return pending_.has_value(); }
  std::optional<Handled> OnMessage(const Bytes& message) override;
  uint16_t RegionChecksum(uint32_t address, uint32_t length) const override;

  Bytes Read(uint64_t address, uint32_t length) const override;
  // Blocks stored since construction.
  int BlocksStored() const { return blocksStored_; }

 private:
  struct PendingBlock {
    uint32_t offset;
    uint32_t length;
    uint16_t checksum;
    Bytes received;
  };

  Handled Write(const Bytes& m);
  std::optional<Handled> Piece(const Bytes& m);
  uint8_t At(uint64_t address) const;

  A1ModelConfig config_;
  // Memory from the start address up to the highest byte written; other bytes read initialFill.
  Bytes memory_;
  std::optional<PendingBlock> pending_;
  int blocksStored_ = 0;
};

}  // namespace vortan::emu
