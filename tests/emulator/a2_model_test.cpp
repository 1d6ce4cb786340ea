// The emulated A2 flash on its own: the NOR rules that make a host's mistakes show (erase and
// busy polling are exercised end to end in the A2 updater tests).
#include "emulator/a2_model.h"

#include <gtest/gtest.h>

#include "link/byte_order.h"

namespace vortan::emu {
namespace {

Bytes EraseCycle(uint32_t address, uint16_t data) {
  Bytes m(7);
  m[0] = 0x02;
  PutU32(&m[1], address);
  PutU16(&m[5], data);
  return m;
}

Bytes Write(uint32_t address, uint32_t words, uint16_t sum) {
  Bytes m(12);
  m[0] = 0x07;
  PutU32(&m[1], address);
  PutU16(&m[5], static_cast<uint16_t>(words));
  PutU16(&m[7], sum);
  return m;
}

const Bytes kProgramCycle = {0x04, 2, 0x55, 0x05, 0xA0, 0x00};

class A2ModelTest : public ::testing::Test {
 protected:
  A2Model model{{{0x0, 0x10, 0x20}, 3, 1, [](uint32_t) -> uint16_t { return 0x0F0F; }}};

  std::vector<Bytes> Send(const Bytes& message) {
    auto handled = model.OnMessage(message);
    return handled ? handled->replies : std::vector<Bytes>{{0xEE, 0xEE}};
  }
  void Erase(uint32_t sector) {
    Send(EraseCycle(0x555, 0xAA));
    Send(EraseCycle(0x2AA, 0x55));
    Send(EraseCycle(sector, 0x30));
  }
};

TEST_F(A2ModelTest, ProgrammingOnlyClearsBits) {
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
      {"erased sector", true, true, Write(0x20, 2, 0xF100), {{0xF4}, {0xD4}}, 0xF0FF},
      {"not erased: bits only clear",
       false,
       true,
       Write(0x20, 2, 0xF100),
       {{0xF4}, {0xD4}},
       0x000F},
      {"no programming cycles since the erase",
       true,
       false,
       Write(0x20, 2, 0xF100),
       {{0xF4}, {0xE4}},
       0xFFFF},
      {"sum differs", true, true, Write(0x20, 2, 0xF101), {{0xF4}, {0xE4}}, 0xFFFF},
      {"length differs", true, true, Write(0x20, 3, 0xF100), {{0xE4}}, 0xFFFF},
  };
  for (const Case& c : cases) {
    model.SetWords(0x20, std::vector<uint16_t>{0x0F0F, 0x0F0F});
    if (c.erase) Erase(0x20);
    if (c.cycles) {
      EXPECT_EQ(Send(kProgramCycle), std::vector<Bytes>{kProgramCycle});
    }
    const auto echo = Send(c.write);
    ASSERT_EQ(echo.size(), 1u);
    EXPECT_EQ(Bytes(echo[0].begin(), echo[0].begin() + 9),
              Bytes(c.write.begin(), c.write.begin() + 9));
    EXPECT_TRUE(model.ExpectingData());
    EXPECT_EQ(Send(data), c.replies) << c.what;
    EXPECT_EQ(model.Word(0x20), c.word0) << c.what;
    EXPECT_EQ(model.RegionChecksum(0x20, 2), uint16_t(model.Word(0x20) + model.Word(0x21)));
  }
}

}  // namespace
}  // namespace vortan::emu
