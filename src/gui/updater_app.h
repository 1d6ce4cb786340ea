// SPDX-License-Identifier: Apache-2.0
#pragma once
// The program vortan-updater put together: the Qt window, the window logic, the application
// delegate with its local store, and the device backend (hidapi, or the loader emulator with
// --simulate).
#include <QSocketNotifier>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/app_delegate.h"
#include "app/main_window.h"
#include "emulator/simulation/simulated_keyboards.h"
#include "gui/qt_delegate_ui.h"
#include "gui/qt_main_window_view.h"
#include "gui/single_instance.h"
#include "gui/xml_store.h"
#include "package/work_folder.h"

namespace vortan {

struct GuiOptions {
  QString package;  // opened at start when given
  // A rehearsal on simulated keyboards, as vortan-flash's options describe it, and the faults
  // read from its script.
  emu::SimulationOptions simulation;
  std::vector<emu::Fault> faults;
  QString configFile;
  // The folder in which the private folder of the work files is made, and the store folder (empty:
  // the user's data folder). Tests point both at private folders.
  std::string workFolder = "/tmp";
  std::filesystem::path filesDirectory;
};

enum class ParseOutcome { kRun, kHelp, kVersion, kError };

// Reads `arguments` (program name first): [--simulate] [--simulate-devices N]
// [--simulate-faults FILE] [--simulate-denied] [--simulate-arrival SECONDS] [--config FILE]
// [PACKAGE]; the fault script is read here. For kHelp and kError `message` holds the text to
// print.
ParseOutcome ParseGuiArguments(const QStringList& arguments, GuiOptions* options, QString* message);

// The stop signals (SIGINT, SIGTERM, SIGHUP, SIGQUIT), read from a signalfd in the event loop:
// with no run active they dismiss any open dialog and close the window as the user would, so the
// program quits normally and removes its work files; during a run they are refused as a close
// is, and the window closes once the run has ended and its result alert is dismissed. main
// blocks them (BlockStopSignals) before any thread starts, so no device read is ever interrupted.
class UpdaterApp {
 public:
  // Needs a QApplication. Installs the device backend and the settings file to read.
  explicit UpdaterApp(GuiOptions options);
  // Waits for a running update thread before the window logic goes away.
  ~UpdaterApp();
  UpdaterApp(const UpdaterApp&) = delete;
  UpdaterApp& operator=(const UpdaterApp&) = delete;

  // Shows the window and runs the launch; the package of the command line is opened once the
  // window is on screen, so a refusal alert opens over it.
  void Start();
  // Makes this the window later launches hand their packages to.
  bool ListenForLaterLaunches(SingleInstance& instance);
  // A later launch: brings the window forward and opens `package` unless it is empty.
  void HandOver(const QString& package);

  QtMainWindowView& View() { return *view_; }
  MainWindow& Window() { return *window_; }
  AppDelegate& Delegate() { return *delegate_; }
  // The simulated keyboards of a rehearsal once started, else null.
  emu::SimulatedKeyboards* Simulation() { return simulation_.get(); }

 private:
  void TakeStopSignals();
  // Closes the window once no dialog is open and no other close is being decided; with
  // `dismissDialogs` rejects the open dialogs first (a stop signal while no run is active).
  void CloseWhenFree(bool dismissDialogs);

  GuiOptions options_;
  std::unique_ptr<emu::SimulatedKeyboards> simulation_;
  // Outlives the window, whose package writes into it.
  std::unique_ptr<PrivateWorkFolder> workFolder_;
  std::unique_ptr<QtMainWindowView> view_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<QtDelegateUi> ui_;
  XmlStoreProvider store_;
  std::unique_ptr<AppDelegate> delegate_;
  int stopSignalFd_ = -1;
  std::unique_ptr<QSocketNotifier> stopSignals_;
  bool closeAfterRun_ = false;
};

}  // namespace vortan
