// `vortan-flash devices` and `vortan-flash flash` through the real binary, against simulated
// devices (real pauses: packages here stay at a few steps) and, for "no device", real hidapi.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "support/package_fixtures.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vortan {
namespace {

constexpr char kNoDeviceText[] = "No Device (Press \"Fn\" + \"Esc\" to open)";
constexpr char kTwoDevicesText[] = "More than one device! Remove some devices";

// C1 then A1, three steps each: a whole update of about three seconds of pauses.
pack::PackageContents ShortTwoPackPackage() {
  pack::PackageContents contents = testing::OnePackPackage();
  contents.packs = {testing::C1Pack(0x1000), testing::A1Pack(0x800)};
  return contents;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class DeviceCommandsTest : public ::testing::Test {
 protected:
  testing::ProgramResult Flash(std::vector<std::string> args) {
    args.insert(args.begin(), {"--work-dir", work_.path().string()});
    return testing::RunProgram(VORTAN_FLASH_PATH, args, dir_);
  }
  std::string Package(const pack::PackageContents& contents = ShortTwoPackPackage()) {
    return testing::WritePackage(dir_, "update.dat", contents);
  }

  testing::TempDir dir_;
  testing::TempDir work_;
};

TEST_F(DeviceCommandsTest, DevicesCountsAndShowsTheWindowsStatusText) {
  struct Case {
    const char* devices;
    std::string statusText;
    int exitCode;
  };
  const Case cases[] = {
      {"0", "No Device (Open dat file first)", 4},
      {"1", "Device connected. Press \"Update\"", 0},
      {"2", kTwoDevicesText, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.devices);
    const testing::ProgramResult shown = Flash({"devices", "--simulate-devices", c.devices});
    EXPECT_EQ(shown.exitCode, c.exitCode) << shown.err;
    EXPECT_EQ(shown.out, std::string("Matching devices (VID 0xF1A5, PID 0x1234): ") + c.devices +
                             "\n" + c.statusText + "\n");
  }
}

TEST_F(DeviceCommandsTest, ADeviceThatCannotBeOpenedForLackOfPermissionGetsTheUdevRule) {
  const std::string config = dir_.File("Config.ini");
  ASSERT_TRUE(testing::WriteText(config, "IDC_VID=0x0483\nIDC_PID=0x5750\n"));
  const testing::ProgramResult shown = Flash({"devices", "--simulate-denied", "--config", config});
  EXPECT_EQ(shown.exitCode, 4);
  EXPECT_NE(shown.err.find("The device cannot be opened: Permission denied\n"), std::string::npos)
      << shown.err;
  EXPECT_NE(shown.err.find("/etc/udev/rules.d/70-vortan-updater.rules"), std::string::npos);
  EXPECT_NE(shown.err.find("ATTRS{idVendor}==\"0483\", ATTRS{idProduct}==\"5750\", "
                           "TAG+=\"uaccess\"\n"),
            std::string::npos)
      << shown.err;

  // flash opens the link only in its first step, so the refusal ends the run.
  const testing::ProgramResult run = Flash({"flash", Package(), "--simulate-denied"});
  EXPECT_EQ(run.exitCode, 5);
  EXPECT_EQ(run.err.rfind("Update Error!\nThe device cannot be opened: Permission denied\n", 0), 0u)
      << run.err;
}

TEST_F(DeviceCommandsTest, FlashWithoutExactlyOneDeviceShowsTheStatusTextAndExits4) {
  const std::string package = Package();
  // Real hidapi: a configured device no machine carries.
  const std::string config = dir_.File("Config.ini");
  ASSERT_TRUE(testing::WriteText(config, "IDC_VID=0xF1A5\nIDC_PID=0xFFFE\n"));
  const std::vector<std::string> noDevice[] = {
      {"flash", package, "--config", config},
      {"flash", package, "--simulate-devices", "0"},
  };
  for (const auto& args : noDevice) {
    const testing::ProgramResult shown = Flash(args);
    EXPECT_EQ(shown.exitCode, 4) << shown.err;
    EXPECT_EQ(shown.err, std::string(kNoDeviceText) + "\n");
    EXPECT_EQ(shown.out, "");
  }
  const testing::ProgramResult two = Flash({"flash", package, "--simulate-devices", "2"});
  EXPECT_EQ(two.exitCode, 4);
  EXPECT_EQ(two.err, std::string(kTwoDevicesText) + "\n");
  EXPECT_TRUE(std::filesystem::is_empty(work_.path()));
}

TEST_F(DeviceCommandsTest, FlashRefusesABrokenPackageBeforeLookingForTheDevice) {
  const std::string package =
      testing::WritePackage(dir_, "bad.dat", ShortTwoPackPackage(), {pack::Fault::kImageSum, 2});
  const testing::ProgramResult shown = Flash({"flash", package, "--simulate"});
  EXPECT_EQ(shown.exitCode, 3);
  EXPECT_EQ(shown.err, "Checksum or file format error: " + package + "\n");
  EXPECT_EQ(Flash({"flash", dir_.File("missing.dat"), "--simulate"}).exitCode, 3);
}

TEST_F(DeviceCommandsTest, ASimulatedTwoPackUpdateSucceedsWithATraceOfEveryReport) {
  const std::string package = Package();
  const std::string trace = dir_.File("trace.txt");
  const testing::ProgramResult shown = Flash({"flash", package, "--simulate", "--trace", trace});
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_EQ(shown.out, "Updating VORTAN KB 25 to firmware V1.0.0 in 6 steps\nUpdate Success!\n");
  EXPECT_EQ(Lines(shown.err),
            (std::vector<std::string>{"Step 1 of 6 done", "Step 2 of 6 done", "Step 3 of 6 done",
                                      "Step 4 of 6 done", "Step 5 of 6 done", "Step 6 of 6 done"}));
  EXPECT_TRUE(std::filesystem::is_empty(work_.path()));

  bool ok = false;
  const std::vector<uint8_t> bytes = testing::ReadBytes(trace, &ok);
  ASSERT_TRUE(ok);
  const std::vector<std::string> lines = Lines(std::string(bytes.begin(), bytes.end()));
  ASSERT_GE(lines.size(), 2u);
  const std::regex report("(H>D|D>H)( [0-9A-F]{2}){64}");
  for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, report)) << line;
  // First the C1 update-mode request (family code 3), last the finish command reporting success.
  EXPECT_EQ(lines.front().substr(0, 51), "H>D 51 04 00 00 00 00 00 00 00 01 0A 4D 03 00 00 00");
  EXPECT_EQ(lines[lines.size() - 2].substr(0, 42), "H>D 51 04 00 00 00 00 00 00 00 09 00 00 00");
}

