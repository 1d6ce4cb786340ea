// SPDX-License-Identifier: Apache-2.0
#include "cli/progress_display.h"

#include <algorithm>
#include <cstdio>

#include "app/update_run.h"

namespace vortan::cli {

std::string ProgressBar(int32_t done, int32_t total, int width) {
  const int64_t shown = std::clamp<int64_t>(done, 0, std::max(total, 0));
  const int filled = total > 0 ? static_cast<int>(shown * width / total) : width;
  char count[32];
  std::snprintf(count, sizeof count, " %4lld/%d", static_cast<long long>(shown), total);
  std::string bar(1, '[');
  bar.append(static_cast<size_t>(filled), '#').append(static_cast<size_t>(width - filled), '-');
  bar.push_back(']');
  return bar.append(count);
}

ProgressDisplay::ProgressDisplay(std::ostream& out, bool terminal, int32_t totalSteps)
    : out_(out), terminal_(terminal), total_(totalSteps) {
  if (terminal_) DrawBar();
}

void ProgressDisplay::Show(int32_t value) {
  if (value >= 0) {
    done_ = value + 1;
    if (terminal_) {
      DrawBar();
    } else {
      out_ << "Step " << done_ << " of " << total_ << " done\n" << std::flush;
    }
    return;
  }
  if (value == kProgressSuccess) done_ = total_;
  if (terminal_ && (value == kProgressSuccess || value == kProgressFailure)) {
    DrawBar();
    out_ << '\n' << std::flush;
    barShown_ = false;
  }
}

void ProgressDisplay::Log(std::string_view line) {
  // Clears the bar's line first ("\r" and erase to end of line) and draws it again below.
  if (terminal_ && barShown_) out_ << "\r\033[K";
  out_ << line << '\n';
  if (terminal_ && barShown_) DrawBar();
  out_ << std::flush;
}

void ProgressDisplay::DrawBar() {
  out_ << '\r' << ProgressBar(done_, total_, kBarWidth) << std::flush;
  barShown_ = true;
}

}  // namespace vortan::cli
