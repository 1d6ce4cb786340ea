// SPDX-License-Identifier: Apache-2.0
// Pieces of vortan-flash checked in-process: the progress bar, the keyboard table, the run's
// events, the udev rule text and the report trace.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <sstream>

#include "app/failure_texts.h"
#include "app/update_run.h"
#include "cli/keyboard_table.h"
#include "cli/progress_display.h"
#include "cli/run_events.h"
#include "cli/stop_requests.h"
#include "cli/trace_file.h"
#include "emulator/emulator.h"
#include "link/tracing_backend.h"
#include "support/temp_dir.h"

namespace vortan {
namespace {

TEST(ProgressTest, TheBarFillsInProportionClampsAndRedrawsOneLineOnATerminal) {
  EXPECT_EQ(cli::ProgressBar(0, 4, 8), "[--------]    0/4");
  EXPECT_EQ(cli::ProgressBar(3, 4, 8), "[######--]    3/4");
  EXPECT_EQ(cli::ProgressBar(9, 4, 8), "[########]    4/4");
  EXPECT_EQ(cli::ProgressBar(-3, 4, 8), "[--------]    0/4");
  // A plan without steps must not divide by zero.
  EXPECT_EQ(cli::ProgressBar(0, 0, 4), "[####]    0/0");
  // A terminal redraws one line and keeps the bar below log lines.
  std::ostringstream out;
  cli::ProgressDisplay display(out, /*terminal=*/true, 2);
  display.Show(0);
  display.Log("0");
  display.Show(kProgressFailure);
  // Named, not temporaries: gcc 12 -O3 warns falsely (-Wrestrict) on "literal" + temporary.
  const std::string empty = cli::ProgressBar(0, 2, cli::ProgressDisplay::kBarWidth);
  const std::string half = cli::ProgressBar(1, 2, cli::ProgressDisplay::kBarWidth);
  EXPECT_EQ(out.str(), "\r" + empty + "\r" + half + "\r\033[K0\n\r" + half + "\r" + half + "\n");
}

TEST(KeyboardTableTest, RowsAlignAndTheTableRedrawsOverItself) {
  const cli::KeyboardRow waiting{
      {"/dev/hidraw12", ""}, cli::KeyboardRow::State::kWaiting, 0, 0, ""};
  const cli::KeyboardRow failed{
      {"sim:hidraw0", "SIM0000"}, cli::KeyboardRow::State::kFailed, 2, 13, "Step 3 of 13 failed"};
  const std::vector<cli::KeyboardRow> rows = {waiting, failed};
  EXPECT_EQ(cli::TableLines(rows),
            (std::vector<std::string>{"Keyboard       Serial   Step     State",
                                      "/dev/hidraw12           -        waiting",
                                      "sim:hidraw0    SIM0000  2 of 13  Update Error!"}));
  EXPECT_EQ(cli::SummaryLine(waiting), "/dev/hidraw12: Update Error!");
  std::ostringstream out;
  cli::LiveTable table(out);
  table.Draw(rows);
  const std::string first = out.str();
  table.Draw(rows);
  EXPECT_EQ(out.str(), first + "\033[3A" + first);
}

// What --all reads back is what a child wrote; lines of anything else are not events.
TEST(RunEventsTest, EventsReadBackAsWritten) {
  const cli::KeyboardName keyboard{"sim:hidraw1", "SIM0001"};
  const auto step = cli::ParseRunEvent(cli::JsonLine(cli::StepEvent(keyboard, 4, 6)));
  ASSERT_TRUE(step);
  EXPECT_EQ(step->kind, cli::RunEvent::Kind::kStep);
  EXPECT_EQ(step->index, 4);
  EXPECT_EQ(step->total, 6);
  for (const bool success : {true, false}) {
    const auto end =
        cli::ParseRunEvent(cli::JsonLine(cli::EndEvent(keyboard, success, success ? "" : "why")));
    ASSERT_TRUE(end);
    EXPECT_EQ(end->success, success);
    EXPECT_EQ(end->reason, success ? "" : "why");
  }
  // A path that is not UTF-8 still makes one line of valid JSON.
  const std::string odd = cli::JsonLine(cli::EndEvent({"/dev/\xFF", ""}, true, ""));
  EXPECT_TRUE(cli::ParseRunEvent(odd)) << odd;
  for (const char* other :
       {"", "Step 1 of 6 done", "[1,2]", "{\"event\":\"lunch\"}", "{\"event\":3}"}) {
    EXPECT_FALSE(cli::ParseRunEvent(other)) << other;
  }
}

TEST(UdevRuleTest, TheRuleForTheDefaultIdsIsTheShippedOneAndAZeroIdMatchesAny) {
  const std::string shipped = testing::ReadText(VORTAN_PACKAGING_DIR "/70-vortan-updater.rules");
  const std::string rule = UdevRuleLine(0xF1A5, 0x1234);
  EXPECT_NE(shipped.find("\n" + rule + "\n"), std::string::npos) << shipped;
  EXPECT_EQ(UdevRuleLine(0x10000, 0x5750),
            "KERNEL==\"hidraw*\", SUBSYSTEM==\"hidraw\", ATTRS{idProduct}==\"5750\", "
            "TAG+=\"uaccess\"");
}

TEST(TracingBackendTest, RecordsWrittenReportsAndDeliveredRepliesOnly) {
  auto emulator = std::make_shared<emu::Emulator>();
  emulator->Attach(0xF1A5, 0x1234);
  std::vector<std::string> lines;
  TracingBackend tracing(emulator, [&lines](const std::string& line) { lines.push_back(line); });
  HidBackend::Handle handle = tracing.Open(0xF1A5, 0x1234);
  ASSERT_NE(handle, nullptr);
  uint8_t report[64] = {0x51, 0x04, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x0A, 0x4D, 0x07};
  ASSERT_EQ(tracing.Write(handle, report, sizeof report), 64);
  uint8_t reply[64] = {};
  ASSERT_GT(tracing.Read(handle, reply, sizeof reply, 0), 0);
  // Nothing more is queued: an expired read crossed nothing.
  EXPECT_EQ(tracing.Read(handle, reply, sizeof reply, 0), 0);
  tracing.Close(handle);
  EXPECT_EQ(lines, emulator->Trace());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], ReportTraceLine("H>D", report, sizeof report));
}

