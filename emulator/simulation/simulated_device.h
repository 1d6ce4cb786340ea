// SPDX-License-Identifier: Apache-2.0
#pragma once
// A simulated keyboard for rehearsing an update without hardware: one emulated loader device
// with the link's configured IDs, fitted with flash models whose geometry follows a ready
// package, so that the package's whole update succeeds against it. vortan-flash --simulate and
// the window's --simulate use these two functions; tests use them too.
#include <optional>
#include <string>

#include "emulator/emulator.h"
#include "emulator/loader_device.h"
#include "package/dat_file_examine.h"

namespace vortan::emu {

// Attaches one device with the link's vendor and product ID (low 16 bits of HidDevice::Vid() and
// Pid()), one HID interface and no family models yet.
LoaderDevice& AttachSimulatedDevice(Emulator& emulator);

// Clears the device's families and adds, for each data pack of `package`, a model of its
// updater's family (family_models.h) under the low byte of its FamilyCode(), shaped to the
// updater's Geometry(): A2 the sector address list and erase cycle count of its settings; C1 a
// capacity of the flash the image needs rounded up to a power of two (at least 64 KiB); A1 its
// start address and chip size. False, leaving the device without families, when the package
// is not ready or a family has no model.
//
// Two packs with the same family code share one model, as they share one flash on a device: the
// second pack's update-mode request resets only the model's run state, never its content, so the
// second image is written over the same flash and replaces the first where they overlap (the
// first was verified by its own final step before). The shared geometry covers both packs: A2
// the union of the sector lists (an erase on every poll when the cycle counts differ), C1 the
// larger capacity, A1 the first pack's start address (a loader has one) and the larger chip
// size. Packs of different families that claim one code get the first pack's model, and the
// second pack fails as it would on a device.
//
// Call it only while no run is active: models are swapped without the emulator's lock.
bool FitSimulatedDevice(LoaderDevice& device, const DatFileExamine& package);

// What differs between the updater's PlannedRegions() in its image and the flash of the
// device's model under its family code, in words; nullopt when the flash holds every region.
std::optional<std::string> PlannedImageDifference(const LoaderDevice& device,
                                                  const AXUpdate& updater);

}  // namespace vortan::emu
