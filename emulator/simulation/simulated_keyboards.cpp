// SPDX-License-Identifier: Apache-2.0
#include "emulator/simulation/simulated_keyboards.h"

#include <limits>
#include <set>
#include <string_view>

#include "emulator/simulation/simulated_device.h"
#include "updaters/a1_update.h"
#include "updaters/a2_update.h"
#include "updaters/c1_update.h"
#include "util/clock.h"
#include "util/regular_file.h"

namespace vortan::emu {
namespace {

// Far above any script a rehearsal needs; /dev/zero or a huge file must not fill the memory.
constexpr uint64_t kMaxFaultScriptBytes = 1 << 20;

// The prefix of a family's command kinds ("a2."), by the family's code.
std::string FamilyPrefix(uint32_t family) {
  switch (family) {
    case A2Update::kFamilyCode:
      return "a2.";
    case C1Update::kFamilyCode:
      return "c1.";
    case A1Update::kFamilyCode:
      return "a1.";
    default:
      return "";
  }
}

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
    : emulator_(std::make_shared<Emulator>()),
      count_(options.SimulatedDeviceCount()),
      faults_(faults) {
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

bool SimulatedKeyboards::FaultsCanFire(const DatFileExamine& package, std::string* error) const {
  std::set<std::string> families;
  for (int pack = 1; pack <= package.CountDataPack(); ++pack) {
    if (const AXUpdate* updater = package.Updater(pack)) {
      families.insert(FamilyPrefix(updater->Geometry().family));
    }
  }
  for (const Fault& fault : faults_) {
    const size_t dot = fault.kind.find('.');
    const char* never = nullptr;
    if (fault.device >= count_) {
      never = "device= is beyond the simulated keyboards";
    } else if (dot != std::string::npos && !families.count(fault.kind.substr(0, dot + 1))) {
      never = "the package has no data pack of this chip family";
    }
    if (never) {
      *error = "Fault script line " + std::to_string(fault.line) + ": " + fault.text +
               " (never fires: " + never + ")";
      return false;
    }
  }
  return true;
}

bool SimulatedKeyboards::Fit(const DatFileExamine& package, const std::string& chosenPath,
                             std::string* error) {
  if (!FaultsCanFire(package, error)) return false;
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

std::vector<Fault> SimulatedKeyboards::UnfiredFaults(const std::string& path) const {
  for (int i = 0; i < count_; ++i) {
    if (Emulator::PathOf(static_cast<size_t>(i), 0) == path) {
      return emulator_->Device(static_cast<size_t>(i)).UnfiredFaults();
    }
  }
  return {};
}

}  // namespace vortan::emu
