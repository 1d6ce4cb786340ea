// SPDX-License-Identifier: Apache-2.0
#include "support/package_fixtures.h"

#include <gtest/gtest.h>

#include "package_builder/description_pieces.h"
#include "support/temp_dir.h"

namespace vortan::testing {

pack::DataPackContents A2Pack(size_t imageLength, uint32_t seed) {
  return {"A2", 0, pack::A2Description(), pack::GenerateImage(imageLength, seed)};
}

pack::DataPackContents C1Pack(size_t imageLength, uint32_t seed) {
  return {"C1", 0, pack::C1Description(), pack::GenerateImage(imageLength, seed)};
}

pack::DataPackContents A1Pack(size_t imageLength, uint32_t seed) {
  return {"A1", 0, pack::A1Description(), pack::GenerateImage(imageLength, seed)};
}

namespace {

// `pack` with the one occurrence of `anchor` in its description followed by `text`.
pack::DataPackContents After(pack::DataPackContents pack, const std::string& anchor,
                             const std::string& text) {
  const size_t at = pack.description.find(anchor);
  EXPECT_NE(at, std::string::npos) << anchor;
  if (at != std::string::npos) pack.description.insert(at + anchor.size(), text);
  return pack;
}

// Lines of `prefix` and sixteen bytes each, together every byte value 0x80-0xFF; no run of
// sixteen of these bytes is UTF-8, so the reader takes every such line as empty.
std::string EveryHighByte(const std::string& prefix) {
  std::string lines;
  for (int run = 0x80; run < 0x100; run += 16) {
    lines += prefix;
    for (int b = run; b < run + 16; ++b) lines += static_cast<char>(b);
    lines += '\n';
  }
  return lines;
}

constexpr char kScripts[] =
    "; Прошивка клавиатуры — für Tastaturen\n"
    "; キーボード 键盘固件 키보드 🎹\n"
    "// ü µ € ß ñ Ω ✓\n";

}  // namespace

std::vector<ForeignTextPack> ForeignTextPacks() {
  return {
      {"A2 comments in several scripts", "A2", After(A2Pack(), "[Time]\n", kScripts)},
      {"A2 flash model in several scripts", "A2",
       After(A2Pack(), "VX29LV800B", " Флэш-память 闪存 µ")},
      {"A2 every high byte in comments", "A2", After(A2Pack(), "[Data]\n", EveryHighByte("; "))},
      {"A2 every high byte in flash models", "A2",
       After(A2Pack(), "VX29LV800B\n", EveryHighByte("VX29LV800B "))},
      {"C1 a comment of one accented letter", "C1", After(C1Pack(), "0x0\n", "; ü\n")},
      {"C1 comments in several scripts", "C1", After(C1Pack(), "[spi number]\n", kScripts)},
      {"C1 every high byte in comments", "C1",
       After(C1Pack(), "[sector size]\n", EveryHighByte("// "))},
      {"C1 every high byte in lone lines", "C1", After(C1Pack(), "0x0\n", EveryHighByte(""))},
      {"A1 chip name in several scripts", "A1", After(A1Pack(), "VX32F103", " µC 芯片 Чип")},
      {"A1 comments in several scripts", "A1",
       After(A1Pack(), "[Transmission Info]\n", "-- Übertragung 전송 передача\n")},
      {"A1 every high byte in comments", "A1",
       After(A1Pack(), "[Transmission Info]\n", EveryHighByte("-- "))},
      {"A1 every high byte in chip names", "A1",
       After(A1Pack(), "Chip Name = VX32F103\n", EveryHighByte("Chip Name = "))},
  };
}

pack::PackageContents PackageOf(std::vector<pack::DataPackContents> packs) {
  pack::PackageContents contents;
  contents.productModel = "VORTAN KB 25";
  contents.firmwareVersion = "V1.0.0";
  contents.keys = {"Fn", "Esc", ""};
  contents.packs = std::move(packs);
  return contents;
}

pack::PackageContents OnePackPackage() {
  return PackageOf({A2Pack()});
}

pack::PackageContents TwoPackPackage() {
  return PackageOf({A2Pack(), A1Pack()});
}

std::string WritePackage(const TempDir& dir, const std::string& name,
                         const pack::PackageContents& contents, const pack::Breakage& breakage) {
  const std::string path = dir.File(name);
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(pack::BuildPackage(contents, breakage, bytes, error)) << error;
  EXPECT_TRUE(pack::WritePackageFile(path, bytes)) << path;
  return path;
}

}  // namespace vortan::testing
