#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "support/package_fixtures.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vortan {
namespace {

using pack::Breakage;
using pack::Fault;

class InspectTest : public ::testing::Test {
 protected:
  // vortan-flash with the work files in this test's own folder.
  testing::ProgramResult Flash(std::vector<std::string> args) {
    args.insert(args.begin(), {"--work-dir", work_.path().string()});
    return testing::RunProgram(VORTAN_FLASH_PATH, args, dir_);
  }

  testing::TempDir dir_;
  testing::TempDir work_;
};

TEST_F(InspectTest, TheSamplePackagePrintsItsModelVersionKeysAndPacks) {
  const std::string package = dir_.File("sample.dat");
  const testing::ProgramResult packed = testing::RunProgram(
      VORTAN_PACK_PATH, {VORTAN_SAMPLES_DIR "/sample_package.json", "-o", package}, dir_);
  ASSERT_EQ(packed.exitCode, 0) << packed.err;

  const testing::ProgramResult shown = Flash({"inspect", package});
  EXPECT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_EQ(shown.err, "");
  EXPECT_NE(shown.out.find("Product model:    VORTAN KB 25\n"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("Firmware version: V2.1.0\n"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("Key names:        \"Fn\" \"Esc\" \"\"\n"), std::string::npos);
  EXPECT_NE(shown.out.find("Data pack 1:      chip family A2\n"), std::string::npos);
  EXPECT_NE(shown.out.find("Firmware image:   offset "), std::string::npos);
  EXPECT_NE(shown.out.find("Data pack 2:      chip family A1\n"), std::string::npos);
  EXPECT_NE(shown.out.find("\nTotal steps:      13\n"
                           "No-device text:   No Device (Press \"Fn\" + \"Esc\" to open)\n"),
            std::string::npos)
      << shown.out;
  // The work files go as when the window closes.
  EXPECT_TRUE(std::filesystem::is_empty(work_.path()));
}

TEST_F(InspectTest, JsonCarriesTheSameFacts) {
  const std::string package = testing::WritePackage(dir_, "two.dat", testing::TwoPackPackage());
  const testing::ProgramResult shown = Flash({"inspect", "--json", package});
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  const nlohmann::json out = nlohmann::json::parse(shown.out, nullptr, false);
  ASSERT_TRUE(out.is_object()) << shown.out;
  EXPECT_EQ(out["productModel"], "VORTAN KB 25");
  EXPECT_EQ(out["firmwareVersion"], "V1.0.0");
  EXPECT_EQ(out["keys"], nlohmann::json({"Fn", "Esc", ""}));
  ASSERT_EQ(out["dataPacks"].size(), 2u);
  EXPECT_EQ(out["dataPacks"][1]["chipFamily"], "A1");
  EXPECT_EQ(out["dataPacks"][0]["description"]["offset"], 384);
  EXPECT_EQ(out["dataPacks"][1]["image"]["length"], testing::A1Pack().image.size());
  // A1: update mode, one step per 2 KiB block of the 4 KiB image, the region check.
  EXPECT_EQ(out["dataPacks"][1]["steps"], 4);
  EXPECT_EQ(out["totalSteps"],
            out["dataPacks"][0]["steps"].get<int>() + out["dataPacks"][1]["steps"].get<int>());
  EXPECT_EQ(out["noDeviceText"], "No Device (Press \"Fn\" + \"Esc\" to open)");
}

TEST_F(InspectTest, RefusedPackagesPrintTheWindowsMessageAndExit3) {
  struct Case {
    const char* what;
    Breakage breakage;
  };
  // The reader's own tests cover every reason; these show each kind reaches the exit status.
  const Case cases[] = {
      {"header sum", {Fault::kHeaderSum}},       {"offset wrap", {Fault::kImageOffsetWrap, 1}},
      {"product model", {Fault::kProductModel}}, {"chip family", {Fault::kChipFamily, 2}},
      {"truncated", {Fault::kTruncate, 1, 300}},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string package =
        testing::WritePackage(dir_, "bad.dat", testing::TwoPackPackage(), c.breakage);
    const testing::ProgramResult shown = Flash({"inspect", package});
    EXPECT_EQ(shown.exitCode, 3);
    EXPECT_EQ(shown.out, "");
    EXPECT_EQ(shown.err, "Checksum or file format error: " + package + "\n");
  }
}

TEST_F(InspectTest, UnreadablePackagesExit3AndAFifoAnswersPromptly) {
  const std::string empty = dir_.File("empty.dat");
  ASSERT_TRUE(testing::WriteBytes(empty, {}));
  const std::string fifo = dir_.File("x.dat");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {dir_.File("missing.dat"), empty, fifo}) {
    const testing::ProgramResult shown = Flash({"inspect", path});
    EXPECT_FALSE(shown.timedOut) << path;
    EXPECT_EQ(shown.exitCode, 3) << path;
    EXPECT_EQ(shown.err, "Unable to open dat file: " + path + "\n");
  }
}

TEST_F(InspectTest, UsageErrorsExit2AndOptionsMayFollowTheCommand) {
  const std::string package = testing::WritePackage(dir_, "one.dat", testing::OnePackPackage());
  const std::string config = dir_.File("Config.ini");
  ASSERT_TRUE(testing::WriteText(config, "IDC_VID=0x0483\n"));
  const std::vector<std::string> usageErrors[] = {
      {},
      {"inspect"},
      {"inspect", package, "--bogus"},
      {"frobnicate", package},
      {"inspect", package, "--config", dir_.File("missing.ini")},
  };
  for (const auto& args : usageErrors)
    EXPECT_EQ(Flash(args).exitCode, 2) << ::testing::PrintToString(args);
  EXPECT_EQ(Flash({"inspect", package, "--config", config}).exitCode, 0);
  EXPECT_EQ(Flash({"--config", config, "inspect", package, "--json"}).exitCode, 0);
}

}  // namespace
}  // namespace vortan
