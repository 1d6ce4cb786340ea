// SPDX-License-Identifier: Apache-2.0
#pragma once
// The one crossing between raw bytes (uint8_t) and text (char). Bytes read from files and
// packages stay uint8_t so that a comparison or sum against char text does not compile; text
// parsers see the same bytes as text only through these two views.
#include <cstdint>
#include <span>
#include <string_view>

namespace vortan {

inline std::string_view AsText(std::span<const uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

inline std::span<const uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace vortan
