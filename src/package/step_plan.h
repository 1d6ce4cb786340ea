// SPDX-License-Identifier: Apache-2.0
#pragma once
// Where a global step of a run lands: which data pack's updater, and which of its operations.
// Each updater contributes StepCount steps: local step 0 enters update mode, the last local step
// (when there are at least two) is the verification, and every step between is RunStep(j - 1).
#include <cstdint>

#include "updaters/ax_update.h"

namespace vortan {

enum class StepKind { kEnterUpdateMode, kRunStep, kFinalStep, kNone };

struct PlannedStep {
  int pack = 0;  // 1 or 2; 0 when the index lies beyond the plan
  StepKind kind = StepKind::kNone;
  int argument = 0;  // attempts for kEnterUpdateMode, block/sector index for kRunStep
};

// Update-mode request attempts of step 0 of every updater.
constexpr int kUpdateModeAttempts = 5;

// `steps1` and `steps2` are the step counts of the two updaters (`steps2` ignored when
// `packCount` is not 2).
PlannedStep PlanStep(uint32_t globalIndex, int32_t steps1, int32_t steps2, int packCount);

// Carries out `step` on its pack's `updater`; `globalIndex` is the run's step number. False for
// kNone.
bool RunPlannedStep(AXUpdate& updater, const PlannedStep& step, uint32_t globalIndex);

}  // namespace vortan
