// SPDX-License-Identifier: Apache-2.0
#include "emulator/ram_model.h"

#include "util/byte_order.h"

namespace vortan::emu {

std::optional<Handled> RamModel::OnMessage(const Bytes& message) {
  if (pending_) {
    const Pending p = *pending_;
    pending_.reset();
    uint32_t sum = 0;
    for (uint8_t b : message) sum += b;
    const bool ok = message.size() == p.length && static_cast<uint16_t>(sum) == p.sum;
    if (ok) {
      for (uint32_t i = 0; i < p.length; ++i) {
        const uint64_t at = static_cast<uint64_t>(p.address) + i;
        if (at < memory_.size()) memory_[at] = message[i];
      }
    }
    return Handled{"ram.data", {Bytes{ok ? kDataReceived : kBadData}}};
  }
  if (message.size() == 12 && message[0] == 0x07) {
    const uint32_t length = GetU32(&message[5]);
    if (length > 0) pending_ = Pending{GetU32(&message[1]), length, GetU16(&message[9])};
    return Handled{"ram.write", {message}};
  }
  return std::nullopt;
}

uint16_t RamModel::RegionChecksum(uint32_t address, uint32_t length) const {
  uint32_t sum = 0;
  for (uint64_t at = address, end = static_cast<uint64_t>(address) + length; at < end; ++at) {
    sum += at < memory_.size() ? memory_[at] : 0xFF;
  }
  return static_cast<uint16_t>(sum);
}

}  // namespace vortan::emu
