// SPDX-License-Identifier: Apache-2.0
#include "app/run_line.h"

#include <algorithm>

#include "app/update_run.h"

namespace vortan {

std::string DurationText(std::chrono::milliseconds duration) {
  const int64_t seconds = (std::max<int64_t>(duration.count(), 0) + 999) / 1000;
  if (seconds < 60) return std::to_string(seconds) + " s";
  return std::to_string(seconds / 60) + " min " + std::to_string(seconds % 60) + " s";
}

std::string RunLine(int32_t done, int32_t total, std::chrono::milliseconds elapsed) {
  const int32_t remaining = std::max(total - done, 0);
  std::string time;
  if (done <= 0) {
    // Every step is followed by the pause; the steps' own time is not known yet.
    time = "at least " + DurationText(kPauseAfterStep * remaining);
  } else {
    time = "about " + DurationText(elapsed * remaining / done);
  }
  const int32_t step = std::min(done + 1, total);
  return std::string(kTextUpdating) + ". Step " + std::to_string(step) + " of " +
         std::to_string(total) + ", " + time + " left";
}

}  // namespace vortan
