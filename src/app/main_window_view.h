// SPDX-License-Identifier: Apache-2.0
#pragma once
// The passive view of the main window: exactly the toolkit operations the window logic needs.
// The Qt window implements it for the program; tests implement it with a recording fake, so
// every workflow runs without a display. All calls but PostProgress come from the main thread.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vortan {

enum class TextField { kPath, kDeviceStatus, kProductModel, kFirmwareVersion };
enum class Button { kUpdate, kRefresh, kOpen };
enum class AlertStyle { kWarning, kInformational };
// Where the keyboard focus goes: the Update button, the device status, the run line.
enum class Focus { kUpdate, kDeviceStatus, kRunLine };

struct OpenPanelOptions {
  bool canChooseDirectories = false;
  bool allowsMultipleSelection = false;
  std::string message;
  std::vector<std::string> allowedFileTypes;  // extensions without the dot
  std::string fileTypeName;                   // what the filter calls those files
  std::string title;
};

struct OpenPanelResult {
  bool confirmed = false;
  std::string path;  // the chosen file when confirmed
};

class MainWindowView {
 public:
  virtual ~MainWindowView() = default;

  virtual void SetTitle(const std::string& title) = 0;
  virtual void SetText(TextField field, const std::string& text) = 0;
  virtual void SetButtonEnabled(Button button, bool enabled) = 0;
  // The line beside the progress bar: the run's step and time left, then its outcome and what
  // to do next; empty hides it. Never the device status.
  virtual void SetRunText(const std::string& text) = 0;
  virtual void MoveFocus(Focus target) = 0;

  virtual void SetProgressMinimum(double value) = 0;
  virtual void SetProgressMaximum(double value) = 0;
  virtual void SetProgressValue(double value) = 0;
  virtual double ProgressMaximum() const = 0;

  // Modal; returns when the user has dismissed the alert. `details` (may be empty) are lines the
  // user can unfold: why it failed and what to do next.
  virtual void ShowAlert(const std::string& message, const std::string& informativeText,
                         AlertStyle style, const std::string& details) = 0;
  // Modal; returns whether the user confirmed a file, and its path.
  virtual OpenPanelResult RunOpenPanel(const OpenPanelOptions& options) = 0;

  // Called on the update thread. Queues a call that hands `value` to the window's
  // RefreshProgress on the main thread, without waiting; calls arrive in the order posted. The
  // value travels inside the call: no object is shared between the threads.
  virtual void PostProgress(int32_t value) = 0;
  // Runs `body` on a new background thread and returns at once. The view keeps the thread and
  // joins it before it is destroyed, so the window never goes away under a running update.
  virtual void StartUpdateThread(std::function<void()> body) = 0;
  // The device watch, for the window's life, in place of any an earlier call started: calls
  // `tick` on the main thread whenever descriptor `fd` is readable (`tick` drains it, or it is
  // called again at once), or, when `fd` is -1, every `interval`. `fd` stays the caller's and
  // must stay open while watched.
  virtual void StartDeviceWatch(int fd, std::chrono::milliseconds interval,
                                std::function<void()> tick) = 0;
};

}  // namespace vortan
