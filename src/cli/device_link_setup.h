// SPDX-License-Identifier: Apache-2.0
#pragma once
// How the commands that reach the device (devices, flash) get their link: the real USB HID
// backend, or an emulator with simulated devices (--simulate and its companions), optionally
// wrapped in a trace of every report (--trace FILE).
#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <string>

#include "cli/run_events.h"
#include "cli/trace_file.h"
#include "emulator/loader_device.h"
#include "emulator/simulation/simulated_keyboards.h"
#include "link/hid_backend.h"
#include "package/dat_file_examine.h"

namespace vortan::cli {

class Reporter;

// Makes the backend of the real device (hidapi in vortan-flash).
using BackendFactory = std::function<std::shared_ptr<HidBackend>()>;

// The simulation options (shared with the window) and the trace.
struct DeviceLinkOptions : emu::SimulationOptions {
  std::string tracePath;
};

// Adds --simulate, --simulate-devices, --simulate-faults, --simulate-denied,
// --simulate-arrival and --trace.
void AddDeviceLinkOptions(CLI::App& command, DeviceLinkOptions& options);

// Installs the command's backend for the link and, on destruction, closes the link if a run
// left it open. One per process.
class DeviceLinkSetup {
 public:
  DeviceLinkSetup() = default;
  ~DeviceLinkSetup();
  DeviceLinkSetup(const DeviceLinkSetup&) = delete;
  DeviceLinkSetup& operator=(const DeviceLinkSetup&) = delete;

  // Reads the fault script and opens the trace file, once; Install does it when not done before.
  // Commands call it before the package writes its work files, so a path that is no regular
  // file is refused first. False with a message in `error`.
  bool OpenFiles(const DeviceLinkOptions& options, std::string* error);
  // Installs the real backend or, when simulating, an emulator with the simulated devices and
  // their faults (no flash memories yet: see Fit), locked through files in `lockFolder`. False
  // with a message in `error` when the trace file cannot be written or the fault script cannot
  // be read or parsed.
  bool Install(const DeviceLinkOptions& options, const BackendFactory& realBackend,
               const std::string& lockFolder, std::string* error);
  // When simulating, shapes the simulated devices' flash memories after the ready `package`, so
  // its update can succeed: every device's, or only the selected path's (HidDevice::SelectPath).
  // False with a message in `error` when it cannot be done.
  bool Fit(const DatFileExamine& package, std::string* error);
  // After a rehearsal on `keyboard`: tells `reporter` which fault script lines aimed at it never
  // fired, so a rehearsal meant to fail that succeeded is not taken for a proof. Nothing when
  // not simulating.
  void ReportUnfiredFaults(const KeyboardName& keyboard, Reporter& reporter) const;
  // Closes the trace file; false with the reason when a line of it could not be written.
  bool FinishTrace(std::string* error);

 private:
  std::unique_ptr<emu::SimulatedKeyboards> simulation_;
  bool filesOpened_ = false;
  std::vector<emu::Fault> faults_;
  std::shared_ptr<TraceFile> trace_;
};

// `status`, or kExitOutputFailed in place of success when the trace could not be written wholly
// (said on stderr).
int WithTraceChecked(DeviceLinkSetup& setup, int status);

}  // namespace vortan::cli
