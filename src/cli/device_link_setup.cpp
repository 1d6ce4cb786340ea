// SPDX-License-Identifier: Apache-2.0
#include "cli/device_link_setup.h"

#include <iostream>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/reporter.h"
#include "emulator/emulator.h"
#include "link/hid_device.h"
#include "link/tracing_backend.h"

namespace vortan::cli {

void AddDeviceLinkOptions(CLI::App& command, DeviceLinkOptions& options) {
  command.add_flag("--simulate", options.simulate,
                   "Use one simulated device instead of USB (fitted to the package)");
  command
      .add_option("--simulate-devices", options.simulatedDevices,
                  "Attach N simulated devices (implies --simulate)")
      ->check(CLI::Range(0, emu::kMaxSimulatedDevices));
  command
      .add_option("--simulate-faults", options.faultScriptPath,
                  "Fault script for the simulated device (implies --simulate)")
      ->check(CLI::ExistingFile);
  command.add_flag("--simulate-denied", options.simulateDenied,
                   "The simulated device refuses to open for lack of permission (implies "
                   "--simulate)");
  command
      .add_option("--simulate-arrival", options.simulatedArrivalSeconds,
                  "The simulated devices are plugged in SECONDS after the start (implies "
                  "--simulate)")
      ->check(CLI::Range(0, emu::kMaxSimulatedArrivalSeconds));
  command.add_option("--trace", options.tracePath,
                     "Write every report exchanged with the device to FILE, one hex line each");
}

DeviceLinkSetup::~DeviceLinkSetup() {
  HidDevice& link = HidDevice::Instance();
  if (link.IsOpen()) link.Close();
}

bool DeviceLinkSetup::OpenFiles(const DeviceLinkOptions& options, std::string* error) {
  if (filesOpened_) return true;
  if (!options.faultScriptPath.empty() &&
      !emu::ReadFaultScript(options.faultScriptPath, faults_, error)) {
    return false;
  }
  if (!options.tracePath.empty()) {
    auto trace = std::make_shared<TraceFile>();
    if (!trace->Open(options.tracePath, error)) return false;
    trace_ = std::move(trace);
  }
  filesOpened_ = true;
  return true;
}

bool DeviceLinkSetup::FinishTrace(std::string* error) {
  return !trace_ || trace_->Finish(error);
}

int WithTraceChecked(DeviceLinkSetup& setup, int status) {
  std::string error;
  if (setup.FinishTrace(&error)) return status;
  std::cerr << error << '\n';
  return status == kExitSuccess ? kExitOutputFailed : status;
}

bool DeviceLinkSetup::Install(const DeviceLinkOptions& options, const BackendFactory& realBackend,
                              const std::string& lockFolder, std::string* error) {
  if (!OpenFiles(options, error)) return false;
  std::shared_ptr<HidBackend> backend;
  if (options.Simulated()) {
    simulation_ = std::make_unique<emu::SimulatedKeyboards>(options, faults_, lockFolder);
    backend = simulation_->Backend();
  } else {
    backend = realBackend();
  }
  if (trace_) {
    backend = std::make_shared<TracingBackend>(
        std::move(backend), [trace = trace_](const std::string& line) { trace->WriteLine(line); });
  }
  HidDevice::UseBackend(std::move(backend));
  return true;
}

bool DeviceLinkSetup::Fit(const DatFileExamine& package, std::string* error) {
  return !simulation_ || simulation_->Fit(package, HidDevice::SelectedPath(), error);
}

void DeviceLinkSetup::ReportUnfiredFaults(const KeyboardName& keyboard, Reporter& reporter) const {
  if (!simulation_) return;
  for (const emu::Fault& fault : simulation_->UnfiredFaults(keyboard.path)) {
    reporter.FaultUnfired(keyboard, fault.line, fault.text);
  }
}

}  // namespace vortan::cli
