#include "package/step_plan.h"

#include <gtest/gtest.h>

namespace vortan {
namespace {

struct PlanCase {
  uint32_t index;
  PlannedStep expected;
};

void ExpectPlan(int32_t s1, int32_t s2, int packs, const std::vector<PlanCase>& cases) {
  for (const auto& c : cases) {
    const PlannedStep got = PlanStep(c.index, s1, s2, packs);
    EXPECT_EQ(got.pack, c.expected.pack) << "step " << c.index;
    EXPECT_EQ(got.kind, c.expected.kind) << "step " << c.index;
    EXPECT_EQ(got.argument, c.expected.argument) << "step " << c.index;
  }
}

constexpr auto kEnter = StepKind::kEnterUpdateMode;
constexpr auto kRun = StepKind::kRunStep;
constexpr auto kFinal = StepKind::kFinalStep;
constexpr auto kNone = StepKind::kNone;

TEST(StepPlan, TwoPacksOfFourAndThreeSteps) {
  ExpectPlan(4, 3, 2,
             {{0, {1, kEnter, 5}},
              {1, {1, kRun, 0}},
              {2, {1, kRun, 1}},
              {3, {1, kFinal, 0}},
              {4, {2, kEnter, 5}},
              {5, {2, kRun, 0}},
              {6, {2, kFinal, 0}},
              {7, {0, kNone, 0}}});
}

TEST(StepPlan, ShortUpdaters) {
  // Two steps: enter update mode, then verify; no RunStep at all.
  ExpectPlan(2, 0, 1, {{0, {1, kEnter, 5}}, {1, {1, kFinal, 0}}, {2, {0, kNone, 0}}});
  // One step only enters update mode: step 0 is tested before the last step.
  ExpectPlan(1, 0, 1, {{0, {1, kEnter, 5}}, {1, {0, kNone, 0}}});
}

TEST(StepPlan, SecondPackIgnoredWithOnePack) {
  ExpectPlan(3, 5, 1, {{2, {1, kFinal, 0}}, {3, {0, kNone, 0}}});
}

TEST(StepPlan, NegativeCountsNeverMapSteps) {
  ExpectPlan(-3, 2, 2, {{0, {2, kEnter, 5}}, {1, {2, kFinal, 0}}, {2, {0, kNone, 0}}});
}

}  // namespace
}  // namespace vortan
