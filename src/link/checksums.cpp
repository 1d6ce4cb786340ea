#include "link/checksums.h"

namespace vortan {

uint32_t ByteSum32(const uint8_t* data, size_t length) {
  // Partial sums in 64-bit lanes keep the loop free of carries so the compiler vectorises it.
  uint64_t sum = 0;
  for (size_t i = 0; i < length; ++i) sum += data[i];
  return static_cast<uint32_t>(sum);
}

uint16_t WordSum16(const uint8_t* data, size_t length) {
  // Summing low and high bytes separately equals summing the words modulo 2^16.
  uint64_t low = 0;
  uint64_t high = 0;
  const size_t words = length / 2;
  for (size_t k = 0; k < words; ++k) {
    low += data[2 * k];
    high += data[2 * k + 1];
  }
  return static_cast<uint16_t>(low + (high << 8));
}

}  // namespace vortan
