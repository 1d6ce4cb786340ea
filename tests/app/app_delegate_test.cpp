#include "app/app_delegate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/fake_main_window_view.h"
#include "app/main_window.h"
#include "config/diag_log.h"
#include "emulator/emulator.h"
#include "link/hid_device.h"
#include "support/package_fixtures.h"
#include "support/temp_dir.h"

namespace vortan {
namespace {

namespace fs = std::filesystem;
using testing::FakeMainWindowView;

class FakeUi : public DelegateUi {
 public:
  bool PresentError(const StoreError& error) override {
    presented.push_back(error);
    return resolve;
  }
  bool AskQuitAnyway(const std::string& message, const std::string& informative,
                     const std::string& quit, const std::string& cancel) override {
    quitAlerts.push_back({message, informative, quit, cancel});
    return quitAnyway;
  }
  void ShowWarning(const std::string& message, const std::string& informative) override {
    warnings.push_back(message + " / " + informative);
  }
  std::string Localized(const std::string& text) override { return text; }
  void BringWindowToFront() override { ++fronts; }

  bool resolve = false;
  bool quitAnyway = false;
  std::vector<StoreError> presented;
  std::vector<std::vector<std::string>> quitAlerts;
  std::vector<std::string> warnings;
  int fronts = 0;
};

struct ContextState {
  bool commit = true;
  bool changes = false;
  bool save = true;
  int commits = 0;
  int saves = 0;
};

class FakeContext : public ObjectContext {
 public:
  explicit FakeContext(ContextState& s) : s_(s) {}
  bool CommitEditing() override {
    ++s_.commits;
    return s_.commit;
  }
  bool HasChanges() const override { return s_.changes; }
  bool Save(StoreError* error) override {
    ++s_.saves;
    if (!s_.save) *error = {"test", 7, "disk full", ""};
    return s_.save;
  }

 private:
  ContextState& s_;
};

class FakeStore : public StoreProvider, public StoreCoordinator {
 public:
  bool HasModel() override { return model; }
  std::unique_ptr<StoreCoordinator> AddXmlStore(const fs::path& file, StoreError* error) override {
    added.push_back(file);
    if (addFails) {
      *error = {"test", 3, "damaged store", ""};
      return nullptr;
    }
    return std::make_unique<Forward>(*this);
  }
  std::unique_ptr<ObjectContext> MakeContext() override {
    return std::make_unique<FakeContext>(state);
  }

  bool model = true;
  bool addFails = false;
  std::vector<fs::path> added;
  ContextState state;

 private:
  struct Forward : StoreCoordinator {
    explicit Forward(FakeStore& s) : store(s) {}
    std::unique_ptr<ObjectContext> MakeContext() override { return store.MakeContext(); }
    FakeStore& store;
  };
};

class AppDelegateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HidDevice::UseBackend(emulator_);
    HidDevice::SetIds(0xF1A5, 0x1234);
    previousLog_ = SetLogSink([this](std::string_view line) { log.emplace_back(line); });
  }
  void TearDown() override {
    SetLogSink(previousLog_);
    HidDevice::UseBackend(nullptr);
  }

  AppDelegate MakeDelegate(std::function<void(MainWindow&)> loadSettings = {}) {
    return AppDelegate(window, ui, store, dir.path() / "data" / kApplicationId,
                       std::move(loadSettings));
  }
  // Opens a package so that its work files exist.
  std::string OpenPackage() {
    const std::string path = testing::WritePackage(dir, "p.dat", testing::OnePackPackage());
    EXPECT_TRUE(window.OpenPath(path));
    return dir.File("TEMP1.INI");
  }

  testing::TempDir dir;
  std::shared_ptr<emu::Emulator> emulator_ = std::make_shared<emu::Emulator>();
  FakeMainWindowView view;
  MainWindow window{view, dir.path().string()};
  FakeUi ui;
  FakeStore store;
  std::vector<std::string> log;
  LogSink previousLog_;
};

