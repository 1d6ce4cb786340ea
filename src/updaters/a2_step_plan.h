// SPDX-License-Identifier: Apache-2.0
#pragma once
// The A2 step plan: which sectors the programmed part of the image occupies, what each step
// writes where, and what the final step verifies. A pure function of the settings and the image
// length, so the update's arithmetic is checked apart from any device exchange. Sizes and
// positions are 64-bit: no sector geometry or file offset can wrap them.
#include <cstdint>
#include <optional>
#include <vector>

#include "updaters/a2_settings.h"

namespace vortan {

// Size of sector `index` in bytes: twice the distance to the next sector's address; the last
// sector is taken to be as large as the one before it. 0 for an index outside the list or a
// list of fewer than two entries.
int64_t A2SectorSize(const A2Settings& settings, int index);
// True when the sector's address is listed in reservedSectors.
bool A2IsReservedSector(const A2Settings& settings, int index);

struct A2Block {
  uint32_t wordAddress;
  uint32_t wordCount;   // 1 to blockSize
  int64_t imageOffset;  // first byte in the image
  bool operator==(const A2Block&) const = default;
};

struct A2SectorStep {
  uint32_t address;  // word address of the sector
  bool reserved;     // neither erased, written nor verified; its image bytes are skipped
  // Bytes of the programmed part that fall in this sector: the sector's size, or what remains
  // for the last programmed sector. Written and verified as whole words (an odd last byte is
  // neither).
  int64_t length;
  int64_t imageOffset;  // programStart + dataPosition at the sector's start
  // The words are sent in blocks of blockWords, the last block taking the rest; a reserved
  // sector has none.
  uint32_t words;
  uint32_t blockWords;
  bool operator==(const A2SectorStep&) const = default;
};

// The write commands of a sector step in order (none for 0 words). Computed on demand: a small
// blockSize over a large image would otherwise hold millions of entries.
std::vector<A2Block> A2SectorBlocks(const A2SectorStep& step);

struct A2StepPlan {
  int64_t programStart = 0;           // fileOffset × 2
  int64_t programLength = 0;          // image bytes from programStart on
  std::vector<A2SectorStep> sectors;  // sectorsToProgram entries, from sector 0 on
};

// Plans the programming of an image of `imageLength` bytes. nullopt when fileOffset × 2 lies
// beyond the image, the flash cannot hold the programmed part, the sector list has fewer than
// two entries or does not ascend strictly, or a block would run past word address 2^32 - 1.
// A programmed part of 0 bytes still plans sector 0 (erased, nothing written).
std::optional<A2StepPlan> PlanA2Steps(const A2Settings& settings, int64_t imageLength);

}  // namespace vortan
