// SPDX-License-Identifier: Apache-2.0
#pragma once
// The reporter for people: inspect's and devices --list's lines and flash's texts on stdout,
// the progress (a bar on a terminal, otherwise one line per step), the unfired faults, failures
// and --all's table (on a terminal) or keyboard-prefixed lines on stderr.
#include <iostream>
#include <optional>
#include <ostream>

#include "cli/keyboard_table.h"
#include "cli/progress_display.h"
#include "cli/reporter.h"

namespace vortan::cli {

class HumanReporter : public Reporter {
 public:
  // `out` takes what stdout takes without --json: the JSON reporter moves it to stderr.
  explicit HumanReporter(bool terminal, std::ostream& out = std::cout);

  void Package(const DatFileExamine& datFile) override;
  void Device(const HidDeviceInfo& entry) override;
  void RunStarted(const KeyboardName& keyboard, const DatFileExamine& package,
                  int32_t totalSteps) override;
  void Progress(const KeyboardName& keyboard, int32_t value) override;
  void Log(std::string_view line) override;
  void FaultUnfired(const KeyboardName& keyboard, int line, const std::string& fault) override;
  void RunEnded(const KeyboardName& keyboard, const RunEnd& end) override;
  void KeyboardEvent(const KeyboardName& keyboard, const RunEvent& event,
                     const std::string& line) override;
  void KeyboardText(const KeyboardName& keyboard, const std::string& line) override;
  void KeyboardRows(const std::vector<KeyboardRow>& rows) override;
  void Summary(const std::vector<KeyboardRow>& rows) override;

 private:
  bool terminal_;
  std::ostream& out_;
  std::optional<ProgressDisplay> display_;  // from the run's start
  LiveTable table_;
};

}  // namespace vortan::cli
