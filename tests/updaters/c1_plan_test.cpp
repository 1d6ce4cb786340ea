// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <vector>

#include "updaters/c1_update.h"

namespace vortan {
namespace {

std::vector<uint32_t> SectorStarts(uint32_t size, uint32_t count) {
  std::vector<uint32_t> starts;
  for (uint32_t i = 0; i < count; ++i) starts.push_back(i * size);
  return starts;
}

// Blocks in the free sectors and their 8 KiB chunks are the run tests' flash content and counts;
// here the span they need and the steps, a block per sector (0 steps: no plan).
TEST(C1PlanTest, RequiredSpanStaysInsideTheAddressSpace) {
  const struct {
    const char* name;
    uint32_t sectorSize;
    std::vector<uint32_t> reserved;
    int64_t length;
    std::optional<uint64_t> span;
    int steps;
  } cases[] = {
      {"reserved 0, 65537 bytes", 0x10000, {0}, 65537, 3 * 0x10000, 4},
      {"nothing to hold", 0x10000, {0}, 0, 0, 2},
      {"entry off the grid, one whole sector", 0x10000, {0x8000}, 0x10000, 0x10000, 3},
      // Guards the endless walk: every sector start of the address space is reserved.
      {"all reserved", 0x800000, SectorStarts(0x800000, 512), 1, std::nullopt, 0},
      // Guards the wrap: the second block would land on sector 0 again.
      {"last sector fits", 0x800000, SectorStarts(0x800000, 511), 0x800000, uint64_t{1} << 32, 3},
      {"one sector past", 0x800000, SectorStarts(0x800000, 511), 0x800001, std::nullopt, 0},
      // A span of 2^31 or more stays positive.
      {"2 GiB", 0x800000, {0}, int64_t{1} << 31, (uint64_t{1} << 31) + 0x800000, 258},
      {"odd size, top fits", 0xFFFFFF, {0}, int64_t{0xFFFFFF} * 255, uint64_t{0xFFFFFF} * 256, 257},
      {"odd size past the top", 0xFFFFFF, {0}, int64_t{0xFFFFFF} * 255 + 1, std::nullopt, 0},
  };
  for (const auto& c : cases) {
    const C1SectorMap map(c.sectorSize, c.reserved);
    EXPECT_EQ(map.RequiredSpan(c.length), c.span) << c.name;
    const auto plan = C1StepPlan::Make(map, c.length);
    EXPECT_EQ(plan ? plan->StepCount() : 0, c.steps) << c.name;
  }
}

}  // namespace
}  // namespace vortan
