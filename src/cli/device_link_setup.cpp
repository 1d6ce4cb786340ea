#include "cli/device_link_setup.h"

#include <iterator>
#include <limits>
#include <vector>

#include "emulator/emulator.h"
#include "emulator/simulation/simulated_device.h"
#include "link/clock.h"
#include "link/hid_device.h"
#include "link/tracing_backend.h"

namespace vortan::cli {
namespace {

// Enough to rehearse "More than one device!" with any count a user might plug in.
constexpr int kMaxSimulatedDevices = 16;

bool ReadFaultScript(const std::string& path, std::vector<emu::Fault>& faults, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!in.good() && !in.eof()) {
    *error = "Cannot read the fault script " + path;
    return false;
  }
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

bool DeviceLinkSetup::Install(const DeviceLinkOptions& options, const BackendFactory& realBackend,
                              const DatFileExamine* package, const std::string& lockFolder,
                              std::string* error) {
  std::shared_ptr<HidBackend> backend;
  if (options.Simulated()) {
    std::vector<emu::Fault> faults;
    if (!options.faultScriptPath.empty() &&
        !ReadFaultScript(options.faultScriptPath, faults, error)) {
      return false;
    }
    emulator_ = std::make_shared<emu::Emulator>();
    // The trace, when asked for, is written by the tracing backend; a long run must not pile
    // up an in-memory copy.
    emulator_->SetTraceLimit(0);
    emulator_->SetLockFolder(lockFolder);
    for (int i = 0; i < options.SimulatedDeviceCount(); ++i) {
      emu::LoaderDevice& device = emu::AttachSimulatedDevice(*emulator_);
      if (package && !emu::FitSimulatedDevice(device, *package)) {
        *error = "The simulated device cannot be fitted to this package";
        return false;
      }
      if (i == 0) device.AddFaults(faults);
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

  if (!options.tracePath.empty()) {
    auto file = std::make_shared<std::ofstream>(options.tracePath, std::ios::trunc);
    if (!*file) {
      *error = "Cannot write the trace file " + options.tracePath;
      return false;
    }
    // Flushed per line, so a trace of a run that hangs or is killed still shows its last report.
    backend = std::make_shared<TracingBackend>(
        std::move(backend), [file](const std::string& line) { *file << line << std::endl; });
  }
  HidDevice::UseBackend(std::move(backend));
  return true;
}

}  // namespace vortan::cli
