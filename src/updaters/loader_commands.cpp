// SPDX-License-Identifier: Apache-2.0
#include "updaters/loader_commands.h"

#include "util/byte_order.h"

namespace vortan {

std::array<uint8_t, 4> EncodeUpdateModeRequest(uint32_t familyCode) {
  return {0x01, 0x0A, 0x4D, static_cast<uint8_t>(familyCode & 0xFF)};
}

std::array<uint8_t, 10> EncodeRegionCheck(uint32_t address, uint32_t length) {
  std::array<uint8_t, 10> m{};
  m[0] = 0x08;
  PutU32(&m[1], address);
  PutU32(&m[5], length);
  return m;
}

std::array<uint8_t, 12> EncodeBlockWrite(uint32_t address, uint32_t count, uint16_t checksum) {
  std::array<uint8_t, 12> m{0x07};
  PutU32(&m[1], address);
  PutU16(&m[5], static_cast<uint16_t>(count));
  PutU16(&m[7], checksum);
  return m;
}

std::array<uint8_t, 4> EncodeFinish(bool success) {
  return {0x09, static_cast<uint8_t>(success ? 0x00 : 0x01), 0x00, 0x00};
}

}  // namespace vortan
