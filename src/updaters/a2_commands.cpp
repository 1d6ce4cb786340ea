// SPDX-License-Identifier: Apache-2.0
#include "updaters/a2_commands.h"

#include <initializer_list>

#include "util/byte_order.h"

namespace vortan {
namespace {

std::vector<uint8_t> CycleCommand(std::initializer_list<uint8_t> head,
                                  std::span<const uint32_t> addresses,
                                  std::span<const uint32_t> data) {
  std::vector<uint8_t> m;
  m.reserve(head.size() + 4 * addresses.size());
  m.assign(head);
  m[1] = static_cast<uint8_t>(addresses.size() * 2);
  for (size_t k = 0; k < addresses.size(); ++k) {
    const uint16_t address = static_cast<uint16_t>(addresses[k]);
    const uint16_t value = static_cast<uint16_t>(k < data.size() ? data[k] : 0);
    for (const uint16_t field : {address, value}) {
      m.push_back(static_cast<uint8_t>(field));
      m.push_back(static_cast<uint8_t>(field >> 8));
    }
  }
  return m;
}

}  // namespace

std::array<uint8_t, 7> EncodeA2EraseCycle(uint32_t address, uint32_t data) {
  std::array<uint8_t, 7> m{0x02};
  PutU32(&m[1], address);
  PutU16(&m[5], static_cast<uint16_t>(data));
  return m;
}

std::array<uint8_t, 5> EncodeA2ErasePoll(uint32_t address) {
  std::array<uint8_t, 5> m{0x03};
  PutU32(&m[1], address);
  return m;
}

uint16_t DecodeA2PolledWord(std::span<const uint8_t, kA2ErasePollReplySize> reply) {
  return GetU16(&reply[5]);
}

std::vector<uint8_t> EncodeA2ProgramCycles(std::span<const uint32_t> addresses,
                                           std::span<const uint32_t> data) {
  return CycleCommand({0x04, 0}, addresses, data);
}

std::vector<uint8_t> EncodeBlockWriteBufferCycles(const A2WriteBufferParams& p,
                                                  std::span<const uint32_t> addresses,
                                                  std::span<const uint32_t> data) {
  const auto low = [](uint32_t v) { return static_cast<uint8_t>(v); };
  return CycleCommand({0x05, 0, low(p.count), low(p.pa1), low(p.pa2), low(p.sa1), low(p.sa2)},
                      addresses, data);
}

std::vector<uint8_t> EncodeA2ProgramBufferCycles(uint32_t sa1, uint32_t sa2,
                                                 std::span<const uint32_t> addresses,
                                                 std::span<const uint32_t> data) {
  return CycleCommand({0x06, 0, static_cast<uint8_t>(sa1), static_cast<uint8_t>(sa2)}, addresses,
                      data);
}

}  // namespace vortan
