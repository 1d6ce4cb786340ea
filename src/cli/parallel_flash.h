// SPDX-License-Identifier: Apache-2.0
#pragma once
// `flash --all`: one child process per keyboard, each a `flash --device PATH --json` of this
// program, all running at once. The parent reads the children's events (run_events.h) and
// text and hands them to the command's reporter (reporter.h: a live table on a terminal, plain
// lines prefixed by the keyboard otherwise, or the events relayed), passes the stop signals
// (stop_requests.h) on to every child, which decides itself what to do with them, and ends with
// the reporter's summary.
#include <cstdint>
#include <string>
#include <vector>

#include "cli/reporter.h"
#include "cli/run_events.h"
#include "cli/stop_requests.h"

namespace vortan::cli {

struct ParallelFlashPlan {
  struct Keyboard {
    KeyboardName name;
    std::vector<std::string> args;  // the child's command line, after the program name
  };
  std::vector<Keyboard> keyboards;
  // Shows the children's events, text and states, and the summary; not owned.
  Reporter* reporter = nullptr;
  // Where the stop signals arrive; they are passed on to the children while these run.
  StopRequests* stops = nullptr;
};

// Runs every child to its end, whatever happens to the others, and returns kExitSuccess when
// every keyboard was updated, kExitUpdateFailed otherwise. The reporter gets one end event per
// keyboard: a child that ended without one (a crash, a signal) gets one made for it.
int FlashInParallel(const ParallelFlashPlan& plan);

}  // namespace vortan::cli
