// SPDX-License-Identifier: Apache-2.0
#pragma once
// A chip family's part of the emulated loader. The loader itself reassembles host reports into
// messages, answers the commands every family shares (update mode, region check, finish), and
// hands every other message to the family model that the last update-mode request selected.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vortan::emu {

using Bytes = std::vector<uint8_t>;

// What a model made of one complete host message.
struct Handled {
  // Command kind, used to aim injected faults and to label traces: "a2.erase_cycle",
  // "a2.erase_poll", "a2.program_cycle", "a2.write_buffer_cycle", "a2.program_buffer_cycle",
  // "a2.write", "a2.data", "c1.setup", "c1.erase", "c1.erase_poll", "c1.write", "c1.data",
  // "a1.write", "a1.data".
  std::string kind;
  // Reply messages in order; each is framed into device-to-host reports by the loader. Empty
  // when the command has no reply (an A1 data piece before the last).
  std::vector<Bytes> replies;
};

class FamilyModel {
 public:
  virtual ~FamilyModel() = default;

  // The update-mode request selected this model (a new run begins); per-run state resets.
  virtual void OnUpdateMode() {}

  // True while the model awaits a data message; the loader then gives it the next message before
  // looking for a common command, since data may begin with any byte.
  virtual bool ExpectingData() const = 0;

  // A complete host message. nullopt when the model does not know it; the loader stays silent.
  virtual std::optional<Handled> OnMessage(const Bytes& message) = 0;

  // The answer to command 8 in the family's units (A2: word address, length in words, word sum;
  // C1 and A1: byte address and length, byte sum).
  virtual uint16_t RegionChecksum(uint32_t address, uint32_t length) const = 0;

  // The `length` flash bytes from byte address `address` on (A2: its words, low byte first),
  // for tests and traces.
  virtual Bytes Read(uint64_t address, uint32_t length) const = 0;
};

// Byte-addressed models (C1, A1) answer the region check and their test reads from one
// byte-at-address function: the 16-bit byte sum, and the bytes, of `length` bytes at `address`.
template <class ByteAt>
uint16_t ByteRegionChecksum(const ByteAt& at, uint32_t address, uint32_t length) {
  uint32_t sum = 0;
  for (uint64_t a = address; a < static_cast<uint64_t>(address) + length; ++a) sum += at(a);
  return static_cast<uint16_t>(sum);
}

template <class ByteAt>
Bytes ReadByteRegion(const ByteAt& at, uint64_t address, uint32_t length) {
  Bytes out(length);
  for (uint32_t i = 0; i < length; ++i) out[i] = at(address + i);
  return out;
}

}  // namespace vortan::emu
