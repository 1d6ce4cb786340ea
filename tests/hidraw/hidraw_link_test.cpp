// SPDX-License-Identifier: Apache-2.0
// The device link over the real hidapi and libudev, against emulated hidraw keyboards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <thread>

#include "app/fake_main_window_view.h"
#include "app/user_texts.h"
#include "emulator/ram_model.h"
#include "emulator/umockdev/hidraw_testbed.h"
#include "link/hid_device.h"
#include "support/package_fixtures.h"
#include "support/temp_dir.h"
#include "updaters/ax_update.h"
#include "util/device_lock.h"

namespace vortan {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr uint16_t kVid = 0x3151;
constexpr uint16_t kPid = 0x4002;
constexpr uint8_t kFamily = 9;

class Updater : public AXUpdate {
 public:
  Updater() : AXUpdate("", "") { familyCode = kFamily; }
  // The three common commands of a run: update mode, one region check, the finish.
  bool Run() {
    const bool ok = EnterUpdateMode(1) && CheckRegion(0, 2, 2 * 0xFF);
    return FinishUpdate(ok) && ok;
  }
};

class HidrawLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(bed.Error(), "");
    HidDevice::UseBackend(MakeHidapiBackend());
    HidDevice::SetIds(kVid, kPid);
  }
  void TearDown() override {
    HidDevice::Instance().Close();
    HidDevice::UseBackend(nullptr);
    HidDevice::SelectPath("");
  }

  int Plug(emu::HidrawKeyboard keyboard = {}) {
    keyboard.vid = kVid;
    keyboard.pid = kPid;
    auto device = std::make_unique<emu::LoaderDevice>(kVid, kPid);
    device->AddFamily(kFamily, std::make_unique<emu::RamModel>(64));
    const int index = bed.Plug(std::move(device), keyboard);
    EXPECT_GE(index, 0) << bed.Error();
    return index;
  }

  int Messages(int index) {
    int count = 0;
    bed.WithDevice(index, [&count](emu::LoaderDevice& d) {
      count =
          d.MessageCount("update_mode") + d.MessageCount("region_check") + d.MessageCount("finish");
    });
    return count;
  }

  emu::HidrawTestbed bed;
  HidDevice& link = HidDevice::Instance();
};

// Guards against a keyboard whose descriptor has two top-level collections being two keyboards
// for --device, --all and --list (hidapi lists its one path twice).
TEST_F(HidrawLinkTest, APathIsOneKeyboardThoughHidapiListsEachCollection) {
  emu::HidrawKeyboard two;
  two.interfaceNumber = 2;
  two.twoCollections = true;
  Plug();
  Plug(two);
  const std::vector<HidDeviceInfo> listed = link.ListDevices();
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].path, "/dev/hidraw0");
  EXPECT_EQ(listed[1].path, "/dev/hidraw1");
  EXPECT_EQ(listed[1].interfaceNumber, 2);
  EXPECT_EQ(listed[1].manufacturer, "VORTAN");
  EXPECT_EQ(link.CountDevices(), 3);  // unselected, every entry counts
  HidDevice::SelectPath("/dev/hidraw1");
  EXPECT_EQ(link.CountDevices(), 1);
  EXPECT_TRUE(Updater().Run()) << link.LastOpenError();
  EXPECT_EQ(Messages(0), 0);
  EXPECT_EQ(Messages(1), 3);
}

// Guards against "The device cannot be opened: Success" and hidapi's use after free: a node that
// fails HIDIOCGRDESCSIZE is refused with the real cause before hidapi opens it.
TEST_F(HidrawLinkTest, ANodeFailingTheDescriptorProbeIsRefusedBeforeHidapiOpensIt) {
  emu::HidrawKeyboard noHidraw;
  noHidraw.failDescriptorProbe = true;
  Plug(noHidraw);
  EXPECT_FALSE(link.EnsureOpen());
  EXPECT_THAT(link.LastOpenError(),
              AllOf(HasSubstr("/dev/hidraw0"), HasSubstr("HIDIOCGRDESCSIZE"),
                    HasSubstr("Inappropriate ioctl for device"), Not(HasSubstr("Success"))));
  EXPECT_FALSE(link.LastOpenDeniedPermission());
  EXPECT_EQ(bed.OpenCount(0), 1);  // the lock's open only
}

// Guards against two processes interleaving their commands on one keyboard: the lock is taken
// on the node before anything is sent (flock on another open of the node, as another process's).
TEST_F(HidrawLinkTest, AKeyboardAnotherProcessUpdatesIsRefusedBeforeAnyReport) {
  Plug();
  DeviceLock other;
  ASSERT_EQ(other.Take("/dev/hidraw0"), LockResult::kTaken);
  EXPECT_FALSE(Updater().Run());
  EXPECT_TRUE(link.LastOpenBusy());
  EXPECT_EQ(Messages(0), 0);
  other.Release();
  EXPECT_TRUE(Updater().Run());
  EXPECT_EQ(Messages(0), 3);
  EXPECT_EQ(other.Take("/dev/hidraw0"), LockResult::kTaken);  // released with the link
}

// Guards against a read waiting out its whole time-out (or for ever) on an unplugged keyboard:
// the unplug wakes hidapi's poll() and the read fails.
TEST_F(HidrawLinkTest, AnUnplugDuringAWaitingReadFailsItAtOnce) {
  const int index = Plug();
  bed.WithDevice(index, [](emu::LoaderDevice& d) {
    std::vector<emu::Fault> faults;
    ASSERT_TRUE(emu::ParseFaultScript("no_reply region_check", faults, nullptr));
    d.AddFaults(faults);
  });
  Updater updater;
  ASSERT_TRUE(updater.EnterUpdateMode(1));
  std::thread unplug([this, index] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    bed.Unplug(index);
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(updater.CheckRegion(0, 2, 2 * 0xFF));
  EXPECT_FALSE(updater.FinishUpdate(false));
  unplug.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(link.CountDevices(), 0);
}

// The window hears a keyboard plugged into and pulled from the test bed within 0.2 s of its
// uevent, through the backend's udev monitor, and counts it without opening it.
TEST_F(HidrawLinkTest, TheWindowNoticesAKeyboardComingAndGoingByItsUevent) {
  testing::TempDir dir;
  testing::FakeMainWindowView view;
  MainWindow window(view, dir.path().string());
  window.InitButton();
  window.StartDeviceWatch();
  ASSERT_GE(view.watchFd, 0) << "no udev monitor";
  ASSERT_TRUE(window.OpenPath(testing::WritePackage(dir, "a.dat", testing::OnePackPackage())));
  const std::string none = window.DatFile().GetNoDeviceText();
  EXPECT_EQ(view.Text(TextField::kDeviceStatus), none);
  const int index = Plug();
  for (const bool plugged : {true, false}) {
    if (!plugged) bed.Unplug(index);
    pollfd watched = {view.watchFd, POLLIN, 0};
    EXPECT_EQ(::poll(&watched, 1, 200), 1) << plugged;
    view.timer();  // as the event loop calls the watch
    EXPECT_EQ(::poll(&watched, 1, 0), 0) << "drained";
    EXPECT_EQ(view.Text(TextField::kDeviceStatus), plugged ? kTextDeviceConnected : none);
  }
  EXPECT_EQ(bed.OpenCount(index), 0);
}

}  // namespace
}  // namespace vortan
