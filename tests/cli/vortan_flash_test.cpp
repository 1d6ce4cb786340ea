// The real vortan-flash binary: inspect, devices and flash against simulated devices (real
// pauses: packages here stay at a few steps) and, for "no device", real hidapi.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

#include "support/package_fixtures.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vortan {
namespace {

using pack::Fault;

constexpr char kNoDeviceText[] = "No Device (Press \"Fn\" + \"Esc\" to open)";
constexpr char kTwoDevicesText[] = "More than one device! Remove some devices";

// C1 then A1, three steps each: a whole update of about three seconds of pauses.
pack::PackageContents ShortTwoPackPackage() {
  pack::PackageContents contents = testing::OnePackPackage();
  contents.packs = {testing::C1Pack(0x1000), testing::A1Pack(0x800)};
  return contents;
}

// One C1 pack of three steps: the shortest whole update, about 1.5 s of pauses.
pack::PackageContents SmallPackage() {
  pack::PackageContents contents = testing::OnePackPackage();
  contents.packs = {testing::C1Pack(0x1000)};
  return contents;
}

// Polls `done` for up to ten seconds.
template <typename Done>
bool WaitFor(Done done) {
  for (int i = 0; i < 1000; ++i) {
    if (done()) return true;
    ::usleep(10000);
  }
  return false;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> FileLines(const std::string& path) {
  const std::vector<uint8_t> bytes = testing::ReadBytes(path);
  return Lines(std::string(bytes.begin(), bytes.end()));
}

// `text` with its one occurrence of `from` replaced by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

class VortanFlashTest : public ::testing::Test {
 protected:
  // vortan-flash with the work files in this test's own folder.
  testing::ProgramResult Flash(std::vector<std::string> args) {
    args.insert(args.begin(), {"--work-dir", work_.path().string()});
    return testing::RunProgram(VORTAN_FLASH_PATH, args, dir_);
  }
  // The same, started in the background.
  testing::RunningProgram Start(std::vector<std::string> args, const std::string& name = "program",
                                const std::vector<int>& closed = {}) {
    args.insert(args.begin(), {"--work-dir", work_.path().string()});
    return testing::RunningProgram(VORTAN_FLASH_PATH, args, dir_, name, closed);
  }
  std::string Package(const pack::PackageContents& contents = ShortTwoPackPackage(),
                      const pack::Breakage& breakage = {}) {
    return testing::WritePackage(dir_, "update.dat", contents, breakage);
  }
  // What the runs left in the work folder's parent beyond the simulated keyboards' lock files.
  std::vector<std::string> LeftInWorkFolder() const {
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(work_.path())) {
      const std::string name = entry.path().filename().string();
      if (!(name.starts_with("vortan-simulated-") && name.ends_with(".lock"))) left.push_back(name);
    }
    return left;
  }
  void ExpectRefused(const testing::ProgramResult& shown, const std::string& package) {
    EXPECT_EQ(shown.exitCode, 3);
    EXPECT_EQ(shown.err, "Checksum or file format error: " + package + "\n");
    EXPECT_EQ(shown.out, "");
  }

  testing::TempDir dir_;
  testing::TempDir work_;
};

TEST_F(VortanFlashTest, InspectPrintsTheSamplePackageAndItsJson) {
  const std::string package = dir_.File("sample.dat");
  const testing::ProgramResult packed = testing::RunProgram(
      VORTAN_PACK_PATH, {VORTAN_SAMPLES_DIR "/sample_package.json", "-o", package}, dir_);
  ASSERT_EQ(packed.exitCode, 0) << packed.err;
  const testing::ProgramResult shown = Flash({"inspect", package});
  EXPECT_EQ(shown.exitCode, 0) << shown.err;
  for (const char* line :
       {"Product model:    VORTAN KB 25\n", "Firmware version: V2.1.0\n",
        "Key names:        \"Fn\" \"Esc\" \"\"\n", "Data pack 1:      chip family A2\n",
        "Data pack 2:      chip family A1\n", "\nTotal steps:      13\n",
        "No-device text:   No Device (Press \"Fn\" + \"Esc\" to open)\n"}) {
    EXPECT_NE(shown.out.find(line), std::string::npos) << line << shown.out;
  }
  EXPECT_TRUE(std::filesystem::is_empty(work_.path())) << "the work files go as at close";

  const testing::ProgramResult json =
      Flash({"inspect", "--json", Package(testing::TwoPackPackage())});
  const nlohmann::json out = nlohmann::json::parse(json.out, nullptr, false);
  ASSERT_TRUE(out.is_object()) << json.out;
  EXPECT_EQ(out["keys"], nlohmann::json({"Fn", "Esc", ""}));
  EXPECT_EQ(out["dataPacks"][1]["chipFamily"], "A1");
  // A1: update mode, one step per 2 KiB block of the 4 KiB image, the region check.
  EXPECT_EQ(out["dataPacks"][1]["steps"], 4);
  EXPECT_EQ(out["totalSteps"],
            out["dataPacks"][0]["steps"].get<int>() + out["dataPacks"][1]["steps"].get<int>());
  EXPECT_EQ(out["noDeviceText"], kNoDeviceText);
}

// Guards against a file left by another user in the shared folder blocking every other user.
TEST_F(VortanFlashTest, AWorkFilePlantedByAnotherUserDoesNotStopInspect) {
  const std::string planted = work_.File("TEMP1.INI");
  ASSERT_TRUE(testing::WriteText(planted, "theirs"));
  if (::chown(planted.c_str(), 65534, 65534) != 0) GTEST_SKIP() << "needs root to plant";
  const testing::ProgramResult shown = Flash({"inspect", Package()});
  EXPECT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_EQ(testing::ReadBytes(planted).size(), 6u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(work_.path()), {}), 1);
}

