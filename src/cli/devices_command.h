// SPDX-License-Identifier: Apache-2.0
#pragma once
// `vortan-flash devices`: counts the attached devices with the configured IDs and prints the
// status text the window would show without a package. When exactly one is attached it opens
// and closes it, and if that fails says why (and, for a permission refusal, how to install the
// udev rule). Exit status kExitSuccess only when exactly one device is attached and opens;
// otherwise kExitNoSingleDevice. With --wait it first waits for the one device.
//
// With --list it prints instead one line per matching HID interface (path, serial number,
// manufacturer and product strings, interface number; with --json one JSON object per line) and
// opens nothing: exit status kExitSuccess when at least one is listed.
#include <CLI/CLI.hpp>

#include "cli/device_link_setup.h"
#include "cli/global_options.h"
#include "cli/wait_option.h"

namespace vortan::cli {

class DevicesCommand {
 public:
  explicit DevicesCommand(CLI::App& app);
  bool Selected() const;
  int Run(const GlobalOptions& options) const;

 private:
  int Count(DeviceLinkSetup& setup, const GlobalOptions& options) const;
  CLI::App* command_;
  DeviceLinkOptions link_;
  WaitOption wait_;
  bool list_ = false;
  bool json_ = false;
};

}  // namespace vortan::cli
