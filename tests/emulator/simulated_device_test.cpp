// SPDX-License-Identifier: Apache-2.0
// The simulated device: attached with the link's IDs, fitted to a package so its update
// succeeds, refitted for another, and shared flash for packs of one family code.
#include "emulator/simulation/simulated_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/package_steps.h"
#include "emulator/c1_model.h"
#include "link/hid_device.h"
#include "support/package_fixtures.h"
#include "support/simulated_link.h"
#include "support/temp_dir.h"
#include "util/clock.h"
#include "util/diag_log.h"

namespace vortan::emu {
namespace {

using pack::DataPackContents;
using vortan::testing::A1Pack;
using vortan::testing::A2Pack;
using vortan::testing::C1Pack;

DataPackContents WithChipType(DataPackContents pack, const std::string& from,
                              const std::string& to) {
  pack.description.replace(pack.description.find(from), from.size(), to);
  return pack;
}

class SimulatedDeviceTest : public ::testing::Test {
 protected:
  bool Open(std::vector<DataPackContents> packs) {
    pack::PackageContents contents = vortan::testing::OnePackPackage();
    contents.packs = std::move(packs);
    return datFile_.ReadFile(vortan::testing::WritePackage(dir_, "package.dat", contents)) &&
           datFile_.Examine();
  }

  VirtualClock clock_;
  ScopedProcessClock useClock_{&clock_};
  LogSink previousLog_ = SetLogSink([](std::string_view) {});
  vortan::testing::SimulatedLink link_;
  vortan::testing::TempDir dir_;
  vortan::testing::TempDir work_;
  DatFileExamine datFile_{work_.path().string()};

  ~SimulatedDeviceTest() override { SetLogSink(previousLog_); }
};

TEST_F(SimulatedDeviceTest, AttachesOneDeviceWithTheLinksIdsAndNoFamilies) {
  // Only the low 16 bits of the configured IDs reach the device.
  HidDevice::SetIds(0x1F1A5, 0x21234);
  LoaderDevice& device = AttachSimulatedDevice(link_.emulator());
  EXPECT_EQ(device.Vid(), 0xF1A5);
  EXPECT_EQ(device.Pid(), 0x1234);
  EXPECT_EQ(HidDevice::Instance().CountDevices(), 1);
  for (const uint8_t code : {1, 2, 3}) EXPECT_EQ(device.Family(code), nullptr);
}

TEST_F(SimulatedDeviceTest, FittedDevicesRunEveryPackageAndSharedCodesShareOneFlash) {
  struct Case {
    const char* name;
    std::vector<DataPackContents> packs;
    bool success;
    std::vector<uint8_t> codes;  // models fitted
    std::vector<int> heldPacks;  // packs whose image the flash holds afterwards
  };
  const Case cases[] = {
      // A larger image needs a larger flash than the first package's.
      {"C1 of 0x40000 bytes", {C1Pack(0x40000)}, true, {3}, {1}},
      // The second pack writes over the same flash: only its image remains.
      {"A2 twice", {A2Pack(0x3000, 7), A2Pack(0x3000, 8)}, true, {1}, {2}},
      {"C1 twice, the second larger", {C1Pack(0x1800, 7), C1Pack(0x9000, 8)}, true, {3}, {2}},
      {"A1 twice", {A1Pack(0x800, 7), A1Pack(0x1000, 8)}, true, {2}, {2}},
      // An A2 chip type of 2 takes the A1 family's code: a loader serves one family per code.
      {"A2 with A1's code, then A1",
       {WithChipType(A2Pack(), "Type = 1", "Type = 2"), A1Pack()},
       false,
       {2},
       {1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Open(c.packs));
    LoaderDevice& device = AttachSimulatedDevice(link_.emulator());
    device.AddFamily(9, std::make_unique<C1Model>());  // a model of an earlier fit goes
    ASSERT_TRUE(FitSimulatedDevice(device, datFile_));
    for (uint8_t code = 0; code < 10; ++code) {
      const bool fitted = std::find(c.codes.begin(), c.codes.end(), code) != c.codes.end();
      EXPECT_EQ(device.Family(code) != nullptr, fitted) << int{code};
    }
    EXPECT_EQ(RunUpdate(PackageSteps(datFile_), [](int32_t) {}), c.success);
    for (const int pack : c.heldPacks) {
      EXPECT_TRUE(vortan::testing::HoldsImage(device, *datFile_.Updater(pack))) << pack;
    }
    device.Unplug();
  }
}

TEST_F(SimulatedDeviceTest, APackageThatIsNotReadyLeavesTheDeviceWithoutFamilies) {
  ASSERT_TRUE(Open({A2Pack()}));
  LoaderDevice& device = AttachSimulatedDevice(link_.emulator());
  ASSERT_TRUE(FitSimulatedDevice(device, datFile_));
  ASSERT_FALSE(Open({C1Pack(0)}));
  EXPECT_FALSE(FitSimulatedDevice(device, datFile_));
  EXPECT_EQ(device.Family(1), nullptr);
  EXPECT_EQ(device.Family(3), nullptr);
}

}  // namespace
}  // namespace vortan::emu