TEST_F(DeviceCommandsTest, AFaultInTheSecondPackEndsTheRunWithUpdateErrorAndAFailedFinish) {
  const std::string package = Package();
  const std::string faults = dir_.File("faults.txt");
  ASSERT_TRUE(testing::WriteText(faults,
                                 "# the A1 block's echo comes back wrong\n"
                                 "wrong_echo a1.write 1 byte=1\n"));
  const std::string trace = dir_.File("trace.txt");
  const testing::ProgramResult shown =
      Flash({"flash", package, "--simulate-faults", faults, "--trace", trace});
  EXPECT_EQ(shown.exitCode, 5);
  EXPECT_EQ(shown.out, "Updating VORTAN KB 25 to firmware V1.0.0 in 6 steps\n");
  EXPECT_EQ(Lines(shown.err),
            (std::vector<std::string>{"Step 1 of 6 done", "Step 2 of 6 done", "Step 3 of 6 done",
                                      "Step 4 of 6 done", "Update Error!"}));
  const std::vector<uint8_t> bytes = testing::ReadBytes(trace);
  const std::vector<std::string> lines = Lines(std::string(bytes.begin(), bytes.end()));
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2].substr(0, 42), "H>D 51 04 00 00 00 00 00 00 00 09 01 00 00");
}

TEST_F(DeviceCommandsTest, UnusableSimulationAndTraceOptionsAreUsageErrors) {
  const std::string package = Package();
  const std::string badScript = dir_.File("bad.txt");
  ASSERT_TRUE(testing::WriteText(badScript, "melt_down\n"));
  const std::vector<std::string> usageErrors[] = {
      {"flash", package, "--simulate-faults", badScript},
      {"flash", package, "--simulate-faults", dir_.File("missing.txt")},
      {"flash", package, "--simulate", "--trace", dir_.File("no/such/folder/trace.txt")},
      {"devices", "--simulate-devices", "-1"},
      {"inspect", package, "--simulate"},
  };
  for (const auto& args : usageErrors) {
    const testing::ProgramResult shown = Flash(args);
    EXPECT_EQ(shown.exitCode, 2) << ::testing::PrintToString(args) << shown.err;
    EXPECT_EQ(shown.out.find("Update"), std::string::npos);
  }
}

}  // namespace
}  // namespace vortan
