// Chip description settings that would have the device mis-flashed are refused when the package
// is examined, so `vortan-flash inspect` answers with the format error before anything could
// reach a device. Each refusal sits beside the nearest value that passes, so a case can only
// pass for the reason it names.
#include <gtest/gtest.h>

#include "support/package_fixtures.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vortan {
namespace {

// `text` with its one occurrence of `from` replaced by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The A2 program cycle section with `cycles` address and data lines.
std::string A2WithProgramCycles(int cycles) {
  const std::string base = testing::A2DescriptionText();
  const size_t begin = base.find("[Program Cycle]");
  const size_t end = base.find("[Write Buffer Cycle]");
  std::string section = "[Program Cycle]\nProgramCycles = " + std::to_string(cycles) + "\n";
  for (int i = 1; i <= cycles; ++i) {
    section += "Addr" + std::to_string(i) + " = 0x555\nData" + std::to_string(i) + " = 0xAA\n";
  }
  return base.substr(0, begin) + section + base.substr(end);
}

std::string A2With(const std::string& from, const std::string& to) {
  return Replaced(testing::A2DescriptionText(), from, to);
}

std::string A2WithFileOffset(const std::string& value) {
  return A2With("[Time]", "[File Offset]\nFileOffset = " + value + "\n[Time]");
}

struct Case {
  const char* what;
  pack::DataPackContents pack;
  bool accepted;
};

pack::DataPackContents A2(std::string description) {
  pack::DataPackContents pack = testing::A2Pack();
  pack.description = std::move(description);
  return pack;
}

pack::DataPackContents C1SectorSize(const std::string& size) {
  pack::DataPackContents pack = testing::C1Pack();
  pack.description = Replaced(pack.description, "Size = 0x1000", "Size = " + size);
  return pack;
}

// An image of 96 KiB fills the fixture chip's room (128 KiB less twice the 16 KiB start).
pack::DataPackContents A1DataLength(const std::string& length) {
  pack::DataPackContents pack = testing::A1Pack(0x18000);
  pack.description = Replaced(pack.description, "Data Length = 0x800", "Data Length = " + length);
  return pack;
}

TEST(DescriptionRefusalTest, InspectRefusesSettingsTheLoaderWouldMisreadWithTheFormatError) {
  const Case cases[] = {
      // The write command announces the block length in 16 bits.
      {"A1 block 0x20000", A1DataLength("0x20000"), false},
      {"A1 block 0x10040", A1DataLength("0x10040"), false},
      {"A1 block 65536, sent as 00 00", A1DataLength("0x10000"), true},
      // A first erase poll at 700 ms already exceeds a shorter erase time.
      {"A2 erase time 699", A2(A2With("MaxSectorEraseTime = 2000", "MaxSectorEraseTime = 699")),
       false},
      {"A2 erase time 700", A2(A2With("MaxSectorEraseTime = 2000", "MaxSectorEraseTime = 700")),
       true},
      // No 16-bit word equals a larger blank value.
      {"A2 blank 0x10000", A2(A2With("Blank = 0xFFFF", "Blank = 0x10000")), false},
      // FileOffset x 2 must not wrap past the image length in 32 bits.
      {"A2 file offset 0x80000010", A2(A2WithFileOffset("0x80000010")), false},
      {"A2 file offset 0x10", A2(A2WithFileOffset("0x10")), true},
      // The cycle commands carry the count doubled in one byte.
      {"A2 128 program cycles", A2(A2WithProgramCycles(128)), false},
      {"A2 127 program cycles", A2(A2WithProgramCycles(127)), true},
      // The flash setup command carries 24 bits of the sector size.
      {"C1 sector 0x1010000", C1SectorSize("0x1010000"), false},
      {"C1 sector 0", C1SectorSize("0"), false},
      {"C1 sector 0xFFFFFF", C1SectorSize("0xFFFFFF"), true},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir dir;
    pack::PackageContents contents = testing::OnePackPackage();
    contents.packs = {c.pack};
    const std::string package = testing::WritePackage(dir, "p.dat", contents);
    const testing::ProgramResult shown = testing::RunProgram(
        VORTAN_FLASH_PATH, {"inspect", package, "--work-dir", dir.path().string()}, dir);
    if (c.accepted) {
      EXPECT_EQ(shown.exitCode, 0) << shown.err;
    } else {
      EXPECT_EQ(shown.exitCode, 3);
      EXPECT_EQ(shown.err, "Checksum or file format error: " + package + "\n");
      EXPECT_EQ(shown.out, "");
    }
  }
}

}  // namespace
}  // namespace vortan