TEST_F(VortanFlashTest, RefusedAndUnreadablePackagesExit3AndAFifoAnswersPromptly) {
  // The reader's and the updaters' own tests cover every reason; these show the refusals
  // reach the exit status.
  for (const pack::Breakage& breakage :
       {pack::Breakage{Fault::kHeaderSum}, pack::Breakage{Fault::kChipFamily, 2}}) {
    const std::string package = Package(testing::TwoPackPackage(), breakage);
    ExpectRefused(Flash({"inspect", package}), package);
  }
  // A setting only the A2 updater refuses: a first erase poll at 700 ms exceeds 699 ms.
  pack::PackageContents tooQuick = testing::OnePackPackage();
  tooQuick.packs = {testing::A2Pack()};
  tooQuick.packs[0].description =
      Replaced(tooQuick.packs[0].description, "EraseTime = 2000", "EraseTime = 699");
  const std::string refusedByA2 = Package(tooQuick);
  ExpectRefused(Flash({"inspect", refusedByA2}), refusedByA2);
  const std::string fifo = dir_.File("x.dat");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // The system's reason follows on a line of its own.
  for (const auto& [path, reason] :
       {std::pair{dir_.File("missing.dat"), "No such file or directory"},
        std::pair{fifo, "Not a regular file"}}) {
    const testing::ProgramResult shown = Flash({"inspect", path});
    EXPECT_FALSE(shown.timedOut) << path;
    EXPECT_EQ(shown.exitCode, 3) << path;
    EXPECT_EQ(shown.err, "Unable to open dat file: " + path + "\n" + reason + "\n");
  }
}

// Guards against bytes other than the checked ones reaching the device when a work file changes
// between the package writing it and the updater reading it back (the preloaded shim changes it).
TEST_F(VortanFlashTest, AChangedWorkFileRefusesThePackageAndNothingIsSent) {
  const std::string package = Package(testing::TwoPackPackage());
  const std::string trace = dir_.File("trace.txt");
  for (const char* file : {"TEMP1.INI", "TEMP1.BIN", "TEMP2.INI", "TEMP2.BIN"}) {
    SCOPED_TRACE(file);
    std::remove(trace.c_str());
    setenv("LD_PRELOAD", VORTAN_TAMPER_SHIM_PATH, 1);
    setenv("VORTAN_TAMPER_FILE", file, 1);
    const testing::ProgramResult run = Flash({"flash", package, "--simulate", "--trace", trace});
    unsetenv("LD_PRELOAD");
    unsetenv("VORTAN_TAMPER_FILE");
    EXPECT_EQ(run.exitCode, 3) << run.err;
    EXPECT_NE(run.err.find("Checksum or file format error: " + package), std::string::npos)
        << run.err;
    std::ifstream written(trace);
    std::string line;
    EXPECT_FALSE(std::getline(written, line)) << "the device received: " << line;
  }
}

