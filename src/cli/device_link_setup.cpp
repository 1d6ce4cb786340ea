#include "cli/device_link_setup.h"

#include <iostream>
#include <limits>
#include <string_view>
#include <vector>

#include "cli/exit_codes.h"
#include "emulator/emulator.h"
#include "emulator/simulation/simulated_device.h"
#include "link/clock.h"
#include "link/hid_device.h"
#include "link/tracing_backend.h"
#include "util/regular_file.h"

namespace vortan::cli {
namespace {

// Enough to rehearse "More than one device!" with any count a user might plug in.
constexpr int kMaxSimulatedDevices = 16;

// Far above any script a rehearsal needs; /dev/zero or a huge file must not fill the memory.
constexpr uint64_t kMaxFaultScriptBytes = 1 << 20;

bool ReadFaultScript(const std::string& path, std::vector<emu::Fault>& faults, std::string* error) {
  ByteBuffer bytes;
  if (!ReadRegularFile(path, kMaxFaultScriptBytes, bytes, SymlinkPolicy::kRefuse)) {
    *error = "Cannot read the fault script " + path +
             " (a regular file of at most 1 MiB, not a link, is needed)";
    return false;
  }
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::string why;
  if (!emu::ParseFaultScript(text, faults, &why)) {
    *error = "Fault script " + path + ": " + why;
    return false;
  }
  return true;
}

}  // namespace

bool DeviceLinkOptions::Simulated() const {
  return simulate || simulatedDevices >= 0 || !faultScriptPath.empty() || simulateDenied ||
         simulatedArrivalSeconds > 0;
}

void AddDeviceLinkOptions(CLI::App& command, DeviceLinkOptions& options) {
  command.add_flag("--simulate", options.simulate,
                   "Use one simulated device instead of USB (fitted to the package)");
  command
      .add_option("--simulate-devices", options.simulatedDevices,
                  "Attach N simulated devices (implies --simulate)")
      ->check(CLI::Range(0, kMaxSimulatedDevices));
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
      ->check(CLI::Range(0, 3600));
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
      !ReadFaultScript(options.faultScriptPath, faults_, error)) {
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
    emulator_ = std::make_shared<emu::Emulator>();
    // The trace, when asked for, is written by the tracing backend; a long run must not pile
    // up an in-memory copy.
    emulator_->SetTraceLimit(0);
    emulator_->SetLockFolder(lockFolder);
    simulatedDevices_ = options.SimulatedDeviceCount();
    for (int i = 0; i < simulatedDevices_; ++i) {
      emu::LoaderDevice& device = emu::AttachSimulatedDevice(*emulator_);
      for (const emu::Fault& fault : faults_) {
        if (fault.device < 0 || fault.device == i) device.AddFault(fault);
      }
    }
    if (options.simulateDenied) {
      // Every open fails, as a missing udev rule would make it.
      emulator_->FailOpens(std::numeric_limits<int>::max(), "Permission denied", /*denied=*/true);
    }
    emulator_->HideDevicesUntil(ProcessClock().Now() +
                                std::chrono::seconds(options.simulatedArrivalSeconds));
    backend = emulator_;
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
  const std::string& chosen = HidDevice::SelectedPath();
  for (int i = 0; emulator_ && i < simulatedDevices_; ++i) {
    // A process bound to one keyboard never opens the others: their memories would be waste.
    if (!chosen.empty() && emu::Emulator::PathOf(static_cast<size_t>(i), 0) != chosen) continue;
    if (!emu::FitSimulatedDevice(emulator_->Device(static_cast<size_t>(i)), package)) {
      *error = "The simulated device cannot be fitted to this package";
      return false;
    }
  }
  return true;
}

}  // namespace vortan::cli
