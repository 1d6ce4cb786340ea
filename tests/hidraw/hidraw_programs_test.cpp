// SPDX-License-Identifier: Apache-2.0
// The real vortan-flash, its production backend and the system's hidapi and libudev, against
// emulated hidraw keyboards. Every run pays the real pauses: packages stay small.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "app/user_texts.h"
#include "emulator/simulation/simulated_device.h"
#include "emulator/umockdev/hidraw_testbed.h"
#include "link/hid_device.h"
#include "support/package_fixtures.h"
#include "support/run_program.h"
#include "support/temp_dir.h"
#include "util/device_lock.h"

namespace vortan {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using Strings = std::vector<std::string>;
using namespace std::chrono_literals;

constexpr uint16_t kVid = 0x3151;
constexpr uint16_t kPid = 0x4002;

class HidrawProgramsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(bed.Error(), "");
    ASSERT_TRUE(testing::WriteText(config_, "IDC_VID=0x3151\nIDC_PID=0x4002\n"));
  }

  std::string Package(const pack::PackageContents& contents) {
    return testing::WritePackage(dir_, "update.dat", contents);
  }
  // Plugs a keyboard whose flash models fit `package`.
  int Plug(const std::string& package, emu::HidrawKeyboard keyboard = {}) {
    DatFileExamine examined(work_.path().string());
    auto device = std::make_unique<emu::LoaderDevice>(kVid, kPid);
    EXPECT_TRUE(examined.ReadFile(package) && examined.Examine());
    EXPECT_TRUE(emu::FitSimulatedDevice(*device, examined));
    keyboard.vid = kVid;
    keyboard.pid = kPid;
    const int index = bed.Plug(std::move(device), keyboard);
    EXPECT_GE(index, 0) << bed.Error();
    return index;
  }
  int Count(int index, const char* kind) {
    int count = 0;
    bed.WithDevice(index, [&](emu::LoaderDevice& d) { count = d.MessageCount(kind); });
    return count;
  }

  Strings Args(Strings args) const {
    args.insert(args.begin(), {"--work-dir", work_.path().string(), "--config", config_});
    return args;
  }
  testing::ProgramResult Flash(const Strings& args) {
    return testing::RunProgram(VORTAN_FLASH_PATH, Args(args), dir_);
  }
  testing::RunningProgram Start(const Strings& args) {
    return testing::RunningProgram(VORTAN_FLASH_PATH, Args(args), dir_);
  }

  emu::HidrawTestbed bed;
  testing::TempDir dir_;
  testing::TempDir work_;
  const std::string config_ = dir_.File("Config.ini");
};

struct FamilyCase {
  const char* name;
  pack::PackageContents contents;
};
void PrintTo(const FamilyCase& c, std::ostream* out) {
  *out << c.name;
}

class HidrawFlashTest : public HidrawProgramsTest,
                        public ::testing::WithParamInterface<FamilyCase> {};

// A whole update through the real stack sends and receives exactly the reports of the same
// update through the emulator backend.
TEST_P(HidrawFlashTest, AWholeUpdateExchangesTheEmulatorBackendsReports) {
  const std::string package = Package(GetParam().contents);
  const int index = Plug(package);
  const std::string real = dir_.File("real.trace");
  const std::string simulated = dir_.File("simulated.trace");
  const testing::ProgramResult run = Flash({"flash", package, "--trace", real});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr(kTextSuccess));
  EXPECT_EQ(Count(index, "finish"), 1);
  ASSERT_EQ(Flash({"flash", package, "--simulate", "--trace", simulated}).exitCode, 0);
  const std::string trace = testing::ReadText(real);
  EXPECT_GT(trace.size(), 0u);
  EXPECT_TRUE(trace == testing::ReadText(simulated));
}

INSTANTIATE_TEST_SUITE_P(
    Families, HidrawFlashTest,
    ::testing::Values(FamilyCase{"A2", testing::PackageOf({testing::A2Pack(0x1000)})},
                      FamilyCase{"C1", testing::PackageOf({testing::C1Pack(0x1000)})},
                      FamilyCase{"A1", testing::PackageOf({testing::A1Pack(0x800)})},
                      FamilyCase{"TwoPacks", testing::PackageOf({testing::C1Pack(0x1000),
                                                                 testing::A1Pack(0x800)})}),
    [](const ::testing::TestParamInfo<FamilyCase>& info) { return info.param.name; });