TEST_F(VortanFlashTest, DevicesCountsAndShowsTheWindowsStatusText) {
  const std::tuple<const char*, std::string, int> cases[] = {
      {"0", "No Device (Open dat file first)", 4},
      {"1", "Device connected. Press \"Update\"", 0},
      {"2", kTwoDevicesText, 4},
  };
  for (const auto& [devices, status, exitCode] : cases) {
    const testing::ProgramResult shown = Flash({"devices", "--simulate-devices", devices});
    EXPECT_EQ(shown.exitCode, exitCode) << shown.err;
    EXPECT_EQ(shown.out, std::string("Matching devices (VID 0xF1A5, PID 0x1234): ") + devices +
                             "\n" + status + "\n");
  }
}

TEST_F(VortanFlashTest, WaitFindsAKeyboardPluggedInLaterOrGivesUp) {
  const std::string package = Package();
  const std::string oneDevice =
      "Matching devices (VID 0xF1A5, PID 0x1234): 1\nDevice connected. Press \"Update\"\n";
  struct Row {
    std::vector<std::string> args;
    int exitCode;
    std::string firstErrLine;
    std::string outEnd;
  };
  const std::vector<Row> rows = {
      {{"flash", package, "--wait", "--simulate-arrival", "1"},
       0,
       kNoDeviceText,
       "Update Success!\n"},
      {{"flash", "--wait=1", package, "--simulate-arrival", "3"}, 4, kNoDeviceText, ""},
      {{"devices", "--wait", "--simulate-arrival", "1"},
       0,
       "Waiting for one matching device (VID 0xF1A5, PID 0x1234): 0 attached",
       oneDevice},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args[1]);
    const testing::ProgramResult shown = Flash(row.args);
    EXPECT_EQ(shown.exitCode, row.exitCode) << shown.err;
    const std::vector<std::string> err = Lines(shown.err);
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.front(), row.firstErrLine);
    EXPECT_TRUE(shown.out.ends_with(row.outEnd)) << shown.out;
  }
}

TEST_F(VortanFlashTest, DevicesListShowsEveryKeyboardAsTextOrJsonLines) {
  const testing::ProgramResult text = Flash({"devices", "--list", "--simulate-devices", "3"});
  EXPECT_EQ(text.exitCode, 0) << text.err;
  const std::vector<std::string> lines = Lines(text.out);
  ASSERT_EQ(lines.size(), 3u) << text.out;
  EXPECT_EQ(lines[2],
            "sim:hidraw2  serial \"SIM0002\"  manufacturer \"VORTAN\"  product \"Emulated keyboard "
            "loader\"  interface 0");
  const testing::ProgramResult json =
      Flash({"devices", "--list", "--json", "--simulate-devices", "2"});
  std::vector<nlohmann::json> entries;
  for (const std::string& line : Lines(json.out)) entries.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1], nlohmann::json({{"path", "sim:hidraw1"},
                                        {"serial", "SIM0001"},
                                        {"manufacturer", "VORTAN"},
                                        {"product", "Emulated keyboard loader"},
                                        {"interface", 0}}));
  const testing::ProgramResult none = Flash({"devices", "--list", "--simulate-devices", "0"});
  EXPECT_EQ(none.exitCode, 4);
  EXPECT_EQ(none.out, "");
}

TEST_F(VortanFlashTest, ADeviceThatCannotBeOpenedForLackOfPermissionGetsTheUdevRule) {
  const std::string config = dir_.File("Config.ini");
  ASSERT_TRUE(testing::WriteText(config, "IDC_VID=0x0483\nIDC_PID=0x5750\n"));
  const testing::ProgramResult shown = Flash({"devices", "--simulate-denied", "--config", config});
  EXPECT_EQ(shown.exitCode, 4);
  for (const char* part : {"The device cannot be opened: Permission denied\n",
                           "/etc/udev/rules.d/70-vortan-updater.rules",
                           "ATTRS{idVendor}==\"0483\", ATTRS{idProduct}==\"5750\", "
                           "TAG+=\"uaccess\"\n"}) {
    EXPECT_NE(shown.err.find(part), std::string::npos) << part << shown.err;
  }
  // flash opens the link only in its first step, so the refusal ends the run.
  const testing::ProgramResult run = Flash({"flash", Package(), "--simulate-denied"});
  EXPECT_EQ(run.exitCode, 5);
  EXPECT_TRUE(
      run.err.starts_with("Update Error!\nThe device cannot be opened: Permission denied\n"))
      << run.err;
}

