#include "app/update_run.h"

#include <chrono>
#include <string>

#include "link/clock.h"
#include "util/diag_log.h"

namespace vortan {

namespace {
constexpr std::chrono::milliseconds kPauseAfterStep{500};
}

bool RunUpdate(UpdateSteps& steps, const ProgressSink& progress) {
  const int32_t total = steps.TotalStepCount();
  if (total < 1) {
    steps.Finish(false);
    progress(kProgressFailure);
    return false;
  }
  for (uint32_t i = 0; i < static_cast<uint32_t>(total); ++i) {
    if (!steps.DoStep(i)) {
      steps.Finish(false);
      progress(kProgressFailure);
      return false;
    }
    ProcessClock().Sleep(kPauseAfterStep);
    progress(static_cast<int32_t>(i));
    DiagLog(std::to_string(i));
  }
  // The outcome rests on the verified steps; a failed finish command does not change it.
  steps.Finish(true);
  progress(kProgressSuccess);
  return true;
}

}  // namespace vortan
