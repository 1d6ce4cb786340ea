// SPDX-License-Identifier: Apache-2.0
#pragma once
// The reporter for scripts: inspect's one JSON object, devices --list's JSON Lines, and flash's
// events as JSON Lines on stdout (run_events.h); every text the human reporter shows beside
// them (progress, faults, failures, --all's table and summary) goes to stderr instead.
#include "cli/reporter_human.h"

namespace vortan::cli {

class JsonReporter final : public HumanReporter {
 public:
  explicit JsonReporter(bool terminal) : HumanReporter(terminal, std::cerr) {}

  void Package(const DatFileExamine& datFile) override;
  void Device(const HidDeviceInfo& entry) override;
  void RunStarted(const KeyboardName& keyboard, const DatFileExamine& package,
                  int32_t totalSteps) override;
  void Progress(const KeyboardName& keyboard, int32_t value) override;
  void FaultUnfired(const KeyboardName& keyboard, int line, const std::string& fault) override;
  void RunEnded(const KeyboardName& keyboard, const RunEnd& end) override;
  void KeyboardEvent(const KeyboardName& keyboard, const RunEvent& event,
                     const std::string& line) override;

 private:
  int32_t totalSteps_ = 0;
};

}  // namespace vortan::cli
