// SPDX-License-Identifier: Apache-2.0
#include "app/main_window.h"

#include "app/device_status_text.h"
#include "app/failure_texts.h"
#include "app/package_steps.h"
#include "app/run_line.h"
#include "app/update_run.h"
#include "app/user_texts.h"
#include "util/clock.h"
#include "util/marker_text.h"

namespace vortan {
namespace {

// The alert's text with the system's reason, when there is one, as a line of its own: a full
// disk must not read as a broken package.
std::string WithReason(const std::string& text, const std::string& reason) {
  return reason.empty() ? text : text + "\n" + reason;
}

constexpr char kOpenPanelMessage[] = "Open the update file";
constexpr char kOpenPanelTitle[] = "Open File";
constexpr char kPackageExtension[] = "dat";
constexpr char kPackageFileTypeName[] = "Update files";

}  // namespace

MainWindow::MainWindow(MainWindowView& view, const std::string& workFolder)
    : datFile(workFolder), view_(view) {}

MainWindow::~MainWindow() = default;

void MainWindow::InitButton() {
  refreshEnabled_ = false;
  view_.SetButtonEnabled(Button::kRefresh, false);
  view_.SetButtonEnabled(Button::kUpdate, false);
}

void MainWindow::SetButtonEnable(bool enable) {
  refreshEnabled_ = enable;
  view_.SetButtonEnabled(Button::kRefresh, enable);
  view_.SetButtonEnabled(Button::kUpdate, enable);
  view_.SetButtonEnabled(Button::kOpen, enable);
}

void MainWindow::ShowErrorMessage(const std::string& text, const std::string& details) {
  view_.ShowAlert("Error", text, AlertStyle::kWarning, details);
}

void MainWindow::OpenDat() {
  if (running_) return;
  OpenPanelOptions options;
  options.canChooseDirectories = false;
  options.allowsMultipleSelection = false;
  options.message = kOpenPanelMessage;
  options.allowedFileTypes = {kPackageExtension};
  options.fileTypeName = kPackageFileTypeName;
  options.title = kOpenPanelTitle;
  const OpenPanelResult chosen = view_.RunOpenPanel(options);
  if (!chosen.confirmed) return;
  OpenPath(chosen.path);
}

bool MainWindow::OpenPath(const std::string& path) {
  // Buttons keep the package from being replaced under a run; drops and arguments need this.
  if (running_) return false;
  view_.SetText(TextField::kPath, path);
  if (!datFile.ReadFile(path)) {
    RefusePackage(WithReason(ReplaceMarkers(kTextUnableToOpen, {path}), datFile.FailureReason()));
    return false;
  }
  if (!datFile.Examine()) {
    const char* text = datFile.LackedMemory() ? kTextUnableToOpen : kTextFormatError;
    RefusePackage(WithReason(ReplaceMarkers(text, {path}), datFile.FailureReason()));
    return false;
  }
  if (packageOpened_) packageOpened_(datFile);
  view_.SetText(TextField::kProductModel, datFile.GetProductModel());
  view_.SetText(TextField::kFirmwareVersion, datFile.GetFirmwareVersion());
  refreshEnabled_ = true;
  view_.SetButtonEnabled(Button::kRefresh, true);
  view_.SetRunText("");  // the last outcome was another package's
  RefreshDevice();
  // Enter then starts the update, or the user hears what to do first.
  view_.MoveFocus(lastCount_ == 1 && datFile.IsFileReady() ? Focus::kUpdate : Focus::kDeviceStatus);
  return true;
}

void MainWindow::RefuseFile(const std::string& path) {
  if (running_) return;
  ShowErrorMessage(ReplaceMarkers(kTextNotAnUpdateFile, {path}));
}

void MainWindow::RefusePackage(const std::string& text) {
  // ReadFile ended the earlier package's readiness, so no update may start until an open
  // succeeds; the status text is left to the next refresh.
  view_.SetButtonEnabled(Button::kUpdate, false);
  ShowErrorMessage(text);
}

void MainWindow::RefreshDevice() {
  if (running_) return;
  pUSB = &HidDevice::Instance();
  ShowDeviceCount(pUSB->CountDevices());
}

void MainWindow::StartDeviceWatch() {
  view_.StartDeviceWatch(HidDevice::Instance().ChangeDescriptor(), kDeviceWatchInterval,
                         [this] { WatchDevices(); });
}

void MainWindow::WatchDevices() {
  // Taken even when ignored: a descriptor left readable would call again at once.
  HidDevice::Instance().DrainChanges();
  // During a run the update thread owns the link; a disabled Refresh means the user may not
  // refresh either (no package yet, or a result alert still up).
  if (running_ || !refreshEnabled_) return;
  pUSB = &HidDevice::Instance();
  const int count = pUSB->CountDevices();
  if (count != lastCount_) ShowDeviceCount(count);
}

void MainWindow::ShowDeviceCount(int count) {
  lastCount_ = count;
  view_.SetText(TextField::kDeviceStatus, DeviceStatusText(count, &datFile));
  // A refused open leaves the package not ready; its updaters must never run.
  const bool updatable = count == 1 && datFile.IsFileReady();
  view_.SetButtonEnabled(Button::kUpdate, updatable);
  if (!updatable) return;
  view_.SetProgressMaximum(datFile.TotalStepCount());
  view_.SetProgressMinimum(0);
  view_.SetProgressValue(0);
}

void MainWindow::UpdateDevice() {
  if (running_) return;
  // After a refused open the Update button keeps its state, but the package is not ready.
  if (!datFile.IsFileReady()) {
    view_.SetButtonEnabled(Button::kUpdate, false);
    ShowErrorMessage(kTextPackageNotReady);
    return;
  }
  // Refused before the first report while another process updates this keyboard, or when its
  // lock cannot be taken at all.
  if (HidDevice& link = HidDevice::Instance(); !link.Claim()) {
    ShowErrorMessage(link.LastOpenBusy() ? link.LastOpenError()
                                         : kTextDeviceCannotBeOpened + link.LastOpenError());
    return;
  }
  running_ = true;
  lastStepDone_ = -1;
  SetButtonEnable(false);
  // Every run starts from an empty bar, whatever the previous run left on it.
  view_.SetProgressMaximum(datFile.TotalStepCount());
  view_.SetProgressValue(0);
  runStart_ = ProcessClock().Now();
  view_.SetRunText(RunLine(0, datFile.TotalStepCount(), {}));
  view_.MoveFocus(Focus::kRunLine);  // the buttons are disabled; the run line tells the steps
  view_.StartUpdateThread([this] { ThreadUpdate(); });
}

void MainWindow::ThreadUpdate() {
  MainWindowView& view = view_;
  RunUpdate(PackageSteps(datFile), [&view](int32_t value) { view.PostProgress(value); });
}

void MainWindow::RefreshProgress(int32_t value) {
  pVal = value;
  if (value >= 0) {
    lastStepDone_ = value;
    view_.SetProgressValue(value);
    view_.SetRunText(
        RunLine(value + 1, datFile.TotalStepCount(), ProcessClock().Now() - runStart_));
  } else if (value == kProgressSuccess) {
    running_ = false;
    view_.SetProgressValue(view_.ProgressMaximum());
    view_.SetRunText(kTextUpdatedTo + datFile.GetFirmwareVersion());
    view_.ShowAlert("Information", kTextSuccess, AlertStyle::kInformational, {});
    SetButtonEnable(true);
    WatchDevices();  // a keyboard that came or went during the run told only the ignored watch
    // The outcome, not Update: Enter must not start a second run by mistake.
    view_.MoveFocus(Focus::kRunLine);
  } else if (value == kProgressFailure) {
    running_ = false;
    view_.SetRunText(std::string(kTextNotUpdated) + " " +
                     RunFailureNextStep(datFile, lastStepDone_));
    // The update thread has ended, so the link's last open error is safe to read.
    ShowErrorMessage(kTextFailure,
                     RunFailureDetails(HidDevice::Instance(), datFile, lastStepDone_));
    SetButtonEnable(true);
    WatchDevices();  // a keyboard that came or went during the run told only the ignored watch
    view_.MoveFocus(Focus::kRunLine);
  }
}

void MainWindow::RemoveTempFile() {
  datFile.DeleteTempFiles();
}

void MainWindow::SetTitle(const std::string& title) {
  view_.SetTitle(title);
}

}  // namespace vortan
