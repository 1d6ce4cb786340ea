// SPDX-License-Identifier: Apache-2.0
// The real vortan-flash binary: inspect, devices and flash against simulated devices (real
// pauses: packages here stay at a few steps) and, for "no device", real hidapi.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "support/package_fixtures.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vortan {
namespace {

using pack::Fault;
using Strings = std::vector<std::string>;
using ::testing::HasSubstr;

constexpr char kNoDeviceText[] = "No Device (Press \"Fn\" + \"Esc\" to open)";
constexpr char kTwoDevicesText[] = "More than one device! Remove some devices";

// C1 then A1, three steps each: a whole update of about three seconds of pauses.
pack::PackageContents ShortTwoPackPackage() {
  return testing::PackageOf({testing::C1Pack(0x1000), testing::A1Pack(0x800)});
}

// One C1 pack of three steps: the shortest whole update, about 1.5 s of pauses.
pack::PackageContents SmallPackage() {
  return testing::PackageOf({testing::C1Pack(0x1000)});
}

Strings Lines(const std::string& text) {
  Strings lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

Strings FileLines(const std::string& path) {
  return Lines(testing::ReadText(path));
}

std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> parsed;
  for (const std::string& line : Lines(text)) {
    parsed.push_back(nlohmann::json::parse(line, nullptr, false));
    EXPECT_TRUE(parsed.back().is_object()) << line;
  }
  return parsed;
}

// Polls for up to ten seconds until every trace holds a report.
bool Traced(const Strings& traces) {
  for (int i = 0; i < 1000; ++i) {
    if (std::none_of(traces.begin(), traces.end(),
                     [](const std::string& t) { return FileLines(t).empty(); })) {
      return true;
    }
    ::usleep(10000);
  }
  return false;
}

// The outcome byte of the trace's finish command, the host's last report ("00" for success).
std::string FinishOutcome(const std::string& trace) {
  const Strings lines = FileLines(trace);
  const std::string finish = "H>D 51 04 00 00 00 00 00 00 00 09 ";
  if (lines.size() < 2 || !lines[lines.size() - 2].starts_with(finish)) return "no finish";
  return lines[lines.size() - 2].substr(finish.size(), 2);
}

class VortanFlashTest : public ::testing::Test {
 protected:
  // vortan-flash with the work files in this test's own folder.
  testing::ProgramResult Flash(Strings args) {
    args.insert(args.begin(), {"--work-dir", work_.path().string()});
    return testing::RunProgram(VORTAN_FLASH_PATH, args, dir_);
  }
  // The same, started in the background.
  testing::RunningProgram Start(Strings args, const std::vector<int>& closed = {}) {
    args.insert(args.begin(), {"--work-dir", work_.path().string()});
    return testing::RunningProgram(VORTAN_FLASH_PATH, args, dir_, closed);
  }
  std::string Package(const pack::PackageContents& contents = ShortTwoPackPackage(),
                      const pack::Breakage& breakage = {}) {
    return testing::WritePackage(dir_, "update.dat", contents, breakage);
  }
  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = dir_.File(name);
    EXPECT_TRUE(testing::WriteText(path, text)) << path;
    return path;
  }
  // What the runs left in the work folder's parent beyond the simulated keyboards' lock files.
  Strings LeftInWorkFolder() const {
    Strings left;
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
  const std::string trace_ = dir_.File("trace.txt");
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
    EXPECT_THAT(shown.out, HasSubstr(line));
  }
  EXPECT_TRUE(std::filesystem::is_empty(work_.path())) << "the work files go as at close";
  nlohmann::json out =
      nlohmann::json::parse(Flash({"inspect", "--json", Package(testing::TwoPackPackage())}).out);
  EXPECT_EQ(out["keys"], nlohmann::json({"Fn", "Esc", ""}));
  EXPECT_EQ(out["dataPacks"][1]["chipFamily"], "A1");
  EXPECT_EQ(out["totalSteps"],
            out["dataPacks"][0]["steps"].get<int>() + out["dataPacks"][1]["steps"].get<int>());
  EXPECT_EQ(out["noDeviceText"], kNoDeviceText);
}

