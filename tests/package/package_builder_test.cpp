#include "package_builder/package_builder.h"

#include <gtest/gtest.h>

#include "package_builder/package_description.h"
#include "support/temp_dir.h"

namespace vortan {
namespace {

using pack::Breakage;
using pack::Fault;

TEST(PackageBuilder, BreakageNamesParse) {
  struct Case {
    const char* text;
    bool ok;
    Fault fault;
    int pack;
    uint32_t value;
  };
  const Case cases[] = {
      {"header-sum", true, Fault::kHeaderSum, 1, 0},
      {"image-sum:2", true, Fault::kImageSum, 2, 0},
      {"descriptor-sum", true, Fault::kDescriptorSum, 1, 0},
      {"count-byte=3", true, Fault::kCountByte, 1, 3},
      {"truncate=300", true, Fault::kTruncate, 1, 300},
      {"image-offset-wrap:1", true, Fault::kImageOffsetWrap, 1, 0},
      {"image-sum:3", false, Fault::kNone, 1, 0},
      {"image-sum=2", false, Fault::kNone, 1, 0},
      {"header-sum:1", false, Fault::kNone, 1, 0},
      {"count-byte", false, Fault::kNone, 1, 0},
      {"truncate=x", false, Fault::kNone, 1, 0},
      {"nonsense", false, Fault::kNone, 1, 0},
  };
  for (const Case& c : cases) {
    Breakage b;
    EXPECT_EQ(pack::ParseBreakage(c.text, b), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(b.fault, c.fault) << c.text;
    EXPECT_EQ(b.pack, c.pack) << c.text;
    EXPECT_EQ(b.value, c.value) << c.text;
  }
  for (const std::string& name : pack::BreakageNames()) {
    std::string text = name.substr(0, name.find_first_of("[="));
    if (name.find('=') != std::string::npos) text += "=1";
    Breakage b;
    EXPECT_TRUE(pack::ParseBreakage(text, b)) << name;
  }
}

TEST(PackageBuilder, DescriptionFileNamesTextsFilesAndGeneratedImages) {
  testing::TempDir dir;
  ASSERT_TRUE(testing::WriteText(dir.File("chip.ini"), "[sector size]\nSize = 0x1000\n"));
  ASSERT_TRUE(testing::WriteBytes(dir.File("fw.bin"), {1, 2, 3}));
  const std::string json = R"({
    "productModel": "VORTAN KB 25", "firmwareVersion": "V2", "keys": ["Fn"],
    "dataPacks": [
      {"chipFamily": "C1", "description": "chip.ini", "image": "fw.bin"},
      {"chipFamily": "A1", "familyTail": 7, "descriptionText": "x",
       "generatedImage": {"length": 100, "seed": 5}}
    ]})";
  pack::PackageSpec spec;
  std::string error;
  ASSERT_TRUE(pack::ParsePackageDescription(json, dir.path(), spec, error)) << error;
  EXPECT_EQ(spec.keys[0], "Fn");
  EXPECT_EQ(spec.keys[1], "");
  ASSERT_EQ(spec.packs.size(), 2u);
  EXPECT_EQ(spec.packs[0].description, "[sector size]\nSize = 0x1000\n");
  EXPECT_EQ(spec.packs[0].image, std::vector<uint8_t>({1, 2, 3}));
  EXPECT_EQ(spec.packs[1].familyTail, 7);
  EXPECT_EQ(spec.packs[1].image, pack::GenerateImage(100, 5));
}

TEST(PackageBuilder, MalformedDescriptionsAreRefusedWithAReason) {
  testing::TempDir dir;
  const char* cases[] = {
      "not json",
      "[]",
      R"({"dataPacks": [{"chipFamily": "A2", "descriptionText": "", "image": "missing.bin"}]})",
      R"({"dataPacks": [{"chipFamily": "A2", "descriptionText": ""}]})",
      R"({"dataPacks": [{"descriptionText": "", "description": "x",
          "generatedImage": {"length": 1, "seed": 1}}]})",
      R"({"dataPacks": [{"descriptionText": "", "generatedImage": {"length": -1, "seed": 1}}]})",
      R"({"dataPack": []})",
      R"({"keys": ["a", "b", "c", "d"], "dataPacks": []})",
      R"({"productModel": 25, "dataPacks": []})",
  };
  for (const char* json : cases) {
    pack::PackageSpec spec;
    std::string error;
    EXPECT_FALSE(pack::ParsePackageDescription(json, dir.path(), spec, error)) << json;
    EXPECT_FALSE(error.empty()) << json;
  }
}

TEST(PackageBuilder, SpecsThatCannotBeLaidOutAreRefused) {
  pack::PackageSpec none;
  pack::PackageSpec longModel;
  longModel.productModel = "VORTAN KB 25 PRO MAX";
  longModel.packs.resize(1);
  pack::PackageSpec longKey;
  longKey.keys[2] = "Backspace";
  longKey.packs.resize(1);
  pack::PackageSpec one;
  one.packs.resize(1);
  const std::pair<pack::PackageSpec, Breakage> cases[] = {
      {none, {}},
      {longModel, {}},
      {longKey, {}},
      {one, {Fault::kImageSum, 2}},
      {one, {Fault::kTruncate, 1, 256}},
  };
  for (const auto& [spec, breakage] : cases) {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_FALSE(pack::BuildPackage(spec, breakage, bytes, error));
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace vortan
