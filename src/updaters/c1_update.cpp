// SPDX-License-Identifier: Apache-2.0
#include "updaters/c1_update.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "updaters/c1_commands.h"
#include "updaters/chip_description_reader.h"
#include "util/byte_text.h"
#include "util/clock.h"

namespace vortan {
namespace {

// The loader is polled every 20 ms. A sector gets 100 polls (about two seconds) and five
// overruns after them: the 106th poll that still reports busy fails the erase.
constexpr std::chrono::milliseconds kErasePollInterval{20};
constexpr int kErasePolls = 106;

}  // namespace

C1Update::C1Update(std::string cnfgPath_, std::string dataPath_)
    : AXUpdate(std::move(cnfgPath_), std::move(dataPath_)) {
  familyCode = kFamilyCode;
}

bool C1Update::Load() {
  if (!ReadDescriptionFile()) return false;
  const auto number = [](uint32_t& destination) {
    return [&destination](std::string_view, std::string_view value) {
      return StoreNumber(value, destination);
    };
  };
  const ChipSection sections[] = {
      {"reserved sector", SectionKind::kLines,
       [this](std::string_view, std::string_view value) {
         return AppendNumber(value, reservedSectors);
       }},
      {"line mode", SectionKind::kKeyNotExamined, number(lineMode)},
      {"spi number", SectionKind::kKeyNotExamined, number(spiNumber)},
      {"chip select number", SectionKind::kKeyNotExamined, number(chipSelect)},
      {"sector size", SectionKind::kKeyNotExamined, number(sectorSize)},
  };
  if (!ReadChipDescription(AsText(descriptionBytes), CommonChipSyntax(), sections)) return false;
  if (!CheckSettings()) return false;
  if (!ReadImageFile()) return false;
  return PrepareSteps();
}

bool C1Update::CheckSettings() {
  // The sector size goes to the loader in 24 bits: a larger one would erase less than is
  // written, and 0 places no block anywhere.
  return !reservedSectors.empty() && (lineMode == 1 || lineMode == 2 || lineMode == 4) &&
         spiNumber <= 1 && chipSelect <= 1 && sectorSize >= 1 && sectorSize <= kMaxSectorSize;
}

bool C1Update::PrepareSteps() {
  if (sectorSize == 0) return false;
  plan = C1StepPlan::Make(C1SectorMap(sectorSize, reservedSectors), imageLength);
  if (!plan) return false;
  stepCount = plan->StepCount();
  imageChecksum = ImageChecksum();
  return true;
}

bool C1Update::IsReservedSector(uint32_t sector) const {
  return sectorSize != 0 && C1SectorMap(sectorSize, reservedSectors).IsReserved(sector);
}

std::optional<uint64_t> C1Update::RequiredSpan(int64_t length) const {
  if (sectorSize == 0) return std::nullopt;
  return C1SectorMap(sectorSize, reservedSectors).RequiredSpan(length);
}

bool C1Update::EnterUpdateMode(int attempts) {
  const int used = RequestUpdateMode(attempts);
  if (used == 0) return false;
  // The flash setup gets the attempts the update-mode request left over, its own one included.
  flashCapacity = SetupFlash(attempts - used + 1);
  if (flashCapacity == 0) return false;
  const auto span = RequiredSpan(imageLength);
  return span && flashCapacity >= *span;
}

uint32_t C1Update::SetupFlash(int attempts) {
  if (!device->EnsureOpen()) return 0;
  const auto command = EncodeC1FlashSetup(spiNumber, chipSelect, lineMode, sectorSize);
  for (int i = 0; i < attempts; ++i) {
    uint8_t reply[kC1FlashSetupReplySize];
    if (!Exchange(command, reply)) continue;
    if (const auto capacity = DecodeC1FlashSetupReply(reply)) return *capacity;
  }
  return 0;
}

bool C1Update::EraseSector(uint32_t sector) {
  if (!device->EnsureOpen()) return false;
  const uint64_t address = uint64_t{sector} * sectorSize;
  if (address >= kC1AddressSpace) return false;
  const auto erase = EncodeC1SectorErase(static_cast<uint32_t>(address));
  uint8_t echo[kC1SectorEraseReplySize];
  if (!Exchange(erase, echo) || !std::equal(erase.begin(), erase.end(), echo)) return false;
  const auto poll = EncodeC1ErasePoll(static_cast<uint32_t>(address));
  for (int polls = 1;; ++polls) {
    if (!SendMessage(poll.data(), poll.size())) return false;
    ProcessClock().Sleep(kErasePollInterval);
    uint8_t status[kC1ErasePollReplySize];
    if (!ReceiveExact(status)) return false;
    if (C1EraseFinished(status)) return true;
    if (polls == kErasePolls) return false;
  }
}

bool C1Update::WriteSector(uint32_t sector, int block) {
  if (!plan || block < 0 || block >= plan->BlockCount()) return false;
  C1Block target = plan->Block(block);
  const uint64_t address = uint64_t{sector} * sectorSize;
  if (address + target.length > kC1AddressSpace) return false;
  target.sector = sector;
  target.address = static_cast<uint32_t>(address);
  for (const C1Chunk& chunk : C1Chunks(target)) {
    const uint8_t* bytes = imageData.data() + chunk.imageOffset;
    const auto command = EncodeC1Write(chunk.address, chunk.length,
                                       ByteChecksum(bytes, static_cast<int32_t>(chunk.length)));
    uint8_t echo[kC1WriteReplySize];
    if (!Exchange(command, echo) || !C1WriteEchoMatches(command, echo)) return false;
    uint8_t received[1];
    if (!SendMessage(bytes, chunk.length) || !ReceiveExact(received) ||
        received[0] != kC1DataReceived) {
      return false;
    }
  }
  return true;
}

bool C1Update::RunStep(int block) {
  if (!plan || block < 0 || block >= plan->BlockCount()) return false;
  const uint32_t sector = plan->Block(block).sector;
  // A failed write leaves the sector partly programmed, so every attempt starts with an erase
  // and writes the block from its first byte.
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    if (!EraseSector(sector)) return false;
    if (WriteSector(sector, block)) return true;
  }
  return false;
}

bool C1Update::FinalStep(int) {
  if (!plan) return false;
  for (const C1Block& block : plan->Blocks()) {
    const uint16_t sum =
        ByteChecksum(imageData.data() + block.imageOffset, static_cast<int32_t>(block.length));
    if (!CheckRegion(block.address, block.length, sum)) return false;
  }
  return true;
}

std::vector<PlannedRegion> C1Update::PlannedRegions() const {
  std::vector<PlannedRegion> regions;
  if (!plan) return regions;
  for (const C1Block& block : plan->Blocks()) {
    regions.push_back({block.address, block.imageOffset, block.length});
  }
  return regions;
}

FlashGeometry C1Update::Geometry() const {
  FlashGeometry geometry;
  geometry.family = kFamilyCode;
  geometry.size = RequiredSpan(static_cast<int64_t>(ImageBytes().size()))
                      .value_or(std::numeric_limits<uint64_t>::max());
  return geometry;
}

}  // namespace vortan
