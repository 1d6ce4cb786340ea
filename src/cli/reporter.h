// SPDX-License-Identifier: Apache-2.0
#pragma once
// What the commands report of their work, apart from how it is written: one interface with a
// human implementation (reporter_human.h) and a JSON one (reporter_json.h), chosen once per
// command by MakeReporter, so a new output format is one new class. Refusals before any work
// (usage, a refused package, no single keyboard, a lock not taken) are said on stderr in every
// format and do not pass through here.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/keyboard_table.h"
#include "cli/run_events.h"
#include "link/hid_backend.h"
#include "package/dat_file_examine.h"

namespace vortan::cli {

// How a run of flash ended, as the command judged it.
struct RunEnd {
  bool success = false;
  // The one line that says why it failed (RunFailureReason); empty on success.
  std::string reason;
  // Lines for the user after "Update Error!", each ending in '\n' (what to do next, the open
  // failure with the udev rule); empty on success.
  std::string details;
};

class Reporter {
 public:
  virtual ~Reporter() = default;

  // inspect: the facts of the ready package `datFile`.
  virtual void Package(const DatFileExamine& datFile) = 0;
  // devices --list: one matching HID interface.
  virtual void Device(const HidDeviceInfo& entry) = 0;

  // flash, in this order: the start; each progress value of the run (update_run.h) with the
  // diagnostic lines logged meanwhile; each fault script line that never fired; the end.
  virtual void RunStarted(const KeyboardName& keyboard, const DatFileExamine& package,
                          int32_t totalSteps) = 0;
  virtual void Progress(const KeyboardName& keyboard, int32_t value) = 0;
  virtual void Log(std::string_view line) = 0;
  virtual void FaultUnfired(const KeyboardName& keyboard, int line, const std::string& fault) = 0;
  virtual void RunEnded(const KeyboardName& keyboard, const RunEnd& end) = 0;

  // flash --all, in the parent. An event of the child of `keyboard`, as parsed and as the child
  // wrote it; `line` is empty for the end the parent makes for a child that ended without one.
  virtual void KeyboardEvent(const KeyboardName& keyboard, const RunEvent& event,
                             const std::string& line) = 0;
  // A line of text the child of `keyboard` wrote on its stderr.
  virtual void KeyboardText(const KeyboardName& keyboard, const std::string& line) = 0;
  // The state of every keyboard, after any of them changed.
  virtual void KeyboardRows(const std::vector<KeyboardRow>& rows) = 0;
  // Once every child has ended.
  virtual void Summary(const std::vector<KeyboardRow>& rows) = 0;
};

// The human reporter, or with `json` the JSON one. `terminal`: stderr is a terminal that may
// show a progress bar or a table redrawn in place.
std::unique_ptr<Reporter> MakeReporter(bool json, bool terminal);

// Steps the updater of data pack `pack` planned when the package was examined.
int32_t PackStepCount(const DatFileExamine& datFile, int pack);

}  // namespace vortan::cli
