// SPDX-License-Identifier: Apache-2.0
#include "updaters/a1_update.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator/a1_model.h"
#include "emulator/emulator.h"
#include "link/hid_device.h"
#include "support/simulated_link.h"
#include "support/temp_dir.h"
#include "util/clock.h"

namespace vortan {
namespace {

using emu::Fault;
using emu::FaultType;

std::vector<uint8_t> Pattern(size_t length) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>((i * 13 + i / 509) ^ 0xA5);
  return bytes;
}

// The updater for `description` and Pattern(imageLength), or nullptr when Load refuses them.
std::unique_ptr<A1Update> LoadA1(const testing::TempDir& dir, const std::string& description,
                                 size_t imageLength) {
  EXPECT_TRUE(testing::WriteText(dir.File("TEMP2.INI"), description));
  EXPECT_TRUE(testing::WriteBytes(dir.File("TEMP2.BIN"), Pattern(imageLength)));
  auto updater = std::make_unique<A1Update>(dir.File("TEMP2.INI"), dir.File("TEMP2.BIN"));
  return updater->Load() ? std::move(updater) : nullptr;
}

std::string Description(const std::string& start, const std::string& length) {
  return "[Chip Info]\nChip Name = KX-40\nChip Size = 0x40000\n"
         "[Transmission Info]\nStart Address = " +
         start + "\nData Length = " + length + "\nTime Over = 3000\n";
}

TEST(A1LoadTest, Refusals) {
  const struct {
    const char* name;
    std::string description;
    size_t imageLength;
    bool loads;
  } cases[] = {
      {"plain", Description("0x8000", "128"), 300, true},
      {"no chip size", "[Transmission Info]\nData Length = 64\n", 300, false},
      {"chip size 0", "[chip info]\nchip size = 0\n", 300, false},
      {"data length 100", Description("0", "100"), 300, false},
      {"room exactly", Description("0x8000", "0"), 0x30000, true},
      {"room one byte short", Description("0x8000", "0"), 0x30001, false},
      // Guards the room wrapping round when 2 x start exceeds the chip size.
      {"start past half the chip", Description("0x20001", "64"), 64, false},
      {"start doubled wraps to 0",
       "[chip info]\nchip size = 0x100\n"
       "[transmission info]\nstart address = 0x80000000\n",
       64, false},
      // Guards block lengths the 16-bit field would announce short.
      {"data length 0x20000", Description("0", "0x20000"), 0x20000, false},
      {"data length 0x10040 shrunk above 64K", Description("0", "0x10040"), 0x10010, false},
      {"data length 0x20000 shrunk to 64K", Description("0", "0x20000"), 0x10000, true},
      {"-- comment", "-- note\n" + Description("0", "64"), 64, true},
      {"// starts a key line", "[chip info]\n// note\n" + Description("0", "64"), 64, false},
      {"unknown section", Description("0", "64") + "[Extra]\nx = 1\n", 64, false},
  };
  testing::TempDir dir;
  for (const auto& c : cases) {
    EXPECT_EQ(LoadA1(dir, c.description, c.imageLength) != nullptr, c.loads) << c.name;
  }
}

TEST(A1LoadTest, ReadsTheChipType) {
  testing::TempDir dir;
  const auto a1 = LoadA1(dir, "[Chip Info]\nChip Type = 0x105\n" + Description("0", "64"), 64);
  ASSERT_TRUE(a1);
  EXPECT_EQ(a1->FamilyCode(), 0x105u);
}

class A1RunTest : public testing::EmulatedLinkTest {
 protected:
  void SetUp() override {
    auto model = std::make_unique<emu::A1Model>(
        emu::A1ModelConfig{.startAddress = 0x8000, .chipSize = 0x40000});
    flash = model.get();
    device = &AttachDevice();
    device->AddFamily(A1Update::kFamilyCode, std::move(model));
  }

  std::unique_ptr<A1Update> Load(const std::string& dataLength, size_t imageLength) {
    auto a1 = LoadA1(dir, Description("0x8000", dataLength), imageLength);
    EXPECT_TRUE(a1);
    return a1;
  }

  testing::TempDir dir;
  emu::LoaderDevice* device = nullptr;
  emu::A1Model* flash = nullptr;
};

TEST_F(A1RunTest, ImageLandsFromTheStartAddress) {
  for (const auto& [dataLength, imageLength] :
       {std::pair{"128", 300}, std::pair{"0", 0x10000 + 100}}) {
    auto a1 = Load(dataLength, imageLength);
    ASSERT_TRUE(testing::RunAllSteps(*a1)) << dataLength;
    EXPECT_EQ(flash->Read(0x8000, imageLength), Pattern(imageLength)) << dataLength;
    EXPECT_EQ(flash->Read(0x7FFF, 1), std::vector<uint8_t>{0xFF});
    EXPECT_EQ(flash->Read(0x8000 + imageLength, 1), std::vector<uint8_t>{0xFF});
    HidDevice::Instance().Close();
  }
  EXPECT_EQ(device->MessageCount("a1.write"), 3 + 2);
  EXPECT_EQ(device->MessageCount("a1.data"), (2 + 2 + 1) + (1024 + 2));
}

// The plain F4 then D4 order is every successful run above.
TEST_F(A1RunTest, StatusBytesOutOfOrderOrMissingFail) {
  // The second data message's reply `reply` (0: F4 expected, 1: D4) faulted.
  const auto second = [](FaultType type, int reply, uint8_t value = 0) {
    return Fault{.type = type, .kind = "a1.data", .occurrence = 2, .reply = reply, .value = value};
  };
  const struct {
    const char* name;
    std::vector<Fault> faults;
  } cases[] = {
      {"D4 before F4",
       {second(FaultType::kWrongStatus, 0, 0xD4), second(FaultType::kWrongStatus, 1, 0xF4)}},
      {"no D4", {second(FaultType::kNoReply, 1)}},
      {"echo differs in byte 11",
       {{.type = FaultType::kWrongEcho, .kind = "a1.write", .occurrence = 1, .byte = 11}}},
  };
  for (const auto& c : cases) {
    device->ClearFaults();
    device->AddFaults(c.faults);
    auto a1 = Load("128", 100);
    ASSERT_TRUE(a1->EnterUpdateMode(5));
    EXPECT_FALSE(a1->RunStep(0)) << c.name;
    HidDevice::Instance().Close();
  }
}

}  // namespace
}  // namespace vortan