TEST_F(VortanFlashTest, FlashRefusesABrokenPackageOrNoSingleDeviceBeforeWritingWorkFiles) {
  const std::string broken = Package(ShortTwoPackPackage(), {Fault::kImageSum, 2});
  ExpectRefused(Flash({"flash", broken, "--simulate"}), broken);
  // --all examines the package before any keyboard is reached: no child, so no trace.
  const std::string trace = dir_.File("trace");
  ExpectRefused(Flash({"flash", broken, "--all", "--simulate-devices", "3", "--trace", trace}),
                broken);
  EXPECT_FALSE(std::filesystem::exists(trace + ".0"));
  const std::string package = Package();
  const std::string noSuchKeyboard =
      "No keyboard with the configured IDs at sim:hidraw3 (vortan-flash devices --list shows "
      "them)";
  // Real hidapi: a configured device no machine carries.
  const std::string config = dir_.File("Config.ini");
  ASSERT_TRUE(testing::WriteText(config, "IDC_VID=0xF1A5\nIDC_PID=0xFFFE\n"));
  for (const auto& [args, text] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"flash", package, "--config", config}, kNoDeviceText},
           {{"flash", package, "--simulate-devices", "2"}, kTwoDevicesText},
           {{"flash", package, "--simulate-devices", "0", "--all"}, kNoDeviceText},
           // The path is checked before the package is even read.
           {{"flash", broken, "--simulate-devices", "3", "--device", "sim:hidraw3"},
            noSuchKeyboard}}) {
    const testing::ProgramResult shown = Flash(args);
    EXPECT_EQ(shown.exitCode, 4) << shown.err;
    EXPECT_EQ(shown.err, text + "\n");
    EXPECT_EQ(shown.out, "");
  }
  EXPECT_TRUE(std::filesystem::is_empty(work_.path()));
}

TEST_F(VortanFlashTest, ASimulatedTwoPackUpdateSucceedsWithATraceOfEveryReport) {
  const std::string trace = dir_.File("trace.txt");
  const testing::ProgramResult shown = Flash({"flash", Package(), "--simulate", "--trace", trace});
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_EQ(shown.out, "Updating VORTAN KB 25 to firmware V1.0.0 in 6 steps\nUpdate Success!\n");
  std::vector<std::string> steps;
  for (int i = 1; i <= 6; ++i) steps.push_back("Step " + std::to_string(i) + " of 6 done");
  EXPECT_EQ(Lines(shown.err), steps);
  EXPECT_EQ(LeftInWorkFolder(), std::vector<std::string>{});

  const std::vector<std::string> lines = FileLines(trace);
  ASSERT_GE(lines.size(), 2u);
  const std::regex report("(H>D|D>H)( [0-9A-F]{2}){64}");
  for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, report)) << line;
  // First the C1 update-mode request (family code 3), last the finish command reporting success.
  EXPECT_EQ(lines.front().substr(0, 51), "H>D 51 04 00 00 00 00 00 00 00 01 0A 4D 03 00 00 00");
  EXPECT_EQ(lines[lines.size() - 2].substr(0, 42), "H>D 51 04 00 00 00 00 00 00 00 09 00 00 00");
}

