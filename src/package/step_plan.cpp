// SPDX-License-Identifier: Apache-2.0
#include "package/step_plan.h"

namespace vortan {
namespace {

PlannedStep Local(int pack, int64_t j, int64_t count) {
  // Step 0 is tested first, so an updater of a single step only enters update mode.
  if (j == 0) return {pack, StepKind::kEnterUpdateMode, kUpdateModeAttempts};
  if (j == count - 1) return {pack, StepKind::kFinalStep, 0};
  return {pack, StepKind::kRunStep, static_cast<int>(j - 1)};
}

}  // namespace

PlannedStep PlanStep(uint32_t globalIndex, int32_t steps1, int32_t steps2, int packCount) {
  const int64_t i = globalIndex;
  const int64_t s1 = steps1 > 0 ? steps1 : 0;
  if (i < s1) return Local(1, i, s1);
  if (packCount == 2) {
    const int64_t s2 = steps2 > 0 ? steps2 : 0;
    if (i - s1 < s2) return Local(2, i - s1, s2);
  }
  return {};
}

bool RunPlannedStep(AXUpdate& updater, const PlannedStep& step, uint32_t globalIndex) {
  switch (step.kind) {
    case StepKind::kEnterUpdateMode:
      return updater.EnterUpdateMode(step.argument);
    case StepKind::kRunStep:
      return updater.RunStep(step.argument);
    case StepKind::kFinalStep:
      // The updaters ignore the run's step number; it fits int for any plan Examine accepted.
      return updater.FinalStep(static_cast<int>(globalIndex));
    case StepKind::kNone:
      break;
  }
  return false;
}

}  // namespace vortan
