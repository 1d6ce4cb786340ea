// SPDX-License-Identifier: Apache-2.0
#pragma once
// The A2 family's part of the emulated loader: a NOR flash of 16-bit words over the sector
// geometry of a chip description. Protocol (addresses in words, fields little-endian):
//   02 <addr u32> <data u16>   "a2.erase_cycle"   echoed; the eraseCycles-th cycle in a row
//                                                 erases the sector holding its address
//   03 <addr u32>              "a2.erase_poll"    7 bytes: bytes 0-4 echoed, 5-6 the word read;
//                                                 after an erase, busyPolls polls read not blank
//   04 <2n> n×(addr, data)      "a2.program_cycle" echoed; enables word programming
//   05 <2n> <5 params> n×(..)   "a2.write_buffer_cycle", 06 <2n> <2 params> n×(..)
//                               "a2.program_buffer_cycle": echoed; both enable buffer programming
//   07 <addr u32> <count u16> <word sum u16> 00 00 00   "a2.write": bytes 0-8 echoed, 9-11 zero;
//                                                 count 0 stands for 0x10000 words; the next
//                                                 message is the data
//   <2 × count bytes>          "a2.data"          0xF4 then 0xD4 when programmed; 0xF4 then
//                                                 kNotProgrammed when the sum differs or no
//                                                 programming cycles came since the last erase;
//                                                 kNotProgrammed alone for a wrong length
// Programming only clears bits (word &= data), as on NOR flash, so data written over a sector
// that was not erased comes out wrong. The region checksum sums the words held; words outside
// the geometry read 0xFFFF and writes to them are dropped.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "emulator/family_model.h"

namespace vortan::emu {

struct A2ModelConfig {
  // Start of every sector in words, strictly ascending, at least two; the last sector is as
  // large as the one before it (as the host assumes).
  std::vector<uint32_t> sectorAddresses;
  // Erase cycle commands in a row that make one sector erase. 0: every erase poll that follows
  // another command erases the sector it names.
  uint32_t eraseCycles = 6;
  // Polls that read not blank after an erase took effect (a large value: never blank).
  uint32_t busyPolls = 2;
  // Flash content before any erase; a fixed non-blank pattern when empty.
  std::function<uint16_t(uint32_t address)> initialContent;
};

class A2Model final : public FamilyModel {
 public:
  static constexpr uint8_t kDataReceived = 0xF4;
  static constexpr uint8_t kDataProgrammed = 0xD4;
  static constexpr uint8_t kNotProgrammed = 0xE4;

  explicit A2Model(A2ModelConfig config);

  void OnUpdateMode() override;
  bool ExpectingData() const override { return pendingWrite_.has_value(); }
  std::optional<Handled> OnMessage(const Bytes& message) override;
  uint16_t RegionChecksum(uint32_t address, uint32_t length) const override;
  Bytes Read(uint64_t address, uint32_t length) const override;

  // The flash contents, for tests and traces.
  uint16_t Word(uint32_t address) const;
  std::vector<uint16_t> Words(uint32_t address, uint32_t count) const;
  void SetWords(uint32_t address, std::span<const uint16_t> words);
  // Sector index holding `address`, or -1.
  int SectorOf(uint32_t address) const;
  // Erases that took effect on a sector.
  int EraseCount(int sector) const;
  // Every erase cycle received (address, data), oldest first.
  const std::vector<std::pair<uint32_t, uint16_t>>& EraseCycles() const { return eraseLog_; }
  // Words written outside the geometry (dropped).
  uint64_t StrayWords() const { return strayWords_; }

 private:
  struct PendingWrite {
    uint32_t address;
    uint32_t words;
    uint16_t sum;
  };

  // Calls visit(word) for the `count` words from `address` on, in order.
  template <typename Visit>
  void ForEachWord(uint32_t address, uint32_t count, Visit visit) const;
  // Words in sector `index` (the last as large as the one before it).
  uint32_t SectorWords(int index) const;
  std::vector<uint16_t>& Sector(int index);
  void Erase(int sector);
  Handled Echo(const char* kind, const Bytes& message) const;
  Handled Poll(const Bytes& message);
  Handled Data(const Bytes& message);

  A2ModelConfig config_;
  // Sectors materialise on first touch, so a large geometry costs only what is used.
  std::map<int, std::vector<uint16_t>> sectors_;
  std::map<int, int> erases_;
  uint32_t eraseCyclesInRow_ = 0;
  uint32_t busyLeft_ = 0;
  bool lastWasPoll_ = false;
  bool wordProgramming_ = false;
  bool writeBufferSet_ = false;
  bool programBufferSet_ = false;
  std::optional<PendingWrite> pendingWrite_;
  uint64_t strayWords_ = 0;
  std::vector<std::pair<uint32_t, uint16_t>> eraseLog_;
};

}  // namespace vortan::emu