// Guards against a file left by another user in the shared folder blocking every other user.
TEST_F(VortanFlashTest, AWorkFilePlantedByAnotherUserDoesNotStopInspect) {
  const std::string planted = work_.File("TEMP1.INI");
  ASSERT_TRUE(testing::WriteText(planted, "theirs"));
  if (::chown(planted.c_str(), 65534, 65534) != 0) GTEST_SKIP() << "needs root to plant";
  EXPECT_EQ(Flash({"inspect", Package()}).exitCode, 0);
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
  std::string& description = tooQuick.packs[0].description;
  description.replace(description.find("EraseTime = 2000"), 16, "EraseTime = 699");
  const std::string refusedByA2 = Package(tooQuick);
  ExpectRefused(Flash({"inspect", refusedByA2}), refusedByA2);
  const std::string fifo = dir_.File("x.dat");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // The system's reason follows on a line of its own.
  for (const auto& [path, reason] :
       {std::pair{dir_.File("missing.dat"), "No such file or directory"},
        std::pair{fifo, "Not a regular file"}}) {
    const testing::ProgramResult shown = Flash({"inspect", path});
    EXPECT_EQ(shown.exitCode, 3) << path;
    EXPECT_EQ(shown.err, "Unable to open dat file: " + path + "\n" + reason + "\n");
  }
}

// The address-space limits below cannot hold a sanitizer's shadow memory.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kLimitsApply = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kLimitsApply = false;
#else
constexpr bool kLimitsApply = true;
#endif
#else
constexpr bool kLimitsApply = true;
#endif

// Guards against a sound package shown as "Checksum or file format error" (or an abort) when
// only memory ran out while examining it, and against a command starting without the thread
// that takes its stop signals (std::system_error, an abort).
TEST_F(VortanFlashTest, LackOfMemoryIsSaidAsSuchAndNeverMadeAFormatError) {
  if (!kLimitsApply) GTEST_SKIP() << "address-space limits under a sanitizer";
  const std::string package =
      testing::WritePackage(dir_, "large.dat", testing::PackageOf({testing::C1Pack(16 << 20)}));
  const auto limited = [&](const std::string& limits) {
    return testing::RunProgram("/bin/sh",
                               {"-c", limits + " && exec \"$0\" \"$@\"", VORTAN_FLASH_PATH,
                                "--work-dir", work_.path().string(), "inspect", package},
                               dir_);
  };
  std::set<int> statuses;
  for (int megabytes = 16; megabytes <= 96; megabytes += 6) {
    const testing::ProgramResult shown = limited("ulimit -v " + std::to_string(megabytes << 10));
    SCOPED_TRACE(std::to_string(megabytes) + " MiB: " + shown.err);
    statuses.insert(shown.exitCode);
    EXPECT_THAT(shown.exitCode, ::testing::AnyOf(0, 1, 3));
    EXPECT_THAT(shown.err, ::testing::Not(HasSubstr("Checksum or file format error")));
    if (shown.exitCode == 3) {
      EXPECT_THAT(shown.err, HasSubstr("Cannot allocate memory"));
    }
  }
  EXPECT_TRUE(statuses.contains(0) && statuses.contains(3));
  // Thread stacks as large as the stack limit, which the address space cannot hold.
  const testing::ProgramResult refused = limited("ulimit -v 1000000 && ulimit -s 2000000");
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.err,
            "Cannot watch the stop signals: cannot start a thread: Resource temporarily "
            "unavailable\n");
  EXPECT_EQ(LeftInWorkFolder(), Strings{});
}

// Guards against bytes other than the checked ones reaching the device when a work file changes
// between the package writing it and the updater reading it back (the preloaded shim changes it).
TEST_F(VortanFlashTest, AChangedWorkFileRefusesThePackageAndNothingIsSent) {
  const std::string package = Package(testing::TwoPackPackage());
  for (const char* file : {"TEMP1.INI", "TEMP1.BIN", "TEMP2.INI", "TEMP2.BIN"}) {
    SCOPED_TRACE(file);
    std::remove(trace_.c_str());
    setenv("LD_PRELOAD", VORTAN_TAMPER_SHIM_PATH, 1);
    setenv("VORTAN_TAMPER_FILE", file, 1);
    const testing::ProgramResult run = Flash({"flash", package, "--simulate", "--trace", trace_});
    unsetenv("LD_PRELOAD");
    unsetenv("VORTAN_TAMPER_FILE");
    EXPECT_EQ(run.exitCode, 3) << run.err;
    EXPECT_THAT(run.err, HasSubstr("Checksum or file format error: " + package));
    EXPECT_EQ(FileLines(trace_), Strings{}) << "the device received reports";
  }
}

