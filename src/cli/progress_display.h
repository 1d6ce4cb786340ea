// SPDX-License-Identifier: Apache-2.0
#pragma once
// Shows the progress values of an update run (app/update_run.h): on a terminal one bar redrawn
// in place, otherwise one plain line per completed step, so logs and pipes stay readable.
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace vortan::cli {

// "[#####-----]   3/10" with `width` cells, filled in proportion to done / total (clamped).
std::string ProgressBar(int32_t done, int32_t total, int width);

class ProgressDisplay {
 public:
  static constexpr int kBarWidth = 40;

  ProgressDisplay(std::ostream& out, bool terminal, int32_t totalSteps);

  // A progress value: step index i completed (shows i + 1 of the total), kProgressSuccess
  // (bar filled) or kProgressFailure (the bar stays where it was). Both ends finish the line.
  void Show(int32_t value);
  // A diagnostic line, printed above the bar so the bar stays the last line.
  void Log(std::string_view line);

 private:
  void DrawBar();

  std::ostream& out_;
  bool terminal_;
  int32_t total_;
  int32_t done_ = 0;
  bool barShown_ = false;
};

}  // namespace vortan::cli
