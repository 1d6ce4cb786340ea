// SPDX-License-Identifier: Apache-2.0
#pragma once
// The application delegate: starts the main window at launch, brings it back on reopen, and on
// quit deletes the work files and settles the local store. Free of any toolkit: the store, the
// alerts and the error presentation sit behind the small interfaces below.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace vortan {

class MainWindow;

// Domain and codes of the store errors the delegate raises itself.
inline constexpr char kStoreErrorDomain[] = "YOUR_ERROR_DOMAIN";
constexpr int kErrorFolderIsFile = 101;
constexpr int kErrorStoreInit = 9999;

// Names the store folder under the user's data folder.
inline constexpr char kApplicationId[] = "org.vortan.updater";
inline constexpr char kStoreFileName[] = "Quenrix.storedata";

inline constexpr char kTextNotOpenedDuringRun[] = "An update is running";
inline constexpr char kTextNotOpenedDuringRunDetail[] =
    "The update file was not opened. Open it again when the update has ended: ";

struct StoreError {
  std::string domain;
  int code = 0;
  std::string description;
  std::string failureReason;  // may be empty
};

// The object context: pending edits, change tracking and saving to the store file.
class ObjectContext {
 public:
  virtual ~ObjectContext() = default;
  // False when an editor refuses to give up its pending edit.
  virtual bool CommitEditing() = 0;
  virtual bool HasChanges() const = 0;
  // Writes the store file; false with `error` filled when that fails.
  virtual bool Save(StoreError* error) = 0;
};

// The store coordinator: the XML store file added to the object model.
class StoreCoordinator {
 public:
  virtual ~StoreCoordinator() = default;
  virtual std::unique_ptr<ObjectContext> MakeContext() = 0;
};

// Makes the store pieces (the Qt XML store in the program, fakes in tests).
class StoreProvider {
 public:
  virtual ~StoreProvider() = default;
  // False when the object model cannot be loaded.
  virtual bool HasModel() = 0;
  // Adds the XML store at `file` (reads it when present); null with `error` filled on failure.
  virtual std::unique_ptr<StoreCoordinator> AddXmlStore(const std::filesystem::path& file,
                                                        StoreError* error) = 0;
};

// The delegate's toolkit operations.
class DelegateUi {
 public:
  virtual ~DelegateUi() = default;
  // The platform's error presentation; true when the user resolved the error.
  virtual bool PresentError(const StoreError& error) = 0;
  // Modal alert with two buttons; true for the first (quit), false for the second (cancel).
  virtual bool AskQuitAnyway(const std::string& message, const std::string& informativeText,
                             const std::string& quitButton, const std::string& cancelButton) = 0;
  // Modal warning alert with one button. The delegate raises it only while an update runs, to
  // say that it runs; the toolkit closes it when the run ends.
  virtual void ShowWarning(const std::string& message, const std::string& informativeText) = 0;
  // The translation of `text`, or `text` itself when there is none.
  virtual std::string Localized(const std::string& text) = 0;
  virtual void BringWindowToFront() = 0;
};

enum class TerminateReply { kTerminateNow, kTerminateCancel };

// $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share; empty when neither is
// known. Then the application's own folder kApplicationId.
std::filesystem::path DefaultApplicationFilesDirectory();

class AppDelegate {
 public:
  // `loadSettings` reads the settings and gives the window its title and the link its IDs.
  AppDelegate(MainWindow& window, DelegateUi& ui, StoreProvider& store,
              std::filesystem::path filesDirectory, std::function<void(MainWindow&)> loadSettings);
  ~AppDelegate();

  // Sets the buttons, reads the settings, then starts watching for the device.
  void applicationDidFinishLaunching();
  bool applicationShouldHandleReopen(bool hasVisibleWindows);
  // A package handed over by a later launch: opened as a dropped file would be, unless an
  // update runs (then a warning names the file, and nothing is opened). False when not opened.
  bool applicationOpenFile(const std::string& path);
  const std::filesystem::path& applicationFilesDirectory() const { return filesDirectory_; }

  // Made once; null after a presented error, so that a later use tries again.
  StoreCoordinator* persistentStoreCoordinator();
  ObjectContext* managedObjectContext();

  void saveAction();
  // Refused while an update runs: cutting a firmware update off can leave the device without
  // firmware. Otherwise deletes the work files, then settles the store.
  TerminateReply applicationShouldTerminate();

  MainWindow& window;

 private:
  DelegateUi& ui_;
  StoreProvider& store_;
  std::filesystem::path filesDirectory_;
  std::function<void(MainWindow&)> loadSettings_;
  std::unique_ptr<StoreCoordinator> _persistentStoreCoordinator;
  std::unique_ptr<ObjectContext> _managedObjectContext;
};

}  // namespace vortan
