// SPDX-License-Identifier: Apache-2.0
#pragma once
// `vortan-flash inspect PACKAGE [--json]`: opens the package as the window does (ReadFile, then
// Examine) and prints its product model, firmware version, key names and, per data pack, chip
// family and the offsets and lengths of its chip description and image. A refused package prints
// the window's message on stderr and exits with kExitPackageRefused. The work files are removed
// afterwards, as when the window closes.
#include <CLI/CLI.hpp>
#include <string>

#include "cli/global_options.h"

namespace vortan::cli {

class InspectCommand {
 public:
  // Adds the subcommand to `app`.
  explicit InspectCommand(CLI::App& app);
  bool Selected() const;
  int Run(const GlobalOptions& options) const;

 private:
  CLI::App* command_;
  std::string packagePath_;
  bool json_ = false;
};

}  // namespace vortan::cli
