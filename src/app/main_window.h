// SPDX-License-Identifier: Apache-2.0
#pragma once
// The main window's logic: open a package, show its model, version and the device state, and
// run the update on a background thread while the progress bar follows it. Written against the
// passive MainWindowView, so it runs in tests without a display. Everything but ThreadUpdate
// runs on the main thread.
//
// Button states: after InitButton Open is enabled, Refresh and Update disabled. A successful
// open enables Refresh and refreshes the device state; a failed open disables Update (the
// package is no longer ready) and changes no other button. Update is enabled only by a refresh
// that counts exactly one device while the package is ready. A run disables all three; its end
// enables all three.
//
// While Refresh is enabled and no run is active, the attached devices are counted whenever the
// link's backend tells of a change (for hidraw, a udev event on a hidraw node), or once a second
// when it cannot tell, and a change in the count refreshes the device state as the Refresh button
// does, so the user need not press it after opening the keyboard's loader. Changes during a run
// are counted when it ends. Counting opens no device.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "app/main_window_view.h"
#include "link/hid_device.h"
#include "package/dat_file_examine.h"

namespace vortan {

// How often the idle window counts the attached devices when the backend cannot tell of changes.
inline constexpr std::chrono::milliseconds kDeviceWatchInterval{1000};

class MainWindow {
 public:
  // `workFolder` is where the package object writes its work files.
  explicit MainWindow(MainWindowView& view, const std::string& workFolder = "/tmp");
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  void InitButton();
  // Sets Refresh, Update and Open, in that order.
  void SetButtonEnable(bool enable);
  // Modal "Error" alert in warning style with `text` as its informative text and `details`
  // (empty: none) to unfold.
  void ShowErrorMessage(const std::string& text, const std::string& details = {});

  // The Open button: asks for a package with the open panel, then opens it as OpenPath does.
  void OpenDat();
  // Shows `path`, reads and examines the package, shows its texts and refreshes the device
  // state; a refusal is reported in an alert. Used after the panel, for a package given on the
  // command line and for a dropped file. False when refused, or ignored because a run is active.
  bool OpenPath(const std::string& path);
  // A file that is no update file (.dat) was dropped: says so in the error alert and changes
  // nothing else. Ignored while a run is active.
  void RefuseFile(const std::string& path);
  // The Refresh button: counts the attached devices and sets the status text and Update.
  void RefreshDevice();
  // Starts the device watch on the link's backend (see above): at launch, and again after the
  // backend was replaced.
  void StartDeviceWatch();
  // One tick of that watch: takes the backend's change notifications and, unless a run is
  // active or Refresh is disabled, refreshes when the count differs from the last refresh's.
  void WatchDevices();
  // The Update button: disables every button and starts the run on a new thread. A package
  // that is not ready (a later open failed) is refused with an alert and starts nothing.
  void UpdateDevice();
  // Main thread: one progress value of the run (a step index, kProgressSuccess or
  // kProgressFailure).
  void RefreshProgress(int32_t value);
  // The update thread: the whole run, its progress posted through the view.
  void ThreadUpdate();
  // Deletes the work files of the package.
  void RemoveTempFile();

  void SetTitle(const std::string& title);
  bool IsRefreshEnabled() const { return refreshEnabled_; }
  // Called after each successful examination, before the devices are counted: lets --simulate
  // fit its emulated device to the package.
  void SetPackageOpenedHook(std::function<void(const DatFileExamine&)> hook) {
    packageOpened_ = std::move(hook);
  }
  // From UpdateDevice until the run's last progress value has reached the main thread.
  bool IsRunActive() const { return running_; }
  // The last progress value that reached the main thread.
  int32_t ProgressValue() const { return pVal; }
  const DatFileExamine& DatFile() const { return datFile; }

 private:
  HidDevice* pUSB = nullptr;
  int32_t pVal = 0;
  DatFileExamine datFile;
  // The eight interface fields live in the view and are reached through it.
  MainWindowView& view_;
  void ShowDeviceCount(int count);
  // Disables Update and shows `text` in the error alert.
  void RefusePackage(const std::string& text);

  bool running_ = false;
  // The last step index the current or last run completed; -1 for none.
  int32_t lastStepDone_ = -1;
  // When the current or last run started, on the process clock.
  std::chrono::milliseconds runStart_{0};
  bool refreshEnabled_ = false;
  // Devices counted by the last refresh; -1 before the first.
  int lastCount_ = -1;
  std::function<void(const DatFileExamine&)> packageOpened_;
};

}  // namespace vortan