// Guards against a signal cutting an update off midway (no finish command, work files left):
// during a run each stop signal is a request the run outlives, SIGPIPE never kills, and only a
// second Ctrl-C stops the run, at its next report.
TEST_F(VortanFlashTest, SignalsDuringAFlashLetTheRunEndWithItsFinishCommand) {
  const std::string package = Package(SmallPackage());
  const std::string finishedWell = "H>D 51 04 00 00 00 00 00 00 00 09 00 00 00";
  const std::tuple<std::vector<int>, int, int> cases[] = {
      // signals sent, exit status, warnings shown
      {{SIGTERM}, 0, 1}, {{SIGHUP, SIGTERM}, 0, 1},  {{SIGPIPE}, 0, 0},
      {{SIGINT}, 0, 1},  {{SIGINT, SIGINT}, 130, 1},
  };
  for (const auto& [signals, exitCode, warnings] : cases) {
    SCOPED_TRACE(::testing::PrintToString(signals));
    const std::string trace = dir_.File("trace.txt");
    std::remove(trace.c_str());
    testing::RunningProgram run = Start({"flash", package, "--simulate", "--trace", trace});
    ASSERT_TRUE(WaitFor([&] { return !FileLines(trace).empty(); }));
    for (const int signal : signals) {
      ::kill(run.Pid(), signal);
      ::usleep(50000);
    }
    const testing::ProgramResult shown = run.Wait();
    EXPECT_EQ(shown.exitCode, exitCode) << shown.err;
    const std::regex warning("An update is running");
    EXPECT_EQ(std::distance(std::sregex_iterator(shown.err.begin(), shown.err.end(), warning),
                            std::sregex_iterator()),
              warnings)
        << shown.err;
    const std::vector<std::string> lines = FileLines(trace);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2].starts_with(finishedWell), exitCode == 0) << lines.back();
    EXPECT_EQ(LeftInWorkFolder(), std::vector<std::string>{});
  }
}

// Guards against progress text reaching the trace or the device through a descriptor left free
// by a closed standard stream.
TEST_F(VortanFlashTest, ClosedStandardStreamsSendNoTextToTheTraceOrTheDevice) {
  const std::string faults = dir_.File("faults.txt");
  ASSERT_TRUE(testing::WriteText(faults, "unplug c1.erase 1\n"));
  const std::string package = Package(SmallPackage());
  const std::regex report("(H>D|D>H)( [0-9A-F]{2}){64}");
  for (const std::vector<int>& closed : {std::vector<int>{1}, std::vector<int>{2}}) {
    const std::string trace = dir_.File("trace.txt");
    testing::RunningProgram run =
        Start({"flash", package, "--simulate-faults", faults, "--trace", trace}, "program", closed);
    EXPECT_EQ(run.Wait().exitCode, 5);
    const std::vector<std::string> lines = FileLines(trace);
    EXPECT_FALSE(lines.empty());
    for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, report)) << line;
  }
}

// Guards against output lost without notice: a trace cut short by a full disk and a closed
// stdout gave status 0.
TEST_F(VortanFlashTest, OutputThatCannotBeWrittenGivesItsOwnExitStatus) {
  const std::string package = Package(SmallPackage());
  const testing::ProgramResult full =
      Flash({"flash", package, "--simulate", "--trace", "/dev/full"});
  EXPECT_EQ(full.exitCode, 6);
  EXPECT_NE(full.out.find("Update Success!"), std::string::npos) << "the update went on";
  EXPECT_NE(full.err.find("Cannot write the trace file /dev/full: No space left on device"),
            std::string::npos)
      << full.err;
  testing::RunningProgram closed(VORTAN_FLASH_PATH, {"inspect", package}, dir_, "inspect", {1});
  const testing::ProgramResult shown = closed.Wait();
  EXPECT_EQ(shown.exitCode, 6);
  EXPECT_EQ(shown.err, "Cannot write to standard output: it was closed at start\n");
}

// Guards against two processes interleaving their commands on one keyboard.
TEST_F(VortanFlashTest, ASecondUpdateOfTheSameKeyboardIsRefusedBeforeItsFirstReport) {
  const std::string package = Package(SmallPackage());
  const std::string firstTrace = dir_.File("first.txt");
  const std::string secondTrace = dir_.File("second.txt");
  testing::RunningProgram first =
      Start({"flash", package, "--simulate", "--trace", firstTrace}, "first");
  ASSERT_TRUE(WaitFor([&] { return !FileLines(firstTrace).empty(); }));
  const testing::ProgramResult second =
      Flash({"flash", package, "--simulate", "--trace", secondTrace});
  EXPECT_EQ(second.exitCode, 4);
  EXPECT_EQ(second.err, "Another update of this keyboard is running\n");
  EXPECT_EQ(FileLines(secondTrace), std::vector<std::string>{});
  EXPECT_EQ(first.Wait().exitCode, 0);
}

