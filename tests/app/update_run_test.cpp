// SPDX-License-Identifier: Apache-2.0
#include "app/update_run.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "util/clock.h"
#include "util/diag_log.h"

namespace vortan {
namespace {

class FakeSteps : public UpdateSteps {
 public:
  FakeSteps(int32_t total, int failAt, int throwAt)
      : total_(total), failAt_(failAt), throwAt_(throwAt) {}
  int32_t TotalStepCount() override { return total_; }
  bool DoStep(uint32_t index) override {
    if (static_cast<int>(index) == throwAt_) throw std::bad_alloc();
    return static_cast<int>(index) != failAt_;
  }
  void Finish(bool success) override { finishes.push_back(success); }

  std::vector<bool> finishes;

 private:
  int32_t total_;
  int failAt_;
  int throwAt_;
};

TEST(UpdateRunTest, ProgressFinishAndPauses) {
  struct Case {
    const char* name;
    int32_t total;
    int failAt;   // -1: no failure
    int throwAt;  // -1: no exception
    bool success;
    std::vector<int32_t> progress;
    int64_t sleptMs;
  };
  const std::vector<Case> cases = {
      {"seven steps succeed", 7, -1, -1, true, {0, 1, 2, 3, 4, 5, 6, -1}, 3500},
      {"failure at step 0 posts no index", 5, 0, -1, false, {-2}, 0},
      {"failure midway stops without a pause", 5, 3, -1, false, {0, 1, 2, -2}, 1500},
      // Guards against an empty plan being reported as "Update Success!".
      {"no steps is a failure", 0, -1, -1, false, {-2}, 0},
      // Guards against an exception ending the run (and the program) without its finish.
      {"a step that throws fails there", 5, -1, 2, false, {0, 1, -2}, 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VirtualClock clock;
    ScopedProcessClock use(&clock);
    std::vector<std::string> log;
    LogSink previous = SetLogSink([&](std::string_view line) { log.emplace_back(line); });
    FakeSteps steps(c.total, c.failAt, c.throwAt);
    std::vector<int32_t> progress;
    std::string thrown;
    const bool ok = RunUpdate(
        steps, [&](int32_t v) { progress.push_back(v); }, &thrown);
    SetLogSink(previous);

    EXPECT_EQ(ok, c.success);
    EXPECT_EQ(progress, c.progress);
    EXPECT_EQ(clock.SleptMs(), c.sleptMs);
    EXPECT_EQ(steps.finishes, std::vector<bool>{c.success});
    EXPECT_EQ(thrown, c.throwAt < 0 ? "" : "Cannot allocate memory");
    const size_t completed = c.success ? static_cast<size_t>(c.total) : progress.size() - 1;
    ASSERT_EQ(log.size(), completed);
    for (size_t i = 0; i < log.size(); ++i) EXPECT_EQ(log[i], std::to_string(i));
  }
}

}  // namespace
}  // namespace vortan
