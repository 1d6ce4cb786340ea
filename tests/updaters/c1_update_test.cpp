// SPDX-License-Identifier: Apache-2.0
#include "updaters/c1_update.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "emulator/c1_model.h"
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
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + i / 251) ^ 0x5A);
  return bytes;
}

// The updater for `description` and Pattern(imageLength), or nullptr when Load refuses them.
std::unique_ptr<C1Update> LoadC1(const testing::TempDir& dir, const std::string& description,
                                 size_t imageLength) {
  EXPECT_TRUE(testing::WriteText(dir.File("TEMP1.INI"), description));
  EXPECT_TRUE(testing::WriteBytes(dir.File("TEMP1.BIN"), Pattern(imageLength)));
  auto updater = std::make_unique<C1Update>(dir.File("TEMP1.INI"), dir.File("TEMP1.BIN"));
  return updater->Load() ? std::move(updater) : nullptr;
}

constexpr const char* kDescription =
    "; SPI flash, sector 1 holds the boot settings\n"
    "[Reserved Sector]\n0x5000\n"
    "[Line Mode]\nmode = 4\n"
    "[SPI Number]\nn = 1\n"
    "[Chip Select Number]\ncs = 1\n"
    "[SECTOR SIZE]\nsize = 0x5000\n";

TEST(C1LoadTest, Refusals) {
  const std::string reserved = "[reserved sector]\n0\n";
  std::string all = "[sector size]\ns = 0x800000\n[reserved sector]\n";
  for (uint32_t i = 0; i < 512; ++i) all += std::to_string(i * 0x800000u) + "\n";
  const struct {
    const char* name;
    std::string description;
    bool loads;
  } cases[] = {
      {"defaults", reserved, true},
      {"no reserved sector", "[sector size]\ns = 0x1000\n", false},
      {"entry off the grid reserves nothing", "[reserved sector]\n0x123\n", true},
      {"line mode 2", reserved + "[line mode]\nm = 2\n", true},
      {"line mode 0", reserved + "[line mode]\nm = 0\n", false},
      {"line mode 3", reserved + "[line mode]\nm = 3\n", false},
      {"spi number 2", reserved + "[spi number]\nn = 2\n", false},
      {"chip select 2", reserved + "[chip select number]\nc = 2\n", false},
      {"sector size 24 bits", reserved + "[sector size]\ns = 0xFFFFFF\n", true},
      // Guards a sector size the setup command cannot carry (it would reach the loader cut).
      {"sector size 0x1010000", reserved + "[sector size]\ns = 0x1010000\n", false},
      {"sector size 0", reserved + "[sector size]\ns = 0\n", false},
      // Guards the endless sector walk: with 32-bit wrap every sector index would be reserved.
      {"no free sector in the address space", all, false},
  };
  testing::TempDir dir;
  for (const auto& c : cases)
    EXPECT_EQ(LoadC1(dir, c.description, 1000) != nullptr, c.loads) << c.name;
}

// A C1 loader with one flash on the emulated link, driven on the virtual clock.
class C1RunTest : public testing::EmulatedLinkTest {
 protected:
  // A device of its own per case: the previous case's link closes and its device goes.
  void Attach(emu::C1ModelConfig config) {
    if (device) {
      HidDevice::Instance().Close();
      device->Unplug();
    }
    auto model = std::make_unique<emu::C1Model>(config);
    flash = model.get();
    device = &AttachDevice();
    device->AddFamily(C1Update::kFamilyCode, std::move(model));
  }

  std::unique_ptr<C1Update> Load(size_t imageLength) {
    auto c1 = LoadC1(dir, kDescription, imageLength);
    EXPECT_TRUE(c1);
    return c1;
  }

  testing::TempDir dir;
  emu::LoaderDevice* device = nullptr;
  emu::C1Model* flash = nullptr;
};

TEST_F(C1RunTest, WholeImageLandsInTheFreeSectors) {
  Attach({.capacity = 0x40000, .busyPolls = 3});
  auto c1 = Load(45000);
  ASSERT_TRUE(testing::RunAllSteps(*c1));
  EXPECT_EQ(flash->SectorSize(), 0x5000u);
  EXPECT_EQ(flash->LineMode(), 4);
  const auto image = Pattern(45000);
  // Block b in the (b+1)-th free sector: sectors 0, 2, 3; sector 1 untouched.
  const uint32_t sectors[] = {0, 2, 3};
  for (uint32_t b = 0; b < 3; ++b) {
    const size_t length = std::min<size_t>(0x5000, image.size() - b * 0x5000);
    const std::vector<uint8_t> block(image.begin() + b * 0x5000,
                                     image.begin() + b * 0x5000 + length);
    EXPECT_EQ(flash->Read(sectors[b] * 0x5000, length), block) << "block " << b;
  }
  EXPECT_EQ(flash->Read(0x5000, 0x5000), std::vector<uint8_t>(0x5000, 0x00));
  EXPECT_EQ(device->MessageCount("c1.write"), 3 + 3 + 1);
  EXPECT_EQ(device->MessageCount("region_check"), 3);
}

