// SPDX-License-Identifier: Apache-2.0
#include "app/main_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "app/failure_texts.h"
#include "app/fake_main_window_view.h"
#include "app/update_run.h"
#include "app/user_texts.h"
#include "emulator/emulator.h"
#include "emulator/simulation/simulated_device.h"
#include "link/hid_device.h"
#include "support/package_fixtures.h"
#include "support/temp_dir.h"
#include "util/clock.h"
#include "util/device_lock.h"
#include "util/diag_log.h"

namespace vortan {
namespace {

using testing::Alert;
using testing::FakeMainWindowView;

constexpr uint16_t kVid = 0xF1A5;
constexpr uint16_t kPid = 0x1234;
const Alert kSuccess{"Information", "Update Success!", AlertStyle::kInformational};
const Alert kFailure{"Error", "Update Error!", AlertStyle::kWarning};
const std::string kNoKeysShown = "No Device (Press \"Fn\" + \"Esc\" to open)";
const std::string kNoDeviceNoPackage = "No Device (Open dat file first)";

bool Readable(int fd) {
  pollfd watched = {fd, POLLIN, 0};
  return ::poll(&watched, 1, 0) > 0;
}

struct ButtonState {
  bool open, refresh, update;
  bool operator==(const ButtonState&) const = default;
};

// Posted values queue under a lock until the main thread delivers them, as the toolkit's event
// loop does.
class ThreadedView final : public testing::FakeMainWindowView {
 public:
  // Assigning a new thread joins the previous one.
  void StartUpdateThread(std::function<void()> body) override {
    thread_ = std::jthread(std::move(body));
  }
  void PostProgress(int32_t value) override {
    std::lock_guard lock(mutex_);
    queue_.push_back(value);
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
    thread_.join();
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<int32_t> queue_;
  std::jthread thread_;  // last, so it is joined before the queue goes
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HidDevice::UseBackend(emulator);
    HidDevice::SetIds(kVid, kPid);
    previousLog_ = SetLogSink([](std::string_view) {});
  }
  void TearDown() override {
    SetLogSink(previousLog_);
    HidDevice::UseBackend(nullptr);
  }

  std::string Package(const std::string& name, const pack::PackageContents& contents,
                      const pack::Breakage& breakage = {}) {
    return testing::WritePackage(dir, name, contents, breakage);
  }
  std::string GoodPackage() { return Package("good.dat", testing::OnePackPackage()); }
  std::string BrokenPackage() {
    return Package("broken.dat", testing::OnePackPackage(), {pack::Fault::kHeaderSum});
  }
  ButtonState Buttons() const {
    return {view.Enabled(Button::kOpen), view.Enabled(Button::kRefresh),
            view.Enabled(Button::kUpdate)};
  }
  // A device that fits every package the window opens, as --simulate provides.
  emu::LoaderDevice& SimulatedDevice(MainWindow& w) {
    emu::LoaderDevice& device = emu::AttachSimulatedDevice(*emulator);
    w.SetPackageOpenedHook(
        [&device](const DatFileExamine& package) { emu::FitSimulatedDevice(device, package); });
    return device;
  }

