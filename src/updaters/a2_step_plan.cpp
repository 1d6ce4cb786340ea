// SPDX-License-Identifier: Apache-2.0
#include "updaters/a2_step_plan.h"

#include <algorithm>

namespace vortan {

int64_t A2SectorSize(const A2Settings& settings, int index) {
  const auto& address = settings.sectorAddressList;
  const int n = static_cast<int>(address.size());
  if (n < 2 || index < 0 || index >= n) return 0;
  const int next = index == n - 1 ? n - 1 : index + 1;
  const int from = next - 1;
  return (static_cast<int64_t>(address[next]) - address[from]) * 2;
}

bool A2IsReservedSector(const A2Settings& settings, int index) {
  const auto& address = settings.sectorAddressList;
  if (index < 0 || index >= static_cast<int>(address.size())) return false;
  return std::find(settings.reservedSectors.begin(), settings.reservedSectors.end(),
                   address[index]) != settings.reservedSectors.end();
}

std::vector<A2Block> A2SectorBlocks(const A2SectorStep& step) {
  std::vector<A2Block> blocks;
  if (step.reserved || step.blockWords == 0) return blocks;
  for (uint32_t done = 0; done < step.words;) {
    const uint32_t count = std::min(step.blockWords, step.words - done);
    blocks.push_back({step.address + done, count, step.imageOffset + 2 * int64_t{done}});
    done += count;
  }
  return blocks;
}

std::optional<A2StepPlan> PlanA2Steps(const A2Settings& settings, int64_t imageLength) {
  const auto& address = settings.sectorAddressList;
  const size_t n = address.size();
  if (n < 2 ||
      std::adjacent_find(address.begin(), address.end(), std::greater_equal<>()) != address.end()) {
    return std::nullopt;
  }
  if (settings.blockSize == 0 || imageLength < 0) return std::nullopt;

  A2StepPlan plan;
  plan.programStart = int64_t{settings.fileOffset} * 2;
  if (plan.programStart > imageLength) return std::nullopt;
  plan.programLength = imageLength - plan.programStart;

  // Byte distance of sector i from sector 0: the image is laid out contiguously from there.
  const auto offset = [&](size_t i) { return (int64_t{address[i]} - address[0]) * 2; };
  const int last = static_cast<int>(n) - 1;
  if (offset(last) + A2SectorSize(settings, last) < plan.programLength) return std::nullopt;

  // An image that ends exactly at the start of sector i occupies i sectors; an empty programmed
  // part still occupies sector 0.
  size_t count = n;
  for (size_t i = 1; i < n; ++i) {
    if (offset(i) >= plan.programLength) {
      count = i;
      break;
    }
  }

  int64_t doneLength = 0;
  for (size_t i = 0; i < count; ++i) {
    const int index = static_cast<int>(i);
    const int64_t size = A2SectorSize(settings, index);
    A2SectorStep step{};
    step.address = address[i];
    step.reserved = A2IsReservedSector(settings, index);
    step.length = i + 1 == count ? plan.programLength - doneLength : size;
    step.imageOffset = plan.programStart + doneLength;
    if (!step.reserved) {
      step.words = static_cast<uint32_t>(step.length / 2);
      step.blockWords = settings.blockSize;
      // The last sector is only assumed as large as the one before; its words must still have
      // 32-bit word addresses.
      if (int64_t{step.address} + step.words > int64_t{UINT32_MAX} + 1) return std::nullopt;
    }
    plan.sectors.push_back(step);
    doneLength += size;
  }
  return plan;
}

}  // namespace vortan
