#include "emulator/simulation/simulated_keyboards.h"

#include <limits>
#include <string_view>

#include "emulator/simulation/simulated_device.h"
#include "link/clock.h"
#include "util/regular_file.h"

namespace vortan::emu {
namespace {

// Far above any script a rehearsal needs; /dev/zero or a huge file must not fill the memory.
constexpr uint64_t kMaxFaultScriptBytes = 1 << 20;

}  // namespace

bool SimulationOptions::Simulated() const {
  return simulate || simulatedDevices >= 0 || !faultScriptPath.empty() || simulateDenied ||
         simulatedArrivalSeconds > 0;
}

bool ReadFaultScript(const std::string& path, std::vector<Fault>& faults, std::string* error) {
  ByteBuffer bytes;
  if (!ReadRegularFile(path, kMaxFaultScriptBytes, bytes, SymlinkPolicy::kRefuse)) {
    *error = "Cannot read the fault script " + path +
             " (a regular file of at most 1 MiB, not a link, is needed)";
    return false;
  }
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::string why;
  if (!ParseFaultScript(text, faults, &why)) {
    *error = "Fault script " + path + ": " + why;
    return false;
  }
  return true;
}

SimulatedKeyboards::SimulatedKeyboards(const SimulationOptions& options,
                                       const std::vector<Fault>& faults,
                                       const std::string& lockFolder)
    : emulator_(std::make_shared<Emulator>()), count_(options.SimulatedDeviceCount()) {
  // A trace, when asked for, is written by the tracing backend; a long run must not pile up an
  // in-memory copy.
  emulator_->SetTraceLimit(0);
  emulator_->SetLockFolder(lockFolder);
  for (int i = 0; i < count_; ++i) {
    LoaderDevice& device = AttachSimulatedDevice(*emulator_);
    for (const Fault& fault : faults) {
      if (fault.device < 0 || fault.device == i) device.AddFault(fault);
    }
  }
  if (options.simulateDenied) {
    // Every open fails, as a missing udev rule would make it.
    emulator_->FailOpens(std::numeric_limits<int>::max(), "Permission denied", /*denied=*/true);
  }
  emulator_->HideDevicesUntil(ProcessClock().Now() +
                              std::chrono::seconds(options.simulatedArrivalSeconds));
}

bool SimulatedKeyboards::Fit(const DatFileExamine& package, const std::string& chosenPath,
                             std::string* error) {
  for (int i = 0; i < count_; ++i) {
    // A process bound to one keyboard never opens the others: their memories would be waste.
    if (!chosenPath.empty() && Emulator::PathOf(static_cast<size_t>(i), 0) != chosenPath) continue;
    if (!FitSimulatedDevice(emulator_->Device(static_cast<size_t>(i)), package)) {
      *error = "The simulated device cannot be fitted to this package";
      return false;
    }
  }
  return true;
}

}  // namespace vortan::emu
