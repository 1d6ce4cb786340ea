#include "app/app_delegate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/fake_main_window_view.h"
#include "app/main_window.h"
#include "app/user_texts.h"
#include "emulator/emulator.h"
#include "link/hid_device.h"
#include "support/package_fixtures.h"
#include "support/temp_dir.h"
#include "util/diag_log.h"

namespace vortan {
namespace {

namespace fs = std::filesystem;

// How the context and the user answer, and what was asked of them, in order.
struct Script {
  bool commit = true;
  bool changes = false;
  bool save = true;
  bool resolve = false;
  bool quitAnyway = false;
  std::string events{};
};

class FakeUi : public DelegateUi {
 public:
  explicit FakeUi(Script& s) : s_(s) {}
  bool PresentError(const StoreError& error) override {
    s_.events += "present ";
    presented.push_back(error);
    return s_.resolve;
  }
  bool AskQuitAnyway(const std::string&, const std::string&, const std::string&,
                     const std::string&) override {
    s_.events += "ask ";
    return s_.quitAnyway;
  }
  void ShowWarning(const std::string&, const std::string&) override { s_.events += "warn "; }
  std::string Localized(const std::string& text) override { return text; }
  void BringWindowToFront() override { s_.events += "front "; }

  std::vector<StoreError> presented;

 private:
  Script& s_;
};

class FakeContext : public ObjectContext {
 public:
  explicit FakeContext(Script& s) : s_(s) {}
  bool CommitEditing() override {
    s_.events += "commit ";
    return s_.commit;
  }
  bool HasChanges() const override { return s_.changes; }
  bool Save(StoreError* error) override {
    s_.events += "save ";
    if (!s_.save) *error = {"test", 7, "disk full", ""};
    return s_.save;
  }

 private:
  Script& s_;
};

class FakeStore : public StoreProvider {
 public:
  explicit FakeStore(Script& s) : s_(s) {}
  bool HasModel() override { return model; }
  std::unique_ptr<StoreCoordinator> AddXmlStore(const fs::path& file, StoreError* error) override {
    added.push_back(file);
    if (addFails) *error = {"test", 3, "damaged store", ""};
    return addFails ? nullptr : std::make_unique<Coordinator>(s_);
  }

  bool model = true;
  bool addFails = false;
  std::vector<fs::path> added;

 private:
  struct Coordinator : StoreCoordinator {
    explicit Coordinator(Script& s) : s_(s) {}
    std::unique_ptr<ObjectContext> MakeContext() override {
      return std::make_unique<FakeContext>(s_);
    }
    Script& s_;
  };
  Script& s_;
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
    return AppDelegate(window, ui, store, folder, std::move(loadSettings));
  }
  // Opens a package; returns one of its work files.
  std::string OpenPackage() {
    EXPECT_TRUE(window.OpenPath(testing::WritePackage(dir, "p.dat", testing::OnePackPackage())));
    return dir.File("TEMP1.INI");
  }

