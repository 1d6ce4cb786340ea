// SPDX-License-Identifier: Apache-2.0
// The production backend's own hidapi calls, made against the stand-in library: the exact call
// sequence of a run, how it reads hidapi's results, and what the emulated hidraw keyboards of
// tests/hidraw cannot show (umockdev holds signals during the calls it intercepts).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "emulator/ram_model.h"
#include "fake_hidapi.h"
#include "link/hid_device.h"
#include "support/temp_dir.h"
#include "updaters/ax_update.h"
#include "util/clock.h"
#include "util/stop_signals.h"

namespace vortan {
namespace {

constexpr uint8_t kFamily = 9;

class Updater : public AXUpdate {
 public:
  Updater() : AXUpdate("", "") { familyCode = kFamily; }
};

class HidapiBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakehid::Reset();
    fakehid::SetDeviceFolder(nodes.path().string());
    HidDevice::UseBackend(MakeHidapiBackend());
    // Only the low 16 bits of each ID reach hidapi.
    HidDevice::SetIds(0x13151, 0x4002);
  }
  void TearDown() override {
    HidDevice::UseBackend(nullptr);
    HidDevice::SelectPath("");
  }

  emu::LoaderDevice& Attach() {
    emu::LoaderDevice& d = fakehid::Backend().Attach(0x3151, 0x4002);
    d.AddFamily(kFamily, std::make_unique<emu::RamModel>(64));
    return d;
  }

  testing::TempDir nodes;  // the listed devices' nodes, which the device lock locks
  VirtualClock clock;
  ScopedProcessClock useClock{&clock};
};

const std::string kRead = "hid_read_timeout 64 " + std::to_string(HidDevice::kReplyTimeoutMs);

TEST_F(HidapiBackendTest, RunMakesTheExpectedCalls) {
  Attach();
  EXPECT_EQ(HidDevice::Instance().CountDevices(), 1);
  Updater updater;
  ASSERT_TRUE(updater.EnterUpdateMode(5));
  ASSERT_TRUE(updater.CheckRegion(0, 2, 2 * 0xFF));
  ASSERT_TRUE(updater.FinishUpdate(true));
  const std::vector<std::string> expected = {
      "hid_enumerate 3151 4002",
      "hid_free_enumeration 1",  // the window's refresh
      "hid_enumerate 3151 4002",
      "hid_free_enumeration 1",  // EnsureOpen
      "hid_enumerate 3151 4002",
      "hid_free_enumeration 1",  // the device lock finds the node hid_open opens
      "hid_open 3151 4002 null",
      "hid_write 64",
      kRead,  // update mode
      "hid_write 64",
      kRead,  // region check
      "hid_write 64",
      kRead,  // finish
      "hid_close",
      "hid_exit",
  };
  EXPECT_EQ(fakehid::Calls(), expected);
}

// Several listed interfaces count as several devices, so no open follows; a failed open reports
// hidapi's own reason.
TEST_F(HidapiBackendTest, CountsEveryListedInterfaceAndReportsAFailedOpen) {
  fakehid::Backend().Attach(0x3151, 0x4002, 2);
  fakehid::Backend().Attach(0x3151, 0x7777);
  EXPECT_EQ(HidDevice::Instance().CountDevices(), 2);
  HidDevice::SetIds(0x3151, 0);
  EXPECT_EQ(HidDevice::Instance().CountDevices(), 3);
  EXPECT_FALSE(Updater().EnterUpdateMode(5));
  EXPECT_EQ(fakehid::Calls().back(), "hid_free_enumeration 3");
  fakehid::Reset();
  fakehid::SetDeviceFolder(nodes.path().string());
  HidDevice::SetIds(0x3151, 0x4002);
  Attach();
  fakehid::Backend().FailOpens(1, "Permission denied", true);
  EXPECT_FALSE(HidDevice::Instance().EnsureOpen());
  EXPECT_EQ(HidDevice::Instance().LastOpenError(), "Permission denied");
  EXPECT_TRUE(HidDevice::Instance().LastOpenDeniedPermission());
  EXPECT_EQ(fakehid::Calls().back(), "hid_error null");
}

// Guards against a run going on unlocked when the listed node cannot be locked (failed open).
TEST_F(HidapiBackendTest, ANodeThatCannotBeLockedIsRefusedBeforeAnyReport) {
  Attach();
  fakehid::SetDeviceFolder("");  // listed as "sim:hidraw0", a node nobody can open
  EXPECT_FALSE(Updater().EnterUpdateMode(5));
  EXPECT_FALSE(HidDevice::Instance().LastOpenBusy());
  EXPECT_EQ(HidDevice::Instance().LastOpenError(),
            "the update lock sim:hidraw0 cannot be taken: No such file or directory");
  EXPECT_EQ(fakehid::Backend().Device(0).MessageCount("update_mode"), 0);
}

// Guards against a stop signal failing a run whose read waits in poll(), as hidapi's does: the
// signals are taken on a thread of their own and interrupt no read.
TEST_F(HidapiBackendTest, StopSignalsDuringAReadWaitingInPollDoNotFailTheRun) {
  Attach();
  fakehid::SetReadWait(2);
  sigset_t previous;
  ::pthread_sigmask(SIG_SETMASK, nullptr, &previous);
  BlockStopSignals();
  std::atomic<int> taken = 0;
  {
    const StopSignalWatcher watcher([&taken](int) { ++taken; });
    std::atomic<bool> done = false;
    std::thread sender([&done] {
      constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
      for (int i = 0; !done; ++i) {
        ::kill(::getpid(), kSignals[i % 3]);
        ::usleep(300);
      }
    });
    Updater updater;
    bool ok = updater.EnterUpdateMode(1);
    for (int i = 0; ok && i < 30; ++i) ok = updater.CheckRegion(0, 2, 2 * 0xFF);
    ok = updater.FinishUpdate(ok) && ok;
    done = true;
    sender.join();
    EXPECT_TRUE(ok);
    sigset_t pending;
    for (int i = 0; i < 1000 && ::sigpending(&pending) == 0 && !sigisemptyset(&pending); ++i) {
      ::usleep(1000);
    }
  }
  EXPECT_GT(taken, 0);
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace
}  // namespace vortan
