// A2 data packs end to end: Load, then every step against the emulated loader's A2 flash on the
// virtual clock, with the retries of erasing and programming.
#include "updaters/a2_update.h"

#include <gtest/gtest.h>

#include <memory>

#include "emulator/a2_model.h"
#include "emulator/emulator.h"
#include "link/clock.h"
#include "link/hid_device.h"
#include "support/simulated_link.h"
#include "support/temp_dir.h"
#include "updaters/a2_description_text.h"

namespace vortan {
namespace {

using emu::A2Model;
using emu::Fault;
using emu::FaultType;
using testing::A2Text;

constexpr uint32_t kSectorWords = 0x100;
constexpr int kSectors = 6;

uint16_t OldContent(uint32_t address) {
  return static_cast<uint16_t>(0x1234 ^ address);
}

std::vector<uint8_t> MakeImage(size_t bytes) {
  std::vector<uint8_t> image(bytes);
  for (size_t i = 0; i < bytes; ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 8) + 3);
  return image;
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

  bool Load(const A2Text& text, const std::vector<uint8_t>& image) {
    EXPECT_TRUE(testing::WriteText(dir.File("TEMP1.INI"), text.Render()));
    EXPECT_TRUE(testing::WriteBytes(dir.File("TEMP1.BIN"), image));
    update = std::make_unique<A2Update>(dir.File("TEMP1.INI"), dir.File("TEMP1.BIN"));
    return update->Load();
  }

  // What the flash must hold, worked out from the image alone: each sector the programmed part
  // reaches holds its words (complete words only, the rest erased) unless reserved; every other
  // sector keeps its old content.
  void ExpectFlash(const std::vector<uint8_t>& image, size_t programStart, int reservedSector) {
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
    A2Text text;
    text.writeMode = c.writeMode;
    text.fileOffset = c.fileOffset;
    const auto image = MakeImage(c.image);
    ASSERT_TRUE(Load(text, image));
    ASSERT_TRUE(testing::RunAllSteps(*update));
    ASSERT_TRUE(update->FinishUpdate(true));
    ExpectFlash(image, c.programStart, 2);
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
    A2Text text;
    text.sectors = c.sectors;
    text.reserved = "0x2000";
    ASSERT_TRUE(Load(text, MakeImage(600)));
    ASSERT_TRUE(update->EnterUpdateMode(5));
    ASSERT_TRUE(update->EraseSector(1)) << c.sectors;
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
    A2Text text;
    text.writeMode = c.writeMode;
    const auto image = MakeImage(4 * 512 + 300);
    ASSERT_TRUE(Load(text, image));
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
      ExpectFlash(image, 0, 2);
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
    A2Text text;
    ASSERT_TRUE(Load(text, MakeImage(600)));
    ASSERT_TRUE(update->EnterUpdateMode(5));
    device->ClearFaults();
    const int pollsBefore = device->MessageCount("a2.erase_poll");
    const int cyclesBefore = device->MessageCount("a2.erase_cycle");
    std::vector<int> spoiled = c.spoiledPolls;
    for (int k = 1; k <= c.notBlankPolls; ++k) spoiled.push_back(k);
    for (int k : spoiled)
      device->AddFault({FaultType::kWrongEcho, "a2.erase_poll", k, 0, 5, 0, -1});
    const int64_t start = clock.SleptMs();
    EXPECT_EQ(update->EraseSector(0), c.succeeds);
    EXPECT_EQ(device->MessageCount("a2.erase_cycle") - cyclesBefore, c.eraseCycles);
    EXPECT_EQ(device->MessageCount("a2.erase_poll") - pollsBefore, c.polls);
    EXPECT_EQ(clock.SleptMs() - start, c.sleptMs);
    device->ClearFaults();
    update->FinishUpdate(false);
  }
}

}  // namespace
}  // namespace vortan
