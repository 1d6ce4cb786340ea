// SPDX-License-Identifier: Apache-2.0
// The package object: reading, examining into work files, its updaters made by chip family,
// replaced on every package, counted, stepped only when ready, and refused when what they read
// back is not the package's own bytes; its texts and the removal of its work files.
#include "package/dat_file_examine.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "support/package_fixtures.h"
#include "support/temp_dir.h"
#include "updaters/a1_update.h"
#include "updaters/a2_update.h"
#include "updaters/c1_update.h"

namespace vortan {
namespace {

namespace fs = std::filesystem;
using pack::Breakage;
using pack::DataPackContents;
using pack::Fault;
using Strings = std::vector<std::string>;
using testing::A1Pack;
using testing::A2Pack;
using testing::C1Pack;
using testing::OnePackPackage;
using testing::PackageOf;
using testing::TwoPackPackage;

constexpr uint32_t kNone = 0;
constexpr uint32_t kA2 = A2Update::kFamilyCode;
constexpr uint32_t kC1 = C1Update::kFamilyCode;
constexpr uint32_t kA1 = A1Update::kFamilyCode;

uint32_t FamilyOf(const AXUpdate* updater) {
  return updater ? updater->Geometry().family : kNone;
}

DataPackContents Unknown(DataPackContents pack) {
  pack.chipFamily = "Z9";
  return pack;
}

pack::PackageContents WithModel(std::string model) {
  pack::PackageContents contents = OnePackPackage();
  contents.productModel = std::move(model);
  return contents;
}

class DatFileExamineTest : public ::testing::Test {
 protected:
  std::string Write(const pack::PackageContents& contents, const Breakage& breakage = {}) {
    return testing::WritePackage(dir_, "package.dat", contents, breakage);
  }
  std::string Work(const char* name) const { return work_.File(name); }
  bool Open(std::vector<DataPackContents> packs) {
    return datFile_.ReadFile(Write(PackageOf(std::move(packs)))) && datFile_.Examine();
  }
  void Tamper(const char* name, const std::function<void(std::vector<uint8_t>&)>& change) {
    datFile_.SetWorkFilesWrittenHook([this, name, change] {
      std::vector<uint8_t> bytes = testing::ReadBytes(Work(name));
      change(bytes);
      ASSERT_TRUE(testing::WriteBytes(Work(name), bytes));
    });
  }

