// SPDX-License-Identifier: Apache-2.0
#pragma once
// `vortan-flash flash PACKAGE`: opens the package as the window does, requires exactly one
// attached device (otherwise prints the window's status text and exits kExitNoSingleDevice),
// runs the whole update as the window's update thread does, with a progress bar on a terminal
// or plain lines otherwise on stderr, and ends with "Update Success!" (kExitSuccess) or
// "Update Error!" (kExitUpdateFailed), after a failed write with the window's advice on the
// keyboard's loader. The work files are removed afterwards. With --wait it first waits for the
// one device, showing the keys that open its loader meanwhile.
//
// --device PATH updates the keyboard at that path (as `devices --list` shows it) whatever else
// is attached; a path that is no attached keyboard with the configured IDs exits
// kExitNoSingleDevice before the package is opened. --all updates every attached keyboard at
// once, one child process per keyboard (see parallel_flash.h). --json writes the run's events
// as JSON Lines on stdout (run_events.h) and every human text on stderr.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/device_link_setup.h"
#include "cli/global_options.h"
#include "cli/parallel_flash.h"
#include "cli/reporter.h"
#include "cli/wait_option.h"

namespace vortan::cli {

class FlashCommand {
 public:
  explicit FlashCommand(CLI::App& app);
  bool Selected() const;
  int Run(const GlobalOptions& options) const;

 private:
  // What a run left for the report: its outcome, the last completed step (-1 for none), the
  // plan's step count and the reason of an exception that ended it.
  struct RunOutcome {
    bool success = false;
    int32_t lastDone = -1;
    int32_t total = 0;
    std::string thrown;
  };

  int Flash(DatFileExamine& datFile, DeviceLinkSetup& setup, const GlobalOptions& options) const;

  // The steps of a single flash, in order. Each returns kExitSuccess to go on, else the
  // command's exit status, having said why on stderr.
  // --device: selects the path and puts its entry in `keyboards`, before the package is opened.
  int ChooseNamedKeyboard(std::vector<HidDeviceInfo>& keyboards) const;
  int OpenAndFit(DatFileExamine& datFile, DeviceLinkSetup& setup) const;
  // Without --device: --wait, then exactly one attached keyboard, whose entry `keyboards` gets.
  int WaitForOneKeyboard(const DatFileExamine& datFile, const GlobalOptions& options,
                         std::vector<HidDeviceInfo>& keyboards) const;
  // Takes the keyboard's lock, runs the update and reports it; returns the final status.
  int ClaimAndRun(DatFileExamine& datFile, DeviceLinkSetup& setup, const KeyboardName& keyboard,
                  const GlobalOptions& options, Reporter& reporter) const;
  RunOutcome RunWithProgress(DatFileExamine& datFile, const KeyboardName& keyboard,
                             Reporter& reporter) const;
  int Report(const DatFileExamine& datFile, const KeyboardName& keyboard, const RunOutcome& outcome,
             const GlobalOptions& options, Reporter& reporter) const;
  int FlashEvery(DatFileExamine& datFile, DeviceLinkSetup& setup, const GlobalOptions& options,
                 Reporter& reporter) const;
  // Tries the trace file of each of `keyboards` children (at least one); false, said on
  // stderr, when one cannot be written.
  bool ChildTracesWritable(size_t keyboards) const;
  ParallelFlashPlan ParallelPlan(const std::vector<HidDeviceInfo>& keyboards,
                                 const GlobalOptions& options, Reporter& reporter) const;
  // The trace file of the child that updates keyboard number `keyboard` (FILE.N).
  std::string ChildTracePath(size_t keyboard) const;
  // The command line of the child that updates the keyboard at `path`, after the program name.
  std::vector<std::string> ChildArgs(const std::vector<std::string>& globalArgs,
                                     const std::string& path, size_t keyboard) const;

  CLI::App* command_;
  std::string packagePath_;
  bool verbose_ = false;
  std::string devicePath_;
  bool all_ = false;
  bool json_ = false;
  DeviceLinkOptions link_;
  WaitOption wait_;
};

}  // namespace vortan::cli
