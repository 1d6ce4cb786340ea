// SPDX-License-Identifier: Apache-2.0
#pragma once
// The C1 part of the emulated loader: an SPI flash of equal sectors. The flash setup command
// configures the sector size and is answered with the configured capacity; a sector erase
// completes (the sector reads 0xFF) after a configurable number of busy polls; chunks are
// programmed as flash does, clearing bits only, so a chunk written over unerased bytes reads
// back wrong; the region check answers the byte checksum of the memory.
#include <cstdint>
#include <optional>

#include "emulator/family_model.h"

namespace vortan::emu {

struct C1ModelConfig {
  // Flash size in bytes, reported to the flash setup command; nothing beyond it is erased or
  // written.
  uint32_t capacity = 0x400000;
  // Erase polls answered "busy" before the poll that reports the sector erased.
  uint32_t busyPolls = 2;
  // Content of never-erased flash; anything but 0xFF shows a write that skipped its erase.
  uint8_t initialFill = 0x00;
};

class C1Model final : public FamilyModel {
 public:
  explicit C1Model(C1ModelConfig config = {});

  void OnUpdateMode() override;
  bool ExpectingData() const override { return pendingWrite_.has_value(); }
  std::optional<Handled> OnMessage(const Bytes& message) override;
  uint16_t RegionChecksum(uint32_t address, uint32_t length) const override;

  Bytes Read(uint64_t address, uint32_t length) const override;
  // What the last flash setup command of this run selected (0 before one arrived).
  uint32_t SectorSize() const { return sectorSize_; }
  uint8_t SpiNumber() const { return spiNumber_; }
  uint8_t ChipSelect() const { return chipSelect_; }
  uint8_t LineMode() const { return lineMode_; }
  // Sector erases completed since construction.
  int ErasesCompleted() const { return erasesCompleted_; }

 private:
  struct PendingErase {
    uint32_t address;
    uint32_t busyLeft;
  };
  struct PendingWrite {
    uint32_t address;
    uint32_t length;
    uint16_t checksum;
  };

  Handled Setup(const Bytes& m);
  Handled Erase(const Bytes& m);
  Handled Poll(const Bytes& m);
  Handled Write(const Bytes& m);
  Handled Data(const Bytes& m);
  bool InFlash(uint64_t address, uint64_t length) const;
  uint8_t At(uint64_t address) const;
  uint8_t* Touch(uint32_t address, uint32_t length);

  C1ModelConfig config_;
  // Memory from address 0 up to the highest byte touched; bytes beyond read initialFill.
  Bytes memory_;
  uint32_t sectorSize_ = 0;
  uint8_t spiNumber_ = 0;
  uint8_t chipSelect_ = 0;
  uint8_t lineMode_ = 0;
  std::optional<PendingErase> pendingErase_;
  std::optional<PendingWrite> pendingWrite_;
  int erasesCompleted_ = 0;
};

}  // namespace vortan::emu
