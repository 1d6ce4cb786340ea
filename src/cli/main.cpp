// SPDX-License-Identifier: Apache-2.0
// vortan-flash: the command-line face of the updater. Exit status: see exit_codes.h.
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "app/load_settings.h"
#include "cli/devices_command.h"
#include "cli/exit_codes.h"
#include "cli/flash_command.h"
#include "cli/global_options.h"
#include "cli/package_summary_command.h"
#include "config/ini_config.h"
#include "link/hid_backend.h"
#include "package/work_folder.h"
#include "util/exception_text.h"
#include "util/standard_streams.h"
#include "util/stop_signals.h"

int main(int argc, char** argv) {
  using namespace vortan::cli;
  const int reopenedStreams = vortan::OpenClosedStandardStreams();
  // Before any thread exists, so that every thread inherits the blocked stop signals.
  vortan::BlockStopSignals();
  CLI::App app{"Updates the firmware of a VORTAN keyboard."};
  app.require_subcommand(1);
  app.set_version_flag("--version", "vortan-flash " VORTAN_VERSION);
  // Every command's options in one text: the source of the manual page and the shell completion.
  app.set_help_all_flag("--help-all", "Print the help of every command and exit");
  app.get_formatter()->column_width(34);
  // Lets the global options stand after the command name too.
  app.fallthrough();
  GlobalOptions options;
  options.deviceBackend = vortan::MakeHidapiBackend;
  CLI::Option* config =
      app.add_option("--config", options.configPath,
                     "Settings file to read instead of Config.ini beside the program")
          ->check(CLI::ExistingFile);
  CLI::Option* workDir =
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

  // Before any work: an update that no stop signal could reach must not start, since the
  // signals stay blocked in every thread.
  StopRequests stops;
  const vortan::StopSignalWatcher watcher([&stops](int signal) { stops.OnSignal(signal); });
  if (!stops.Ready() || !watcher.Watching()) {
    std::cerr << "Cannot watch the stop signals: "
              << (stops.Ready() ? watcher.Error() : stops.Error()) << '\n';
    return kExitCannotStart;
  }
  options.stops = &stops;
  // The children of flash --all repeat the global options as given: each makes its own
  // private folder where this one does.
  if (config->count() > 0) options.forwardedArgs.push_back("--config=" + options.configPath);
  if (workDir->count() > 0) options.forwardedArgs.push_back("--work-dir=" + options.workFolder);
  // The command's work files live in a folder of this run alone, removed when main returns.
  const vortan::PrivateWorkFolder workFolder(options.workFolder);
  options.sharedFolder = options.workFolder;
  options.workFolder = workFolder.Path();
  // The settings file is read as a regular file only (a FIFO would answer nothing); naming
  // anything else is a usage error rather than a silent fall-back to the defaults.
  struct stat configStat {};
  if (!options.configPath.empty() &&
      (::stat(options.configPath.c_str(), &configStat) != 0 || !S_ISREG(configStat.st_mode))) {
    std::cerr << "The settings file " << options.configPath << " is not a regular file\n";
    return kExitUsage;
  }
  if (!options.configPath.empty()) vortan::IniConfig::UsePath(options.configPath);
  vortan::LoadSettings();
  int status = kExitUsage;
  // The last boundary: a run catches its own exceptions, so what arrives here came before or
  // after one (memory running out while reading or listing).
  try {
    if (inspect.Selected()) status = inspect.Run(options);
    if (devices.Selected()) status = devices.Run(options);
    if (flash.Selected()) status = flash.Run(options);
  } catch (...) {
    std::cerr << "Cannot go on with " << app.get_subcommands().front()->get_name() << ": "
              << vortan::CurrentExceptionText() << '\n';
    status = kExitCannotStart;
  }
  // A stop asked for outside a run ends the program here, as the signal would have, but after
  // the work files are gone.
  if (const int signal = stops.StopSignal()) return ExitStatusOfSignal(signal);
  // Output nobody received is a failure a script must see, though the update itself went on.
  std::cout.flush();
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0 && !std::ferror(stdout) && std::cout.good();
  if ((reopenedStreams & (1 << STDOUT_FILENO)) || !flushed) {
    const int reason = errno;
    std::cerr << "Cannot write to standard output: "
              << (flushed  ? "it was closed at start"
                  : reason ? std::strerror(reason)
                           : "write failed")
              << '\n';
    if (status == kExitSuccess) status = kExitOutputFailed;
  }
  return status;
}
