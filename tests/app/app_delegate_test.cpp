// SPDX-License-Identifier: Apache-2.0
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

// The user, the store and every context it makes, all answering from one script.
class Fakes : public DelegateUi, public StoreProvider {
 public:
  bool PresentError(const StoreError& error) override {
    script.events += "present ";
    presented.push_back(error);
    return script.resolve;
  }
  bool AskQuitAnyway(const std::string&, const std::string&, const std::string&,
                     const std::string&) override {
    script.events += "ask ";
    return script.quitAnyway;
  }
  void ShowWarning(const std::string&, const std::string&) override { script.events += "warn "; }
  std::string Localized(const std::string& text) override { return text; }
  void BringWindowToFront() override { script.events += "front "; }
  bool HasModel() override { return model; }
  std::unique_ptr<StoreCoordinator> AddXmlStore(const fs::path& file, StoreError* error) override {
    added.push_back(file);
    if (addFails) *error = {"test", 3, "damaged store", ""};
    return addFails ? nullptr : std::make_unique<Context>(script);
  }

  Script script;
  bool model = true;
  bool addFails = false;
  std::vector<StoreError> presented;
  std::vector<fs::path> added;

 private:
  struct Context : StoreCoordinator, ObjectContext {
    explicit Context(Script& s) : s_(s) {}
    std::unique_ptr<ObjectContext> MakeContext() override { return std::make_unique<Context>(s_); }
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
    Script& s_;
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
    return AppDelegate(window, fakes, fakes, folder, std::move(loadSettings));
  }

  testing::TempDir dir;
  const fs::path folder = dir.path() / "data" / kApplicationId;
  std::shared_ptr<emu::Emulator> emulator_ = std::make_shared<emu::Emulator>();
  testing::FakeMainWindowView view;
  MainWindow window{view, dir.path().string()};
  Fakes fakes;
  Script& script = fakes.script;
  std::vector<std::string> log;
  LogSink previousLog_;
};

TEST_F(AppDelegateTest, LaunchSetsButtonsBeforeSettingsAndReopenBringsTheWindowBack) {
  std::map<Button, bool> atSettings;
  AppDelegate delegate = MakeDelegate([&](MainWindow&) { atSettings = view.buttons; });
  delegate.applicationDidFinishLaunching();
  EXPECT_EQ(atSettings,
            (std::map<Button, bool>{{Button::kRefresh, false}, {Button::kUpdate, false}}));
  EXPECT_EQ(view.watchFd, emulator_->ChangeDescriptor()) << "the device watch starts at launch";
  EXPECT_TRUE(delegate.applicationShouldHandleReopen(false));
  EXPECT_EQ(script.events, "front ");
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
    ASSERT_TRUE(window.OpenPath(testing::WritePackage(dir, "p.dat", testing::OnePackPackage())));
    AppDelegate delegate = MakeDelegate();
    if (c.makeContext) {
      ASSERT_NE(delegate.managedObjectContext(), nullptr);
    }

    EXPECT_EQ(delegate.applicationShouldTerminate(), c.reply);
    EXPECT_EQ(script.events, c.script.events);
    EXPECT_FALSE(fs::exists(dir.File("TEMP1.INI")))
        << "work files are deleted first, whatever follows";
  }
}

// Guards against quitting (and deleting the work files) or a later launch replacing the package
// under a running firmware update.
TEST_F(AppDelegateTest, QuitAndHandedOverPackagesAreRefusedWhileAnUpdateRuns) {
  emulator_->Attach(0xF1A5, 0x1234);
  AppDelegate delegate = MakeDelegate();
  const std::string first = testing::WritePackage(dir, "first.dat", testing::OnePackPackage());
  const std::string second = testing::WritePackage(dir, "second.dat", testing::OnePackPackage());
  EXPECT_TRUE(delegate.applicationOpenFile(first));
  EXPECT_EQ(view.Text(TextField::kDeviceStatus), kTextDeviceConnected);
  window.UpdateDevice();
  ASSERT_TRUE(window.IsRunActive());
  EXPECT_EQ(delegate.applicationShouldTerminate(), TerminateReply::kTerminateCancel);
  EXPECT_FALSE(delegate.applicationOpenFile(second));
  EXPECT_EQ(script.events, "warn warn ");
  EXPECT_EQ(view.Text(TextField::kPath), first);
  EXPECT_TRUE(fs::exists(dir.File("TEMP1.INI")));

  view.RunThread();
  view.Pump(window);
  EXPECT_TRUE(delegate.applicationOpenFile(second));
  EXPECT_EQ(view.Text(TextField::kPath), second);
  EXPECT_EQ(delegate.applicationShouldTerminate(), TerminateReply::kTerminateNow);
  EXPECT_FALSE(fs::exists(dir.File("TEMP1.INI")));
}

TEST_F(AppDelegateTest, StoreFolderProblemsArePresentedAndRetriedLater) {
  AppDelegate delegate = MakeDelegate();
  fs::create_directories(folder.parent_path());
  ASSERT_TRUE(testing::WriteText(folder.string(), "a plain file where the folder belongs"));
  EXPECT_EQ(delegate.managedObjectContext(), nullptr);
  // The folder problem, then the failed store initialisation.
  EXPECT_EQ(fakes.presented.size(), 2u);
  EXPECT_TRUE(fakes.added.empty());

  fs::remove(folder);
  fakes.addFails = true;
  EXPECT_EQ(delegate.persistentStoreCoordinator(), nullptr);
  EXPECT_TRUE(fs::is_directory(folder)) << "the missing folder is created";
  EXPECT_EQ(fakes.presented.back().description, "damaged store");
  fakes.model = false;
  EXPECT_EQ(delegate.persistentStoreCoordinator(), nullptr);

  fakes.model = true;
  fakes.addFails = false;
  EXPECT_NE(delegate.managedObjectContext(), nullptr);
  EXPECT_EQ(fakes.added.back(), folder / "Quenrix.storedata");
}

TEST_F(AppDelegateTest, SaveActionLogsARefusedCommitAndPresentsAFailedSave) {
  AppDelegate delegate = MakeDelegate();
  script = {.commit = false, .changes = true, .save = false};
  delegate.saveAction();
  EXPECT_EQ(log.size(), 1u);
  EXPECT_EQ(script.events, "commit save present ");
  EXPECT_EQ(fakes.presented.back().description, "disk full");
}

TEST(ApplicationFilesDirectoryTest, FollowsXdgDataHomeElseHome) {
  const auto set = [](const char* name, const char* value) {
    value ? setenv(name, value, 1) : unsetenv(name);
  };
  const auto saved = [](const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  };
  const std::optional<std::string> oldData = saved("XDG_DATA_HOME"), oldHome = saved("HOME");
  const std::string fallback = "/home/u/.local/share/org.vortan.updater";
  for (const auto& [dataHome, home, expected] :
       std::vector<std::tuple<const char*, const char*, std::string>>{
           {"/x/data", "/home/u", "/x/data/org.vortan.updater"},
           {"relative/data", "/home/u", fallback},
           {nullptr, "/home/u", fallback},
           {nullptr, nullptr, ""}}) {
    set("XDG_DATA_HOME", dataHome);
    set("HOME", home);
    EXPECT_EQ(DefaultApplicationFilesDirectory().string(), expected);
  }
  set("XDG_DATA_HOME", oldData ? oldData->c_str() : nullptr);
  set("HOME", oldHome ? oldHome->c_str() : nullptr);
}

}  // namespace
}  // namespace vortan