// Guards against refusing descriptions that hold bytes of 0x80 and above.
TEST_F(VortanFlashTest, DescriptionsBeyondAsciiAreInspectedAndFlashed) {
  pack::PackageContents flashed = ShortTwoPackPackage();
  for (const testing::ForeignTextPack& row : testing::ForeignTextPacks()) {
    SCOPED_TRACE(row.name);
    pack::PackageContents inspected = testing::OnePackPackage();
    inspected.packs = {row.pack};
    EXPECT_EQ(Flash({"inspect", Package(inspected)}).exitCode, 0);
    // The short package's images keep the run at six steps.
    for (pack::DataPackContents& pack : flashed.packs) {
      if (pack.chipFamily == row.family) pack.description = row.pack.description;
    }
  }
  const testing::ProgramResult shown = Flash({"flash", Package(flashed), "--simulate"});
  EXPECT_EQ(shown.out, "Updating VORTAN KB 25 to firmware V1.0.0 in 6 steps\nUpdate Success!\n");
}

// Guards against two --all runs updating one keyboard at the same time: each keyboard's child
// of the second run meets the first run's lock before its first report.
TEST_F(VortanFlashTest, TwoAllRunsAtOnceNeverUpdateOneKeyboardTwice) {
  const std::string package = Package(SmallPackage());
  const std::string first = dir_.File("first");
  const std::string second = dir_.File("second");
  testing::RunningProgram running =
      Start({"flash", package, "--all", "--simulate-devices", "2", "--trace", first}, "first");
  ASSERT_TRUE(WaitFor(
      [&] { return !FileLines(first + ".0").empty() && !FileLines(first + ".1").empty(); }));
  const testing::ProgramResult refused =
      Flash({"flash", package, "--all", "--simulate-devices", "2", "--json", "--trace", second});
  EXPECT_EQ(refused.exitCode, 5);
  const std::vector<std::string> events = Lines(refused.out);
  ASSERT_EQ(events.size(), 2u) << refused.out;
  for (const std::string& line : events) {
    const nlohmann::json end = nlohmann::json::parse(line);
    EXPECT_EQ(end["outcome"], "Update Error!");
    EXPECT_EQ(end["reason"], "Another update of this keyboard is running");
  }
  for (const char* index : {".0", ".1"}) {
    EXPECT_EQ(FileLines(second + index), std::vector<std::string>{});
  }
  EXPECT_EQ(running.Wait().exitCode, 0);
}

// Guards against a signal to --all ending the parent while its children run on unseen: it is
// passed on to every child, which handles it as a single flash does (a first Ctrl-C warns).
TEST_F(VortanFlashTest, AllPassesASignalOnceToEveryChild) {
  const std::string trace = dir_.File("trace");
  testing::RunningProgram running = Start(
      {"flash", Package(SmallPackage()), "--all", "--simulate-devices", "2", "--trace", trace},
      "all");
  ASSERT_TRUE(WaitFor(
      [&] { return !FileLines(trace + ".0").empty() && !FileLines(trace + ".1").empty(); }));
  ASSERT_EQ(::kill(running.Pid(), SIGINT), 0);
  const testing::ProgramResult shown = running.Wait();
  EXPECT_EQ(shown.exitCode, 0) << shown.err;
  for (const char* keyboard :
       {"[sim:hidraw0] An update is running", "[sim:hidraw1] An update is running"}) {
    EXPECT_NE(shown.err.find(keyboard), std::string::npos) << shown.err;
  }
  EXPECT_NE(shown.out.find("2 of 2 keyboards updated"), std::string::npos) << shown.out;
}

TEST_F(VortanFlashTest, AFaultInTheSecondPackEndsTheRunWithUpdateErrorAndAFailedFinish) {
  const std::string faults = dir_.File("faults.txt");
  ASSERT_TRUE(testing::WriteText(faults, "# the A1 block's echo\nwrong_echo a1.write 1 byte=1\n"));
  const std::string trace = dir_.File("trace.txt");
  const testing::ProgramResult shown =
      Flash({"flash", Package(), "--simulate-faults", faults, "--trace", trace});
  EXPECT_EQ(shown.exitCode, 5);
  EXPECT_EQ(shown.out, "Updating VORTAN KB 25 to firmware V1.0.0 in 6 steps\n");
  EXPECT_EQ(Lines(shown.err),
            (std::vector<std::string>{"Step 1 of 6 done", "Step 2 of 6 done", "Step 3 of 6 done",
                                      "Step 4 of 6 done", "Update Error!"}));
  const std::vector<std::string> lines = FileLines(trace);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2].substr(0, 42), "H>D 51 04 00 00 00 00 00 00 00 09 01 00 00");
}