TEST_F(VortanFlashTest, DevicesCountsAndListsKeyboardsAndWaitFindsOnePluggedInLaterOrGivesUp) {
  const std::string package = Package();
  const std::string one =
      "Matching devices (VID 0xF1A5, PID 0x1234): 1\nDevice connected. Press \"Update\"\n";
  const std::string two = std::string("): 2\n") + kTwoDevicesText + "\n";
  const std::string faults = Write("faults.txt", "wrong_echo a1.write 1 byte=1\n");
  struct Row {
    Strings args;
    int exitCode;
    std::string outEnd;
    std::string firstErrLine;
    std::string errPart = "";  // a further part of stderr
  };
  const Row rows[] = {
      // arguments, exit status, end of stdout, first line on stderr
      {{"devices", "--simulate-devices", "0"}, 4, "): 0\nNo Device (Open dat file first)\n", ""},
      {{"devices", "--simulate-devices", "1"}, 0, one, ""},
      {{"devices", "--simulate-devices", "2"}, 4, two, ""},
      {{"devices", "--list", "--simulate-devices", "3"},
       0,
       "\nsim:hidraw2  serial \"SIM0002\"  manufacturer \"VORTAN\"  product \"Emulated keyboard "
       "loader\"  interface 0\n",
       ""},
      {{"devices", "--list", "--simulate-devices", "0"}, 4, "", ""},
      {{"flash", package, "--wait", "--simulate-arrival", "1"}, 0, "Success!\n", kNoDeviceText},
      {{"flash", "--wait=1", package, "--simulate-arrival", "3"}, 4, "", kNoDeviceText},
      {{"devices", "--wait", "--simulate-arrival", "1"},
       0,
       one,
       "Waiting for one matching device (VID 0xF1A5, PID 0x1234): 0 attached"},
      // Guards a write that failed midway without its step or the window's advice on the loader.
      {{"flash", package, "--simulate-faults", faults},
       5,
       " in 6 steps\n",
       "Step 1 of 6 done",
       "Step 4 of 6 done\nUpdate Error!\nStep 5 of 6 failed while writing block 1 of data pack "
       "2.\nThe keyboard may stay in its loader until an update "
       "succeeds. Keep it connected (if it is not found, open its loader by pressing \"Fn\" + "
       "\"Esc\"), then run the same vortan-flash command again.\n"},
  };
  for (const auto& [args, exitCode, outEnd, firstErrLine, errPart] : rows) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const testing::ProgramResult shown = Flash(args);
    EXPECT_EQ(shown.exitCode, exitCode) << shown.err;
    EXPECT_EQ(shown.err.substr(0, shown.err.find('\n')), firstErrLine);
    EXPECT_TRUE(shown.out.ends_with(outEnd)) << shown.out;
    EXPECT_THAT(shown.err, HasSubstr(errPart));
  }
  const std::vector<nlohmann::json> entries =
      JsonLines(Flash({"devices", "--list", "--json", "--simulate-devices", "2"}).out);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1], nlohmann::json::parse(R"({"path": "sim:hidraw1", "serial": "SIM0001",
      "manufacturer": "VORTAN", "product": "Emulated keyboard loader", "interface": 0})"));
}

TEST_F(VortanFlashTest, ADeviceThatCannotBeOpenedForLackOfPermissionGetsTheUdevRule) {
  const std::string config = Write("Config.ini", "IDC_VID=0x0483\nIDC_PID=0x5750\n");
  const testing::ProgramResult shown = Flash({"devices", "--simulate-denied", "--config", config});
  EXPECT_EQ(shown.exitCode, 4);
  for (const char* part : {"The device cannot be opened: Permission denied\n",
                           "/etc/udev/rules.d/70-vortan-updater.rules",
                           "ATTRS{idVendor}==\"0483\", ATTRS{idProduct}==\"5750\", "
                           "TAG+=\"uaccess\"\n"}) {
    EXPECT_THAT(shown.err, HasSubstr(part));
  }
  // flash opens the link only in its first step, so the refusal ends the run.
  const testing::ProgramResult run = Flash({"flash", Package(), "--simulate-denied"});
  EXPECT_EQ(run.exitCode, 5);
  EXPECT_TRUE(run.err.starts_with("Update Error!\nThe device cannot be opened: Permission denied"))
      << run.err;
}

