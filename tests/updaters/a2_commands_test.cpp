// SPDX-License-Identifier: Apache-2.0
// Golden bytes of the A2 loader commands.
#include "updaters/a2_commands.h"

#include <gtest/gtest.h>

#include <vector>

#include "updaters/loader_commands.h"

namespace vortan {
namespace {

using Bytes = std::vector<uint8_t>;
using Words = std::vector<uint32_t>;

template <typename Container>
Bytes B(const Container& c) {
  return Bytes(c.begin(), c.end());
}

TEST(A2CommandsTest, GoldenBytes) {
  struct Case {
    const char* what;
    Bytes actual;
    Bytes expected;
  };
  const Case cases[] = {
      {"erase cycle, data cut to 16 bits",
       B(EncodeA2EraseCycle(0x12345678, 0x1AA55)),
       {0x02, 0x78, 0x56, 0x34, 0x12, 0x55, 0xAA}},
      {"erase poll", B(EncodeA2ErasePoll(0x1400)), {0x03, 0x00, 0x14, 0x00, 0x00}},
      // Three cycles: 14 bytes with byte 1 = 6; addresses and data cut to 16 bits.
      {"program cycles",
       EncodeA2ProgramCycles(Words{0x555, 0x2AA, 0x12345}, Words{0xAA, 0x55, 0x1A0A0}),
       {0x04, 6, 0x55, 0x05, 0xAA, 0x00, 0xAA, 0x02, 0x55, 0x00, 0x45, 0x23, 0xA0, 0xA0}},
      // Four cycles: 23 bytes with byte 1 = 8; parameters cut to their low bytes.
      {"write buffer cycles",
       EncodeBlockWriteBufferCycles({0x11F, 3, 255, 4, 0x1FF}, Words{0x555, 0x2AA, 0, 0},
                                    Words{0xAA, 0x55, 0x25, 0}),
       {0x05, 8,    0x1F, 3, 255, 4,    0xFF, 0x55, 0x05, 0xAA, 0, 0xAA,
        0x02, 0x55, 0,    0, 0,   0x25, 0,    0,    0,    0,    0}},
      // One cycle: 8 bytes with byte 1 = 2.
      {"program buffer cycles",
       EncodeA2ProgramBufferCycles(1, 255, Words{0}, Words{0x29}),
       {0x06, 2, 1, 255, 0, 0, 0x29, 0}},
      {"write",
       B(EncodeBlockWrite(0x1800, 0x800, 0xBEEF)),
       {0x07, 0x00, 0x18, 0x00, 0x00, 0x00, 0x08, 0xEF, 0xBE, 0, 0, 0}},
      // A full block of 0x10000 (A2 words, A1 bytes) is announced with the count 0.
      {"write of 0x10000 words",
       B(EncodeBlockWrite(0x20000, 0x10000, 0)),
       {0x07, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0, 0, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected) << c.what;

  const uint8_t reply[kA2ErasePollReplySize] = {3, 0, 0, 0, 0, 0x34, 0x12};
  EXPECT_EQ(DecodeA2PolledWord(reply), 0x1234);
}

}  // namespace
}  // namespace vortan
