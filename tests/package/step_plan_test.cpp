// SPDX-License-Identifier: Apache-2.0
#include "package/step_plan.h"

#include <gtest/gtest.h>

#include <tuple>

namespace vortan {
namespace {

TEST(StepPlanTest, MapsEachStepIndexToItsPackAndCommand) {
  using enum StepKind;
  struct Case {
    int32_t s1, s2;
    int packs;
    uint32_t index;
    PlannedStep expected;
  };
  const Case cases[] = {
      {4, 3, 2, 0, {1, kEnterUpdateMode, 5}},
      {4, 3, 2, 1, {1, kRunStep, 0}},
      {4, 3, 2, 2, {1, kRunStep, 1}},
      {4, 3, 2, 3, {1, kFinalStep, 0}},
      {4, 3, 2, 4, {2, kEnterUpdateMode, 5}},
      {4, 3, 2, 5, {2, kRunStep, 0}},
      {4, 3, 2, 6, {2, kFinalStep, 0}},
      {4, 3, 2, 7, {0, kNone, 0}},
      {2, 0, 1, 1, {1, kFinalStep, 0}},        // two steps: no RunStep at all
      {1, 0, 1, 0, {1, kEnterUpdateMode, 5}},  // one step only enters update mode
      {1, 0, 1, 1, {0, kNone, 0}},
      {3, 5, 1, 3, {0, kNone, 0}},              // the second pack is ignored with one pack
      {-3, 2, 2, 0, {2, kEnterUpdateMode, 5}},  // a negative count never maps a step
      {-3, 2, 2, 1, {2, kFinalStep, 0}},
      {-3, 2, 2, 2, {0, kNone, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.s1 << "+" << c.s2 << " step " << c.index);
    const PlannedStep got = PlanStep(c.index, c.s1, c.s2, c.packs);
    EXPECT_EQ(std::tie(got.pack, got.kind, got.argument),
              std::tie(c.expected.pack, c.expected.kind, c.expected.argument));
  }
}

}  // namespace
}  // namespace vortan