// Guards against one keyboard listed twice (two top-level collections) failing --device,
// doubling --all and --list; plain flash still counts each entry.
TEST_F(HidrawProgramsTest, DeviceAllAndListTakeAPathAsOneKeyboard) {
  const std::string package = Package(testing::PackageOf({testing::C1Pack(0x1000)}));
  emu::HidrawKeyboard two;
  two.twoCollections = true;
  Plug(package);
  Plug(package, two);
  const testing::ProgramResult listed = Flash({"devices", "--list", "--json"});
  EXPECT_EQ(listed.out,
            "{\"interface\":0,\"manufacturer\":\"VORTAN\",\"path\":\"/dev/hidraw0\",\"product\":"
            "\"VORTAN Loader\",\"serial\":\"\"}\n"
            "{\"interface\":0,\"manufacturer\":\"VORTAN\",\"path\":\"/dev/hidraw1\",\"product\":"
            "\"VORTAN Loader\",\"serial\":\"\"}\n");
  const testing::ProgramResult plain = Flash({"flash", package});
  EXPECT_EQ(plain.exitCode, 4);
  EXPECT_THAT(plain.err, HasSubstr(kTextMoreThanOneDevice));
  const testing::ProgramResult chosen = Flash({"flash", package, "--device", "/dev/hidraw1"});
  EXPECT_EQ(chosen.exitCode, 0) << chosen.err;
  EXPECT_EQ(Count(0, "finish"), 0);
  EXPECT_EQ(Count(1, "finish"), 1);
  const testing::ProgramResult all = Flash({"flash", package, "--all"});
  EXPECT_EQ(all.exitCode, 0) << all.err;
  EXPECT_THAT(all.out + all.err, HasSubstr("2 of 2 keyboards updated"));
  EXPECT_EQ(Count(0, "finish"), 1);
  EXPECT_EQ(Count(1, "finish"), 2);
}

// What `devices` says of one keyboard that opens, one that is no hidraw node (never "Success")
// and one the user may not open (the udev advice).
TEST_F(HidrawProgramsTest, DevicesNamesWhyAKeyboardCannotBeOpened) {
  const std::string package = Package(testing::PackageOf({testing::C1Pack(0x1000)}));
  emu::HidrawKeyboard noHidraw;
  noHidraw.failDescriptorProbe = true;
  emu::HidrawKeyboard denied;
  denied.denyOpen = true;
  // Root opens any node: without CAP_DAC_OVERRIDE a mode of 0000 refuses it too.
  const Strings dropRoot = {"--inh-caps=-dac_override,-dac_read_search",
                            "--bounding-set=-dac_override,-dac_read_search", VORTAN_FLASH_PATH};
  const struct {
    emu::HidrawKeyboard keyboard;
    int exitCode;
    Strings says;
  } cases[] = {
      {{}, 0, {"Matching devices (VID 0x3151, PID 0x4002): 1\n"}},
      {noHidraw, 4, {"The device cannot be opened: /dev/hidraw1 does not answer HIDIOCGRDESCSIZE"}},
      {denied, 4, {"Permission denied", "Install the udev rule"}},
  };
  int index = 0;
  for (const auto& c : cases) {
    index = Plug(package, c.keyboard);
    Strings args = Args({"devices"});
    const bool root = ::geteuid() == 0 && c.keyboard.denyOpen;
    if (root) args.insert(args.begin(), dropRoot.begin(), dropRoot.end());
    const testing::ProgramResult shown =
        testing::RunProgram(root ? "/usr/bin/setpriv" : VORTAN_FLASH_PATH, args, dir_);
    EXPECT_EQ(shown.exitCode, c.exitCode) << index << shown.err;
    for (const std::string& part : c.says) {
      EXPECT_THAT(shown.out + shown.err, HasSubstr(part)) << index;
    }
    EXPECT_THAT(shown.err, Not(HasSubstr("Success"))) << index;
    bed.Unplug(index);
  }
}

// --wait goes on when a keyboard is plugged in late, at its uevent: guards against a wait that
// counts once a second (it would open the node 0.6 s after the plug).
TEST_F(HidrawProgramsTest, WaitUpdatesAKeyboardPluggedInLate) {
  const std::string package = Package(testing::PackageOf({testing::C1Pack(0x1000)}));
  testing::RunningProgram waiting = Start({"flash", package, "--wait=30"});
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  const int index = Plug(package);
  const auto plugged = std::chrono::steady_clock::now();
  while (bed.OpenCount(index) == 0 && std::chrono::steady_clock::now() - plugged < 2s) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - plugged, 250ms);
  const testing::ProgramResult run = waiting.Wait();
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Count(index, "finish"), 1);
}

// The lock against another process, and an unplug mid-write that fails the run at once.
TEST_F(HidrawProgramsTest, ALockedKeyboardIsRefusedAndAnUnplugFailsTheRunAtOnce) {
  const std::string package = Package(testing::PackageOf({testing::C1Pack(0x1000)}));
  const int index = Plug(package);
  {
    DeviceLock other;  // this process holds the node, as another update would
    ASSERT_EQ(other.Take("/dev/hidraw0"), LockResult::kTaken);
    const testing::ProgramResult refused = Flash({"flash", package});
    EXPECT_EQ(refused.exitCode, 4);
    EXPECT_THAT(refused.err, HasSubstr(kTextUpdateRunningElsewhere));
    EXPECT_EQ(Count(index, "update_mode"), 0);
  }
  testing::RunningProgram running = Start({"flash", package});
  for (int i = 0; i < 500 && Count(index, "update_mode") == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  bed.Unplug(index);
  const auto unplugged = std::chrono::steady_clock::now();
  const testing::ProgramResult run = running.Wait();
  EXPECT_EQ(run.exitCode, 5);
  EXPECT_THAT(run.err, HasSubstr(kTextFailure));
  EXPECT_LT(std::chrono::steady_clock::now() - unplugged, std::chrono::seconds(3));
}

}  // namespace
}  // namespace vortan
