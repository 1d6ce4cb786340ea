#include "app/main_window.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/fake_main_window_view.h"
#include "app/update_run.h"
#include "config/diag_log.h"
#include "emulator/emulator.h"
#include "emulator/simulation/simulated_device.h"
#include "link/clock.h"
#include "link/hid_device.h"
#include "support/package_fixtures.h"
#include "support/temp_dir.h"

namespace vortan {
namespace {

using testing::Alert;
using testing::FakeMainWindowView;

constexpr uint16_t kVid = 0xF1A5;
constexpr uint16_t kPid = 0x1234;
const Alert kSuccess{"Information", "Update Success!", AlertStyle::kInformational};
const Alert kFailure{"Error", "Update Error!", AlertStyle::kWarning};

struct ButtonState {
  bool open, refresh, update;
  bool operator==(const ButtonState&) const = default;
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HidDevice::UseBackend(emulator);
    HidDevice::SetIds(kVid, kPid);
    previousLog_ = SetLogSink([](std::string_view) {});  // the step indices of the runs
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
  std::string Status() const { return view.Text(TextField::kDeviceStatus); }
  // A device that fits every package the window opens, as --simulate provides.
  emu::LoaderDevice& SimulatedDevice() {
    emu::LoaderDevice& device = emu::AttachSimulatedDevice(*emulator);
    window.SetPackageOpenedHook(
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
    std::function<void(MainWindow&, emu::Emulator&)> act;
    ButtonState buttons;
    std::string status;
  };
  const std::string noKeysShown = "No Device (Press \"Fn\" + \"Esc\" to open)";
  const std::vector<Row> rows = {
      {"after launch", [](MainWindow&, emu::Emulator&) {}, {true, false, false}, ""},
      {"opened, no device",
       [this](MainWindow& w, emu::Emulator&) { w.OpenPath(GoodPackage()); },
       {true, true, false},
       noKeysShown},
      {"opened, one device",
       [this](MainWindow& w, emu::Emulator& e) {
         e.Attach(kVid, kPid);
         w.OpenPath(GoodPackage());
       },
       {true, true, true},
       kTextDeviceConnected},
      {"opened, two devices",
       [this](MainWindow& w, emu::Emulator& e) {
         e.Attach(kVid, kPid);
         e.Attach(kVid, kPid);
         w.OpenPath(GoodPackage());
       },
       {true, true, false},
       kTextMoreThanOneDevice},
      {"one device with two HID interfaces counts as two",
       [this](MainWindow& w, emu::Emulator& e) {
         e.Attach(kVid, kPid, 2);
         w.OpenPath(GoodPackage());
       },
       {true, true, false},
       kTextMoreThanOneDevice},
      {"a device of another product is not counted",
       [this](MainWindow& w, emu::Emulator& e) {
         e.Attach(kVid, kPid + 1);
         w.OpenPath(GoodPackage());
       },
       {true, true, false},
       noKeysShown},
      {"refresh finds the device attached after the open",
       [this](MainWindow& w, emu::Emulator& e) {
         w.OpenPath(GoodPackage());
         e.Attach(kVid, kPid);
         w.RefreshDevice();
       },
       {true, true, true},
       kTextDeviceConnected},
      {"refresh after the device went away",
       [this](MainWindow& w, emu::Emulator& e) {
         e.Attach(kVid, kPid);
         w.OpenPath(GoodPackage());
         e.Device(0).Unplug();
         w.RefreshDevice();
       },
       {true, true, false},
       noKeysShown},
      {"an open that failed changes no button",
       [this](MainWindow& w, emu::Emulator& e) {
         e.Attach(kVid, kPid);
         w.OpenPath(GoodPackage());
         w.OpenPath(BrokenPackage());
       },
       {true, true, true},
       kTextDeviceConnected},
      // Guards against enabling Update for a package that a later open refused.
      {"refresh with one device after a failed open keeps Update off",
       [this](MainWindow& w, emu::Emulator& e) {
         e.Attach(kVid, kPid);
         w.OpenPath(GoodPackage());
         w.OpenPath(BrokenPackage());
         w.RefreshDevice();
       },
       {true, true, false},
       kTextDeviceConnectedNoPackage},
      {"refresh with no device and no ready package",
       [this](MainWindow& w, emu::Emulator&) {
         w.OpenPath(GoodPackage());
         w.OpenPath(BrokenPackage());
         w.RefreshDevice();
       },
       {true, true, false},
       "No Device (Open dat file first)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto devices = std::make_shared<emu::Emulator>();
    HidDevice::UseBackend(devices);
    FakeMainWindowView rowView;
    MainWindow rowWindow(rowView, dir.path().string());
    rowWindow.InitButton();
    row.act(rowWindow, *devices);
    EXPECT_EQ((ButtonState{rowView.Enabled(Button::kOpen), rowView.Enabled(Button::kRefresh),
                           rowView.Enabled(Button::kUpdate)}),
              row.buttons);
    EXPECT_EQ(rowView.Text(TextField::kDeviceStatus), row.status);
  }
}

TEST_F(MainWindowTest, NoDeviceTextNamesThePackageKeys) {
  struct Case {
    std::array<std::string, 3> keys;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{"Fn", "", ""}, "No Device (Press \"Fn\" to open)"},
      {{"Fn", "Esc", ""}, "No Device (Press \"Fn\" + \"Esc\" to open)"},
      {{"Fn", "Esc", "F12"}, "No Device (Press \"Fn\" + \"Esc\" + \"F12\" to open)"},
      {{"", "", ""}, "No Device (Open device first)"},
  };
  for (const Case& c : cases) {
    pack::PackageContents contents = testing::OnePackPackage();
    contents.keys = c.keys;
    ASSERT_TRUE(window.OpenPath(Package("keys.dat", contents)));
    EXPECT_EQ(Status(), c.text);
  }
}

TEST_F(MainWindowTest, OpenShowsThePackageAndSetsTheProgressRange) {
  emulator->Attach(kVid, kPid);
  view.panelAnswer = {true, Package("two.dat", testing::TwoPackPackage())};
  window.OpenDat();
  ASSERT_EQ(view.panelOptions.size(), 1u);
  const OpenPanelOptions& panel = view.panelOptions[0];
  EXPECT_FALSE(panel.canChooseDirectories);
  EXPECT_FALSE(panel.allowsMultipleSelection);
  EXPECT_EQ(panel.message, "Open the update file");
  EXPECT_EQ(panel.title, "Open File");
  EXPECT_EQ(panel.allowedFileTypes, std::vector<std::string>{"dat"});
  EXPECT_EQ(view.Text(TextField::kPath), view.panelAnswer.path);
  EXPECT_EQ(view.Text(TextField::kProductModel), "VORTAN KB 25");
  EXPECT_EQ(view.Text(TextField::kFirmwareVersion), "V1.0.0");
  EXPECT_GT(view.progressMax, 2);
  EXPECT_EQ(view.progressMin, 0);
  EXPECT_EQ(view.progressValues, std::vector<double>{0});
  EXPECT_TRUE(view.alerts.empty());

  // A cancelled panel changes nothing.
  const FakeMainWindowView before = view;
  view.panelAnswer = {false, "/elsewhere.dat"};
  window.OpenDat();
  EXPECT_EQ(view.texts, before.texts);
  EXPECT_EQ(view.buttons, before.buttons);
  EXPECT_TRUE(view.alerts.empty());
}

TEST_F(MainWindowTest, OpenFailuresKeepThePreviousTextsAndShowThePath) {
  struct Case {
    const char* name;
    std::string path;
    std::string alert;
  };
  const std::string missing = dir.File("missing.dat");
  const std::string empty = dir.File("empty.dat");
  ASSERT_TRUE(testing::WriteText(empty, ""));
  const std::string broken = BrokenPackage();
  const std::vector<Case> cases = {
      {"missing file", missing, "Unable to open dat file: " + missing},
      {"empty file", empty, "Unable to open dat file: " + empty},
      {"refused package", broken, "Checksum or file format error: " + broken},
  };
  pack::PackageContents previous = testing::OnePackPackage();
  previous.firmwareVersion = "V0.9.9";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(window.OpenPath(Package("previous.dat", previous)));
    view.alerts.clear();
    EXPECT_FALSE(window.OpenPath(c.path));
    EXPECT_EQ(view.Text(TextField::kPath), c.path);
    EXPECT_EQ(view.alerts, (std::vector<Alert>{{"Error", c.alert, AlertStyle::kWarning}}));
    EXPECT_EQ(view.Text(TextField::kFirmwareVersion), "V0.9.9");
    EXPECT_FALSE(window.DatFile().IsFileReady());
  }
}

TEST_F(MainWindowTest, TwoPackRunPostsEveryStepThenSucceeds) {
  SimulatedDevice();
  ASSERT_TRUE(window.OpenPath(Package("two.dat", testing::TwoPackPackage())));
  const int32_t total = window.DatFile().TotalStepCount();
  ASSERT_GT(total, 3);
  EXPECT_EQ(view.progressMax, total);

  window.UpdateDevice();
  EXPECT_TRUE(window.IsRunActive());
  EXPECT_EQ(Buttons(), (ButtonState{false, false, false}));
  view.RunThread();
  // Guards against the update thread storing pVal: values cross only inside posted calls.
  EXPECT_EQ(window.ProgressValue(), 0);
  view.Pump(window);

  std::vector<int32_t> expected;
  std::vector<double> bar = {0};  // set by the refresh
  for (int32_t i = 0; i < total; ++i) {
    expected.push_back(i);
    bar.push_back(i);
  }
  expected.push_back(kProgressSuccess);
  bar.push_back(total);
  EXPECT_EQ(view.delivered, expected);
  EXPECT_EQ(view.progressValues, bar);
  EXPECT_EQ(view.alerts, std::vector<Alert>{kSuccess});
  EXPECT_EQ(view.buttonsDuringAlert,
            (std::map<Button, bool>{
                {Button::kOpen, false}, {Button::kRefresh, false}, {Button::kUpdate, false}}));
  EXPECT_EQ(Buttons(), (ButtonState{true, true, true}));
  EXPECT_EQ(window.ProgressValue(), kProgressSuccess);
  EXPECT_FALSE(window.IsRunActive());
  EXPECT_GE(clock.SleptMs(), int64_t{500} * total);
}

TEST_F(MainWindowTest, FailedRunKeepsTheBarAndASecondRunCanStartAtOnce) {
  struct Case {
    const char* name;
    emu::Fault fault;
    bool stepsBefore;  // whether steps completed before the failure
  };
  const std::vector<Case> cases = {
      {"no update mode: the bar stays at 0",
       {.type = emu::FaultType::kNoReply, .kind = "update_mode", .occurrence = 0},
       false},
      {"verification fails", {.type = emu::FaultType::kNoReply, .kind = "region_check"}, true},
  };
  emu::LoaderDevice& device = SimulatedDevice();
  ASSERT_TRUE(window.OpenPath(GoodPackage()));
  const int32_t total = window.DatFile().TotalStepCount();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    device.ClearFaults();
    device.AddFault(c.fault);
    view = FakeMainWindowView();
    window.UpdateDevice();
    view.RunThreadAndPump(window);
    EXPECT_EQ(view.delivered.back(), kProgressFailure);
    if (!c.stepsBefore) {
      EXPECT_TRUE(view.progressValues.empty()) << "the bar stays at 0";
    } else {
      ASSERT_GE(view.delivered.size(), 2u);
      const int32_t lastStep = view.delivered[view.delivered.size() - 2];
      EXPECT_LT(lastStep, total - 1);
      EXPECT_EQ(view.progressValues.back(), lastStep) << "the bar keeps the last step shown";
    }
    EXPECT_EQ(view.alerts, std::vector<Alert>{kFailure});
    EXPECT_EQ(Buttons(), (ButtonState{true, true, true}));
  }

