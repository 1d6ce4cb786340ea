// Loading A2 data packs: the description's sections, the settings checks with the refusals of
// settings the device cannot honour, and the step plan.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "updaters/a2_description_text.h"
#include "updaters/a2_update.h"
#include "util/diag_log.h"

namespace vortan {
namespace {

using testing::A2Text;
using ::testing::ElementsAre;
using testing::TempDir;

// `count` cycles for a cycle section, as address and data lines.
std::string CycleLines(int count) {
  std::string lines;
  for (int k = 1; k <= count; ++k) {
    lines += "Addr" + std::to_string(k) + " = 0\nData" + std::to_string(k) + " = 0\n";
  }
  return lines;
}

class A2LoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetLogSink([this](std::string_view line) { log.emplace_back(line); });
  }
  void TearDown() override { SetLogSink(std::move(previous_)); }

  // Loads `description` with an image of `imageBytes` bytes into a fresh updater.
  bool Load(const std::string& description, size_t imageBytes = 2348) {
    std::vector<uint8_t> image(imageBytes);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13 + 1);
    EXPECT_TRUE(testing::WriteText(dir.File("TEMP1.INI"), description));
    EXPECT_TRUE(testing::WriteBytes(dir.File("TEMP1.BIN"), image));
    update = std::make_unique<A2Update>(dir.File("TEMP1.INI"), dir.File("TEMP1.BIN"));
    return update->Load();
  }

  TempDir dir;
  std::unique_ptr<A2Update> update;
  std::vector<std::string> log;

 private:
  LogSink previous_;
};

TEST_F(A2LoadTest, RefusesWhatCannotWork) {
  struct Case {
    const char* what;
    std::string extra;
    bool loads;
    size_t image = 2348;
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
  };
  for (const Case& c : cases) {
    A2Text text;
    text.extra = c.extra;
    EXPECT_EQ(Load(text.Render(), c.image), c.loads) << c.what;
  }
}

TEST_F(A2LoadTest, RefusesSectorListsWithoutSizes) {
  struct Case {
    std::string sectors;
    std::string reserved;
    bool loads;
  };
  const Case cases[] = {
      {"0x1000", "0x1000", false},                 // one entry: no sector size
      {"0x0\n0x200\n0x100\n0x300", "0x0", false},  // not ascending
      {"0x0\n0x100\n0x100\n0x300", "0x0", false},  // a sector of no size
      {"0x0\n0x100", "0x0", true},
      // An entry that matches no sector reserves nothing.
      {"0x0\n0x100\n0x200\n0x300\n0x400\n0x500", "0x150", true},
  };
  for (const Case& c : cases) {
    A2Text text;
    text.sectors = c.sectors;
    text.reserved = c.reserved;
    EXPECT_EQ(Load(text.Render(), 200), c.loads) << c.sectors;
  }
  EXPECT_FALSE(Load(""));
  EXPECT_FALSE(Load("[Flash Modle]\nX\n[Sector Address List]\n0\n0x100\n"));  // no reserved entry
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
  ASSERT_TRUE(Load(text.Render()));
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
}

}  // namespace
}  // namespace vortan
