// SPDX-License-Identifier: Apache-2.0
#pragma once
// The simulated keyboards of a rehearsal, as vortan-flash's and the window's simulation options
// describe them: how many, their fault script, a refused open, a late arrival. Both programs
// build them here, so a rehearsal behaves alike in either.
#include <memory>
#include <string>
#include <vector>

#include "emulator/emulator.h"
#include "emulator/loader_device.h"
#include "package/dat_file_examine.h"

namespace vortan::emu {

// Enough to rehearse "More than one device!" with any count a user might plug in.
inline constexpr int kMaxSimulatedDevices = 16;
// The latest arrival a rehearsal may ask for, in seconds.
inline constexpr int kMaxSimulatedArrivalSeconds = 3600;

struct SimulationOptions {
  bool simulate = false;
  // How many simulated devices are attached; -1 when not given (one).
  int simulatedDevices = -1;
  // Fault script for the simulated devices: a line with device=N aims at the N-th in
  // enumeration order, one without at every one.
  std::string faultScriptPath;
  // Every simulated device refuses to open for lack of permission.
  bool simulateDenied = false;
  // The simulated devices appear this many seconds after the start; 0 at once.
  int simulatedArrivalSeconds = 0;

  // Any of the simulation options asks for simulated devices instead of the real backend.
  bool Simulated() const;
  int SimulatedDeviceCount() const { return simulatedDevices < 0 ? 1 : simulatedDevices; }
};

// Reads and parses the fault script at `path` (a regular file of at most 1 MiB, not a link).
// False with a message naming the file, and the line when one is wrong, in `error`.
bool ReadFaultScript(const std::string& path, std::vector<Fault>& faults, std::string* error);

class SimulatedKeyboards {
 public:
  // Attaches options.SimulatedDeviceCount() devices with the link's IDs, each with the faults
  // aimed at it, locked through files in `lockFolder`. No flash memories yet: see Fit.
  SimulatedKeyboards(const SimulationOptions& options, const std::vector<Fault>& faults,
                     const std::string& lockFolder);

  // The emulator to install as the link's backend.
  const std::shared_ptr<Emulator>& Backend() const { return emulator_; }
  int Count() const { return count_; }

  // Shapes the flash memories after the ready `package` so its update can succeed: every
  // device's, or only the one at `chosenPath` when it is not empty. False with a message in
  // `error` when it cannot be done, or when a fault can never fire with this package and these
  // keyboards (device=N beyond them, a kind of a chip family the package has no data pack of):
  // the message then names the script line. Call it only while no run is active.
  bool Fit(const DatFileExamine& package, const std::string& chosenPath, std::string* error);

  // The faults aimed at the keyboard at `path` that have not fired, in script order.
  std::vector<Fault> UnfiredFaults(const std::string& path) const;

 private:
  bool FaultsCanFire(const DatFileExamine& package, std::string* error) const;

  std::shared_ptr<Emulator> emulator_;
  int count_ = 0;
  std::vector<Fault> faults_;
};

}  // namespace vortan::emu
