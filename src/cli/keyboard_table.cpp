// SPDX-License-Identifier: Apache-2.0
#include "cli/keyboard_table.h"

#include <algorithm>
#include <array>

namespace vortan::cli {
namespace {

std::string StateText(const KeyboardRow& row) {
  switch (row.state) {
    case KeyboardRow::State::kWaiting:
      return "waiting";
    case KeyboardRow::State::kUpdating:
      return "updating";
    case KeyboardRow::State::kSucceeded:
      return kTextSuccess;
    case KeyboardRow::State::kFailed:
      return kTextFailure;
  }
  return "";
}

std::string StepText(const KeyboardRow& row) {
  if (row.total <= 0) return "-";
  return std::to_string(row.done) + " of " + std::to_string(row.total);
}

}  // namespace

std::vector<std::string> TableLines(const std::vector<KeyboardRow>& rows) {
  std::vector<std::array<std::string, 4>> cells = {{"Keyboard", "Serial", "Step", "State"}};
  for (const KeyboardRow& row : rows) {
    cells.push_back({row.name.path, row.name.serial, StepText(row), StateText(row)});
  }
  std::array<size_t, 3> width = {};
  for (const auto& line : cells) {
    for (size_t c = 0; c < width.size(); ++c) width[c] = std::max(width[c], line[c].size());
  }
  std::vector<std::string> lines;
  for (const auto& line : cells) {
    std::string text;
    for (size_t c = 0; c < width.size(); ++c) {
      text += line[c] + std::string(width[c] - line[c].size() + 2, ' ');
    }
    lines.push_back(text + line[3]);
  }
  return lines;
}

std::string SummaryLine(const KeyboardRow& row) {
  std::string line = row.name.path;
  if (!row.name.serial.empty()) line += " (serial " + row.name.serial + ")";
  line += ": ";
  if (row.state == KeyboardRow::State::kSucceeded) return line + kTextSuccess;
  line += kTextFailure;
  return row.reason.empty() ? line : line + " " + row.reason;
}

size_t UpdatedCount(const std::vector<KeyboardRow>& rows) {
  return static_cast<size_t>(std::count_if(rows.begin(), rows.end(), [](const KeyboardRow& row) {
    return row.state == KeyboardRow::State::kSucceeded;
  }));
}

void LiveTable::Draw(const std::vector<KeyboardRow>& rows) {
  // Up to the first line of the previous table, then each line cleared and written anew.
  if (drawnLines_ > 0) out_ << "\033[" << drawnLines_ << 'A';
  const std::vector<std::string> lines = TableLines(rows);
  for (const std::string& line : lines) out_ << '\r' << "\033[K" << line << '\n';
  out_ << std::flush;
  drawnLines_ = lines.size();
}

}  // namespace vortan::cli
