// SPDX-License-Identifier: Apache-2.0
// A2 data packs: loading (the description's sections, the refusals of settings the device cannot
// honour, the step plan), then every step against the emulated loader's A2 flash on the virtual
// clock, with the retries of erasing and programming.
#include "updaters/a2_update.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "emulator/a2_model.h"
#include "emulator/emulator.h"
#include "package_builder/description_pieces.h"
#include "support/simulated_link.h"
#include "support/temp_dir.h"
#include "util/diag_log.h"

namespace vortan {
namespace {

using emu::A2Model;
using emu::Fault;
using emu::FaultType;
using ::testing::ElementsAre;

constexpr uint32_t kSectorWords = 0x100;
constexpr int kSectors = 6;

// A readable A2 chip description: six sectors of 0x100 words; the parts tests vary are fields,
// and `extra` is appended last, where a repeated section overrides earlier scalar values.
struct A2Text {
  std::string writeMode = "0";
  std::string reserved = "0x200";
  std::string blockSize = "0x40";
  std::string fileOffset = "0";
  std::string sectors = "0x000\n0x100\n0x200\n0x300\n0x400\n0x500";
  std::string extra = "";

  std::string Render() const {
    return pack::A2Description({"test flash: six sectors of 0x100 words", "TEST-NOR-16", writeMode,
                                reserved, blockSize, fileOffset},
                               sectors) +
           extra;
  }
};

uint16_t OldContent(uint32_t address) {
  return static_cast<uint16_t>(0x1234 ^ address);
}

std::vector<uint8_t> MakeImage(size_t bytes) {
  std::vector<uint8_t> image(bytes);
  for (size_t i = 0; i < bytes; ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 8) + 3);
  return image;
}

// `count` cycles for a cycle section, as address and data lines.
std::string CycleLines(int count) {
  std::string lines;
  for (int k = 1; k <= count; ++k) {
    lines += "Addr" + std::to_string(k) + " = 0\nData" + std::to_string(k) + " = 0\n";
  }
  return lines;
}

class A2UpdateTest : public testing::EmulatedLinkTest {
 protected:
  void SetUp() override { device = &AttachDevice(); }

  // Plugs in an A2 flash of `sectorAddresses` (words) with the test description's 6 erase cycles.
  void AddFlash(emu::A2ModelConfig config) {
    if (config.sectorAddresses.empty()) {
      for (int i = 0; i < kSectors; ++i) config.sectorAddresses.push_back(i * kSectorWords);
    }
    config.initialContent = OldContent;
    auto m = std::make_unique<A2Model>(std::move(config));
    model = m.get();
    device->AddFamily(1, std::move(m));
  }

  // Loads `description` with MakeImage(imageBytes) into a fresh updater.
  bool Load(const std::string& description, size_t imageBytes) {
    EXPECT_TRUE(testing::WriteText(dir.File("TEMP1.INI"), description));
    EXPECT_TRUE(testing::WriteBytes(dir.File("TEMP1.BIN"), MakeImage(imageBytes)));
    update = std::make_unique<A2Update>(dir.File("TEMP1.INI"), dir.File("TEMP1.BIN"));
    return update->Load();
  }

  // What the flash must hold, worked out from the image alone: each sector the programmed part
  // reaches holds its words (complete words only, the rest erased) unless reserved; every other
  // sector keeps its old content.
  void ExpectFlash(size_t imageBytes, size_t programStart, int reservedSector) {
    const auto image = MakeImage(imageBytes);
    const size_t programLength = image.size() - programStart;
    const size_t reached = std::max<size_t>(1, (programLength + 511) / 512);
    for (int s = 0; s < kSectors; ++s) {
      for (uint32_t k = 0; k < kSectorWords; ++k) {
        const uint32_t address = s * kSectorWords + k;
        const size_t p = programStart + s * 512 + 2 * k;
        uint16_t expected = OldContent(address);
        if (s != reservedSector && static_cast<size_t>(s) < reached) {
          expected =
              p + 1 < image.size() ? static_cast<uint16_t>(image[p] | image[p + 1] << 8) : 0xFFFF;
        }
        ASSERT_EQ(model->Word(address), expected) << "sector " << s << " word " << k;
      }
    }
    EXPECT_EQ(model->EraseCount(reservedSector), 0);
  }