TEST_F(VortanFlashTest, FlashRefusesABrokenPackageOrNoSingleDeviceBeforeWritingWorkFiles) {
  const std::string broken = Package(ShortTwoPackPackage(), {Fault::kImageSum, 2});
  ExpectRefused(Flash({"flash", broken, "--simulate"}), broken);
  // --all examines the package before any keyboard is reached: no report in any trace.
  ExpectRefused(Flash({"flash", broken, "--all", "--simulate-devices", "3", "--trace", trace_}),
                broken);
  EXPECT_EQ(FileLines(trace_ + ".0"), Strings{});
  const std::string package = Package();
  // Real hidapi: a configured device no machine carries.
  const std::string config = Write("Config.ini", "IDC_VID=0xF1A5\nIDC_PID=0xFFFE\n");
  for (const auto& [args, text] : std::vector<std::pair<Strings, std::string>>{
           {{"flash", package, "--config", config}, kNoDeviceText},
           {{"flash", package, "--simulate-devices", "2"}, kTwoDevicesText},
           {{"flash", package, "--simulate-devices", "0", "--all"}, kNoDeviceText},
           // The path is checked before the package is even read.
           {{"flash", broken, "--simulate-devices", "3", "--device", "sim:hidraw3"},
            "No keyboard with the configured IDs at sim:hidraw3 (vortan-flash devices --list "
            "shows them)"}}) {
    const testing::ProgramResult shown = Flash(args);
    EXPECT_EQ(shown.exitCode, 4) << shown.err;
    EXPECT_EQ(shown.err, text + "\n");
    EXPECT_EQ(shown.out, "");
  }
  EXPECT_TRUE(std::filesystem::is_empty(work_.path()));
}

// Guards against refusing descriptions that hold bytes of 0x80 and above.
TEST_F(VortanFlashTest, ATwoPackUpdateBeyondAsciiSucceedsWithATraceOfEveryReport) {
  pack::PackageContents flashed = ShortTwoPackPackage();
  for (const testing::ForeignTextPack& row : testing::ForeignTextPacks()) {
    EXPECT_EQ(Flash({"inspect", Package(testing::PackageOf({row.pack}))}).exitCode, 0) << row.name;
    // The short package's images keep the run at six steps.
    for (pack::DataPackContents& pack : flashed.packs) {
      if (pack.chipFamily == row.family) pack.description = row.pack.description;
    }
  }
  // A fault line that never fires is reported, lest the rehearsal be taken for its proof.
  const std::string faults = Write("faults.txt", "wrong_echo finish 2\n");
  const testing::ProgramResult shown =
      Flash({"flash", Package(flashed), "--simulate-faults", faults, "--json", "--trace", trace_});
  Strings err = {"Updating VORTAN KB 25 to firmware V1.0.0 in 6 steps"};
  for (int i = 1; i <= 6; ++i) err.push_back("Step " + std::to_string(i) + " of 6 done");
  err.insert(err.end(),
             {"Fault script line 1 never fired: wrong_echo finish 2", "Update Success!"});
  EXPECT_EQ(Lines(shown.err), err);
  const std::vector<nlohmann::json> events = JsonLines(shown.out);
  ASSERT_EQ(events.size(), 9u) << shown.out;
  EXPECT_EQ(events[7]["event"], "fault_unfired");
  EXPECT_EQ(events[7]["line"], 1);
  EXPECT_EQ(events[7]["fault"], "wrong_echo finish 2");
  const Strings lines = FileLines(trace_);
  ASSERT_FALSE(lines.empty());
  // First the C1 update-mode request (family code 3), last the finish command reporting success.
  EXPECT_EQ(lines.front().substr(0, 51), "H>D 51 04 00 00 00 00 00 00 00 01 0A 4D 03 00 00 00");
  EXPECT_EQ(FinishOutcome(trace_), "00");
}

// A run of its own (work folder, trace) that a test drives with signals while others run.
struct SignalledRun {
  testing::TempDir work;
  std::string trace = work.File("trace");
  Strings traces;  // the files that show the run has begun
  std::unique_ptr<testing::RunningProgram> program;
  int endedBeforeSignal = 0;  // keyboards whose update had finished when the first signal came
};

