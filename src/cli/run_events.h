// SPDX-License-Identifier: Apache-2.0
#pragma once
// The JSON Lines that `flash --json` writes on stdout for scripts and dashboards: one object per
// line, "start" (the package's facts), "step" (a completed step), "fault_unfired" (a rehearsal's
// fault that never fired) and "end" (the outcome, with the reason where known), each naming its
// keyboard. `flash --all` reads its children's lines back
// with ParseRunEvent.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "app/user_texts.h"
#include "cli/json.h"
#include "package/dat_file_examine.h"

namespace vortan::cli {

// How events name a keyboard: its path as listed and its serial number ("" when unknown).
struct KeyboardName {
  std::string path;
  std::string serial;
};

nlohmann::json StartEvent(const KeyboardName& keyboard, const DatFileExamine& package,
                          int32_t totalSteps);
// `index` is the step just completed, from 0; `total` the run's step count.
nlohmann::json StepEvent(const KeyboardName& keyboard, int32_t index, int32_t total);
// `reason` is left out when empty.
nlohmann::json EndEvent(const KeyboardName& keyboard, bool success, const std::string& reason);
// A rehearsal's fault script line `line` (its text `fault`) that never fired; before the end.
nlohmann::json UnfiredFaultEvent(const KeyboardName& keyboard, int line, const std::string& fault);

struct RunEvent {
  enum class Kind { kStart, kStep, kEnd } kind = Kind::kStart;
  int32_t index = -1;  // step
  int32_t total = 0;   // start (totalSteps) and step
  bool success = false;
  std::string reason;  // end
};

// The event a line holds; nullopt for a line that is not one of ours.
std::optional<RunEvent> ParseRunEvent(const std::string& line);

}  // namespace vortan::cli
