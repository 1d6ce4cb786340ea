#include "package/dat_file_examine.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/package_fixtures.h"
#include "support/temp_dir.h"

namespace vortan {
namespace {

namespace fs = std::filesystem;
using pack::Breakage;
using pack::Fault;
using Strings = std::vector<std::string>;
using testing::OnePackPackage;
using testing::TwoPackPackage;

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

  testing::TempDir dir_;
  testing::TempDir work_;
  DatFileExamine datFile_{work_.path().string()};
};

// Each refusal also comes before the writing: the work files of the package examined before
// stay as they were. (An unknown chip family, refused after the writing, is PackageObjectTest's.)
TEST_F(DatFileExamineTest, EachRefusalReasonRefusesOnItsOwn) {
  ASSERT_TRUE(datFile_.ReadFile(
      Write(testing::PackageOf({testing::A2Pack(0x2000, 98), testing::A1Pack(0x2000, 99)}))));
  ASSERT_TRUE(datFile_.Examine());
  const auto images = [this] {
    return testing::ReadText(Work("TEMP1.BIN")) + testing::ReadText(Work("TEMP2.BIN"));
  };
  const std::string earlier = images();
  struct Case {
    const char* reason;
    pack::PackageContents contents;
    Breakage breakage;
  };
  const pack::PackageContents one = OnePackPackage();
  const pack::PackageContents two = TwoPackPackage();
  const Case cases[] = {
      {"count byte 0", one, {Fault::kCountByte, 1, 0}},
      {"count byte 3", one, {Fault::kCountByte, 1, 3}},
      {"count byte 255", two, {Fault::kCountByte, 1, 255}},
      {"header sum", one, {Fault::kHeaderSum}},
      {"descriptor 1 sum", one, {Fault::kDescriptorSum, 1}},
      {"descriptor 2 sum", two, {Fault::kDescriptorSum, 2}},
      {"chip description 1 sum", two, {Fault::kDescriptionSum, 1}},
      {"chip description 2 sum", two, {Fault::kDescriptionSum, 2}},
      {"image 1 sum", two, {Fault::kImageSum, 1}},
      {"image 2 sum", two, {Fault::kImageSum, 2}},
      {"chip description 1 past the end", one, {Fault::kDescriptionOutside, 1}},
      {"chip description 2 past the end", two, {Fault::kDescriptionOutside, 2}},
      {"image 1 past the end", one, {Fault::kImageOutside, 1}},
      {"image 2 past the end", two, {Fault::kImageOutside, 2}},
      // A 32-bit offset + length would wrap to 0x10 and pass.
      {"image 1 offset wraps", one, {Fault::kImageOffsetWrap, 1}},
      {"image 2 offset wraps", two, {Fault::kImageOffsetWrap, 2}},
      {"product model without 25", one, {Fault::kProductModel}},
      {"model VORTAN KB 26", WithModel("VORTAN KB 26"), {}},
      {"model KB 25", WithModel("KB 25"), {}},
      {"model case differs", WithModel("Vortan KB 25"), {}},
      {"model 25 after its NUL", WithModel(std::string("VORTAN\0 25", 10)), {}},
      // Too short for the blocks declared: the length is checked before each block is read.
      {"no room for the count byte", one, {Fault::kTruncate, 1, 127}},
      {"no room for descriptor 1", one, {Fault::kTruncate, 1, 255}},
      {"no room for descriptor 2", two, {Fault::kTruncate, 1, 383}},
      {"sections cut off", two, {Fault::kTruncate, 1, 1000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    ASSERT_TRUE(datFile_.ReadFile(Write(c.contents, c.breakage)));
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
      {"25 before VORTAN", WithModel("25 VORTAN")},
      {"model fills its field", WithModel("VORTAN KB 25 PRO")},  // 16 bytes, no NUL
      {"bytes after the family ignored", tail},
      {"C1 then A2", testing::PackageOf({testing::C1Pack(), testing::A2Pack()})},
      // Exactly the blocks declared, with empty sections right after them: the reader writes the
      // (empty) work files, and then the updaters refuse an empty image.
      {"256-byte package", testing::PackageOf({emptyC1}), false},
      {"384-byte package", testing::PackageOf({emptyC1, {"A1", 0, "", {}}}), false},
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

}  // namespace
}  // namespace vortan