TEST_F(VortanFlashTest, AllUpdatesEveryKeyboardAtOnceAndAFaultFailsOnlyItsOwn) {
  const std::string faults = dir_.File("faults.txt");
  ASSERT_TRUE(testing::WriteText(faults, "wrong_echo c1.erase 1 byte=1 device=1\n"));
  const std::string trace = dir_.File("trace");
  const testing::ProgramResult run =
      Flash({"flash", Package(SmallPackage()), "--all", "--simulate-devices", "3",
             "--simulate-faults", faults, "--json", "--trace", trace});
  EXPECT_EQ(run.exitCode, 5) << run.err;
  std::vector<nlohmann::json> events;
  for (const std::string& line : Lines(run.out)) {
    events.push_back(nlohmann::json::parse(line, nullptr, false));
    ASSERT_TRUE(events.back().is_object()) << line;
  }
  // Each keyboard's events end with its one end event.
  std::map<std::string, std::vector<std::string>> kinds;
  std::map<std::string, std::string> outcomes;
  for (const nlohmann::json& e : events) {
    kinds[e["keyboard"]].push_back(e["event"]);
    if (e["event"] == "end") outcomes[e["keyboard"]] = e["outcome"];
  }
  for (const auto& [keyboard, sequence] : kinds) {
    EXPECT_EQ(sequence.back(), "end") << keyboard;
    EXPECT_EQ(std::count(sequence.begin(), sequence.end(), "end"), 1) << keyboard;
  }
  EXPECT_EQ(outcomes, (std::map<std::string, std::string>{{"sim:hidraw0", "Update Success!"},
                                                          {"sim:hidraw1", "Update Error!"},
                                                          {"sim:hidraw2", "Update Success!"}}));
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const nlohmann::json& e) { return e["event"] == "step"; }),
            3 + 1 + 3);
  EXPECT_NE(run.err.find("sim:hidraw1 (serial SIM0001): Update Error! Step 2 of 3 failed\n"
                         "sim:hidraw2 (serial SIM0002): Update Success!\n2 of 3 keyboards updated"),
            std::string::npos)
      << run.err;
  // Each keyboard's own trace ends with its own outcome in the finish command.
  for (const auto& [index, outcome] : {std::pair{0, "00"}, {1, "01"}, {2, "00"}}) {
    const std::vector<std::string> lines = FileLines(trace + "." + std::to_string(index));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2].substr(0, 42),
              std::string("H>D 51 04 00 00 00 00 00 00 00 09 ") + outcome + " 00 00");
  }
}