  testing::TempDir dir_;
  testing::TempDir work_;
  DatFileExamine datFile_{work_.path().string()};
};

// Every kind of format refusal comes before the writing: the work files of the package examined
// before stay as they were. (Which rule refuses which bytes is PackageCheckTest's.)
TEST_F(DatFileExamineTest, EveryFormatRefusalComesBeforeTheWriting) {
  ASSERT_TRUE(datFile_.ReadFile(Write(PackageOf({A2Pack(0x2000, 98), A1Pack(0x2000, 99)}))));
  ASSERT_TRUE(datFile_.Examine());
  const auto images = [this] {
    return testing::ReadText(Work("TEMP1.BIN")) + testing::ReadText(Work("TEMP2.BIN"));
  };
  const std::string earlier = images();
  const Breakage breakages[] = {
      {Fault::kTruncate, 1, 383},   {Fault::kCountByte, 1, 3},       {Fault::kHeaderSum},
      {Fault::kDescriptorSum, 2},   {Fault::kDescriptionOutside, 2}, {Fault::kDescriptionSum, 2},
      {Fault::kImageOffsetWrap, 2}, {Fault::kImageSum, 2},           {Fault::kProductModel},
  };
  for (const Breakage& breakage : breakages) {
    SCOPED_TRACE(static_cast<int>(breakage.fault));
    ASSERT_TRUE(datFile_.ReadFile(Write(TwoPackPackage(), breakage)));
    EXPECT_FALSE(datFile_.Examine());
    EXPECT_EQ(images(), earlier);
    EXPECT_FALSE(datFile_.IsFileReady());
    EXPECT_EQ(datFile_.GetProductModel(), "");
    EXPECT_EQ(datFile_.GetNoDeviceText(), "No Device (Open dat file first)");
  }
}

// Each accepted package is unpacked into its work files byte for byte.
TEST_F(DatFileExamineTest, AcceptedVariantsOfTheFormat) {
  struct Case {
    const char* what;
    pack::PackageContents contents;
    bool ready = true;
  };
  pack::PackageContents tail = OnePackPackage();
  tail.packs[0].familyTail = 0xBEEF;
  const pack::DataPackContents emptyC1{"C1", 0, "", {}};
  const Case cases[] = {
      {"two packs", TwoPackPackage()},
      {"model fills its field", WithModel("VORTAN KB 25 PRO")},  // 16 bytes, no NUL
      {"bytes after the family ignored", tail},
      {"C1 then A2", PackageOf({C1Pack(), A2Pack()})},
      // Exactly the blocks declared, with empty sections right after them: the reader writes the
      // (empty) work files, and then the updaters refuse an empty image.
      {"256-byte package", PackageOf({emptyC1}), false},
      {"384-byte package", PackageOf({emptyC1, {"A1", 0, "", {}}}), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(datFile_.ReadFile(Write(c.contents)));
    EXPECT_EQ(datFile_.Examine(), c.ready);
    EXPECT_EQ(datFile_.GetProductModel(), c.ready ? c.contents.productModel : "");
    if (!c.ready) continue;
    ASSERT_EQ(datFile_.CountDataPack(), c.contents.packs.size());
    for (int p = 1; p <= datFile_.CountDataPack(); ++p) {
      const pack::DataPackContents& expected = c.contents.packs[p - 1];
      const DatFileExamine::DataPackInfo info = datFile_.DataPack(p);
      EXPECT_EQ(info.chipFamily, expected.chipFamily);
      EXPECT_EQ(info.cnfgLength, expected.description.size());
      EXPECT_EQ(info.dataLength, expected.image.size());
      EXPECT_EQ(testing::ReadText(info.cnfgPath), expected.description);
      EXPECT_EQ(testing::ReadBytes(info.dataPath), expected.image);
    }
  }
  EXPECT_EQ(datFile_.DataPack(1).cnfgPath, Work("TEMP1.INI"));
  EXPECT_EQ(datFile_.DataPack(2).dataPath, Work("TEMP2.BIN"));
  EXPECT_EQ(testing::ReadBytes(Work("TEMP2.BIN")), std::vector<uint8_t>());
}

TEST_F(DatFileExamineTest, ReadFileRefusesWhatCannotBeHeldOrIsNoRegularFile) {
  const std::string sparse = dir_.File("huge.dat");
  ASSERT_TRUE(testing::WriteBytes(sparse, {}));
  fs::resize_file(sparse, DatFileExamine::kMaxFileLength + 1);
  const std::string empty = dir_.File("empty.dat");
  ASSERT_TRUE(testing::WriteBytes(empty, {}));
  fs::create_directory(dir_.path() / "folder.dat");
  Strings cases = {dir_.File("missing.dat"), empty, dir_.File("folder.dat"), sparse, "/dev/zero"};
  // Guards against trusting the size without checking the count: such files report 4096 bytes
  // and yield a few.
  for (const char* path : {"/sys/kernel/uevent_seqnum", "/sys/kernel/profiling"}) {
    struct stat st {};
    if (::stat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 128) cases.push_back(path);
  }
  for (const std::string& path : cases) {
    EXPECT_FALSE(datFile_.ReadFile(path)) << path;
    EXPECT_EQ(datFile_.FileLength(), 0) << path;
    EXPECT_FALSE(datFile_.Examine()) << path;
  }
}

// Texts that are not valid UTF-8 render with replacement characters instead of failing.
TEST_F(DatFileExamineTest, NoDeviceTextNamesTheKeysByTheLastOneSet) {
  struct Case {
    std::array<std::string, 3> keys;
    const char* text;
  };
  const Case cases[] = {
      {{"Fn", "Esc", "F12"}, "No Device (Press \"Fn\" + \"Esc\" + \"F12\" to open)"},
      {{"Fn", "Esc", ""}, "No Device (Press \"Fn\" + \"Esc\" to open)"},
      {{"Fn", "", ""}, "No Device (Press \"Fn\" to open)"},
      {{"", "", ""}, "No Device (Open device first)"},
      {{"", "", "F12"}, "No Device (Press \"\" + \"\" + \"F12\" to open)"},
      {{"12345678", "", ""}, "No Device (Press \"12345678\" to open)"},
      {{"\xC3\xA9\xFF", "", ""}, "No Device (Press \"\xC3\xA9\xEF\xBF\xBD\" to open)"},
  };
  for (const Case& c : cases) {
    pack::PackageContents contents = OnePackPackage();
    contents.keys = c.keys;
    contents.firmwareVersion = "V1.0\xFF";
    ASSERT_TRUE(datFile_.ReadFile(Write(contents)));
    ASSERT_TRUE(datFile_.Examine());
    EXPECT_EQ(datFile_.GetNoDeviceText(), c.text);
    EXPECT_EQ(datFile_.GetFirmwareVersion(), "V1.0\xEF\xBF\xBD");
  }
}

TEST_F(DatFileExamineTest, ReadFileEndsReadinessAndDeleteTempFilesRemovesAllFour) {
  ASSERT_TRUE(datFile_.ReadFile(Write(TwoPackPackage())));
  ASSERT_TRUE(datFile_.Examine());
  ASSERT_TRUE(datFile_.ReadFile(Write(OnePackPackage())));
  EXPECT_FALSE(datFile_.IsFileReady());
  EXPECT_EQ(datFile_.GetFirmwareVersion(), "");
  ASSERT_TRUE(datFile_.Examine());
  EXPECT_EQ(datFile_.CountDataPack(), 1);
  datFile_.DeleteTempFiles();
  for (const char* name : {"TEMP1.INI", "TEMP1.BIN", "TEMP2.INI", "TEMP2.BIN"}) {
    EXPECT_FALSE(fs::exists(Work(name))) << name;
  }
  DatFileExamine fresh(work_.path().string());
  fresh.DeleteTempFiles();  // no path set: nothing to do
}

TEST_F(DatFileExamineTest, UpdatersFollowTheChipFamiliesAndTheirStepCountsAddUp) {
  struct Case {
    const char* name;
    std::vector<DataPackContents> packs;
    bool ready;
    uint32_t update1;
    uint32_t update2;
  };
  const Case cases[] = {
      {"A2 then A1", {A2Pack(), A1Pack()}, true, kA2, kA1},
      {"C1 then A2", {C1Pack(), A2Pack()}, true, kC1, kA2},
      // Pack 1 loaded, yet an unknown second family refuses the package.
      {"A2 then unknown", {A2Pack(), Unknown(A1Pack())}, false, kA2, kNone},
      {"unknown first", {Unknown(C1Pack()), A2Pack()}, false, kNone, kNone},
      // One pack after two: the second updater is gone.
      {"A1 after two packs", {A1Pack()}, true, kA1, kNone},
      // Pack 2 is not looked at when pack 1 fails its Load (an empty image).
      {"pack 1 fails its load", {C1Pack(0), A2Pack()}, false, kC1, kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Open(c.packs), c.ready);
    EXPECT_EQ(datFile_.IsFileReady(), c.ready);
    EXPECT_EQ(datFile_.CountDataPack(), c.packs.size());
    EXPECT_EQ(FamilyOf(datFile_.Updater(1)), c.update1);
    EXPECT_EQ(FamilyOf(datFile_.Updater(2)), c.update2);
    // A package that is not ready has no steps to run, whatever its updaters hold.
    EXPECT_EQ(datFile_.TotalStepCount() > 0, c.ready);
    if (!c.ready) {
      EXPECT_FALSE(datFile_.DoStep(0));
    }
  }
}

// Guards against the device receiving bytes that changed on disk after the sums were checked.
TEST_F(DatFileExamineTest, WorkFilesChangedBeforeTheUpdatersReadThemAreRefused) {
  const auto flipLast = [](std::vector<uint8_t>& b) { b.back() ^= 0x01; };
  const auto append = [](std::vector<uint8_t>& b) { b.push_back(b.back()); };
  const auto dropLast = [](std::vector<uint8_t>& b) { b.pop_back(); };
  // The fixture descriptions start with a comment: a changed comment still loads.
  const auto flipComment = [](std::vector<uint8_t>& b) { b[3] ^= 0x20; };
  const auto unchanged = [](std::vector<uint8_t>&) {};
  struct Case {
    const char* name;
    const char* file;
    std::function<void(std::vector<uint8_t>&)> change;
    bool ready;
  };
  const Case cases[] = {
      {"nothing changed", "TEMP1.BIN", unchanged, true},
      {"image 1 byte changed", "TEMP1.BIN", flipLast, false},
      {"image 1 longer", "TEMP1.BIN", append, false},
      {"image 1 shorter", "TEMP1.BIN", dropLast, false},
      {"description 1 comment changed", "TEMP1.INI", flipComment, false},
      {"image 2 byte changed", "TEMP2.BIN", flipLast, false},
      {"description 2 comment changed", "TEMP2.INI", flipComment, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tamper(c.file, c.change);
    EXPECT_EQ(Open({A2Pack(), A1Pack()}), c.ready);
  }
}

}  // namespace
}  // namespace vortan
