// SPDX-License-Identifier: Apache-2.0
// The emulated A2 flash on its own: the NOR rules that make a host's mistakes show (erase and
// busy polling are exercised end to end in the A2 updater tests).
#include "emulator/a2_model.h"

#include <gtest/gtest.h>

#include "updaters/a2_commands.h"
#include "updaters/loader_commands.h"

namespace vortan::emu {
namespace {

template <typename Container>
Bytes B(const Container& c) {
  return Bytes(c.begin(), c.end());
}

TEST(A2ModelTest, ProgrammingOnlyClearsBits) {
  const Bytes programCycle = {0x04, 2, 0x55, 0x05, 0xA0, 0x00};
  const Bytes data = {0xFF, 0xF0, 0x01, 0x00};  // words 0xF0FF, 0x0001, sum 0xF100
  struct Case {
    const char* what;
    bool erase;
    bool cycles;
    Bytes write;
    std::vector<Bytes> replies;
    uint16_t word0;
  };
  const Case cases[] = {
      {"erased sector", true, true, B(EncodeBlockWrite(0x20, 2, 0xF100)), {{0xF4}, {0xD4}}, 0xF0FF},
      {"not erased", false, true, B(EncodeBlockWrite(0x20, 2, 0xF100)), {{0xF4}, {0xD4}}, 0x000F},
      {"no cycles", true, false, B(EncodeBlockWrite(0x20, 2, 0xF100)), {{0xF4}, {0xE4}}, 0xFFFF},
      {"sum differs", true, true, B(EncodeBlockWrite(0x20, 2, 0xF101)), {{0xF4}, {0xE4}}, 0xFFFF},
      {"length differs", true, true, B(EncodeBlockWrite(0x20, 3, 0xF100)), {{0xE4}}, 0xFFFF},
  };
  A2Model model{{{0x0, 0x10, 0x20}, 3, 1, [](uint32_t) -> uint16_t { return 0x0F0F; }}};
  const auto send = [&](const Bytes& message) {
    auto handled = model.OnMessage(message);
    return handled ? handled->replies : std::vector<Bytes>{{0xEE, 0xEE}};
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model.SetWords(0x20, std::vector<uint16_t>{0x0F0F, 0x0F0F});
    if (c.erase) {
      for (const auto& [address, value] :
           {std::pair{0x555u, 0xAAu}, {0x2AAu, 0x55u}, {0x20u, 0x30u}})
        send(B(EncodeA2EraseCycle(address, value)));
    }
    if (c.cycles) {
      EXPECT_EQ(send(programCycle), std::vector<Bytes>{programCycle});
    }
    const auto echo = send(c.write);
    ASSERT_EQ(echo.size(), 1u);
    EXPECT_EQ(Bytes(echo[0].begin(), echo[0].begin() + 9),
              Bytes(c.write.begin(), c.write.begin() + 9));
    EXPECT_EQ(send(data), c.replies);
    EXPECT_EQ(model.Word(0x20), c.word0);
    EXPECT_EQ(model.RegionChecksum(0x20, 2), uint16_t(model.Word(0x20) + model.Word(0x21)));
  }
}

}  // namespace
}  // namespace vortan::emu
