// SPDX-License-Identifier: Apache-2.0
#pragma once
// The Qt window of vortan-updater: package path, product model, firmware version and device
// status fields, the progress bar, and the Open, Refresh and Update buttons. It is the passive
// view of MainWindow: the buttons call the window's actions, and the update thread's progress
// comes back as queued calls on the main thread.
#include <QPointer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window_view.h"
#include "gui/desktop_notifier.h"
#include "gui/read_only_field.h"
#include "gui/sleep_inhibitor.h"

class QDialog;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace vortan {

class MainWindow;

class QtMainWindowView final : public QWidget, public MainWindowView {
 public:
  explicit QtMainWindowView(QWidget* parent = nullptr);
  // Joins a running update thread first.
  ~QtMainWindowView() override;

  // Connects the buttons, dropped files and progress to `window`, which must outlive the view's
  // use of it (call JoinUpdateThread before destroying it).
  void Bind(MainWindow* window);
  // Asked on every close request; a false answer keeps the window open.
  void SetCloseGuard(std::function<bool()> mayClose) { mayClose_ = std::move(mayClose); }
  // Called on the main thread once a run's last progress value has been shown.
  void SetRunEndedHook(std::function<void()> hook) { runEnded_ = std::move(hook); }
  // Closes `dialog` (rejects it) when the run's last progress value arrives, before the result
  // alert: a warning that an update is running must not outlive the run. Main thread only.
  void CloseWhenRunEnds(QDialog* dialog);
  // True while a close request is being decided (its alerts may be open): Qt drops any close
  // asked in that time.
  bool Closing() const { return closing_; }
  // Shows `text` in a banner at the top of the window: a rehearsal must not pass for the real
  // thing. The title stays the caption.
  void ShowRehearsal(const QString& text);
  QLabel* RehearsalBanner() const { return rehearsal_; }
  // Waits for the update thread, if any, to end.
  void JoinUpdateThread();
  bool SleepInhibited() const { return inhibitor_.Held(); }
  // Where the end of a run is told while the window is not active (the session bus by default).
  void UseNotifier(DesktopNotifier notifier) { notifier_ = std::move(notifier); }

  QProgressBar* ProgressBar() const { return progress_; }
  QLabel* RunLine() const { return run_; }
  QPushButton* ButtonFor(Button button) const;
  // The whole text of a field (a path field may show it elided).
  QString FieldText(TextField field) const;
  QWidget* FieldWidget(TextField field) const;

  // MainWindowView
  void SetTitle(const std::string& title) override;
  void SetText(TextField field, const std::string& text) override;
  void SetButtonEnabled(Button button, bool enabled) override;
  void SetRunText(const std::string& text) override;
  void MoveFocus(Focus target) override;
  void SetProgressMinimum(double value) override;
  void SetProgressMaximum(double value) override;
  void SetProgressValue(double value) override;
  double ProgressMaximum() const override;
  void ShowAlert(const std::string& message, const std::string& informativeText, AlertStyle style,
                 const std::string& details) override;
  OpenPanelResult RunOpenPanel(const OpenPanelOptions& options) override;
  void PostProgress(int32_t value) override;
  void StartUpdateThread(std::function<void()> body) override;
  void StartDeviceWatch(int fd, std::chrono::milliseconds interval,
                        std::function<void()> tick) override;

  // Runs `action` once the window system has put the window on screen (at once if it has), so
  // an alert it raises opens over the window rather than at a corner of the screen.
  void RunWhenShown(std::function<void()> action);
  // Runs `action` after the current event, once no modal dialog is up: a package opened under
  // an open panel or an alert would change the window behind the user's back.
  void RunWhenFree(std::function<void()> action);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void DeliverProgress(int32_t value);
  void RunPendingIfShown(bool evenIfHidden);

  MainWindow* window_ = nullptr;
  std::function<bool()> mayClose_;
  std::function<void()> runEnded_;
  PathField* path_;
  WrappedField* status_;
  QLineEdit* model_;
  QLineEdit* version_;
  QProgressBar* progress_;
  WrappedField* run_;
  WrappedField* rehearsal_;
  QPushButton* open_;
  QPushButton* refresh_;
  QPushButton* update_;
  std::vector<std::function<void()>> pendingUntilShown_;
  QObject* deviceWatch_ = nullptr;  // the socket notifier or fallback timer, a child
  std::vector<QPointer<QDialog>> closeWhenRunEnds_;
  bool closing_ = false;
  std::thread updateThread_;
  SleepInhibitor inhibitor_;
  DesktopNotifier notifier_;
};

}  // namespace vortan
