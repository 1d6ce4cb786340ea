// SPDX-License-Identifier: Apache-2.0
#include "app/app_delegate.h"

#include <cstdlib>
#include <system_error>

#include "app/main_window.h"
#include "util/diag_log.h"

namespace vortan {
namespace {

constexpr char kClassName[] = "AppDelegate";

void LogOperation(const char* operation, const char* text) {
  DiagLog(std::string(kClassName) + ":" + operation + " " + text);
}

StoreError FileSystemError(const std::error_code& ec, const std::filesystem::path& path) {
  return {ec.category().name(), ec.value(), ec.message() + " (" + path.string() + ")", ""};
}

}  // namespace

std::filesystem::path DefaultApplicationFilesDirectory() {
  std::filesystem::path base;
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  // Relative values are invalid for XDG base folders and are ignored.
  if (dataHome && std::filesystem::path(dataHome).is_absolute()) {
    base = dataHome;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::filesystem::path(home) / ".local" / "share";
  } else {
    return {};
  }
  return base / kApplicationId;
}

AppDelegate::AppDelegate(MainWindow& window, DelegateUi& ui, StoreProvider& store,
                         std::filesystem::path filesDirectory,
                         std::function<void(MainWindow&)> loadSettings)
    : window(window),
      ui_(ui),
      store_(store),
      filesDirectory_(std::move(filesDirectory)),
      loadSettings_(std::move(loadSettings)) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
  window.InitButton();
  if (loadSettings_) loadSettings_(window);
  window.StartDeviceWatch();
}

bool AppDelegate::applicationShouldHandleReopen(bool /*hasVisibleWindows*/) {
  ui_.BringWindowToFront();
  return true;
}

bool AppDelegate::applicationOpenFile(const std::string& path) {
  if (window.IsRunActive()) {
    ui_.ShowWarning(kTextNotOpenedDuringRun, kTextNotOpenedDuringRunDetail + path);
    return false;
  }
  return window.OpenPath(path);
}

StoreCoordinator* AppDelegate::persistentStoreCoordinator() {
  if (_persistentStoreCoordinator) return _persistentStoreCoordinator.get();
  if (!store_.HasModel()) {
    LogOperation("persistentStoreCoordinator", "No model to generate a store from");
    return nullptr;
  }
  const std::filesystem::path& folder = filesDirectory_;
  if (folder.empty()) {
    const std::error_code missing = std::make_error_code(std::errc::no_such_file_or_directory);
    ui_.PresentError({missing.category().name(), missing.value(),
                      "No folder to store application data: neither XDG_DATA_HOME nor HOME is set",
                      ""});
    return nullptr;
  }
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(folder, ec);
  if (status.type() == std::filesystem::file_type::not_found) {
    if (!std::filesystem::create_directories(folder, ec) && ec) {
      ui_.PresentError(FileSystemError(ec, folder));
      return nullptr;
    }
  } else if (ec) {
    ui_.PresentError(FileSystemError(ec, folder));
    return nullptr;
  } else if (status.type() != std::filesystem::file_type::directory) {
    ui_.PresentError(
        {kStoreErrorDomain, kErrorFolderIsFile,
         "Expected a folder to store application data, found a file (" + folder.string() + ").",
         ""});
    return nullptr;
  }
  StoreError error;
  std::unique_ptr<StoreCoordinator> coordinator =
      store_.AddXmlStore(folder / kStoreFileName, &error);
  if (!coordinator) {
    ui_.PresentError(error);
    return nullptr;
  }
  _persistentStoreCoordinator = std::move(coordinator);
  return _persistentStoreCoordinator.get();
}

ObjectContext* AppDelegate::managedObjectContext() {
  if (_managedObjectContext) return _managedObjectContext.get();
  StoreCoordinator* coordinator = persistentStoreCoordinator();
  if (!coordinator) {
    ui_.PresentError({kStoreErrorDomain, kErrorStoreInit, "Failed to initialize the store",
                      "There was an error building up the data file."});
    return nullptr;
  }
  _managedObjectContext = coordinator->MakeContext();
  return _managedObjectContext.get();
}

void AppDelegate::saveAction() {
  ObjectContext* context = managedObjectContext();
  if (!context) return;
  if (!context->CommitEditing()) {
    LogOperation("saveAction", "unable to commit editing before saving");
  }
  StoreError error;
  if (!context->Save(&error)) ui_.PresentError(error);
}

TerminateReply AppDelegate::applicationShouldTerminate() {
  if (window.IsRunActive()) {
    ui_.ShowWarning(ui_.Localized("A firmware update is running"),
                    ui_.Localized("Quit when the update has ended. Stopping it midway can leave "
                                  "the keyboard without firmware."));
    return TerminateReply::kTerminateCancel;
  }
  window.RemoveTempFile();
  ObjectContext* context = _managedObjectContext.get();
  if (!context) return TerminateReply::kTerminateNow;
  if (!context->CommitEditing()) {
    LogOperation("applicationShouldTerminate", "unable to commit editing to terminate");
    return TerminateReply::kTerminateCancel;
  }
  if (!context->HasChanges()) return TerminateReply::kTerminateNow;
  StoreError error;
  if (context->Save(&error)) return TerminateReply::kTerminateNow;
  if (ui_.PresentError(error)) return TerminateReply::kTerminateCancel;
  const bool quit = ui_.AskQuitAnyway(
      ui_.Localized("Could not save changes while quitting. Quit anyway?"),
      ui_.Localized("Quitting now will lose any changes you have made since the last successful "
                    "save"),
      ui_.Localized("Quit anyway"), ui_.Localized("Cancel"));
  return quit ? TerminateReply::kTerminateNow : TerminateReply::kTerminateCancel;
}

}  // namespace vortan
