#include "updaters/a1_commands.h"

#include "link/byte_order.h"

namespace vortan {

std::array<uint8_t, 12> EncodeA1Write(uint32_t offset, uint32_t length, uint16_t checksum) {
  std::array<uint8_t, 12> m{0x07};
  PutU32(&m[1], offset);
  PutU16(&m[5], static_cast<uint16_t>(length));
  PutU16(&m[7], checksum);
  return m;
}

}  // namespace vortan
