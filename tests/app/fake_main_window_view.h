// SPDX-License-Identifier: Apache-2.0
#pragma once
// A recording MainWindowView for the window and delegate tests. The "update thread" runs only
// when the test calls RunThread, and posted progress reaches the window only when the test
// pumps it, as the main thread's event loop would; the device watch runs only as the test
// advances virtual time.
#include <poll.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/main_window.h"
#include "app/main_window_view.h"
#include "util/clock.h"

namespace vortan::testing {

struct Alert {
  std::string message;
  std::string informative;
  AlertStyle style;
  std::string details = {};
  bool operator==(const Alert&) const = default;
};

class FakeMainWindowView : public MainWindowView {
 public:
  void SetTitle(const std::string&) override {}
  void SetText(TextField field, const std::string& text) override { texts[field] = text; }
  void SetButtonEnabled(Button button, bool enabled) override { buttons[button] = enabled; }
  void SetRunText(const std::string& text) override { runTexts.push_back(text); }
  void MoveFocus(Focus target) override { focus = target; }
  void SetProgressMinimum(double) override {}
  void SetProgressMaximum(double v) override { progressMax = v; }
  void SetProgressValue(double v) override { progressValues.push_back(v); }
  double ProgressMaximum() const override { return progressMax; }
  void ShowAlert(const std::string& message, const std::string& informative, AlertStyle style,
                 const std::string& details) override {
    alerts.push_back({message, informative, style, details});
    buttonsDuringAlert = buttons;
  }
  OpenPanelResult RunOpenPanel(const OpenPanelOptions& options) override {
    panelOptions.push_back(options);
    return panelAnswer;
  }
  void PostProgress(int32_t value) override { posted.push_back(value); }
  void StartUpdateThread(std::function<void()> body) override { thread = std::move(body); }
  void StartDeviceWatch(int fd, std::chrono::milliseconds interval,
                        std::function<void()> tick) override {
    watchFd = fd;
    timerInterval = fd < 0 ? interval : std::chrono::milliseconds(0);
    timerDue = ProcessClock().Now() + interval;
    timer = std::move(tick);
  }
  // Moves `clock` on by `by`: a watched descriptor that is readable calls the watch once, as the
  // event loop would; without one the timer fires at each interval that passes.
  void Advance(VirtualClock& clock, std::chrono::milliseconds by) {
    const std::chrono::milliseconds end = clock.Now() + by;
    if (watchFd >= 0) {
      pollfd watched = {watchFd, POLLIN, 0};
      if (timer && ::poll(&watched, 1, 0) > 0) timer();
      clock.Sleep(by);
      return;
    }
    while (timer && timerDue <= end) {
      clock.Sleep(timerDue - clock.Now());
      timerDue += timerInterval;
      timer();
    }
    clock.Sleep(end - clock.Now());
  }

  void RunThread() {
    if (auto body = std::exchange(thread, nullptr)) body();
  }
  void Pump(MainWindow& window) {
    const std::vector<int32_t> values = std::exchange(posted, {});
    for (int32_t v : values) window.RefreshProgress(v);
    delivered.insert(delivered.end(), values.begin(), values.end());
  }
  // A button never set is enabled, as the window is designed.
  bool Enabled(Button b) const { return !buttons.contains(b) || buttons.at(b); }
  std::string Text(TextField f) const { return texts.contains(f) ? texts.at(f) : ""; }

  std::map<TextField, std::string> texts;
  std::map<Button, bool> buttons;
  std::map<Button, bool> buttonsDuringAlert;
  double progressMax = 100;
  std::vector<double> progressValues;
  std::vector<Alert> alerts;
  std::vector<std::string> runTexts;
  std::optional<Focus> focus;
  std::vector<OpenPanelOptions> panelOptions;
  OpenPanelResult panelAnswer;
  std::function<void()> thread;
  std::function<void()> timer;
  int watchFd = -1;
  std::chrono::milliseconds timerInterval{0};
  std::chrono::milliseconds timerDue{0};
  std::vector<int32_t> posted;
  std::vector<int32_t> delivered;
};

}  // namespace vortan::testing