  testing::TempDir dir;
  emu::LoaderDevice* device = nullptr;
  A2Model* model = nullptr;
  std::unique_ptr<A2Update> update;
};

// Loading needs no flash, only the work files.
using A2LoadTest = A2UpdateTest;

TEST_F(A2LoadTest, RefusesWhatCannotWork) {
  struct Case {
    const char* what;
    std::string extra;
    bool loads;
    size_t image = 2348;
    A2Text text = {};
  };
  const Case cases[] = {
      {"the test description", "", true},
      {"block size 0x10000", "[Block Size]\n=0x10000\n", true},
      {"block size 0x10001", "[Block Size]\n=0x10001\n", false},
      {"odd block size", "[Block Size]\n=0x801\n", false},
      {"block size 0", "[Block Size]\n=0\n", false},
      {"MaxWriteBack 0", "[Time]\nMaxWriteBack = 0\n", false},
      // Regression: below 700 ms the first poll already ends the wait, so no erase could end.
      {"erase time 699", "[Time]\nMaxSectorEraseTime = 699\n", false},
      {"erase time 700", "[Time]\nMaxSectorEraseTime = 700\n", true},
      // Regression: no polled 16-bit word equals a blank value above 0xFFFF.
      {"blank value 0x10000", "[Data]\n= 0x10000\n", false},
      {"blank value 0", "[Data]\n= 0\n", true},
      {"missing erase cycle", "[Sector Erase Cycle]\nEraseCycles = 7\n", false},
      {"missing program buffer cycle", "[Program Buffer Cycle]\nProgramBufferSA2 = 1\nAddr = 1\n",
       false},
      // Regression: the cycle commands send the count doubled in one byte. (Cycle lines append
      // to the test description's 3, 4 and 1 cycles.)
      {"128 program cycles", "[Program Cycle]\nProgramCycles = 128\n" + CycleLines(125), false},
      {"127 program cycles", "[Program Cycle]\nProgramCycles = 127\n" + CycleLines(124), true},
      {"128 write buffer cycles",
       "[Write Buffer Cycle]\nWriteBufferCycles = 128\nWriteBufferSA2 = 255\n" + CycleLines(124),
       false},
      {"128 program buffer cycles",
       "[Program Buffer Cycle]\nProgramBufferCycles = 128\nProgramBufferSA2 = 255\n" +
           CycleLines(127),
       false},
      // Regression: fileOffset × 2 computed in 32 bits wraps 0x80000010 to 0x20.
      {"file offset wrapping 32 bits", "[File Offset]\nFileOffset = 0x80000010\n", false, 64},
      {"file offset at the image end", "[File Offset]\nFileOffset = 0x20\n", true, 64},
      {"file offset past the image end", "[File Offset]\nFileOffset = 0x21\n", false, 64},
      {"empty image", "", false, 0},
      {"flash smaller than the image", "", false, 6 * 512 + 1},
      {"flash exactly the image", "", true, 6 * 512},
      {"one sector entry: no size", "", false, 200, {.reserved = "0x1000", .sectors = "0x1000"}},
      {"not ascending", "", false, 200, {.reserved = "0", .sectors = "0x0\n0x200\n0x100\n0x300"}},
      {"size-0 sector", "", false, 200, {.reserved = "0", .sectors = "0x0\n0x100\n0x100\n0x300"}},
      {"two sectors", "", true, 200, {.reserved = "0", .sectors = "0x0\n0x100"}},
      // An entry that matches no sector reserves nothing.
      {"reserved entry off the sectors", "", true, 200, {.reserved = "0x150"}},
  };
  for (Case c : cases) {
    c.text.extra = c.extra;
    EXPECT_EQ(Load(c.text.Render(), c.image), c.loads) << c.what;
  }
  EXPECT_FALSE(Load("", 2348));
  EXPECT_FALSE(Load("[Flash Modle]\nX\n[Sector Address List]\n0\n0x100\n", 200))
      << "no reserved entry";
}

TEST_F(A2LoadTest, ReadsSectionsAndSwitchesCycleLines) {
  A2Text text;
  text.writeMode = "2";
  text.extra =
      "[chip type]\n= 0x105\n"
      "[File Offset]\nOffset = 16\n"
      "[Program Cycle]\nAddr9 = 0x999\nProgramCycles = 3\n"
      "[Program Cycle]\nData4 = 1\n"
      "[Write Buffer Cycle]\nWriteBufferCycles = 5\nCycle5Addr = 0x77\nWriteBufferSA2 = 0x1FE\n"
      "AddrData5 = 0x66\nCycle5Data = 0x88\nWhatever = 1\n"
      "[Flash Modle]\nSecond Model\n";
  std::vector<std::string> log;
  LogSink previous = SetLogSink([&](std::string_view line) { log.emplace_back(line); });
  const bool loaded = Load(text.Render(), 2348);
  SetLogSink(std::move(previous));
  ASSERT_TRUE(loaded);
  const A2Settings& s = update->Settings();
  EXPECT_EQ(update->FamilyCode(), 0x105u);
  EXPECT_TRUE(s.writeMode);
  EXPECT_EQ(s.flashModel, "Second Model");
  EXPECT_EQ(s.fileOffset, 0u);
  EXPECT_THAT(s.programAddrList, ElementsAre(0x555, 0x2AA, 0x555));
  EXPECT_EQ(s.writeBufferCycles, 5u);
  EXPECT_EQ(s.writeBufferSA2, 0x1FEu);
  // "AddrData5" holds both: it goes to the address list.
  EXPECT_THAT(s.writeBufferAddrList, ElementsAre(0x555, 0x2AA, 0, 0, 0x66));
  EXPECT_THAT(s.writeBufferDataList, ElementsAre(0xAA, 0x55, 0x25, 0, 0x88));
  EXPECT_THAT(log, ElementsAre("Unknown:Offset", "Unknown:Addr9", "Unknown:Data4",
                               "Unknown:Cycle5Addr", "Unknown:Whatever"));
}

TEST_F(A2LoadTest, PlansSectorsBlocksAndImagePositions) {
  A2Text text;
  text.fileOffset = "0x10";  // 32 image bytes not programmed
  // Programmed part: 32 + 2 × 512 + 300 + 1 bytes, ending inside sector 3 with an odd byte.
  ASSERT_TRUE(Load(text.Render(), 32 + 3 * 512 + 301));
  const A2StepPlan& plan = update->Plan();
  EXPECT_EQ(plan.programStart, 32);
  EXPECT_EQ(plan.programLength, 3 * 512 + 301);
  EXPECT_THAT(plan.sectors, ElementsAre(A2SectorStep{0x000, false, 512, 32, 256, 0x40},
                                        A2SectorStep{0x100, false, 512, 32 + 512, 256, 0x40},
                                        A2SectorStep{0x200, true, 512, 32 + 1024, 0, 0},
                                        A2SectorStep{0x300, false, 301, 32 + 1536, 150, 0x40}));
  EXPECT_THAT(A2SectorBlocks(plan.sectors[3]),
              ElementsAre(A2Block{0x300, 0x40, 32 + 1536}, A2Block{0x340, 0x40, 32 + 1536 + 128},
                          A2Block{0x380, 22, 32 + 1536 + 256}));
  EXPECT_TRUE(A2SectorBlocks(plan.sectors[2]).empty());
}

TEST_F(A2LoadTest, PlanEdges) {
  struct Case {
    const char* what;
    std::string fileOffset;
    size_t image;
    size_t sectors;
    int64_t lastLength;
  };
  const Case cases[] = {
      {"ends exactly at the start of sector 2", "0", 1024, 2, 512},
      {"one byte into sector 2", "0", 1025, 3, 1},
      {"programmed part of 0 bytes", "0x20", 64, 1, 0},
      {"whole flash, last sector as large as the one before", "0", 6 * 512, 6, 512},
  };
  for (const Case& c : cases) {
    A2Text text;
    text.fileOffset = c.fileOffset;
    ASSERT_TRUE(Load(text.Render(), c.image)) << c.what;
    const A2StepPlan& plan = update->Plan();
    ASSERT_EQ(plan.sectors.size(), c.sectors) << c.what;
    EXPECT_EQ(plan.sectors.back().length, c.lastLength) << c.what;
    EXPECT_EQ(update->StepCount(), static_cast<int32_t>(c.sectors) + 2) << c.what;
  }
  // A stray last entry: capacity in 32 bits is 0 + 0xFFFFFC00, read signed -1024, and would
  // refuse the image by wrap-around; computed exactly it covers it, and only the sectors the
  // image occupies are planned.
  A2Text stray;
  stray.sectors = "0x000\n0x100\n0x200\n0x80000000";
  ASSERT_TRUE(Load(stray.Render(), 1025));
  EXPECT_EQ(update->Plan().sectors.size(), 3u);
}

TEST_F(A2UpdateTest, ProgramsExactlyThePackAroundTheReservedSector) {
  struct Case {
    const char* what;
    const char* writeMode;
    const char* fileOffset;
    size_t image;
    size_t programStart;
    const char* cycleKind;
  };
  const Case cases[] = {
      // Ends 300 bytes into sector 4; sector 2 reserved inside the range.
      {"word programming", "0", "0", 4 * 512 + 300, 0, "a2.program_cycle"},
      // 32 bytes skipped, odd length: the last byte is neither written nor verified.
      {"buffer programming", "1", "0x10", 32 + 4 * 512 + 269, 32, "a2.write_buffer_cycle"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AddFlash({});
    ASSERT_TRUE(
        Load(A2Text{.writeMode = c.writeMode, .fileOffset = c.fileOffset}.Render(), c.image));
    ASSERT_TRUE(testing::RunAllSteps(*update));
    ASSERT_TRUE(update->FinishUpdate(true));
    ExpectFlash(c.image, c.programStart, 2);
    // One programming setup per written sector: 0, 1, 3 and 4.
    EXPECT_EQ(device->MessageCount(c.cycleKind), 4);
    EXPECT_EQ(device->LastFinishOutcome(), 0x00);
    // Verification reads the flash: a word changed afterwards fails it.
    ASSERT_TRUE(update->EnterUpdateMode(5));
    model->SetWords(0x305, std::vector<uint16_t>{0});
    EXPECT_FALSE(update->FinalStep(0));
    update->FinishUpdate(false);
  }
}

TEST_F(A2UpdateTest, EraseCycleAddresses) {
  // Cycle addresses are offsets from the sector, unless the first sector is at 0x1400: then
  // they stand as they are. The last cycle always goes to the sector.
  struct Case {
    std::string sectors;
    uint32_t sector1;
    uint32_t firstCycle;
  };
  const Case cases[] = {{"0\n0x100\n0x200", 0x100, 0x655},
                        {"0x1400\n0x1500\n0x1600", 0x1500, 0x555}};
  for (const Case& c : cases) {
    AddFlash({{}, 6, 0, {}});
    ASSERT_TRUE(Load(A2Text{.reserved = "0x2000", .sectors = c.sectors}.Render(), 600));
    ASSERT_TRUE(update->EnterUpdateMode(5));
    ASSERT_TRUE(update->RunStep(1)) << c.sectors;
    const auto& cycles = model->EraseCycles();
    ASSERT_EQ(cycles.size(), 6u);
    EXPECT_EQ(cycles[0], std::make_pair(c.firstCycle, uint16_t{0xAA}));
    EXPECT_EQ(cycles[5], std::make_pair(c.sector1, uint16_t{0x30}));
    update->FinishUpdate(true);
  }
}

// Faults of `kind`: its occurrences 1 to `count`, or every occurrence for a count of 0.
std::vector<Fault> Echoes(const char* kind, int count) {
  std::vector<Fault> faults;
  for (int k = count == 0 ? 0 : 1; k <= count; ++k)
    faults.push_back({FaultType::kWrongEcho, kind, k, 0, 1, 0, -1});
  return faults;
}

// The last status of data message `k` (every one for 0) is 0xE4 instead of 0xD4.
std::vector<Fault> LastStatusE4(int k) {
  return {{FaultType::kWrongStatus, "a2.data", k, 1, 0, 0xE4, -1}};
}

TEST_F(A2UpdateTest, ProgrammingRetries) {
  struct Case {
    const char* what;
    const char* writeMode;
    std::vector<Fault> faults;
    bool succeeds;
    int sends;     // of the faulted kind during RunStep(0)
    int erasures;  // of sector 0
  };
  const Case cases[] = {
      {"program cycle echo wrong three times", "0", Echoes("a2.program_cycle", 3), true, 4, 1},
      // 11 sends per attempt, 6 attempts, each after an erase.
      {"program cycle echo always wrong", "0", Echoes("a2.program_cycle", 0), false, 66, 6},
      // 6 sends per attempt for the buffer cycle commands.
      {"write buffer echo always wrong", "1", Echoes("a2.write_buffer_cycle", 0), false, 36, 6},
      {"program buffer echo wrong five times", "1", Echoes("a2.program_buffer_cycle", 5), true, 6,
       1},
      // The second block's last status is not 0xD4: the sector is erased and written again.
      {"write status wrong once", "0", LastStatusE4(2), true, 2 + 4, 2},
      {"write status always wrong", "0", LastStatusE4(0), false, 6, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AddFlash({});
    ASSERT_TRUE(Load(A2Text{.writeMode = c.writeMode}.Render(), 4 * 512 + 300));
    ASSERT_TRUE(update->EnterUpdateMode(5));
    device->ClearFaults();
    device->AddFaults(c.faults);
    const std::string kind = c.faults[0].kind;
    const int before = device->MessageCount(kind);
    EXPECT_EQ(update->RunStep(0), c.succeeds);
    EXPECT_EQ(device->MessageCount(kind) - before, c.sends);
    EXPECT_EQ(model->EraseCount(0), c.erasures);
    device->ClearFaults();
    if (c.succeeds) {
      for (int i = 1; i < update->StepCount() - 2; ++i) ASSERT_TRUE(update->RunStep(i));
      EXPECT_TRUE(update->FinalStep(0));
      ExpectFlash(4 * 512 + 300, 0, 2);
    }
    update->FinishUpdate(c.succeeds);
  }
}

TEST_F(A2UpdateTest, EraseWaits) {
  struct Case {
    const char* what;
    uint32_t busyPolls;
    int notBlankPolls;  // first polls whose word is spoiled on the way to the host
    std::vector<int> spoiledPolls;
    bool succeeds;
    int eraseCycles;
    int polls;
    int64_t sleptMs;
  };
  const Case cases[] = {
      {"blank at once", 0, 0, {}, true, 6, 2, 720},
      // Blank, not blank, blank, blank: only two blank reads in a row end the wait.
      {"blank reads must be consecutive", 0, 0, {2}, true, 6, 4, 760},
      // 0.7 s and 66 polls 20 ms apart, then the erase is issued again with a fresh wait.
      {"issued again after the erase time", 0, 67, {}, true, 12, 69, 2020 + 720},
      // Never blank: five issues of 0.7 s + 66 × 20 ms each, then the step fails.
      {"never blank", UINT32_MAX, 0, {}, false, 30, 5 * 67, 5 * 2020},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AddFlash({{}, 6, c.busyPolls, {}});
    ASSERT_TRUE(Load(A2Text{}.Render(), 600));
    ASSERT_TRUE(update->EnterUpdateMode(5));
    device->ClearFaults();
    const int pollsBefore = device->MessageCount("a2.erase_poll");
    const int cyclesBefore = device->MessageCount("a2.erase_cycle");
    std::vector<int> spoiled = c.spoiledPolls;
    for (int k = 1; k <= c.notBlankPolls; ++k) spoiled.push_back(k);
    for (int k : spoiled)
      device->AddFault({FaultType::kWrongEcho, "a2.erase_poll", k, 0, 5, 0, -1});
    const int64_t start = clock.SleptMs();
    EXPECT_EQ(update->RunStep(0), c.succeeds);
    EXPECT_EQ(device->MessageCount("a2.erase_cycle") - cyclesBefore, c.eraseCycles);
    EXPECT_EQ(device->MessageCount("a2.erase_poll") - pollsBefore, c.polls);
    EXPECT_EQ(clock.SleptMs() - start, c.sleptMs);
    device->ClearFaults();
    update->FinishUpdate(false);
  }
}

}  // namespace
}  // namespace vortan