TEST_F(C1RunTest, CapacityAgainstRequiredSpan) {
  // 45000 bytes with sector 1 reserved need sectors 0 to 3.
  const struct {
    uint32_t capacity;
    bool enters;
  } cases[] = {{4 * 0x5000, true}, {4 * 0x5000 - 1, false}, {0, false}, {0xFFFFFFFF, true}};
  for (const auto& c : cases) {
    Attach({.capacity = c.capacity});
    auto c1 = Load(45000);
    EXPECT_EQ(c1->EnterUpdateMode(5), c.enters) << c.capacity;
    EXPECT_EQ(c1->FlashCapacity(), c.capacity);
  }
}

TEST_F(C1RunTest, UpdateModeAndSetupShareTheAttempts) {
  const struct {
    int updateModeFailures;
    int setupFailures;
    bool enters;
    int setups;
  } cases[] = {
      {2, 0, true, 1}, {2, 2, true, 3},  {2, 3, false, 3},
      {0, 4, true, 5}, {4, 1, false, 1}, {5, 0, false, 0},
  };
  for (const auto& c : cases) {
    Attach({});
    for (int i = 1; i <= c.updateModeFailures; ++i) {
      device->AddFault(Fault{
          .type = FaultType::kWrongStatus, .kind = "update_mode", .occurrence = i, .value = 0xF0});
    }
    for (int i = 1; i <= c.setupFailures; ++i) {
      device->AddFault(Fault{.type = FaultType::kNoReply, .kind = "c1.setup", .occurrence = i});
    }
    auto c1 = Load(1000);
    EXPECT_EQ(c1->EnterUpdateMode(5), c.enters) << c.updateModeFailures << "/" << c.setupFailures;
    // The base's request loop, shared: each try is one 01 0A 4D 03 (the only message the device
    // files as update_mode and its C1 model accepts), back to back, then the setups.
    std::vector<std::string> kinds(std::min(c.updateModeFailures + 1, 5), "update_mode");
    kinds.insert(kinds.end(), c.setups, "c1.setup");
    EXPECT_THAT(device->RecentKinds(), ::testing::ElementsAreArray(kinds));
    EXPECT_EQ(device->Selected(), flash);
  }
}

TEST_F(C1RunTest, ErasePollBudget) {
  for (uint32_t busy : {105u, 106u}) {
    Attach({.busyPolls = busy});
    auto c1 = Load(1000);
    ASSERT_TRUE(c1->EnterUpdateMode(5));
    const int64_t before = clock.SleptMs();
    EXPECT_EQ(c1->RunStep(0), busy == 105) << busy;
    EXPECT_EQ(device->MessageCount("c1.erase_poll"), 106);
    EXPECT_EQ(clock.SleptMs() - before, 106 * 20);
    // A failed erase ends the step without another attempt.
    EXPECT_EQ(device->MessageCount("c1.erase"), 1);
  }
}

TEST_F(C1RunTest, FailedWritesRewriteTheWholeSector) {
  const auto refused = [](int occurrence) {
    return Fault{.type = FaultType::kWrongStatus,
                 .kind = "c1.data",
                 .occurrence = occurrence,
                 .value = 0xF5};
  };
  const auto echo = [](int byte) {
    return Fault{.type = FaultType::kWrongEcho, .kind = "c1.write", .occurrence = 0, .byte = byte};
  };
  const struct {
    const char* name;
    Fault fault;
    bool written;
    int erases;
  } cases[] = {
      {"second chunk refused once", refused(2), true, 2},
      {"write echo differs in byte 11", echo(11), true, 1},
      {"write echo differs in byte 10", echo(10), false, 6},
      {"every chunk refused", refused(0), false, 6},
  };
  for (const auto& c : cases) {
    Attach({.busyPolls = 1});
    device->AddFault(c.fault);
    auto c1 = Load(45000);
    ASSERT_TRUE(c1->EnterUpdateMode(5)) << c.name;
    EXPECT_EQ(c1->RunStep(0), c.written) << c.name;
    EXPECT_EQ(device->MessageCount("c1.erase"), c.erases) << c.name;
    if (c.written) {
      EXPECT_EQ(flash->Read(0, 0x5000), Pattern(0x5000)) << c.name;
    }
  }
}

TEST_F(C1RunTest, ShortSetupReplyIsRefused) {
  // Guards stale capacity bytes passing the capacity check after a one-byte F1 answer.
  Attach({});
  device->AddFault(
      Fault{.type = FaultType::kShortReply, .kind = "c1.setup", .occurrence = 0, .length = 1});
  auto c1 = Load(1000);
  EXPECT_FALSE(c1->EnterUpdateMode(5));
}

}  // namespace
}  // namespace vortan
