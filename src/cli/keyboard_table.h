// SPDX-License-Identifier: Apache-2.0
#pragma once
// What `flash --all` shows of each keyboard: on a terminal one table row per keyboard, redrawn in
// place as the runs advance; at the end one summary line per keyboard.
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "cli/run_events.h"

namespace vortan::cli {

struct KeyboardRow {
  enum class State { kWaiting, kUpdating, kSucceeded, kFailed };

  KeyboardName name;
  State state = State::kWaiting;
  int32_t done = 0;  // steps completed
  int32_t total = 0;
  std::string reason;  // why it failed, when known
};

// The header and one line per row, columns as wide as their longest entry.
std::vector<std::string> TableLines(const std::vector<KeyboardRow>& rows);

// "PATH (serial S): Update Success!" or "...: Update Error! REASON".
std::string SummaryLine(const KeyboardRow& row);

// How many of `rows` were updated: the summary's count and what the exit status is judged by.
size_t UpdatedCount(const std::vector<KeyboardRow>& rows);

// Draws the table on a terminal; each later Draw moves the cursor back up over the previous
// table and overwrites it, so the table stays in one place.
class LiveTable {
 public:
  explicit LiveTable(std::ostream& out) : out_(out) {}
  void Draw(const std::vector<KeyboardRow>& rows);

 private:
  std::ostream& out_;
  size_t drawnLines_ = 0;
};

}  // namespace vortan::cli
