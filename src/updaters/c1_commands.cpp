// SPDX-License-Identifier: Apache-2.0
#include "updaters/c1_commands.h"

#include <algorithm>

#include "updaters/loader_commands.h"
#include "util/byte_order.h"

namespace vortan {

std::array<uint8_t, 7> EncodeC1FlashSetup(uint32_t spiNumber, uint32_t chipSelect,
                                          uint32_t lineMode, uint32_t sectorSize) {
  return {0x0B,
          static_cast<uint8_t>(spiNumber),
          static_cast<uint8_t>(chipSelect),
          static_cast<uint8_t>(lineMode),
          static_cast<uint8_t>(sectorSize),
          static_cast<uint8_t>(sectorSize >> 8),
          static_cast<uint8_t>(sectorSize >> 16)};
}

std::optional<uint32_t> DecodeC1FlashSetupReply(
    std::span<const uint8_t, kC1FlashSetupReplySize> reply) {
  if (reply[0] != kAccepted) return std::nullopt;
  return GetU32(&reply[1]);
}

namespace {

std::array<uint8_t, 5> AddressCommand(uint8_t command, uint32_t address) {
  std::array<uint8_t, 5> m{command};
  PutU32(&m[1], address);
  return m;
}

}  // namespace

std::array<uint8_t, 5> EncodeC1SectorErase(uint32_t address) {
  return AddressCommand(0x02, address);
}

std::array<uint8_t, 5> EncodeC1ErasePoll(uint32_t address) {
  return AddressCommand(0x03, address);
}

bool C1EraseFinished(std::span<const uint8_t, kC1ErasePollReplySize> reply) {
  return GetU16(&reply[5]) == 0xFFFF;
}

std::array<uint8_t, 12> EncodeC1Write(uint32_t address, uint32_t length, uint16_t checksum) {
  std::array<uint8_t, 12> m{0x07};
  PutU32(&m[1], address);
  PutU32(&m[5], length);
  PutU16(&m[9], checksum);
  return m;
}

bool C1WriteEchoMatches(std::span<const uint8_t, 12> request,
                        std::span<const uint8_t, kC1WriteReplySize> reply) {
  return std::equal(request.begin(), request.begin() + 11, reply.begin());
}

}  // namespace vortan