  testing::TempDir dir;
  const fs::path folder = dir.path() / "data" / kApplicationId;
  std::shared_ptr<emu::Emulator> emulator_ = std::make_shared<emu::Emulator>();
  testing::FakeMainWindowView view;
  MainWindow window{view, dir.path().string()};
  Script script;
  FakeUi ui{script};
  FakeStore store{script};
  std::vector<std::string> log;
  LogSink previousLog_;
};

TEST_F(AppDelegateTest, LaunchSetsButtonsBeforeSettingsAndReopenBringsTheWindowBack) {
  std::map<Button, bool> atSettings;
  AppDelegate delegate = MakeDelegate([&](MainWindow&) { atSettings = view.buttons; });
  delegate.applicationDidFinishLaunching();
  EXPECT_EQ(atSettings,
            (std::map<Button, bool>{{Button::kRefresh, false}, {Button::kUpdate, false}}));
  EXPECT_EQ(view.timerInterval, kDeviceWatchInterval) << "the device watch starts at launch";
  EXPECT_TRUE(delegate.applicationShouldHandleReopen(false));
  EXPECT_EQ(script.events, "front ");
}

// Guards against a later launch replacing the package under a running update.
TEST_F(AppDelegateTest, APackageHandedOverIsOpenedUnlessAnUpdateRuns) {
  emulator_->Attach(0xF1A5, 0x1234);
  AppDelegate delegate = MakeDelegate();
  const std::string first = testing::WritePackage(dir, "first.dat", testing::OnePackPackage());
  const std::string second = testing::WritePackage(dir, "second.dat", testing::OnePackPackage());
  EXPECT_TRUE(delegate.applicationOpenFile(first));
  EXPECT_EQ(view.Text(TextField::kPath), first);
  EXPECT_EQ(view.Text(TextField::kDeviceStatus), kTextDeviceConnected);

  window.UpdateDevice();
  EXPECT_FALSE(delegate.applicationOpenFile(second));
  EXPECT_EQ(script.events, "warn ");
  EXPECT_EQ(view.Text(TextField::kPath), first);
  view.RunThreadAndPump(window);
  EXPECT_TRUE(delegate.applicationOpenFile(second));
  EXPECT_EQ(view.Text(TextField::kPath), second);
}

TEST_F(AppDelegateTest, QuitFlow) {
  struct Case {
    const char* name;
    bool makeContext;
    Script script;
    TerminateReply reply;
  };
  const TerminateReply now = TerminateReply::kTerminateNow;
  const TerminateReply stay = TerminateReply::kTerminateCancel;
  const std::vector<Case> cases = {
      {"no context", false, {}, now},
      {"commit refused", true, {.commit = false, .events = "commit "}, stay},
      {"no changes", true, {.events = "commit "}, now},
      {"saved", true, {.changes = true, .events = "commit save "}, now},
      {"save failed, resolved",
       true,
       {.changes = true, .save = false, .resolve = true, .events = "commit save present "},
       stay},
      {"save failed, Quit anyway",
       true,
       {.changes = true, .save = false, .quitAnyway = true, .events = "commit save present ask "},
       now},
      {"save failed, Cancel",
       true,
       {.changes = true, .save = false, .events = "commit save present ask "},
       stay},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    script = c.script;
    script.events.clear();
    log.clear();
    const std::string workFile = OpenPackage();
    AppDelegate delegate = MakeDelegate();
    if (c.makeContext) {
      ASSERT_NE(delegate.managedObjectContext(), nullptr);
    }

    EXPECT_EQ(delegate.applicationShouldTerminate(), c.reply);
    EXPECT_EQ(script.events, c.script.events);
    EXPECT_FALSE(fs::exists(workFile)) << "work files are deleted first, whatever follows";
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
  EXPECT_EQ(script.events, "warn ");
  EXPECT_TRUE(fs::exists(workFile));

  view.RunThreadAndPump(window);
  EXPECT_EQ(delegate.applicationShouldTerminate(), TerminateReply::kTerminateNow);
  EXPECT_FALSE(fs::exists(workFile));
}

TEST_F(AppDelegateTest, StoreFolderProblemsArePresentedAndRetriedLater) {
  AppDelegate delegate = MakeDelegate();
  fs::create_directories(folder.parent_path());
  ASSERT_TRUE(testing::WriteText(folder.string(), "a plain file where the folder belongs"));
  EXPECT_EQ(delegate.managedObjectContext(), nullptr);
  // The folder problem, then the failed store initialisation.
  EXPECT_EQ(ui.presented.size(), 2u);
  EXPECT_TRUE(store.added.empty());

  fs::remove(folder);
  store.addFails = true;
  EXPECT_EQ(delegate.persistentStoreCoordinator(), nullptr);
  EXPECT_TRUE(fs::is_directory(folder)) << "the missing folder is created";
  EXPECT_EQ(ui.presented.back().description, "damaged store");
  store.model = false;
  EXPECT_EQ(delegate.persistentStoreCoordinator(), nullptr);

  store.model = true;
  store.addFails = false;
  EXPECT_NE(delegate.managedObjectContext(), nullptr);
  EXPECT_EQ(store.added.back(), folder / "Quenrix.storedata");
}

TEST_F(AppDelegateTest, SaveActionLogsARefusedCommitAndPresentsAFailedSave) {
  AppDelegate delegate = MakeDelegate();
  script = {.commit = false, .changes = true, .save = false};
  delegate.saveAction();
  EXPECT_EQ(log.size(), 1u);
  EXPECT_EQ(script.events, "commit save present ");
  EXPECT_EQ(ui.presented.back().description, "disk full");
}

TEST(ApplicationFilesDirectory, FollowsXdgDataHomeElseHome) {
  auto set = [](const char* name, const std::optional<std::string>& value) {
    value ? setenv(name, value->c_str(), 1) : unsetenv(name);
  };
  auto get = [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  };
  const std::optional<std::string> oldData = get("XDG_DATA_HOME");
  const std::optional<std::string> oldHome = get("HOME");
  const std::string fallback = "/home/u/.local/share/org.vortan.updater";
  for (const auto& [dataHome, home, expected] :
       std::vector<std::tuple<std::optional<std::string>, std::optional<std::string>, std::string>>{
           {"/x/data", "/home/u", "/x/data/org.vortan.updater"},
           {"relative/data", "/home/u", fallback},
           {std::nullopt, "/home/u", fallback},
           {std::nullopt, std::nullopt, ""}}) {
    set("XDG_DATA_HOME", dataHome);
    set("HOME", home);
    EXPECT_EQ(DefaultApplicationFilesDirectory().string(), expected);
  }
  set("XDG_DATA_HOME", oldData);
  set("HOME", oldHome);
}

}  // namespace
}  // namespace vortan