// Guards against the trace overwriting what is not the user's: a hard link, another user's file
// planted in a sticky folder, a symbolic link, device nodes beside the null and full devices.
TEST(TraceFileTest, OnlyOwnSingleLinkedFilesNewFilesAndTheNullAndFullDevicesAreWritten) {
  testing::TempDir dir;
  const std::string victim = dir.File("victim");
  ASSERT_TRUE(testing::WriteText(victim, "kept"));
  const std::string own = dir.File("own"), planted = dir.File("planted");
  ASSERT_TRUE(testing::WriteText(own, "old"));
  ASSERT_TRUE(testing::WriteText(planted, "theirs"));
  ASSERT_EQ(::link(victim.c_str(), dir.File("hard").c_str()), 0);
  ASSERT_EQ(::symlink(victim.c_str(), dir.File("soft").c_str()), 0);
  const bool planting = ::chown(planted.c_str(), 65534, 65534) == 0;
  const std::pair<std::string, bool> cases[] = {
      {dir.File("new"), true},      {own, true},
      {"/dev/null", true},          {"/dev/full", true},
      {dir.File("hard"), false},    {dir.File("soft"), false},
      {"/dev/random", false},       {"/dev/zero", false},
      {dir.path().string(), false}, {planted, !planting},
  };
  for (const auto& [path, accepted] : cases) {
    cli::TraceFile trace;
    std::string error;
    EXPECT_EQ(trace.Open(path, &error), accepted) << path << ": " << error;
  }
  EXPECT_EQ(testing::ReadText(own), "");
  EXPECT_EQ(testing::ReadText(victim), "kept");
  EXPECT_EQ(testing::ReadText(planted), "theirs");
}

// Guards against a run starting after a stop was asked for, against losing that stop or leaving
// a wait deaf to it, and against a stop after the run's end replacing the run's outcome.
TEST(StopRequestsTest, AStopBeforeARunIsKeptAndWakesAWaitAndOneAfterItChangesNothing) {
  cli::StopRequests stops;
  ASSERT_TRUE(stops.Ready());
  pollfd wait = {stops.StopFd(), POLLIN, 0};
  EXPECT_EQ(::poll(&wait, 1, 0), 0);
  stops.OnSignal(SIGHUP);
  stops.OnSignal(SIGINT);
  EXPECT_EQ(stops.StopSignal(), SIGHUP);
  EXPECT_EQ(::poll(&wait, 1, 0), 1) << "a wait watching StopFd ends";
  EXPECT_FALSE(stops.BeginRun());
  EXPECT_EQ(cli::ExitStatusOfSignal(SIGHUP), 129);

  cli::StopRequests during;
  std::vector<int> forwarded;
  ASSERT_TRUE(during.BeginForwardedRun([&](int signal) { forwarded.push_back(signal); }));
  for (const int signal : {SIGTERM, SIGINT, SIGINT, SIGINT}) during.OnSignal(signal);
  during.EndRun();
  during.OnSignal(SIGTERM);
  // Guards against the second Ctrl-C merging with the first on its way to a busy child.
  EXPECT_EQ(forwarded, (std::vector<int>{SIGTERM, SIGINT, SIGQUIT, SIGINT}));
  EXPECT_EQ(during.CutOffSignal(), SIGINT);
  EXPECT_EQ(during.StopSignal(), 0) << "no stop is kept during or after the run";
}

}  // namespace
}  // namespace vortan
