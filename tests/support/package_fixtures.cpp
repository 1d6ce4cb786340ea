#include "support/package_fixtures.h"

#include <gtest/gtest.h>

#include "package_builder/description_pieces.h"
#include "support/temp_dir.h"

namespace vortan::testing {

std::string A2DescriptionText() {
  return R"(; two 8 KiB sectors then 32 KiB sectors; the first holds the loader
[Chip Type]
Type = 1
[Flash Modle]
VX29LV800B
[Write Modle]
Mode = 0
[Reserved Sector]
0x0000
[Block Size]
Size = 0x800
[Time]
MaxWriteBack = 1000
MaxSectorEraseTime = 2000
[Data]
Blank = 0xFFFF
)" + pack::A2CycleSections() +
         R"([Sector Address List]
0x0000
0x1000
0x2000
0x6000
0xA000
)";
}

std::string C1DescriptionText() {
  return pack::C1Description("0x1000");
}

std::string A1DescriptionText() {
  return R"(-- internal flash, the loader below the start address
[Chip Info]
Chip Name = VX32F103
Chip Type = 2
Chip Size = 0x20000
[Transmission Info]
Start Address = 0x4000
Data Length = 0x800
Time Over = 3000
)";
}

pack::DataPackContents A2Pack(size_t imageLength, uint32_t seed) {
  return {"A2", 0, A2DescriptionText(), pack::GenerateImage(imageLength, seed)};
}

pack::DataPackContents C1Pack(size_t imageLength, uint32_t seed) {
  return {"C1", 0, C1DescriptionText(), pack::GenerateImage(imageLength, seed)};
}

pack::DataPackContents A1Pack(size_t imageLength, uint32_t seed) {
  return {"A1", 0, A1DescriptionText(), pack::GenerateImage(imageLength, seed)};
}

pack::PackageContents OnePackPackage() {
  pack::PackageContents contents;
  contents.productModel = "VORTAN KB 25";
  contents.firmwareVersion = "V1.0.0";
  contents.keys = {"Fn", "Esc", ""};
  contents.packs = {A2Pack()};
  return contents;
}

pack::PackageContents TwoPackPackage() {
  pack::PackageContents contents = OnePackPackage();
  contents.packs.push_back(A1Pack());
  return contents;
}

std::vector<uint8_t> BuildOrFail(const pack::PackageContents& contents,
                                 const pack::Breakage& breakage) {
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(pack::BuildPackage(contents, breakage, bytes, error)) << error;
  return bytes;
}

std::string WritePackage(const TempDir& dir, const std::string& name,
                         const pack::PackageContents& contents, const pack::Breakage& breakage) {
  const std::string path = dir.File(name);
  EXPECT_TRUE(pack::WritePackageFile(path, BuildOrFail(contents, breakage))) << path;
  return path;
}

}  // namespace vortan::testing