  device.ClearFaults();
  view = FakeMainWindowView();
  window.UpdateDevice();
  view.RunThreadAndPump(window);
  EXPECT_EQ(view.delivered.size(), static_cast<size_t>(total) + 1);
  EXPECT_EQ(view.alerts, std::vector<Alert>{kSuccess});
}

// Guards against a run on a package that a later open refused (its updaters may be stale).
TEST_F(MainWindowTest, UpdateRefusesAPackageThatIsNotReady) {
  emu::LoaderDevice& device = SimulatedDevice();
  ASSERT_TRUE(window.OpenPath(GoodPackage()));
  EXPECT_FALSE(window.OpenPath(BrokenPackage()));
  ASSERT_TRUE(view.Enabled(Button::kUpdate));
  view.alerts.clear();

  window.UpdateDevice();
  EXPECT_FALSE(window.IsRunActive());
  EXPECT_FALSE(view.thread);
  EXPECT_EQ(view.alerts, (std::vector<Alert>{{"Error",
                                              "The dat file is not ready. Open dat file "
                                              "first",
                                              AlertStyle::kWarning}}));
  EXPECT_FALSE(view.Enabled(Button::kUpdate));
  EXPECT_EQ(device.MessageCount("update_mode"), 0);
}

// Guards against a dropped file or a stray action replacing the package under a running update.
TEST_F(MainWindowTest, ARunningUpdateIgnoresOpenRefreshAndUpdate) {
  SimulatedDevice();
  const std::string good = GoodPackage();
  ASSERT_TRUE(window.OpenPath(good));
  window.UpdateDevice();
  ASSERT_TRUE(view.thread);
  const FakeMainWindowView before = view;

  EXPECT_FALSE(window.OpenPath(BrokenPackage()));
  window.OpenDat();
  window.RefreshDevice();
  window.UpdateDevice();
  EXPECT_EQ(view.texts, before.texts);
  EXPECT_TRUE(view.panelOptions.empty());
  EXPECT_TRUE(view.alerts.empty());
  EXPECT_TRUE(window.DatFile().IsFileReady());

  view.RunThreadAndPump(window);
  EXPECT_EQ(view.alerts, std::vector<Alert>{kSuccess});
}

}  // namespace
}  // namespace vortan
