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

int main(int argc, char** argv) {
  using namespace vortan::cli;
  CLI::App app{"Updates the firmware of a VORTAN keyboard."};
  app.require_subcommand(1);
  // Lets the global options stand after the command name too.
  app.fallthrough();
  GlobalOptions options;
  options.deviceBackend = vortan::MakeHidapiBackend;
  app.add_option("--config", options.configPath,
                 "Settings file to read instead of Config.ini beside the program")
      ->check(CLI::ExistingFile);
  app.add_option("--work-dir", options.workFolder, "Folder for the work files (default /tmp)")
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

  if (!options.configPath.empty()) vortan::IniConfig::UsePath(options.configPath);
  vortan::LoadSettings();
  if (inspect.Selected()) return inspect.Run(options);
  if (devices.Selected()) return devices.Run(options);
  if (flash.Selected()) return flash.Run(options);
  return kExitUsage;
}
