// SPDX-License-Identifier: Apache-2.0
#include "updaters/a2_update.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "updaters/a2_commands.h"
#include "updaters/loader_commands.h"
#include "util/byte_text.h"
#include "util/checksums.h"
#include "util/clock.h"

namespace vortan {
namespace {

using std::chrono::milliseconds;

// The first erase poll waits 700 ms, every later one 20 ms.
constexpr uint32_t kFirstPollMs = 700;
constexpr uint32_t kNextPollMs = 20;
// With this first sector the erase cycle addresses are absolute, not offsets from the sector.
constexpr uint32_t kAbsoluteCycleSector = 0x1400;

LineOutcome StoreText(std::string_view value, std::string& destination) {
  destination = value;
  return LineOutcome::kTaken;
}

bool CyclesFit(uint32_t cycles, const std::vector<uint32_t>& addresses,
               const std::vector<uint32_t>& data) {
  return addresses.size() == cycles && data.size() == cycles;
}

}  // namespace

A2Update::A2Update(std::string cnfgPath_, std::string dataPath_)
    : AXUpdate(std::move(cnfgPath_), std::move(dataPath_)) {
  ResetSettings();
}

A2Update::~A2Update() = default;

void A2Update::ResetSettings() {
  settings = A2Settings{};
  familyCode = kFamilyCode;
}

std::vector<ChipSection> A2Update::Sections() {
  A2Settings& s = settings;
  const auto number = [](uint32_t& destination) {
    return [&destination](std::string_view, std::string_view value) {
      return StoreNumber(value, destination);
    };
  };
  const auto list = [](std::vector<uint32_t>& destination) {
    return [&destination](std::string_view, std::string_view value) {
      return AppendNumber(value, destination);
    };
  };
  // A cycle section: fixed keys first (the last of them switches the address and data lines
  // on), then keys containing "Addr" or else "Data" append to the cycle lists.
  const auto cycles = [this](std::vector<NumberKey> keys, std::vector<uint32_t>& addresses,
                             std::vector<uint32_t>& data) {
    return [this, keys = std::move(keys), &addresses, &data](std::string_view key,
                                                             std::string_view value) {
      for (const NumberKey& k : keys) {
        if (!EqualsNoCase(k.key, key)) continue;
        const LineOutcome outcome = StoreNumber(value, *k.destination);
        if (&k == &keys.back()) cycleLinesOn = true;
        return outcome;
      }
      if (!cycleLinesOn) return LineOutcome::kUnknown;
      if (ContainsNoCase(key, "Addr")) return AppendNumber(value, addresses);
      if (ContainsNoCase(key, "Data")) return AppendNumber(value, data);
      return LineOutcome::kUnknown;
    };
  };
  const auto linesOff = [this] { cycleLinesOn = false; };

  std::vector<ChipSection> sections;
  sections.emplace_back("Chip Type", SectionKind::kKeyNotExamined, number(familyCode));
  sections.emplace_back(
      "Flash Modle", SectionKind::kLines,
      [&s](std::string_view, std::string_view v) { return StoreText(v, s.flashModel); });
  sections.emplace_back("Write Modle", SectionKind::kKeyNotExamined,
                        [&s](std::string_view, std::string_view v) {
                          uint32_t mode = 0;
                          const LineOutcome outcome = StoreNumber(v, mode);
                          s.writeMode = mode != 0;
                          return outcome;
                        });
  sections.emplace_back("Reserved Sector", SectionKind::kLines, list(s.reservedSectors));
  sections.emplace_back("Block Size", SectionKind::kKeyNotExamined, number(s.blockSize));
  sections.emplace_back("File Offset", SectionKind::kKeys,
                        NumberKeys({{"FileOffset", &s.fileOffset}}));
  sections.emplace_back("Time", SectionKind::kKeys,
                        NumberKeys({{"MaxWriteBack", &s.maxWriteBack},
                                    {"MaxSectorEraseTime", &s.maxSectorEraseTime}}));
  sections.emplace_back("Data", SectionKind::kKeyNotExamined, number(s.blankValue));
  sections.emplace_back("Flash Reset", SectionKind::kKeys,
                        NumberKeys({{"ResetAddr", &s.resetAddr}, {"ResetData", &s.resetData}}));
  sections.emplace_back("Sector Erase Cycle", SectionKind::kKeys,
                        cycles({{"EraseCycles", &s.eraseCycles}}, s.eraseAddrList, s.eraseDataList),
                        linesOff);
  sections.emplace_back(
      "Program Cycle", SectionKind::kKeys,
      cycles({{"ProgramCycles", &s.programCycles}}, s.programAddrList, s.programDataList),
      linesOff);
  sections.emplace_back("Write Buffer Cycle", SectionKind::kKeys,
                        cycles({{"WriteBufferCycles", &s.writeBufferCycles},
                                {"WriteBufferCount", &s.writeBufferCount},
                                {"WriteBufferPA1", &s.writeBufferPA1},
                                {"WriteBufferPA2", &s.writeBufferPA2},
                                {"WriteBufferSA1", &s.writeBufferSA1},
                                {"WriteBufferSA2", &s.writeBufferSA2}},
                               s.writeBufferAddrList, s.writeBufferDataList),
                        linesOff);
  sections.emplace_back("Program Buffer Cycle", SectionKind::kKeys,
                        cycles({{"ProgramBufferCycles", &s.programBufferCycles},
                                {"ProgramBufferSA1", &s.programBufferSA1},
                                {"ProgramBufferSA2", &s.programBufferSA2}},
                               s.programBufferAddrList, s.programBufferDataList),
                        linesOff);
  sections.emplace_back("Sector Address List", SectionKind::kLines, list(s.sectorAddressList));
  return sections;
}

bool A2Update::Load() {
  if (!ReadDescriptionFile()) return false;
  cycleLinesOn = false;
  if (!ReadChipDescription(AsText(descriptionBytes), CommonChipSyntax(), Sections())) return false;
  if (!CheckSettings()) return false;
  if (!ReadImageFile()) return false;
  return PrepareSteps();
}

bool A2Update::CheckSettings() {
  const A2Settings& s = settings;
  if (s.flashModel.empty()) return false;
  if (s.reservedSectors.empty()) return false;
  if (s.blockSize < 1 || s.blockSize > 0x10000 || s.blockSize % 2 != 0) return false;
  if (s.maxWriteBack == 0 || s.maxSectorEraseTime < kMinSectorEraseTime) return false;
  if (!CyclesFit(s.eraseCycles, s.eraseAddrList, s.eraseDataList)) return false;
  if (!CyclesFit(s.programCycles, s.programAddrList, s.programDataList)) return false;
  if (!CyclesFit(s.writeBufferCycles, s.writeBufferAddrList, s.writeBufferDataList)) return false;
  if (!CyclesFit(s.programBufferCycles, s.programBufferAddrList, s.programBufferDataList)) {
    return false;
  }
  // The cycle commands carry the count doubled in one byte.
  if (std::max({s.programCycles, s.writeBufferCycles, s.programBufferCycles}) >
      kA2MaxCommandCycles) {
    return false;
  }
  // The poll compares a 16-bit word with blankValue.
  if (s.blankValue > 0xFFFF) return false;
  // Sector sizes come from the distance to the next entry: one entry gives no size, and entries
  // out of order give negative or huge ones.
  const auto& address = s.sectorAddressList;
  if (address.size() < 2) return false;
  return std::adjacent_find(address.begin(), address.end(), std::greater_equal<>()) ==
         address.end();
}

bool A2Update::PrepareSteps() {
  imageChecksum = ImageChecksum();
  plan = {};
  auto planned = PlanA2Steps(settings, imageLength);
  if (!planned) return false;
  plan = std::move(*planned);
  stepCount = SectorsToProgram() + 2;
  return true;
}

int64_t A2Update::SectorSize(int index) const {
  return A2SectorSize(settings, index);
}

bool A2Update::IsReservedSector(int index) const {
  return A2IsReservedSector(settings, index);
}

const A2SectorStep* A2Update::StepOf(int index) const {
  if (index < 0 || index >= SectorsToProgram()) return nullptr;
  return &plan.sectors[static_cast<size_t>(index)];
}

bool A2Update::RunStep(int index) {
  const A2SectorStep* step = StepOf(index);
  if (!step) return false;
  if (step->reserved) return true;
  for (int attempt = 0; attempt < kProgramAttempts; ++attempt) {
    if (!EraseSector(index)) return false;
    if (settings.writeMode ? BufferProgramSector(index) : WordProgramSector(index)) return true;
  }
  return false;
}

bool A2Update::IssueErase(uint32_t address) {
  const A2Settings& s = settings;
  const bool absolute = s.sectorAddressList.front() == kAbsoluteCycleSector;
  for (uint32_t k = 0; k < s.eraseCycles; ++k) {
    // The last cycle goes to the sector itself whatever the list holds there.
    uint32_t cycleAddress = address;
    if (k + 1 < s.eraseCycles) cycleAddress = s.eraseAddrList[k] + (absolute ? 0 : address);
    const auto request = EncodeA2EraseCycle(cycleAddress, s.eraseDataList[k]);
    std::array<uint8_t, 7> reply;
    if (!Exchange(request, reply) || reply != request) {
      return false;
    }
  }
  const auto poll = EncodeA2ErasePoll(address);
  return SendMessage(poll.data(), poll.size());
}

bool A2Update::EraseSector(int index) {
  if (!device->EnsureOpen()) return false;
  if (index < 0 || index >= static_cast<int>(settings.sectorAddressList.size())) return false;
  const uint32_t address = settings.sectorAddressList[static_cast<size_t>(index)];
  const auto poll = EncodeA2ErasePoll(address);
  for (int issue = 0; issue < kMaxEraseIssues; ++issue) {
    if (!IssueErase(address)) return false;
    // Two blank reads in a row end the wait; time is accounted per poll, not measured.
    uint64_t waited = 0;
    int blanks = 0;
    for (;;) {
      ProcessClock().Sleep(milliseconds(waited == 0 ? kFirstPollMs : kNextPollMs));
      uint8_t reply[kA2ErasePollReplySize];
      if (!ReceiveExact(reply)) return false;
      blanks = DecodeA2PolledWord(reply) == settings.blankValue ? blanks + 1 : 0;
      if (blanks == 2) return true;
      waited += waited == 0 ? kFirstPollMs : kNextPollMs;
      if (waited > settings.maxSectorEraseTime) break;
      if (!SendMessage(poll.data(), poll.size())) return false;
    }
  }
  return false;
}

bool A2Update::ExchangeCycles(const std::vector<uint8_t>& request, int repeats) {
  const auto size = static_cast<uint32_t>(request.size());
  if (!SendMessage(request.data(), size)) return false;
  std::vector<uint8_t> reply(request.size());
  for (int sent = 1;; ++sent) {
    std::fill(reply.begin(), reply.end(), 0);
    uint32_t received = 0;
    if (!ReceiveMessage(reply.data(), size, &received)) return false;
    if (received == size && reply == request) return true;
    if (sent > repeats) return false;
    if (!SendMessage(request.data(), size)) return false;
  }
}

bool A2Update::WordProgramSector(int index) {
  const A2Settings& s = settings;
  const auto request = EncodeA2ProgramCycles(s.programAddrList, s.programDataList);
  return ExchangeCycles(request, kProgramCycleRepeats) && WriteSectorData(index);
}

bool A2Update::BufferProgramSector(int index) {
  const A2Settings& s = settings;
  const A2WriteBufferParams params{s.writeBufferCount, s.writeBufferPA1, s.writeBufferPA2,
                                   s.writeBufferSA1, s.writeBufferSA2};
  const auto writeBuffer =
      EncodeBlockWriteBufferCycles(params, s.writeBufferAddrList, s.writeBufferDataList);
  if (!ExchangeCycles(writeBuffer, kBufferCycleRepeats)) return false;
  const auto programBuffer = EncodeA2ProgramBufferCycles(
      s.programBufferSA1, s.programBufferSA2, s.programBufferAddrList, s.programBufferDataList);
  return ExchangeCycles(programBuffer, kBufferCycleRepeats) && WriteSectorData(index);
}

bool A2Update::WriteSectorData(int index) {
  const A2SectorStep* step = StepOf(index);
  if (!step) return false;
  for (const A2Block& block : A2SectorBlocks(*step)) {
    const uint8_t* data = imageData.data() + block.imageOffset;
    const int32_t bytes = static_cast<int32_t>(2 * block.wordCount);
    const auto request =
        EncodeBlockWrite(block.wordAddress, block.wordCount, WordChecksum(data, bytes));
    std::array<uint8_t, 12> reply;
    if (!Exchange(request, reply) ||
        !std::equal(request.begin(), request.begin() + kA2WriteEchoedBytes, reply.begin())) {
      return false;
    }
    if (!SendMessage(data, static_cast<uint32_t>(bytes))) return false;
    uint8_t status[1];
    if (!ReceiveExact(status) || status[0] != kDataReceived) return false;
    if (!ReceiveExact(status) || status[0] != kDataProgrammed) return false;
  }
  return true;
}

bool A2Update::FinalStep(int) {
  for (const A2SectorStep& step : plan.sectors) {
    if (step.reserved) continue;
    const uint16_t expected =
        WordSum16(imageData.data() + step.imageOffset, static_cast<size_t>(step.length));
    if (!CheckRegion(step.address, static_cast<uint32_t>(step.length / 2), expected)) {
      return false;
    }
  }
  return true;
}

std::vector<PlannedRegion> A2Update::PlannedRegions() const {
  std::vector<PlannedRegion> regions;
  for (const A2SectorStep& sector : plan.sectors) {
    // Whole words only: an odd last byte is not programmed.
    if (!sector.reserved) {
      regions.push_back({uint64_t{sector.address} * 2, static_cast<uint64_t>(sector.imageOffset),
                         uint64_t{sector.words} * 2});
    }
  }
  return regions;
}

FlashGeometry A2Update::Geometry() const {
  FlashGeometry geometry;
  geometry.family = kFamilyCode;
  geometry.sectorAddresses = settings.sectorAddressList;
  geometry.eraseCycles = settings.eraseCycles;
  return geometry;
}

}  // namespace vortan
