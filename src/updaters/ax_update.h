// SPDX-License-Identifier: Apache-2.0
#pragma once
// Base of the chip-family updaters: the work-file paths, the image, the step count, the family
// code, the virtual step interface the package object and the update run drive, and the loader
// commands every family shares (update mode, region check, finish) with their checksums.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "link/hid_device.h"
#include "util/bulk_buffer.h"

namespace vortan {

// One stretch the update writes: `length` image bytes from `imageOffset` on land at the flash
// byte address `flashAddress`.
struct PlannedRegion {
  uint64_t flashAddress;
  uint64_t imageOffset;
  uint64_t length;
  bool operator==(const PlannedRegion&) const = default;
};

// The flash a device needs for an updater's plan to fit, in the family's own terms; a family
// fills the fields it has and leaves the rest at their defaults.
struct FlashGeometry {
  // The family's own code (its kFamilyCode), whatever a "Chip Type" entry sends; 0 for none.
  uint32_t family = 0;
  // Sector starts in the family's address units, ascending (a family of listed sectors).
  std::vector<uint32_t> sectorAddresses;
  // Bus cycles in a row that make one sector erase (a family erasing by cycles).
  uint32_t eraseCycles = 0;
  // Address the family's write offsets count from.
  uint32_t startAddress = 0;
  // Flash bytes the device must hold from address 0.
  uint64_t size = 0;
};

class AXUpdate {
 public:
  AXUpdate(std::string cnfgPath, std::string dataPath);
  virtual ~AXUpdate();
  AXUpdate(const AXUpdate&) = delete;
  AXUpdate& operator=(const AXUpdate&) = delete;

  // Reads the chip description at cnfgPath, checks it, reads the image at dataPath and plans
  // the steps. The base refuses.
  virtual bool Load();
  virtual bool CheckSettings();
  virtual bool PrepareSteps();
  // Middle step `index` + 1 of this updater. The base does nothing and succeeds.
  virtual bool RunStep(int index);
  // The last step: verification of the written data. `step` is the run's step number, unused.
  virtual bool FinalStep(int step);
  // Opens the link (exactly one device) and asks the loader for update mode, at most `attempts`
  // times back to back; true on the reply 0xF1.
  virtual bool EnterUpdateMode(int attempts);

  int32_t StepCount() const { return stepCount; }

  // What a loaded updater will write where, in order, and the flash that must take it: the one
  // seam through which simulated devices and tests see a family. The base plans nothing.
  virtual std::vector<PlannedRegion> PlannedRegions() const;
  virtual FlashGeometry Geometry() const;

  // Forward to the one link (see HidDevice). Replies read through ReceiveMessage alone may be
  // shorter than the buffer; commands compare replies through Exchange/ReceiveExact instead.
  bool SendMessage(const uint8_t* data, uint32_t length);
  bool ReceiveMessage(uint8_t* buffer, uint32_t capacity, uint32_t* received = nullptr);

  // Command 8: true when the loader's 16-bit checksum of the region equals `expected`. Units of
  // address and length are the family's. Needs an open link (earlier steps opened it).
  bool CheckRegion(uint32_t address, uint32_t length, uint16_t expected);
  // Command 9 with the outcome; closes the link afterwards whatever the reply. True when the
  // loader echoed the command. False without sending when the link cannot be opened.
  bool FinishUpdate(bool success);

  // 16-bit sum of the image's little-endian words (a last odd byte is not counted).
  uint16_t ImageChecksum() const;
  static uint16_t WordChecksum(const uint8_t* data, int32_t length);
  static uint16_t ByteChecksum(const uint8_t* data, int32_t length);

  // What Load read from the work files, so the package can check them against its own bytes.
  std::span<const uint8_t> DescriptionBytes() const {
    return {descriptionBytes.data(), descriptionBytes.size()};
  }
  std::span<const uint8_t> ImageBytes() const { return {imageData.data(), imageData.size()}; }
  uint32_t FamilyCode() const { return familyCode; }
  const std::string& CnfgPath() const { return cnfgPath; }
  const std::string& DataPath() const { return dataPath; }

 protected:
  // The loop of EnterUpdateMode, for families that extend it: opens the link (exactly one device)
  // and sends the update-mode request at most `attempts` times back to back. Returns the number
  // of the try the loader accepted with 0xF1 (1 to `attempts`); 0 when the link could not be
  // opened, `attempts` is below 1 or no try was accepted.
  int RequestUpdateMode(int attempts);
  // Sends `request` and reads a reply that must be exactly reply.size() bytes: a shorter reply is
  // a failure, never a comparison against stale bytes. The reply buffer is zeroed first.
  bool Exchange(std::span<const uint8_t> request, std::span<uint8_t> reply);
  // Reads one reply of exactly reply.size() bytes into the zeroed buffer.
  bool ReceiveExact(std::span<uint8_t> reply);
  // Reads the chip description file whole into descriptionBytes. False if it cannot be read.
  bool ReadDescriptionFile();
  // Reads the image file whole into imageData/imageLength. False if it cannot be opened, read
  // whole, or is empty.
  bool ReadImageFile();

  std::string cnfgPath;
  std::string dataPath;
  ByteBuffer imageData;
  int64_t imageLength = 0;
  uint16_t imageChecksum = 0;
  int32_t stepCount = 0;
  HidDevice* device;
  uint32_t familyCode = 0;
  ByteBuffer descriptionBytes;
};

}  // namespace vortan
