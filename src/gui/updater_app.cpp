// SPDX-License-Identifier: Apache-2.0
#include "gui/updater_app.h"

#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDialog>
#include <QFileInfo>
#include <QTimer>

#include "app/load_settings.h"
#include "config/ini_config.h"
#include "link/hid_device.h"
#include "util/stop_signals.h"

namespace vortan {
namespace {

// `text` as a whole number from 0 to `max` into `value`.
bool ReadBounded(const QString& text, int max, int* value) {
  bool ok = false;
  const int number = text.toInt(&ok);
  if (!ok || number < 0 || number > max) return false;
  *value = number;
  return true;
}

// What the rehearsal window says about itself, inside the window.
QString RehearsalText(const emu::SimulationOptions& simulation) {
  QStringList parts;
  const int count = simulation.SimulatedDeviceCount();
  parts << (count == 1 ? QStringLiteral("one simulated keyboard")
                       : QStringLiteral("%1 simulated keyboards").arg(count));
  if (!simulation.faultScriptPath.empty()) {
    parts << QStringLiteral("faults from %1")
                 .arg(QFileInfo(QString::fromStdString(simulation.faultScriptPath)).fileName());
  }
  if (simulation.simulateDenied) parts << QStringLiteral("opening refused");
  if (simulation.simulatedArrivalSeconds > 0) {
    parts << QStringLiteral("plugged in %1 s after the start")
                 .arg(simulation.simulatedArrivalSeconds);
  }
  return QStringLiteral("Rehearsal: no real keyboard is updated (%1)").arg(parts.join(", "));
}

// How often a close waits for open dialogs and a close being decided to end.
constexpr int kCloseRetryMs = 100;

}  // namespace

ParseOutcome ParseGuiArguments(const QStringList& arguments, GuiOptions* options,
                               QString* message) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Puts new firmware on a VORTAN keyboard."));
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  const QCommandLineOption simulate(
      QStringLiteral("simulate"),
      QStringLiteral("Update an emulated keyboard that fits the opened package instead of a "
                     "real one."));
  const QCommandLineOption config(QStringLiteral("config"),
                                  QStringLiteral("Read the settings from FILE instead of "
                                                 "Config.ini beside the program."),
                                  QStringLiteral("FILE"));
  const QCommandLineOption devices(
      QStringLiteral("simulate-devices"),
      QStringLiteral("Attach N simulated keyboards (implies --simulate)."), QStringLiteral("N"));
  const QCommandLineOption faults(
      QStringLiteral("simulate-faults"),
      QStringLiteral("Fault script for the simulated keyboards (implies --simulate)."),
      QStringLiteral("FILE"));
  const QCommandLineOption denied(
      QStringLiteral("simulate-denied"),
      QStringLiteral("The simulated keyboards refuse to open for lack of permission (implies "
                     "--simulate)."));
  const QCommandLineOption arrival(
      QStringLiteral("simulate-arrival"),
      QStringLiteral("The simulated keyboards are plugged in SECONDS after the start (implies "
                     "--simulate)."),
      QStringLiteral("SECONDS"));
  parser.addOptions({simulate, devices, faults, denied, arrival, config});
  parser.addPositionalArgument(QStringLiteral("PACKAGE"),
                               QStringLiteral("Update file (.dat) to open at start."),
                               QStringLiteral("[PACKAGE]"));
  if (!parser.parse(arguments)) {
    *message = parser.errorText() + QLatin1Char('\n');
    return ParseOutcome::kError;
  }
  if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
    // Help may be asked before any QApplication exists, which Qt's usage line relies on.
    *message = parser.helpText().replace(QStringLiteral("<executable_name>"),
                                         QFileInfo(arguments.value(0)).fileName());
    return ParseOutcome::kHelp;
  }
  if (parser.isSet(version)) return ParseOutcome::kVersion;
  const QStringList positional = parser.positionalArguments();
  if (positional.size() > 1) {
    *message = QStringLiteral("Only one PACKAGE can be opened.\n");
    return ParseOutcome::kError;
  }
  emu::SimulationOptions& simulation = options->simulation;
  simulation.simulate = parser.isSet(simulate);
  simulation.simulateDenied = parser.isSet(denied);
  if (parser.isSet(devices) && !ReadBounded(parser.value(devices), emu::kMaxSimulatedDevices,
                                            &simulation.simulatedDevices)) {
    *message = QStringLiteral("--simulate-devices takes a number from 0 to %1.\n")
                   .arg(emu::kMaxSimulatedDevices);
    return ParseOutcome::kError;
  }
  if (parser.isSet(arrival) && !ReadBounded(parser.value(arrival), emu::kMaxSimulatedArrivalSeconds,
                                            &simulation.simulatedArrivalSeconds)) {
    *message = QStringLiteral("--simulate-arrival takes seconds from 0 to %1.\n")
                   .arg(emu::kMaxSimulatedArrivalSeconds);
    return ParseOutcome::kError;
  }
  simulation.faultScriptPath = parser.value(faults).toStdString();
  std::string error;
  if (!simulation.faultScriptPath.empty() &&
      !emu::ReadFaultScript(simulation.faultScriptPath, options->faults, &error)) {
    *message = QString::fromStdString(error) + QLatin1Char('\n');
    return ParseOutcome::kError;
  }
  options->configFile = parser.value(config);
  options->package = positional.isEmpty() ? QString() : positional.front();
  return ParseOutcome::kRun;
}