  VirtualClock clock;
  ScopedProcessClock useClock{&clock};
  testing::TempDir dir;
  std::shared_ptr<emu::Emulator> emulator = std::make_shared<emu::Emulator>();
  FakeMainWindowView view;
  MainWindow window{view, dir.path().string()};
  LogSink previousLog_;
};

TEST_F(MainWindowTest, ButtonStatesAndDeviceStatusTexts) {
  struct Row {
    const char* name;
    // In order: g/b open the good/refused package, a attaches a device, 2 one with two HID
    // interfaces, p one of another product, u unplugs device 0, r refreshes, h lets half a
    // second of virtual time pass (the watch counts on each change the backend announces, or
    // once a second from a backend that announces none).
    std::string acts;
    ButtonState buttons;
    std::string status;
    // Only with a backend that announces changes (1) or only with one that does not (0).
    int onlyAnnounced = -1;
  };
  const std::vector<Row> rows = {
      {"after launch", "", {true, false, false}, ""},
      {"opened, no device", "g", {true, true, false}, kNoKeysShown},
      {"opened, one device", "ag", {true, true, true}, kTextDeviceConnected},
      {"opened, two devices", "aag", {true, true, false}, kTextMoreThanOneDevice},
      {"two HID interfaces count as two", "2g", {true, true, false}, kTextMoreThanOneDevice},
      {"another product is not counted", "pg", {true, true, false}, kNoKeysShown},
      {"refresh finds a device attached later", "gar", {true, true, true}, kTextDeviceConnected},
      {"refresh after the device went away", "agur", {true, true, false}, kNoKeysShown},
      // Guards against Update staying enabled for a package that an open refused.
      {"a failed open disables Update only", "agb", {true, true, false}, kTextDeviceConnected},
      // Guards against enabling Update for a package that a later open refused.
      {"refresh after a failed open", "agbr", {true, true, false}, kTextDeviceConnectedNoPackage},
      {"no device, no ready package", "gbr", {true, true, false}, kNoDeviceNoPackage},
      {"a device attached while idle is found", "gahh", {true, true, true}, kTextDeviceConnected},
      {"not before the second has passed", "gah", {true, true, false}, kNoKeysShown, 0},
      {"an announced device at once", "gah", {true, true, true}, kTextDeviceConnected, 1},
      {"a device unplugged while idle is noticed", "aguhh", {true, true, false}, kNoKeysShown},
      {"a second device while idle", "gahhahh", {true, true, false}, kTextMoreThanOneDevice},
      {"no watching before a package is open", "ahh", {true, false, false}, ""},
  };
  for (const bool announced : {true, false})
    for (const Row& row : rows) {
      if (row.onlyAnnounced >= 0 && row.onlyAnnounced != announced) continue;
      SCOPED_TRACE(std::string(row.name) + (announced ? ", announced" : ", on the timer"));
      emulator = std::make_shared<emu::Emulator>();
      emulator->SetAnnouncesChanges(announced);
      HidDevice::UseBackend(emulator);
      view = FakeMainWindowView();
      MainWindow w(view, dir.path().string());
      w.InitButton();
      w.StartDeviceWatch();
      for (const char act : row.acts) {
        if (act == 'g') w.OpenPath(GoodPackage());
        if (act == 'b') w.OpenPath(BrokenPackage());
        if (act == 'a' || act == '2') emulator->Attach(kVid, kPid, act == '2' ? 2 : 1);
        if (act == 'p') emulator->Attach(kVid, kPid + 1);
        if (act == 'u') emulator->Unplug(0);
        if (act == 'r') w.RefreshDevice();
        if (act == 'h') view.Advance(clock, std::chrono::milliseconds(500));
      }
      EXPECT_EQ(Buttons(), row.buttons);
      EXPECT_EQ(view.Text(TextField::kDeviceStatus), row.status);
      if (row.acts == "g") {
        EXPECT_EQ(view.focus, Focus::kDeviceStatus) << "it names the keys";
      }
      // Guards against the watch reaching the device: counting never opens or releases the link.
      EXPECT_EQ(emulator->ExitCount(), 0);
      // Guards against a watch that leaves its descriptor readable: the event loop would spin.
      if (announced && !row.acts.empty() && row.acts.back() == 'h') {
        EXPECT_FALSE(Readable(emulator->ChangeDescriptor()));
      }
    }
}

TEST_F(MainWindowTest, OpenShowsThePackageAndFailuresKeepThePreviousTexts) {
  emulator->Attach(kVid, kPid);
  view.panelAnswer = {true, Package("two.dat", testing::TwoPackPackage())};
  window.OpenDat();
  ASSERT_EQ(view.panelOptions.size(), 1u);
  EXPECT_EQ(view.panelOptions[0].allowedFileTypes, std::vector<std::string>{"dat"});
  EXPECT_EQ(view.Text(TextField::kPath), view.panelAnswer.path);
  EXPECT_EQ(view.Text(TextField::kProductModel), "VORTAN KB 25");
  EXPECT_EQ(view.Text(TextField::kFirmwareVersion), "V1.0.0");
  EXPECT_EQ(view.progressMax, window.DatFile().TotalStepCount());
  EXPECT_EQ(view.progressValues, std::vector<double>{0});

  const FakeMainWindowView before = view;
  view.panelAnswer = {false, "/elsewhere.dat"};
  window.OpenDat();
  EXPECT_EQ(view.texts, before.texts) << "a cancelled panel changes nothing";

  const std::string missing = dir.File("missing.dat");
  const std::string broken = BrokenPackage();
  pack::PackageContents previous = testing::OnePackPackage();
  previous.firmwareVersion = "V0.9.9";
  for (const auto& [path, alert] : std::vector<std::pair<std::string, std::string>>{
           {missing, "Unable to open dat file: " + missing + "\nNo such file or directory"},
           {broken, "Checksum or file format error: " + broken}}) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(window.OpenPath(Package("previous.dat", previous)));
    view.alerts.clear();
    EXPECT_FALSE(window.OpenPath(path));
    EXPECT_EQ(view.Text(TextField::kPath), path);
    EXPECT_EQ(view.alerts, (std::vector<Alert>{{"Error", alert, AlertStyle::kWarning}}));
    EXPECT_EQ(view.Text(TextField::kFirmwareVersion), "V0.9.9");
    EXPECT_FALSE(window.DatFile().IsFileReady());
  }
}

// Each run starts from an empty bar (guards against a failure at step 0 shown over the full bar
// of the success before it); a failed run keeps the bar at its last step, and the next run
// starts at once.
TEST_F(MainWindowTest, RunsPostTheirStepsAndOutcomeAndIgnoreEveryOtherActionUntilTheyEnd) {
  emu::LoaderDevice& device = SimulatedDevice(window);
  window.StartDeviceWatch();
  ASSERT_TRUE(window.OpenPath(Package("two.dat", testing::TwoPackPackage())));
  const int32_t total = window.DatFile().TotalStepCount();
  for (const std::string fault : {"update_mode", "region_check", "", "update_mode"}) {
    SCOPED_TRACE(fault);
    const bool success = fault.empty();
    device.ClearFaults();
    if (!success)
      device.AddFault({.type = emu::FaultType::kNoReply, .kind = fault, .occurrence = 0});
    view.alerts.clear();
    view.progressValues.clear();
    view.delivered.clear();
    window.UpdateDevice();
    ASSERT_TRUE(view.thread);
    EXPECT_EQ(Buttons(), (ButtonState{false, false, false}));
    const FakeMainWindowView before = view;
    const int32_t shown = window.ProgressValue();
    view.RunThread();
    // Guards against the update thread storing pVal: values cross only inside posted calls.
    EXPECT_EQ(window.ProgressValue(), shown);

    // Guards against a dropped file or a stray action replacing the package under a running
    // update: the run stays active until its values reach the main thread.
    EXPECT_FALSE(window.OpenPath(BrokenPackage()));
    window.OpenDat();
    window.RefreshDevice();
    window.UpdateDevice();
    if (success) emulator->Attach(kVid, kPid);
    view.Advance(clock, std::chrono::seconds(3));
    EXPECT_FALSE(Readable(view.watchFd)) << "the ignored announcement is taken all the same";
    EXPECT_EQ(view.texts, before.texts);
    EXPECT_TRUE(view.panelOptions.empty());
    EXPECT_TRUE(view.alerts.empty());
    EXPECT_FALSE(view.thread);
    EXPECT_TRUE(window.DatFile().IsFileReady());
    view.Pump(window);

    ASSERT_FALSE(view.delivered.empty());
    std::vector<int32_t> expected(view.delivered.size() - 1);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(expected.size() == static_cast<size_t>(total), success);
    std::vector<double> bar(expected.begin(), expected.end());
    bar.insert(bar.begin(), 0);
    if (success) bar.push_back(total);
    expected.push_back(success ? kProgressSuccess : kProgressFailure);
    EXPECT_EQ(view.delivered, expected);
    EXPECT_EQ(view.progressValues, bar);
    ASSERT_EQ(view.alerts.size(), 1u);
    view.alerts[0].details.clear();  // AFailedRunSaysWhyAndWhatToDoNext checks them
    EXPECT_EQ(view.alerts, std::vector<Alert>{success ? kSuccess : kFailure});
    EXPECT_EQ(view.buttonsDuringAlert,
              (std::map<Button, bool>{
                  {Button::kOpen, false}, {Button::kRefresh, false}, {Button::kUpdate, false}}));
    // Guards against a change announced during a run being lost: the run's end counts, so the
    // device attached during the successful run disables Update at once.
    EXPECT_EQ(Buttons(), (ButtonState{true, true, !success}));
    EXPECT_FALSE(window.IsRunActive());
  }
  EXPECT_EQ(view.Text(TextField::kDeviceStatus), kTextMoreThanOneDevice);
}

// Guards against a bare "Update Error!": its details say which step failed and what it was
// doing, the open's refusal with the udev rule, and whether the keyboard may stay in its loader.
TEST_F(MainWindowTest, AFailedRunSaysWhyAndWhatToDoNext) {
  emu::LoaderDevice& device = SimulatedDevice(window);
  ASSERT_TRUE(window.OpenPath(GoodPackage()));
  const std::string total = std::to_string(window.DatFile().TotalStepCount());
  const std::string nothingWritten = "Nothing was written to the keyboard.";
  struct Row {
    const char* name;
    std::function<void()> fault;
    std::vector<std::string> lines;
  };
  const std::vector<Row> rows = {
      {"open refused for lack of permission",
       [&] { emulator->FailOpens(1000, "Permission denied", true); },
       {"The device cannot be opened: Permission denied\n", "  " + UdevRuleLine(kVid, kPid),
        "  sudo udevadm control --reload-rules && sudo udevadm trigger\n", nothingWritten}},
      {"no reply to the update-mode request",
       [&] {
         device.AddFault(
             {.type = emu::FaultType::kNoReply, .kind = "update_mode", .occurrence = 0});
       },
       {"Step 1 of " + total +
            " failed while putting the keyboard's loader into update mode for data pack 1.\n",
        nothingWritten}},
      {"unplugged at the check",
       [&] { device.AddFault({.type = emu::FaultType::kUnplug, .kind = "region_check"}); },
       {"Step " + total + " of " + total +
            " failed while verifying the written data of data pack 1.\n",
        "The keyboard may stay in its loader until an update succeeds. Keep it connected (if it "
        "is not found, open its loader by pressing \"Fn\" + \"Esc\"), then press Update"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    emulator->FailOpens(0, "");
    device.ClearFaults();
    row.fault();
    view.alerts.clear();
    window.UpdateDevice();
    view.RunThread();
    view.Pump(window);
    ASSERT_EQ(view.alerts.size(), 1u);
    EXPECT_EQ(view.alerts[0].informative, kTextFailure);
    for (const std::string& line : row.lines) {
      EXPECT_THAT(view.alerts[0].details, ::testing::HasSubstr(line));
    }
  }
}

// Guards against a run that only says "Press Update" while it goes on and nothing after it: the
// line beside the bar gives the step and the time left (at first from the pauses alone, then
// from the measured steps), then the outcome and what to do next.
TEST_F(MainWindowTest, TheRunLineFollowsTheStepsAndTellsTheOutcome) {
  SimulatedDevice(window);
  ASSERT_TRUE(window.OpenPath(GoodPackage()));
  ASSERT_EQ(window.DatFile().TotalStepCount(), 4);
  EXPECT_EQ(view.focus, Focus::kUpdate) << "Enter then starts the update";
  const std::string updating = "Updating — keep the keyboard connected. Step ";
  for (const int32_t outcome : {kProgressSuccess, kProgressFailure}) {
    view.runTexts.clear();
    window.UpdateDevice();
    EXPECT_EQ(std::exchange(view.focus, std::nullopt), Focus::kRunLine) << "Open is disabled";
    clock.Sleep(std::chrono::milliseconds(2500));
    window.RefreshProgress(0);
    clock.Sleep(std::chrono::seconds(95));
    window.RefreshProgress(1);
    window.RefreshProgress(outcome);
    view.thread = nullptr;
    EXPECT_EQ(view.focus, Focus::kRunLine) << "the outcome, not a second run on Enter";
    EXPECT_EQ(view.runTexts,
              (std::vector<std::string>{
                  updating + "1 of 4, at least 2 s left", updating + "2 of 4, about 8 s left",
                  updating + "3 of 4, about 1 min 38 s left",
                  outcome == kProgressSuccess
                      ? "Updated to V1.0.0"
                      : "Not updated. The keyboard may stay in its loader until an update "
                        "succeeds. Keep it connected (if it is not found, open its loader by "
                        "pressing \"Fn\" + \"Esc\"), then press Update to try again."}));
  }
  ASSERT_TRUE(window.OpenPath(GoodPackage()));
  EXPECT_EQ(view.runTexts.back(), "") << "a new package clears the last outcome";
}

// Guards against a full disk or a missing folder reading as a broken package: the system's
// reason follows the text.
TEST_F(MainWindowTest, AWorkFileThatCannotBeWrittenShowsTheSystemsReason) {
  MainWindow noFolder(view, dir.File("missing"));
  const std::string package = GoodPackage();
  EXPECT_FALSE(noFolder.OpenPath(package));
  ASSERT_FALSE(view.alerts.empty());
  EXPECT_EQ(view.alerts.back().informative,
            "Checksum or file format error: " + package + "\nCannot write the work file " +
                dir.File("missing") + "/TEMP1.INI: No such file or directory");
}

// Guards against two processes interleaving their commands on one keyboard, and against a run
// on a package that a later open refused (its updaters may be stale).
TEST_F(MainWindowTest, UpdateIsRefusedWhileAnotherProcessUpdatesTheKeyboardOrAfterARefusedOpen) {
  emu::LoaderDevice& device = SimulatedDevice(window);
  emulator->SetLockFolder(dir.path().string());
  ASSERT_TRUE(window.OpenPath(GoodPackage()));
  char name[64];
  std::snprintf(name, sizeof name, "vortan-simulated-%04x-%04x-0.lock", device.Vid(), device.Pid());
  DeviceLock other;  // a second open of the lock file, as another process holds it
  ASSERT_EQ(other.Take(dir.File(name), true), LockResult::kTaken);
  const auto expectRefused = [&](const std::string& text) {
    view.alerts.clear();
    window.UpdateDevice();
    EXPECT_FALSE(window.IsRunActive());
    EXPECT_FALSE(view.thread);
    EXPECT_EQ(view.alerts, (std::vector<Alert>{{"Error", text, AlertStyle::kWarning}}));
    EXPECT_EQ(device.MessageCount("update_mode"), 0);
  };
  expectRefused(kTextUpdateRunningElsewhere);
  other.Release();
  // A lock file that cannot be taken at all (here a planted folder) refuses the run too.
  ASSERT_EQ(std::remove(dir.File(name).c_str()), 0);
  ASSERT_EQ(::mkdir(dir.File(name).c_str(), 0700), 0);
  expectRefused(std::string(kTextDeviceCannotBeOpened) + "the update lock " + dir.File(name) +
                " cannot be taken: Is a directory");
  ASSERT_EQ(::rmdir(dir.File(name).c_str()), 0);
  EXPECT_FALSE(window.OpenPath(BrokenPackage()));
  expectRefused("The dat file is not ready. Open dat file first");

  ASSERT_TRUE(window.OpenPath(GoodPackage()));
  view.alerts.clear();
  window.UpdateDevice();
  view.RunThread();
  view.Pump(window);
  EXPECT_EQ(view.alerts, std::vector<Alert>{kSuccess});
  EXPECT_EQ(other.Take(dir.File(name)), LockResult::kTaken) << "the run's lock ends with it";
}

// Guards against the update thread and the main thread sharing anything but the posted values:
// the window's update on a real second thread (run under ThreadSanitizer by scripts/test).
TEST_F(MainWindowTest, OnARealThreadProgressCrossesInOrderAndASecondRunFollows) {
  ThreadedView threaded;
  MainWindow w(threaded, dir.path().string());
  emu::LoaderDevice& device = SimulatedDevice(w);
  ASSERT_TRUE(w.OpenPath(Package("two.dat", testing::TwoPackPackage())));
  const int32_t total = w.DatFile().TotalStepCount();

  device.AddFault({emu::FaultType::kNoReply, "region_check", 1});
  for (const int32_t outcome : {kProgressFailure, kProgressSuccess}) {
    SCOPED_TRACE(outcome);
    threaded.delivered.clear();
    w.UpdateDevice();
    ASSERT_TRUE(threaded.DeliverUntilRunEnds(w));
    ASSERT_FALSE(threaded.delivered.empty());
    EXPECT_EQ(threaded.delivered.back(), outcome);
    for (size_t i = 0; i + 1 < threaded.delivered.size(); ++i) {
      EXPECT_EQ(threaded.delivered[i], static_cast<int32_t>(i));
    }
    EXPECT_EQ(w.ProgressValue(), outcome);
  }
  EXPECT_EQ(threaded.delivered.size(), static_cast<size_t>(total) + 1);
}

}  // namespace
}  // namespace vortan
