#include "gui/updater_app.h"

#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDialog>
#include <QFileInfo>
#include <QTimer>

#include "app/load_settings.h"
#include "config/ini_config.h"
#include "emulator/emulator.h"
#include "emulator/simulation/simulated_device.h"
#include "link/hid_device.h"
#include "util/stop_signals.h"

namespace vortan {
namespace {

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
  parser.addOption(simulate);
  parser.addOption(config);
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
  options->simulate = parser.isSet(simulate);
  options->configFile = parser.value(config);
  options->package = positional.isEmpty() ? QString() : positional.front();
  return ParseOutcome::kRun;
}

UpdaterApp::UpdaterApp(GuiOptions options) : options_(std::move(options)) {
  if (!options_.configFile.isEmpty()) IniConfig::UsePath(options_.configFile.toStdString());
  if (options_.simulate) {
    emulator_ = std::make_shared<emu::Emulator>();
    emulator_->SetLockFolder(options_.workFolder);
    HidDevice::UseBackend(emulator_);
  } else {
    HidDevice::UseBackend(MakeHidapiBackend());
  }
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
  if (emulator_) {
    // Attached once the settings have given the link its IDs; refitted to every package opened.
    emu::LoaderDevice* device = &emu::AttachSimulatedDevice(*emulator_);
    window_->SetPackageOpenedHook(
        [device](const DatFileExamine& package) { emu::FitSimulatedDevice(*device, package); });
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
