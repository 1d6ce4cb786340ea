// SPDX-License-Identifier: Apache-2.0
#include "app/update_run.h"

#include <chrono>
#include <string>

#include "util/clock.h"
#include "util/diag_log.h"
#include "util/exception_text.h"

namespace vortan {

namespace {

// Runs `action`; false, with the reason in `failure`, when it throws.
template <class Action>
bool Guarded(const Action& action, std::string* failure) {
  try {
    return action();
  } catch (...) {
    if (failure) *failure = CurrentExceptionText();
    return false;
  }
}

// Ends a failed run. Both calls are made even when one throws: the device must still be told.
bool EndFailed(UpdateSteps& steps, const ProgressSink& progress) {
  Guarded(
      [&] {
        steps.Finish(false);
        return true;
      },
      nullptr);
  Guarded(
      [&] {
        progress(kProgressFailure);
        return true;
      },
      nullptr);
  return false;
}

}  // namespace

bool RunUpdate(UpdateSteps& steps, const ProgressSink& progress, std::string* failure) {
  const int32_t total = steps.TotalStepCount();
  if (total < 1) return EndFailed(steps, progress);
  for (uint32_t i = 0; i < static_cast<uint32_t>(total); ++i) {
    const bool done = Guarded(
        [&] {
          if (!steps.DoStep(i)) return false;
          ProcessClock().Sleep(kPauseAfterStep);
          progress(static_cast<int32_t>(i));
          DiagLog(std::to_string(i));
          return true;
        },
        failure);
    if (!done) return EndFailed(steps, progress);
  }
  // The outcome rests on the verified steps; a failed finish command does not change it.
  Guarded(
      [&] {
        steps.Finish(true);
        return true;
      },
      nullptr);
  Guarded(
      [&] {
        progress(kProgressSuccess);
        return true;
      },
      nullptr);
  return true;
}

}  // namespace vortan
