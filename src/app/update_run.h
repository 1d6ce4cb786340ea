// SPDX-License-Identifier: Apache-2.0
#pragma once
// The update run, free of any window toolkit: performs every step of the ready package in
// order, pauses half a second after each through the process clock, and reports progress.
// The window runs it on its update thread; vortan-flash runs it directly.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace vortan {

// What a run needs of the package object.
class UpdateSteps {
 public:
  virtual ~UpdateSteps() = default;
  virtual int32_t TotalStepCount() = 0;
  virtual bool DoStep(uint32_t index) = 0;
  // Tells the device the outcome (command 9) and closes the link; the result is not used.
  virtual void Finish(bool success) = 0;
};

// The fixed pause after every completed step.
inline constexpr std::chrono::milliseconds kPauseAfterStep{500};

// Progress values: an index >= 0 is the step just completed; these two end the run.
constexpr int32_t kProgressSuccess = -1;
constexpr int32_t kProgressFailure = -2;

// Receives each progress value. The window posts it to its main thread as a value inside the
// queued call; the run shares no object with the receiver.
using ProgressSink = std::function<void(int32_t value)>;

// Runs the whole update on the calling thread and returns true on success. The first failed
// step ends the run without a pause. A plan of fewer than one step is a failure: nothing was
// written, so it must never be reported as a successful update.
//
// No exception leaves the run: one thrown by a step, its pause or its report (memory running out
// midway) fails that step, and the run ends as after any failed step, with the finish command's
// failure flag; `failure`, when given, then gets its reason ("Cannot allocate memory").
bool RunUpdate(UpdateSteps& steps, const ProgressSink& progress, std::string* failure = nullptr);

}  // namespace vortan
