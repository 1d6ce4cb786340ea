// vortan-flash: the command-line face of the updater. Exit status: see exit_codes.h.
#include <CLI/CLI.hpp>

#include "app/load_settings.h"
#include "cli/devices_command.h"
#include "cli/exit_codes.h"
#include "cli/flash_command.h"
#include "cli/global_options.h"
#include "cli/package_summary_command.h"
#include "config/ini_config.h"
#include "link/hid_backend.h"
#include "package/work_folder.h"
#include "util/stop_signals.h"

int main(int argc, char** argv) {
  using namespace vortan::cli;
  // Before any thread exists, so that every thread inherits the blocked stop signals.
  vortan::BlockStopSignals();
  CLI::App app{"Updates the firmware of a VORTAN keyboard."};
  app.require_subcommand(1);
  // Lets the global options stand after the command name too.
  app.fallthrough();
  GlobalOptions options;
  options.deviceBackend = vortan::MakeHidapiBackend;
  app.add_option("--config", options.configPath,
                 "Settings file to read instead of Config.ini beside the program")
      ->check(CLI::ExistingFile);
  app.add_option("--work-dir", options.workFolder,
                 "Folder in which a private folder for the work files is made (default /tmp)")
      ->check(CLI::ExistingDirectory);
  InspectCommand inspect(app);
  DevicesCommand devices(app);
  FlashCommand flash(app);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitSuccess : kExitUsage;
  }

  // The command's work files live in a folder of this run alone, removed when main returns.
  const vortan::PrivateWorkFolder workFolder(options.workFolder);
  options.sharedFolder = options.workFolder;
  options.workFolder = workFolder.Path();
  if (!options.configPath.empty()) vortan::IniConfig::UsePath(options.configPath);
  vortan::LoadSettings();
  StopRequests stops;
  const vortan::StopSignalWatcher watcher([&stops](int signal) { stops.OnSignal(signal); });
  options.stops = &stops;
  int status = kExitUsage;
  if (inspect.Selected()) status = inspect.Run(options);
  if (devices.Selected()) status = devices.Run(options);
  if (flash.Selected()) status = flash.Run(options);
  // A stop asked for outside a run ends the program here, as the signal would have, but after
  // the work files are gone.
  if (const int signal = stops.StopSignal()) return ExitStatusOfSignal(signal);
  return status;
}
