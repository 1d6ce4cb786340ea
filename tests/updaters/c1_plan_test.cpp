#include <gtest/gtest.h>

#include <vector>

#include "updaters/c1_update.h"

namespace vortan {
namespace {

// Blocks in the free sectors and their 8 KiB chunks are the run tests' flash content and counts.
TEST(C1PlanTest, StepCounts) {
  // Sector 1 reserved; 7 is no sector start and reserves nothing.
  const std::vector<uint32_t> reserved = {0x5000, 7};
  const C1SectorMap map(0x5000, reserved);
  EXPECT_EQ(C1StepPlan::Make(map, 45000)->StepCount(), 5);
  EXPECT_EQ(C1StepPlan::Make(map, 3 * 0x5000)->StepCount(), 5);
  EXPECT_EQ(C1StepPlan::Make(map, 3 * 0x5000 + 1)->StepCount(), 6);
}

std::vector<uint32_t> SectorStarts(uint32_t size, uint32_t count) {
  std::vector<uint32_t> starts;
  for (uint32_t i = 0; i < count; ++i) starts.push_back(i * size);
  return starts;
}

TEST(C1PlanTest, RequiredSpanStaysInsideTheAddressSpace) {
  const struct {
    const char* name;
    uint32_t sectorSize;
    std::vector<uint32_t> reserved;
    int64_t length;
    std::optional<uint64_t> span;
  } cases[] = {
      {"reserved 0, 65537 bytes", 0x10000, {0}, 65537, 3 * 0x10000},
      {"nothing to hold", 0x10000, {0}, 0, 0},
      {"entry off the grid", 0x10000, {0x8000}, 0x10000, 0x10000},
      // Guards the endless walk: every sector start of the address space is reserved.
      {"all reserved", 0x800000, SectorStarts(0x800000, 512), 1, std::nullopt},
      // Guards the wrap: the second block would land on sector 0 again.
      {"last sector fits", 0x800000, SectorStarts(0x800000, 511), 0x800000, uint64_t{1} << 32},
      {"one sector past", 0x800000, SectorStarts(0x800000, 511), 0x800001, std::nullopt},
      // A span of 2^31 or more stays positive.
      {"2 GiB", 0x800000, {0}, int64_t{1} << 31, (uint64_t{1} << 31) + 0x800000},
      {"odd size at the top", 0xFFFFFF, {0}, int64_t{0xFFFFFF} * 255, uint64_t{0xFFFFFF} * 256},
      {"odd size past the top", 0xFFFFFF, {0}, int64_t{0xFFFFFF} * 255 + 1, std::nullopt},
  };
  for (const auto& c : cases) {
    const C1SectorMap map(c.sectorSize, c.reserved);
    EXPECT_EQ(map.RequiredSpan(c.length), c.span) << c.name;
    EXPECT_EQ(C1StepPlan::Make(map, c.length).has_value(), c.span.has_value()) << c.name;
  }
}

}  // namespace
}  // namespace vortan