// Sends `signals` 50 ms apart once every trace holds a report, then, with `flood`, the last one
// every millisecond until the program ends (it stays unreaped, so its pid is never another's).
void Signal(SignalledRun& run, const std::vector<int>& signals, bool flood) {
  if (!Traced(run.traces)) return;
  // Under load one --all child may end before the other begins: it owes no warning.
  for (const std::string& trace : run.traces)
    run.endedBeforeSignal += FinishOutcome(trace) != "no finish";
  const pid_t pid = run.program->Pid();
  for (const int signal : signals) {
    ::kill(pid, signal);
    ::usleep(50000);
  }
  siginfo_t ended = {};
  while (flood && ::waitid(P_PID, pid, &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         ended.si_pid == 0) {
    ::kill(pid, signals.back());
    ::usleep(1000);
  }
}

// Guards against a signal from outside cutting an update off midway (no finish command, work
// files left, --all's children left running unseen) or replacing the outcome of a run that has
// ended: a stop request is one the run outlives (only a second Ctrl-C or Ctrl-\ stops it, at
// its next report), every other signal that would end the program is blocked or ignored.
TEST_F(VortanFlashTest, NoSignalFromOutsideCutsARunOffOrChangesItsOutcome) {
  const std::string package = Package(SmallPackage());
  struct Row {
    std::vector<int> signals;
    bool flood;  // the last signal again and again until the end, after the last step too
    int exitCode;
    int warnings;  // per keyboard
  };
  std::vector<Row> rows = {
      {{SIGTERM}, true, 0, 1},           {{SIGHUP, SIGQUIT}, false, 0, 1},
      {{SIGINT}, false, 0, 1},           {{SIGPIPE}, true, 0, 0},
      {{SIGINT, SIGINT}, false, 130, 1}, {{SIGINT, SIGQUIT}, false, 131, 1},
  };
  for (const int signal : {SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGSTKFLT,
                           SIGXCPU, SIGXFSZ, SIGRTMIN, SIGRTMAX}) {
    rows.push_back({{signal}, true, 0, 0});
  }
  // Every run at once: each spends its time in the half-second pauses.
  std::vector<std::unique_ptr<SignalledRun>> runs;
  std::vector<std::thread> senders;
  for (const bool all : {false, true}) {
    for (const Row& row : rows) {
      auto& run = *runs.emplace_back(std::make_unique<SignalledRun>());
      Strings args = {"--work-dir", run.work.path().string(), "flash", package, "--trace",
                      run.trace};
      if (all) args.insert(args.end(), {"--all", "--simulate-devices", "2"});
      if (!all) args.push_back("--simulate");
      run.traces = all ? Strings{run.trace + ".0", run.trace + ".1"} : Strings{run.trace};
      run.program = std::make_unique<testing::RunningProgram>(VORTAN_FLASH_PATH, args, dir_);
      senders.emplace_back(Signal, std::ref(run), row.signals, row.flood);
    }
  }
  for (std::thread& sender : senders) sender.join();
  for (size_t i = 0; i < runs.size(); ++i) {
    const Row& row = rows[i % rows.size()];
    const size_t keyboards = i < rows.size() ? 1 : 2;
    SCOPED_TRACE(::testing::PrintToString(row.signals) + (keyboards > 1 ? " --all" : ""));
    const testing::ProgramResult shown = runs[i]->program->Wait();
    EXPECT_EQ(shown.exitCode, row.exitCode) << shown.err;
    const std::regex warning("An update is running");
    EXPECT_EQ(std::distance(std::sregex_iterator(shown.err.begin(), shown.err.end(), warning),
                            std::sregex_iterator()),
              row.warnings * (static_cast<int>(keyboards) - runs[i]->endedBeforeSignal))
        << shown.err;
    for (const std::string& trace : runs[i]->traces) {
      EXPECT_EQ(FinishOutcome(trace) == "00", row.exitCode == 0) << trace;
    }
    for (const auto& entry : std::filesystem::directory_iterator(runs[i]->work.path())) {
      const std::string name = entry.path().filename().string();
      EXPECT_FALSE(name.starts_with("vortan-") && !name.starts_with("vortan-simulated-")) << name;
    }
  }
}

// Guards against a stop asked for before the run being acted on only once a keyboard appears
// (after a start event that never got its end), and against flash --all updating every keyboard
// after a stop during its package check.
TEST_F(VortanFlashTest, AStopBeforeTheRunEndsWaitsAndPackageChecksAtOnceAndStartsNothing) {
  const std::string package = Package(SmallPackage());
  const std::string large = testing::WritePackage(
      dir_, "large.dat", testing::PackageOf({testing::C1Pack(size_t{32} << 20)}));
  for (const Strings& args :
       {Strings{"flash", package, "--json", "--simulate-devices", "0", "--wait"},
        Strings{"devices", "--simulate-devices", "0", "--wait"},
        Strings{"flash", large, "--all", "--simulate-devices", "2", "--trace", trace_}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    testing::RunningProgram run = Start(args);
    // The private folder is made once the signals are taken; the package check comes later.
    while (LeftInWorkFolder().empty()) ::usleep(1000);
    if (args[0] == "devices" || args[2] == "--json") ::usleep(200000);
    ::kill(run.Pid(), SIGTERM);
    const testing::ProgramResult shown = run.Wait(std::chrono::seconds(5));
    EXPECT_EQ(shown.exitCode, 143) << shown.err;
    EXPECT_THAT(shown.out, ::testing::Not(HasSubstr("\"event\"")));
    EXPECT_THAT(shown.out, ::testing::Not(HasSubstr("keyboards updated")));
    EXPECT_EQ(LeftInWorkFolder(), Strings{});
  }
  EXPECT_EQ(FileLines(trace_ + ".0"), Strings{});
}

// Guards against progress text reaching the trace or the device through a descriptor left free
// by a closed standard stream, and against output lost without notice: a trace cut short by a
// full disk and a closed stdout gave status 0.
TEST_F(VortanFlashTest, ClosedOrFullOutputsKeepTextFromTheDeviceAndGiveTheirOwnExitStatus) {
  const std::string faults = Write("faults.txt", "unplug c1.erase 1\n");
  const std::string package = Package(SmallPackage());
  const std::regex report("(H>D|D>H)( [0-9A-F]{2}){64}");
  for (const int closed : {1, 2}) {
    testing::RunningProgram run =
        Start({"flash", package, "--simulate-faults", faults, "--trace", trace_}, {closed});
    EXPECT_EQ(run.Wait().exitCode, 5);
    const Strings lines = FileLines(trace_);
    EXPECT_FALSE(lines.empty());
    for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, report)) << line;
  }
  const testing::ProgramResult full =
      Flash({"flash", package, "--simulate", "--trace", "/dev/full"});
  EXPECT_EQ(full.exitCode, 6);
  EXPECT_THAT(full.out, HasSubstr("Update Success!")) << "the update went on";
  EXPECT_THAT(full.err,
              HasSubstr("Cannot write the trace file /dev/full: No space left on device"));
  const testing::ProgramResult shown = Start({"inspect", package}, {1}).Wait();
  EXPECT_EQ(shown.exitCode, 6);
  EXPECT_EQ(shown.err, "Cannot write to standard output: it was closed at start\n");
  // A file-size limit (4 KiB in dash's blocks) killed the run through its own trace.
  for (const Strings& keyboards : {Strings{"--simulate"}, {"--all", "--simulate-devices", "2"}}) {
    Strings args = {"-c",
                    "ulimit -f 8 && exec \"$0\" \"$@\"",
                    VORTAN_FLASH_PATH,
                    "--work-dir",
                    work_.path().string(),
                    "flash",
                    package,
                    "--trace",
                    trace_};
    args.insert(args.end(), keyboards.begin(), keyboards.end());
    const testing::ProgramResult limited = testing::RunProgram("/bin/sh", args, dir_);
    EXPECT_EQ(limited.exitCode, 6) << limited.err;
    EXPECT_THAT(limited.err, HasSubstr(": File too large"));
  }
}