TEST_F(AppDelegateTest, LaunchSetsButtonsBeforeSettingsAndReopenBringsTheWindowBack) {
  std::map<Button, bool> atSettings;
  AppDelegate delegate = MakeDelegate([&](MainWindow& w) {
    atSettings = view.buttons;
    w.SetTitle("VORTAN KB 25 Firmware Update");
  });
  delegate.applicationDidFinishLaunching();
  EXPECT_EQ(atSettings,
            (std::map<Button, bool>{{Button::kRefresh, false}, {Button::kUpdate, false}}));
  EXPECT_EQ(view.title, "VORTAN KB 25 Firmware Update");
  EXPECT_TRUE(delegate.applicationShouldHandleReopen(false));
  EXPECT_EQ(ui.fronts, 1);
}

TEST_F(AppDelegateTest, QuitFlow) {
  struct Case {
    const char* name;
    bool makeContext;
    ContextState context;
    bool resolve;
    bool quitAnyway;
    TerminateReply reply;
    int saves;
    size_t presented;
    size_t quitAlerts;
    size_t logLines;
  };
  const TerminateReply now = TerminateReply::kTerminateNow;
  const TerminateReply cancel = TerminateReply::kTerminateCancel;
  const std::vector<Case> cases = {
      {"no context: quit without touching the store", false, {}, false, false, now, 0, 0, 0, 0},
      {"commit refused: log and stay", true, {.commit = false}, false, false, cancel, 0, 0, 0, 1},
      {"no changes: quit", true, {}, false, false, now, 0, 0, 0, 0},
      {"saved: quit", true, {.changes = true}, false, false, now, 1, 0, 0, 0},
      {"save failed, error resolved: stay",
       true,
       {.changes = true, .save = false},
       true,
       false,
       cancel,
       1,
       1,
       0,
       0},
      {"save failed, Quit anyway",
       true,
       {.changes = true, .save = false},
       false,
       true,
       now,
       1,
       1,
       1,
       0},
      {"save failed, Cancel",
       true,
       {.changes = true, .save = false},
       false,
       false,
       cancel,
       1,
       1,
       1,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui = FakeUi();
    ui.resolve = c.resolve;
    ui.quitAnyway = c.quitAnyway;
    store.state = c.context;
    log.clear();
    const std::string workFile = OpenPackage();
    ASSERT_TRUE(fs::exists(workFile));
    AppDelegate delegate = MakeDelegate();
    if (c.makeContext) {
      ASSERT_NE(delegate.managedObjectContext(), nullptr);
    }

    EXPECT_EQ(delegate.applicationShouldTerminate(), c.reply);
    EXPECT_FALSE(fs::exists(workFile)) << "work files are deleted first, whatever follows";
    EXPECT_EQ(store.state.commits, c.makeContext ? 1 : 0);
    EXPECT_EQ(store.state.saves, c.saves);
    EXPECT_EQ(ui.presented.size(), c.presented);
    ASSERT_EQ(ui.quitAlerts.size(), c.quitAlerts);
    if (c.quitAlerts) {
      EXPECT_EQ(ui.quitAlerts[0],
                (std::vector<std::string>{
                    "Could not save changes while quitting. Quit anyway?",
                    "Quitting now will lose any changes you have made since the last successful "
                    "save",
                    "Quit anyway", "Cancel"}));
    }
    ASSERT_EQ(log.size(), c.logLines);
    if (c.logLines) {
      EXPECT_EQ(log[0],
                "AppDelegate:applicationShouldTerminate unable to commit editing to "
                "terminate");
    }
  }
}

// Guards against quitting (and deleting the work files) under a running firmware update.
TEST_F(AppDelegateTest, QuitIsRefusedWhileAnUpdateRuns) {
  emulator_->Attach(0xF1A5, 0x1234);
  const std::string workFile = OpenPackage();
  window.UpdateDevice();
  ASSERT_TRUE(window.IsRunActive());
  AppDelegate delegate = MakeDelegate();
  EXPECT_EQ(delegate.applicationShouldTerminate(), TerminateReply::kTerminateCancel);
  EXPECT_EQ(ui.warnings.size(), 1u);
  EXPECT_TRUE(fs::exists(workFile));

  view.RunThreadAndPump(window);
  EXPECT_EQ(delegate.applicationShouldTerminate(), TerminateReply::kTerminateNow);
  EXPECT_FALSE(fs::exists(workFile));
}

TEST_F(AppDelegateTest, StoreFolderProblemsArePresentedAndRetriedLater) {
  const fs::path folder = dir.path() / "data" / kApplicationId;
  AppDelegate delegate = MakeDelegate();

  // A plain file where the folder belongs.
  fs::create_directories(folder.parent_path());
  ASSERT_TRUE(testing::WriteText(folder.string(), "not a folder"));
  EXPECT_EQ(delegate.managedObjectContext(), nullptr);
  ASSERT_EQ(ui.presented.size(), 2u);
  EXPECT_EQ(ui.presented[0].domain, "YOUR_ERROR_DOMAIN");
  EXPECT_EQ(ui.presented[0].code, 101);
  EXPECT_EQ(ui.presented[0].description,
            "Expected a folder to store application data, found a file (" + folder.string() + ").");
  EXPECT_EQ(ui.presented[1].code, 9999);
  EXPECT_EQ(ui.presented[1].description, "Failed to initialize the store");
  EXPECT_EQ(ui.presented[1].failureReason, "There was an error building up the data file.");
  EXPECT_TRUE(store.added.empty());

  // The store's own refusal, then no model: each presented, none kept.
  fs::remove(folder);
  store.addFails = true;
  ui.presented.clear();
  EXPECT_EQ(delegate.persistentStoreCoordinator(), nullptr);
  EXPECT_TRUE(fs::is_directory(folder)) << "the missing folder is created";
  ASSERT_EQ(ui.presented.size(), 1u);
  EXPECT_EQ(ui.presented[0].description, "damaged store");
  store.model = false;
  EXPECT_EQ(delegate.persistentStoreCoordinator(), nullptr);
  EXPECT_EQ(log, std::vector<std::string>{
                     "AppDelegate:persistentStoreCoordinator No model to generate a store from"});

  // Once the cause is gone the next use succeeds, at the store file in the folder.
  store.model = true;
  store.addFails = false;
  EXPECT_NE(delegate.managedObjectContext(), nullptr);
  EXPECT_EQ(store.added.back(), folder / "Quenrix.storedata");
}

TEST_F(AppDelegateTest, SaveActionLogsARefusedCommitAndPresentsAFailedSave) {
  AppDelegate delegate = MakeDelegate();
  store.state = {.commit = false, .changes = true, .save = false};
  delegate.saveAction();
  EXPECT_EQ(log, std::vector<std::string>{
                     "AppDelegate:saveAction unable to commit editing before saving"});
  EXPECT_EQ(store.state.saves, 1);
  ASSERT_EQ(ui.presented.size(), 1u);
  EXPECT_EQ(ui.presented[0].description, "disk full");
}

TEST(ApplicationFilesDirectory, FollowsXdgDataHomeElseHome) {
  struct Case {
    std::optional<std::string> dataHome;
    std::optional<std::string> home;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"/x/data", "/home/u", "/x/data/org.vortan.updater"},
      {"relative/data", "/home/u", "/home/u/.local/share/org.vortan.updater"},
      {std::nullopt, "/home/u", "/home/u/.local/share/org.vortan.updater"},
      {std::nullopt, std::nullopt, ""},
  };
  const char* savedData = std::getenv("XDG_DATA_HOME");
  const char* savedHome = std::getenv("HOME");
  const std::optional<std::string> oldData =
      savedData ? std::optional<std::string>(savedData) : std::nullopt;
  const std::optional<std::string> oldHome =
      savedHome ? std::optional<std::string>(savedHome) : std::nullopt;
  auto set = [](const char* name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  };
  for (const Case& c : cases) {
    set("XDG_DATA_HOME", c.dataHome);
    set("HOME", c.home);
    EXPECT_EQ(DefaultApplicationFilesDirectory().string(), c.expected);
  }
  set("XDG_DATA_HOME", oldData);
  set("HOME", oldHome);
}

}  // namespace
}  // namespace vortan
