#pragma once
// The chip families a data pack can name, by the two characters at descriptor +44 read as a
// 16-bit little-endian value; the bytes at +46 and +47 take no part.
#include <cstdint>
#include <optional>

#include "package/package_layout.h"

namespace vortan {

enum class ChipFamily { kA2, kC1, kA1 };

// The family of a descriptor's chip family word, or nullopt for a value no updater serves.
constexpr std::optional<ChipFamily> ChipFamilyOf(uint32_t dataType) {
  switch (static_cast<uint16_t>(dataType)) {
    case package_layout::kFamilyA2:
      return ChipFamily::kA2;
    case package_layout::kFamilyC1:
      return ChipFamily::kC1;
    case package_layout::kFamilyA1:
      return ChipFamily::kA1;
    default:
      return std::nullopt;
  }
}

}  // namespace vortan