// Guards against two processes interleaving their commands on one keyboard: a single flash, and
// each keyboard's child of a second --all run, meet the first run's lock before their first report.
// Guards against a signal to --all ending the parent while its children run on unseen: it is passed
// on to every child, which handles it as a single flash does (a first Ctrl-C warns).
TEST_F(VortanFlashTest, RunsMeetingAKeyboardInUseAreRefusedAndASignalToAllReachesEveryChild) {
  const std::string package = Package();
  const std::string first = dir_.File("first");
  const std::string second = dir_.File("second");
  testing::RunningProgram running =
      Start({"flash", package, "--all", "--simulate-devices", "2", "--trace", first});
  ASSERT_TRUE(Traced({first + ".0", first + ".1"}));
  const testing::ProgramResult refused =
      Flash({"flash", package, "--all", "--simulate-devices", "2", "--json", "--trace", second});
  EXPECT_EQ(refused.exitCode, 5);
  const std::vector<nlohmann::json> events = JsonLines(refused.out);
  ASSERT_EQ(events.size(), 2u) << refused.out;
  for (const nlohmann::json& end : events) {
    EXPECT_EQ(end["outcome"], "Update Error!");
    EXPECT_EQ(end["reason"], "Another update of this keyboard is running");
  }
  EXPECT_EQ(FileLines(second + ".0"), Strings{});
  EXPECT_EQ(FileLines(second + ".1"), Strings{});
  const testing::ProgramResult single = Flash({"flash", package, "--simulate", "--trace", second});
  EXPECT_EQ(single.exitCode, 4);
  EXPECT_EQ(single.err, "Another update of this keyboard is running\n");
  EXPECT_EQ(FileLines(second), Strings{});
  ASSERT_EQ(::kill(running.Pid(), SIGINT), 0);
  const testing::ProgramResult shown = running.Wait();
  EXPECT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_THAT(shown.err, HasSubstr("[sim:hidraw0] An update is running"));
  EXPECT_THAT(shown.err, HasSubstr("[sim:hidraw1] An update is running"));
  EXPECT_THAT(shown.out, HasSubstr("2 of 2 keyboards updated"));
  // A link planted at the lock file's name refuses the run: it went on without the lock.
  const std::string lock = work_.File("vortan-simulated-f1a5-1234-0.lock");
  ASSERT_EQ(std::remove(lock.c_str()), 0);
  ASSERT_EQ(::symlink(dir_.File("elsewhere").c_str(), lock.c_str()), 0);
  const testing::ProgramResult unlocked =
      Flash({"flash", package, "--simulate", "--trace", second});
  EXPECT_EQ(unlocked.exitCode, 4);
  EXPECT_THAT(unlocked.err, HasSubstr("the update lock " + lock + " cannot be taken"));
  EXPECT_EQ(FileLines(second), Strings{});
  EXPECT_FALSE(std::filesystem::exists(dir_.File("elsewhere")));
}

