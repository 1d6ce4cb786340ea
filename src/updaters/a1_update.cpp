// SPDX-License-Identifier: Apache-2.0
#include "updaters/a1_update.h"

#include <algorithm>

#include "updaters/a1_commands.h"
#include "updaters/chip_description_reader.h"
#include "updaters/loader_commands.h"
#include "util/byte_text.h"
#include "util/checksums.h"

namespace vortan {

A1Update::A1Update(std::string cnfgPath_, std::string dataPath_)
    : AXUpdate(std::move(cnfgPath_), std::move(dataPath_)) {
  familyCode = kFamilyCode;
}

bool A1Update::Load() {
  // A description that cannot be read gives no settings; CheckSettings then refuses the zero
  // chip size.
  if (!ReadDescriptionFile()) descriptionBytes.clear();
  const auto chipInfo = NumberKeys({{"Chip Type", &familyCode}, {"Chip Size", &chipSize}});
  const ChipSection sections[] = {
      {"Chip Info", SectionKind::kKeys,
       [this, chipInfo](std::string_view key, std::string_view value) {
         if (!EqualsNoCase(key, "Chip Name")) return chipInfo(key, value);
         chipName = std::string(value);
         return LineOutcome::kTaken;
       }},
      {"Transmission Info", SectionKind::kKeys,
       NumberKeys({{"Start Address", &startAddress},
                   {"Data Length", &dataLength},
                   {"Time Over", &timeOver}})},
  };
  if (!ReadChipDescription(AsText(descriptionBytes), A1ChipSyntax(), sections)) return false;
  if (!CheckSettings()) return false;
  if (!ReadImageFile()) return false;
  if (!PrepareSteps()) return false;
  stepCount = plan->StepCount();
  transferOffset = 0;
  bytesSent = 0;
  return true;
}

bool A1Update::CheckSettings() {
  if (chipSize == 0) return false;
  if (dataLength == 0) dataLength = kA1MaxBlockLength;
  return dataLength % kA1PieceSize == 0;
}

bool A1Update::PrepareSteps() {
  plan = A1StepPlan::Make(chipSize, startAddress, dataLength, imageLength);
  if (!plan) return false;
  dataLength = plan->dataLength;
  return true;
}

bool A1Update::RunStep(int b) {
  if (!plan || b < 0 || b >= plan->blockCount) return false;
  if (b == 0) {
    transferOffset = 0;
    bytesSent = 0;
  }
  const A1Block block = plan->Block(b);
  const uint8_t* bytes = imageData.data() + block.offset;
  const uint16_t sum = ByteChecksum(bytes, static_cast<int32_t>(block.length));
  imageChecksum = sum;
  const auto command = EncodeBlockWrite(transferOffset, block.length, sum);
  bytesSent += block.length;
  uint8_t echo[kA1WriteReplySize];
  if (!Exchange(command, echo) || !std::equal(command.begin(), command.end(), echo)) return false;
  for (const A1Piece& piece : A1Pieces(block)) {
    if (!SendMessage(imageData.data() + piece.offset, piece.length)) return false;
  }
  uint8_t received[1];
  if (!ReceiveExact(received) || received[0] != kA1BlockReceived) return false;
  uint8_t stored[1];
  if (!ReceiveExact(stored) || stored[0] != kA1BlockStored) return false;
  transferOffset += block.length;
  return true;
}

bool A1Update::FinalStep(int) {
  if (!plan) return false;
  const uint16_t sum =
      static_cast<uint16_t>(ByteSum32(imageData.data(), static_cast<size_t>(imageLength)));
  imageChecksum = sum;
  return CheckRegion(startAddress, bytesSent, sum);
}

std::vector<PlannedRegion> A1Update::PlannedRegions() const {
  std::vector<PlannedRegion> regions;
  if (!plan) return regions;
  for (const A1Block& block : plan->Blocks()) {
    regions.push_back({uint64_t{startAddress} + block.offset, block.offset, block.length});
  }
  return regions;
}

FlashGeometry A1Update::Geometry() const {
  FlashGeometry geometry;
  geometry.family = kFamilyCode;
  geometry.startAddress = startAddress;
  geometry.size = chipSize;
  return geometry;
}

}  // namespace vortan
