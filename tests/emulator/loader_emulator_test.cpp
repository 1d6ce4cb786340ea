// The emulated loader end to end through the real link: common commands, data path, faults,
// enumeration and the traffic record.
#include <gtest/gtest.h>

#include <memory>

#include "emulator/emulator.h"
#include "emulator/ram_model.h"
#include "link/ax_update.h"
#include "link/clock.h"
#include "link/hid_device.h"

namespace vortan::emu {
namespace {

constexpr uint16_t kVid = 0x3151;
constexpr uint16_t kPid = 0x4002;
constexpr uint8_t kRamFamily = 7;

class RamUpdate : public AXUpdate {
 public:
  RamUpdate() : AXUpdate("cnfg", "data") { familyCode = kRamFamily; }
  using AXUpdate::Exchange;
  // Writes `data` at `address` with the RAM model's write command and data message.
  bool Write(uint32_t address, const Bytes& data) {
    uint8_t command[12] = {0x07};
    const uint16_t sum = ByteChecksum(data.data(), static_cast<int32_t>(data.size()));
    command[1] = static_cast<uint8_t>(address);
    command[2] = static_cast<uint8_t>(address >> 8);
    command[3] = static_cast<uint8_t>(address >> 16);
    command[4] = static_cast<uint8_t>(address >> 24);
    command[5] = static_cast<uint8_t>(data.size());
    command[6] = static_cast<uint8_t>(data.size() >> 8);
    command[9] = static_cast<uint8_t>(sum);
    command[10] = static_cast<uint8_t>(sum >> 8);
    uint8_t echo[12];
    if (!Exchange(command, echo) || !std::equal(echo, echo + 12, command)) return false;
    uint8_t status[1];
    return Exchange(data, status) && status[0] == RamModel::kDataReceived;
  }
};

class LoaderEmulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    emulator = std::make_shared<Emulator>();
    HidDevice::UseBackend(emulator);
    HidDevice::SetIds(kVid, kPid);
  }
  void TearDown() override { HidDevice::UseBackend(nullptr); }

  LoaderDevice& AttachRamDevice() {
    LoaderDevice& d = emulator->Attach(kVid, kPid);
    auto model = std::make_unique<RamModel>(4096);
    ram = model.get();
    d.AddFamily(kRamFamily, std::move(model));
    return d;
  }

  VirtualClock clock;
  ScopedProcessClock useClock{&clock};
  std::shared_ptr<Emulator> emulator;
  RamModel* ram = nullptr;
};

TEST_F(LoaderEmulatorTest, WholeRunWritesVerifiesAndFinishes) {
  LoaderDevice& device = AttachRamDevice();
  RamUpdate update;
  Bytes image(200);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
  ASSERT_TRUE(update.EnterUpdateMode(5));
  ASSERT_TRUE(update.Write(0x100, image));
  EXPECT_TRUE(update.CheckRegion(0x100, 200, AXUpdate::ByteChecksum(image.data(), 200)));
  EXPECT_FALSE(update.CheckRegion(0x100, 201, AXUpdate::ByteChecksum(image.data(), 200)));
  EXPECT_TRUE(update.FinishUpdate(true));
  EXPECT_EQ(device.LastFinishOutcome(), 0x00);
  EXPECT_EQ(device.MessageCount("update_mode"), 1);
  EXPECT_EQ(device.MessageCount("ram.data"), 1);
  EXPECT_EQ(emulator->OpenHandles(), 0);
  EXPECT_EQ(emulator->ExitCount(), 1);
  EXPECT_EQ(clock.SleptMs(), 0);
}

}  // namespace
}  // namespace vortan::emu