// The fault hits the second pack: the first is written and verified, the run still fails.
TEST_F(VortanFlashTest, AllUpdatesEveryKeyboardAtOnceAndAFaultFailsOnlyItsOwn) {
  const std::string faults =
      Write("faults.txt", "# the A1 block's echo\nwrong_echo a1.write 1 byte=1 device=1\n");
  // A package name the children once read as their option -v, named from its own folder.
  std::filesystem::rename(Package(), dir_.File("-v.dat"));
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  const testing::ProgramResult run =
      Flash({"flash", "--all", "--simulate-devices", "3", "--simulate-faults", faults, "--json",
             "--trace", trace_, "--", "-v.dat"});
  std::filesystem::current_path(before);
  EXPECT_EQ(run.exitCode, 5) << run.err;
  std::map<std::string, std::string> outcomes;
  int steps = 0;
  for (const nlohmann::json& e : JsonLines(run.out)) {
    // Each keyboard's events end with its one end event.
    EXPECT_FALSE(outcomes.contains(e["keyboard"])) << e;
    if (e["event"] == "end") outcomes[e["keyboard"]] = e["outcome"];
    steps += e["event"] == "step";
  }
  EXPECT_EQ(outcomes, (std::map<std::string, std::string>{{"sim:hidraw0", "Update Success!"},
                                                          {"sim:hidraw1", "Update Error!"},
                                                          {"sim:hidraw2", "Update Success!"}}));
  EXPECT_EQ(steps, 6 + 4 + 6);
  EXPECT_THAT(run.err, HasSubstr("sim:hidraw1 (serial SIM0001): Update Error! Step 5 of 6 failed\n"
                                 "sim:hidraw2 (serial SIM0002): Update Success!\n2 of 3 keyboards "
                                 "updated"));
  // Each keyboard's own trace ends with its own outcome in the finish command.
  EXPECT_EQ(FinishOutcome(trace_ + ".0"), "00");
  EXPECT_EQ(FinishOutcome(trace_ + ".1"), "01");
  EXPECT_EQ(FinishOutcome(trace_ + ".2"), "00");
}

