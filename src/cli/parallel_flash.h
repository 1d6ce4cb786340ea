#pragma once
// `flash --all`: one child process per keyboard, each a `flash --device PATH --json` of this
// program, all running at once. The parent reads the children's events (run_events.h) and
// text, shows a live table on a terminal (plain lines prefixed by the keyboard otherwise),
// passes the stop signals (stop_requests.h) on to every child, which decides itself what to do
// with them, and ends with one summary line per keyboard.
#include <cstdint>
#include <string>
#include <vector>

#include "cli/run_events.h"
#include "cli/stop_requests.h"

namespace vortan::cli {

struct ParallelFlashPlan {
  struct Keyboard {
    KeyboardName name;
    std::vector<std::string> args;  // the child's command line, after the program name
  };
  std::vector<Keyboard> keyboards;
  // Relay the children's events on stdout and put every human text on stderr.
  bool json = false;
  // Stderr is a terminal: a live table instead of the children's lines.
  bool terminal = false;
  // Where the stop signals arrive; they are passed on to the children while these run.
  StopRequests* stops = nullptr;
};

// Runs every child to its end, whatever happens to the others, and returns kExitSuccess when
// every keyboard was updated, kExitUpdateFailed otherwise. With `json`, stdout ends with one end
// event per keyboard: a child that ended without one (a crash, a signal) gets one made for it.
int FlashInParallel(const ParallelFlashPlan& plan);

}  // namespace vortan::cli
