// The window's update on a real second thread, its progress crossing to this (main) thread as
// posted values. Run by the ThreadSanitizer stage of scripts/test: it guards against the update
// thread and the main thread sharing anything but the posted values.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/fake_main_window_view.h"
#include "app/main_window.h"
#include "app/update_run.h"
#include "util/diag_log.h"
#include "emulator/emulator.h"
#include "emulator/simulation/simulated_device.h"
#include "link/clock.h"
#include "link/hid_device.h"
#include "support/package_fixtures.h"
#include "support/temp_dir.h"

namespace vortan {
namespace {

// Posted values queue under a lock until the main thread delivers them, as the toolkit's event
// loop does.
class ThreadedView final : public testing::FakeMainWindowView {
 public:
  ~ThreadedView() override { Join(); }

  void StartUpdateThread(std::function<void()> body) override {
    Join();
    thread_ = std::thread(std::move(body));
  }
  void PostProgress(int32_t value) override {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(value);
    }
    posted_.notify_one();
  }

  // Delivers posted values on this thread until the run has ended; false if it never ends.
  bool DeliverUntilRunEnds(MainWindow& window) {
    while (window.IsRunActive()) {
      std::unique_lock lock(mutex_);
      // A bound for a broken run, not a pause: values normally arrive at once.
      if (!posted_.wait_for(lock, std::chrono::seconds(60), [&] { return !queue_.empty(); })) {
        return false;
      }
      const int32_t value = queue_.front();
      queue_.pop_front();
      lock.unlock();
      window.RefreshProgress(value);
      delivered.push_back(value);
    }
    Join();
    return true;
  }

 private:
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<int32_t> queue_;
};

TEST(ThreadedRun, ProgressCrossesThreadsInOrderAndASecondRunFollows) {
  VirtualClock clock;
  ScopedProcessClock useClock(&clock);
  const LogSink previousLog = SetLogSink([](std::string_view) {});
  testing::TempDir dir;
  auto emulator = std::make_shared<emu::Emulator>();
  HidDevice::UseBackend(emulator);
  HidDevice::SetIds(0xF1A5, 0x1234);
  ThreadedView view;
  MainWindow window(view, dir.path().string());
  emu::LoaderDevice& device = emu::AttachSimulatedDevice(*emulator);
  window.SetPackageOpenedHook(
      [&device](const DatFileExamine& package) { emu::FitSimulatedDevice(device, package); });
  ASSERT_TRUE(window.OpenPath(testing::WritePackage(dir, "two.dat", testing::TwoPackPackage())));
  const int32_t total = window.DatFile().TotalStepCount();

  device.AddFault({emu::FaultType::kNoReply, "region_check", 1});
  for (const int32_t outcome : {kProgressFailure, kProgressSuccess}) {
    SCOPED_TRACE(outcome);
    view.delivered.clear();
    window.UpdateDevice();
    ASSERT_TRUE(view.DeliverUntilRunEnds(window));
    ASSERT_FALSE(view.delivered.empty());
    EXPECT_EQ(view.delivered.back(), outcome);
    for (size_t i = 0; i + 1 < view.delivered.size(); ++i) {
      EXPECT_EQ(view.delivered[i], static_cast<int32_t>(i));
    }
    EXPECT_EQ(window.ProgressValue(), outcome);
  }
  EXPECT_EQ(view.delivered.size(), static_cast<size_t>(total) + 1);

  HidDevice::UseBackend(nullptr);
  SetLogSink(previousLog);
}

}  // namespace
}  // namespace vortan
