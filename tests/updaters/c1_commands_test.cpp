// SPDX-License-Identifier: Apache-2.0
#include "updaters/c1_commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

namespace vortan {
namespace {

using Bytes = std::vector<uint8_t>;

template <size_t N>
Bytes B(const std::array<uint8_t, N>& a) {
  return Bytes(a.begin(), a.end());
}

TEST(C1CommandsTest, GoldenRequests) {
  const struct {
    const char* name;
    Bytes actual;
    Bytes expected;
  } cases[] = {
      {"setup",
       B(EncodeC1FlashSetup(1, 0, 4, 0x10000)),
       {0x0B, 0x01, 0x00, 0x04, 0x00, 0x00, 0x01}},
      // Only bits 0-23 of the sector size and the low byte of each number travel.
      {"setup 24 bits",
       B(EncodeC1FlashSetup(0x101, 0x100, 0x102, 0xAB123456)),
       {0x0B, 0x01, 0x00, 0x02, 0x56, 0x34, 0x12}},
      {"erase", B(EncodeC1SectorErase(0x00020000)), {0x02, 0x00, 0x00, 0x02, 0x00}},
      {"poll", B(EncodeC1ErasePoll(0x12345678)), {0x03, 0x78, 0x56, 0x34, 0x12}},
      {"write",
       B(EncodeC1Write(0x12345678, 0x2000, 0xBEEF)),
       {0x07, 0x78, 0x56, 0x34, 0x12, 0x00, 0x20, 0x00, 0x00, 0xEF, 0xBE, 0x00}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected) << c.name;
}

TEST(C1CommandsTest, ReplyChecks) {
  const std::array<uint8_t, 5> accepted = {0xF1, 0x00, 0x00, 0x40, 0x00};
  const std::array<uint8_t, 5> refused = {0xF0, 0x00, 0x00, 0x40, 0x00};
  EXPECT_EQ(DecodeC1FlashSetupReply(accepted), 0x400000u);
  EXPECT_EQ(DecodeC1FlashSetupReply(refused), std::nullopt);

  // Only bytes 5-6 of the poll reply are examined.
  const std::array<uint8_t, 7> blank = {0, 0, 0, 0, 0, 0xFF, 0xFF};
  const std::array<uint8_t, 7> busy = {0x03, 0, 0, 0, 0, 0xFF, 0x7F};
  EXPECT_TRUE(C1EraseFinished(blank));
  EXPECT_FALSE(C1EraseFinished(busy));

  const auto command = EncodeC1Write(0x1000, 8192, 0x55AA);
  auto echo = command;
  echo[11] = 0x99;
  EXPECT_TRUE(C1WriteEchoMatches(command, echo)) << "byte 11 is not compared";
  echo[10] ^= 1;
  EXPECT_FALSE(C1WriteEchoMatches(command, echo));
}

}  // namespace
}  // namespace vortan
