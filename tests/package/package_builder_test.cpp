// SPDX-License-Identifier: Apache-2.0
#include "package_builder/package_builder.h"

#include <gtest/gtest.h>

#include "package_builder/package_description.h"
#include "support/temp_dir.h"

namespace vortan {
namespace {

// Every name the tool lists must parse, so --break offers nothing it cannot do.
TEST(PackageBuilderTest, BreakageNamesParse) {
  pack::Breakage b;
  for (const std::string& name : pack::BreakageNames()) {
    std::string text = name.substr(0, name.find_first_of("[="));
    if (name.find('=') != std::string::npos) text += "=1";
    EXPECT_TRUE(pack::ParseBreakage(text, b)) << name;
  }
  ASSERT_TRUE(pack::ParseBreakage("image-sum:2", b));
  EXPECT_EQ(b.pack, 2);
  for (const char* bad : {"image-sum:3", "image-sum=2", "header-sum:1", "count-byte", "x"}) {
    EXPECT_FALSE(pack::ParseBreakage(bad, b)) << bad;
  }
}

TEST(PackageBuilderTest, DescriptionNamesFilesInlineTextAndGeneratedImages) {
  testing::TempDir dir;
  ASSERT_TRUE(testing::WriteText(dir.File("chip.ini"), "[sector size]\n"));
  ASSERT_TRUE(testing::WriteBytes(dir.File("fw.bin"), {1, 2, 3}));
  const std::string json = R"({"keys": ["Fn"], "dataPacks": [
      {"chipFamily": "C1", "description": "chip.ini", "image": "fw.bin"},
      {"descriptionText": "x", "generatedImage": {"length": 100, "seed": 5}}]})";
  pack::PackageContents contents;
  std::string error;
  ASSERT_TRUE(pack::ParsePackageDescription(json, dir.path(), contents, error)) << error;
  EXPECT_EQ(contents.keys[0], "Fn");
  ASSERT_EQ(contents.packs.size(), 2u);
  EXPECT_EQ(contents.packs[0].description, "[sector size]\n");
  EXPECT_EQ(contents.packs[0].image, std::vector<uint8_t>({1, 2, 3}));
  EXPECT_EQ(contents.packs[1].image, pack::GenerateImage(100, 5));

  const char* malformed[] = {
      "not json",
      R"({"dataPacks": [{"descriptionText": "", "image": "missing.bin"}]})",
      R"({"dataPacks": [{"descriptionText": ""}]})",
      R"({"dataPack": []})",
      R"({"productModel": 25, "dataPacks": []})",
  };
  for (const char* text : malformed) {
    EXPECT_FALSE(pack::ParsePackageDescription(text, dir.path(), contents, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

}  // namespace
}  // namespace vortan