UpdaterApp::UpdaterApp(GuiOptions options) : options_(std::move(options)) {
  if (!options_.configFile.isEmpty()) IniConfig::UsePath(options_.configFile.toStdString());
  // A rehearsal's keyboards take the link's IDs from the settings, read at launch (Start).
  if (!options_.simulation.Simulated()) HidDevice::UseBackend(MakeHidapiBackend());
  if (options_.filesDirectory.empty()) {
    options_.filesDirectory = DefaultApplicationFilesDirectory();
  }
  workFolder_ = std::make_unique<PrivateWorkFolder>(options_.workFolder);
  view_ = std::make_unique<QtMainWindowView>();
  window_ = std::make_unique<MainWindow>(*view_, workFolder_->Path());
  view_->Bind(window_.get());
  ui_ = std::make_unique<QtDelegateUi>(view_.get());
  delegate_ = std::make_unique<AppDelegate>(
      *window_, *ui_, store_, options_.filesDirectory, [](MainWindow& window) {
        LoadSettings([&window](const std::string& title) { window.SetTitle(title); });
      });
  view_->SetCloseGuard(
      [this] { return delegate_->applicationShouldTerminate() == TerminateReply::kTerminateNow; });
  view_->SetRunEndedHook([this] {
    if (!closeAfterRun_) return;
    closeAfterRun_ = false;
    CloseWhenFree(false);
  });
  stopSignalFd_ = OpenStopSignalFd();
  if (stopSignalFd_ >= 0) {
    stopSignals_ = std::make_unique<QSocketNotifier>(stopSignalFd_, QSocketNotifier::Read);
    QObject::connect(stopSignals_.get(), &QSocketNotifier::activated,
                     [this] { TakeStopSignals(); });
  }
}

void UpdaterApp::TakeStopSignals() {
  bool stop = false;
  while (ReadStopSignal(stopSignalFd_)) stop = true;
  if (!stop) return;
  if (Window().IsRunActive()) {
    // The close guard refuses, with the same message as a close; a close already being decided
    // shows it already.
    closeAfterRun_ = true;
    if (!view_->Closing()) view_->close();
    return;
  }
  CloseWhenFree(true);
}

void UpdaterApp::CloseWhenFree(bool dismissDialogs) {
  // Qt drops a close asked while another is being decided, and a dialog left open would keep
  // its own event loop, and so the program, running: wait until both are gone.
  QWidget* modal = QApplication::activeModalWidget();
  if (modal || view_->Closing()) {
    if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && dismissDialogs) dialog->reject();
    QTimer::singleShot(kCloseRetryMs, view_.get(),
                       [this, dismissDialogs] { CloseWhenFree(dismissDialogs); });
    return;
  }
  view_->close();
}

UpdaterApp::~UpdaterApp() {
  stopSignals_.reset();
  if (stopSignalFd_ >= 0) ::close(stopSignalFd_);
  view_->JoinUpdateThread();
  view_->SetCloseGuard({});
  view_->SetRunEndedHook({});
}

void UpdaterApp::Start() {
  view_->show();
  delegate_->applicationDidFinishLaunching();
  if (options_.simulation.Simulated()) {
    // Attached once the settings have given the link its IDs; refitted to every package opened.
    simulation_ = std::make_unique<emu::SimulatedKeyboards>(options_.simulation, options_.faults,
                                                            options_.workFolder);
    HidDevice::UseBackend(simulation_->Backend());
    window_->StartDeviceWatch();  // on the rehearsal's keyboards, which announce their arrivals
    window_->SetPackageOpenedHook([this](const DatFileExamine& package) {
      std::string error;  // a package no model fits fails its run, as on such a keyboard
      simulation_->Fit(package, "", &error);
    });
    view_->ShowRehearsal(RehearsalText(options_.simulation));
  }
  // The store is opened with the window, so a data folder that cannot hold it is reported at
  // launch rather than when quitting.
  delegate_->managedObjectContext();
  if (!options_.package.isEmpty()) {
    const std::string package = options_.package.toStdString();
    view_->RunWhenShown([this, package] { window_->OpenPath(package); });
  }
}

bool UpdaterApp::ListenForLaterLaunches(SingleInstance& instance) {
  return instance.Listen([this](const QString& package) { HandOver(package); });
}

void UpdaterApp::HandOver(const QString& package) {
  delegate_->applicationShouldHandleReopen(view_->isVisible());
  if (package.isEmpty()) return;
  const std::string path = package.toStdString();
  view_->RunWhenFree([this, path] { delegate_->applicationOpenFile(path); });
}

}  // namespace vortan
