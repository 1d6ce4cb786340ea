#pragma once
// `vortan-flash flash PACKAGE`: opens the package as the window does, requires exactly one
// attached device (otherwise prints the window's status text and exits kExitNoSingleDevice),
// runs the whole update as the window's update thread does, with a progress bar on a terminal
// or plain lines otherwise on stderr, and ends with "Update Success!" (kExitSuccess) or
// "Update Error!" (kExitUpdateFailed). The work files are removed afterwards. With --wait it
// first waits for the one device, showing the keys that open its loader meanwhile.
#include <CLI/CLI.hpp>
#include <string>

#include "cli/device_link_setup.h"
#include "cli/global_options.h"
#include "cli/wait_option.h"

namespace vortan::cli {

class FlashCommand {
 public:
  explicit FlashCommand(CLI::App& app);
  bool Selected() const;
  int Run(const GlobalOptions& options) const;

 private:
  int Flash(DatFileExamine& datFile, DeviceLinkSetup& setup, const GlobalOptions& options) const;

  CLI::App* command_;
  std::string packagePath_;
  bool verbose_ = false;
  DeviceLinkOptions link_;
  WaitOption wait_;
};

}  // namespace vortan::cli