TEST_F(VortanFlashTest, UsageErrorsExit2AndOptionsMayFollowTheCommand) {
  const std::string package = Package(testing::OnePackPackage());
  const std::string config = Write("Config.ini", "IDC_VID=0x0483\n");
  const std::string badScript = Write("bad.txt", "melt_down\n");
  const std::string misspelled = Write("misspelled.txt", "# c1\nwrong_status c1.sertup 0\n");
  // Faults that can never fire with this package (A2 only) and one keyboard.
  const std::string beyond = Write("beyond.txt", "no_reply\nwrong_echo a1.write 1 device=1\n");
  const std::string absent = Write("absent.txt", "no_reply c1.erase\n");
  const std::string victim = Write("victim.txt", "kept");
  const std::string fifo = dir_.File("fifo");
  const std::string planted = dir_.File("planted.txt");
  const std::string linkedScript = dir_.File("linked.txt");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::symlink(victim.c_str(), planted.c_str()), 0);
  ASSERT_EQ(::symlink(badScript.c_str(), linkedScript.c_str()), 0);
  std::vector<Strings> usageErrors = {
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
      {"inspect", package, "--config", fifo},
  };
  // Only regular files: a FIFO hung the run, /dev/zero filled the memory, a link planted in /tmp
  // redirected the trace into another user's file. A misspelled kind never fired, and the
  // rehearsal reported success.
  for (const std::string& trace :
       {dir_.File("no/such/folder/trace.txt"), fifo, planted, dir_.path().string()}) {
    usageErrors.push_back({"flash", package, "--simulate", "--trace", trace});
  }
  // --all checks what each child would, before any work.
  usageErrors.push_back({"flash", package, "--all", "--simulate-devices", "2", "--trace",
                         dir_.File("no/such/folder/trace.txt")});
  for (const std::string& script : Strings{badScript, dir_.File("missing.txt"), fifo, "/dev/zero",
                                           linkedScript, misspelled, beyond, absent}) {
    usageErrors.push_back({"flash", package, "--simulate-faults", script});
  }
  for (const auto& args : usageErrors) {
    const testing::ProgramResult shown = Flash(args);
    EXPECT_EQ(shown.exitCode, 2) << ::testing::PrintToString(args) << shown.err;
    EXPECT_EQ(shown.out.find("Update"), std::string::npos);
    EXPECT_EQ(LeftInWorkFolder(), Strings{}) << "no work file before the refusal";
  }
  EXPECT_THAT(Flash({"flash", package, "--simulate-faults", misspelled}).err, HasSubstr("line 2"));
  EXPECT_THAT(Flash({"flash", package, "--simulate-faults", beyond}).err, HasSubstr("line 2"));
  EXPECT_EQ(testing::ReadBytes(victim).size(), 4u);
  EXPECT_EQ(Flash({"inspect", package, "--config", config}).exitCode, 0);
  EXPECT_EQ(Flash({"--config", config, "inspect", package, "--json"}).exitCode, 0);
}

// Guards the bash completion drifting from the program: what each --help lists is offered.
TEST_F(VortanFlashTest, TheBashCompletionOffersTheCommandsAndEveryOptionOfEachHelp) {
  const auto complete = [this](Strings words) {
    words.insert(words.begin(),
                 {"-c",
                  "source \"$0\"; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); "
                  "_vortan_flash; printf '%s\\n' \"${COMPREPLY[@]}\"",
                  VORTAN_PACKAGING_DIR "/vortan-flash.bash-completion", VORTAN_FLASH_PATH});
    const Strings lines = Lines(testing::RunProgram("/bin/bash", words, dir_).out);
    return std::set<std::string>(lines.begin(), lines.end());
  };
  const std::regex optionLine(R"(^ +(-\w,)?(--[\w-]+).*)");
  const std::regex commandLine(R"(^  ([a-z]+) .*)");
  for (const Strings& command : {Strings{}, {"inspect"}, {"devices"}, {"flash"}}) {
    Strings help = command;
    help.push_back("--help");
    std::set<std::string> options;
    std::set<std::string> commands;
    for (const std::string& line : Lines(Flash(help).out)) {
      std::smatch match;
      if (std::regex_match(line, match, commandLine)) commands.insert(match[1]);
      if (std::regex_match(line, match, optionLine)) {
        options.insert(match[2]);
        if (match[1].matched) options.insert(match[1].str().substr(0, 2));
      }
    }
    ASSERT_FALSE(options.empty()) << ::testing::PrintToString(command);
    help.back() = "-";
    const std::set<std::string> offered = complete(help);
    for (const std::string& option : options) {
      EXPECT_TRUE(offered.count(option)) << ::testing::PrintToString(command) << ' ' << option;
    }
    if (command.empty()) {
      EXPECT_EQ(commands, std::set<std::string>({"inspect", "devices", "flash"}));
      EXPECT_EQ(complete({""}), commands);
    }
  }
}

}  // namespace
}  // namespace vortan
