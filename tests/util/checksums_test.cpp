// SPDX-License-Identifier: Apache-2.0
#include "util/checksums.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace vortan {
namespace {

// Guards the vectorised sums against the plain definitions at every length around the vector
// widths and at unaligned starts.
TEST(ChecksumsTest, VectorisedSumsEqualThePlainDefinitions) {
  std::vector<uint8_t> bytes(600);
  uint32_t state = 0x2545F491;
  for (uint8_t& b : bytes) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(state >> 24);
  }
  for (size_t start = 0; start < 4; ++start) {
    for (size_t length = 0; length + start <= bytes.size(); ++length) {
      const uint8_t* data = bytes.data() + start;
      uint32_t byteSum = 0;
      uint16_t wordSum = 0;
      for (size_t i = 0; i < length; ++i) byteSum += data[i];
      for (size_t i = 0; i + 1 < length; i += 2) {
        wordSum = static_cast<uint16_t>(wordSum + (data[i] | data[i + 1] << 8));
      }
      ASSERT_EQ(ByteSum32(data, length), byteSum) << start << " " << length;
      ASSERT_EQ(WordSum16(data, length), wordSum) << start << " " << length;
    }
  }
}

TEST(ChecksumsTest, ByteSumWrapsModulo2To32) {
  // 255 x (2^24 + 2^17) needs 33 bits; the 64-bit lanes must not leak into the result.
  const std::vector<uint8_t> ones((size_t{1} << 24) + (size_t{1} << 17) + 3, 0xFF);
  EXPECT_EQ(ByteSum32(ones.data(), ones.size()),
            static_cast<uint32_t>(uint64_t{0xFF} * ones.size()));
}

}  // namespace
}  // namespace vortan