TEST_F(VortanFlashTest, UsageErrorsExit2AndOptionsMayFollowTheCommand) {
  const std::string package = Package(testing::OnePackPackage());
  const std::string config = dir_.File("Config.ini");
  ASSERT_TRUE(testing::WriteText(config, "IDC_VID=0x0483\n"));
  const std::string badScript = dir_.File("bad.txt");
  ASSERT_TRUE(testing::WriteText(badScript, "melt_down\n"));
  const std::string misspelled = dir_.File("misspelled.txt");
  ASSERT_TRUE(testing::WriteText(misspelled, "# c1\nwrong_status c1.sertup 0\n"));
  const std::string fifo = dir_.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string victim = dir_.File("victim.txt");
  ASSERT_TRUE(testing::WriteText(victim, "kept"));
  const std::string planted = dir_.File("planted.txt");
  ASSERT_EQ(::symlink(victim.c_str(), planted.c_str()), 0);
  const std::string linkedScript = dir_.File("linked.txt");
  ASSERT_EQ(::symlink(badScript.c_str(), linkedScript.c_str()), 0);
  const std::vector<std::string> usageErrors[] = {
      {},
      {"inspect"},
      {"inspect", package, "--bogus"},
      {"frobnicate", package},
      {"inspect", package, "--config", dir_.File("missing.ini")},
      {"inspect", package, "--simulate"},
      {"devices", "--simulate-devices", "-1"},
      {"devices", "--json"},
      {"flash", package, "--simulate", "--all", "--device", "sim:hidraw0"},
      {"flash", package, "--simulate", "--all", "--wait"},
      {"flash", package, "--simulate-faults", badScript},
      {"flash", package, "--simulate-faults", dir_.File("missing.txt")},
      {"flash", package, "--simulate", "--trace", dir_.File("no/such/folder/trace.txt")},
      // Only regular files: a FIFO hung the run, /dev/zero filled the memory, a link planted
      // in /tmp redirected the trace into another user's file.
      {"flash", package, "--simulate", "--trace", fifo},
      {"flash", package, "--simulate", "--trace", planted},
      {"flash", package, "--simulate", "--trace", dir_.path().string()},
      {"flash", package, "--simulate-faults", fifo},
      {"flash", package, "--simulate-faults", "/dev/zero"},
      {"flash", package, "--simulate-faults", linkedScript},
      {"inspect", package, "--config", fifo},
      // A misspelled kind never fired, and the rehearsal reported success.
      {"flash", package, "--simulate-faults", misspelled},
  };
  for (const auto& args : usageErrors) {
    const testing::ProgramResult shown = Flash(args);
    EXPECT_FALSE(shown.timedOut);
    EXPECT_EQ(shown.exitCode, 2) << ::testing::PrintToString(args) << shown.err;
    EXPECT_EQ(shown.out.find("Update"), std::string::npos);
    EXPECT_EQ(LeftInWorkFolder(), std::vector<std::string>{}) << "no work file before the refusal";
  }
  EXPECT_NE(Flash({"flash", package, "--simulate-faults", misspelled}).err.find("line 2"),
            std::string::npos);
  EXPECT_EQ(testing::ReadBytes(victim).size(), 4u);
  EXPECT_EQ(Flash({"inspect", package, "--config", config}).exitCode, 0);
  EXPECT_EQ(Flash({"--config", config, "inspect", package, "--json"}).exitCode, 0);
}

// Guards the bash completion drifting from the program: what each --help lists is offered.
TEST_F(VortanFlashTest, TheBashCompletionOffersTheCommandsAndEveryOptionOfEachHelp) {
  const auto complete = [this](std::vector<std::string> words) {
    words.insert(words.begin(),
                 {"-c",
                  "source \"$0\"; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); "
                  "_vortan_flash; printf '%s\\n' \"${COMPREPLY[@]}\"",
                  VORTAN_PACKAGING_DIR "/vortan-flash.bash-completion", VORTAN_FLASH_PATH});
    const testing::ProgramResult shown = testing::RunProgram("/bin/bash", words, dir_);
    EXPECT_EQ(shown.exitCode, 0) << shown.err;
    const std::vector<std::string> lines = Lines(shown.out);
    return std::set<std::string>(lines.begin(), lines.end());
  };
  const std::regex optionLine(R"(^ +(-\w,)?(--[\w-]+).*)");
  const std::regex commandLine(R"(^  ([a-z]+) .*)");
  for (const std::string command : {"", "inspect", "devices", "flash"}) {
    const testing::ProgramResult help =
        Flash(command.empty() ? std::vector<std::string>{"--help"}
                              : std::vector<std::string>{command, "--help"});
    std::set<std::string> options;
    std::set<std::string> commands;
    bool inCommands = false;
    for (const std::string& line : Lines(help.out)) {
      std::smatch match;
      inCommands = inCommands || line == "Subcommands:";
      if (inCommands && std::regex_match(line, match, commandLine)) commands.insert(match[1]);
      if (!inCommands && std::regex_match(line, match, optionLine)) {
        options.insert(match[2]);
        if (match[1].matched) options.insert(match[1].str().substr(0, 2));
      }
    }
    ASSERT_FALSE(options.empty()) << help.out;
    const std::set<std::string> offered = complete(
        command.empty() ? std::vector<std::string>{"-"} : std::vector<std::string>{command, "-"});
    for (const std::string& option : options) {
      EXPECT_TRUE(offered.count(option)) << command << ' ' << option;
    }
    if (command.empty()) {
      EXPECT_EQ(commands, std::set<std::string>({"inspect", "devices", "flash"}));
      EXPECT_EQ(complete({""}), commands);
    }
  }
}

}  // namespace
}  // namespace vortan
