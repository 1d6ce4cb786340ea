// SPDX-License-Identifier: Apache-2.0
#include "cli/package_summary_command.h"

#include <unistd.h>

#include "cli/exit_codes.h"
#include "cli/package_opening.h"
#include "cli/reporter.h"
#include "package/dat_file_examine.h"

namespace vortan::cli {

InspectCommand::InspectCommand(CLI::App& app)
    : command_(app.add_subcommand("inspect", "Check a package and print what it holds")) {
  command_->add_option("package", packagePath_, "Update package (.dat)")->required();
  command_->add_flag("--json", json_, "Print one JSON object");
}

bool InspectCommand::Selected() const {
  return command_->parsed();
}

int InspectCommand::Run(const GlobalOptions& options) const {
  DatFileExamine datFile(options.workFolder);
  const bool ready = OpenPackage(datFile, packagePath_);
  if (ready) MakeReporter(json_, ::isatty(STDERR_FILENO) == 1)->Package(datFile);
  datFile.DeleteTempFiles();
  return ready ? kExitSuccess : kExitPackageRefused;
}

}  // namespace vortan::cli
