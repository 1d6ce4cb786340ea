// SPDX-License-Identifier: Apache-2.0
#pragma once
// The launch-time settings: vendor and product ID for the device link and the window caption,
// read once through IniConfig.
#include <cstdint>
#include <functional>
#include <string>

namespace vortan {

struct Settings {
  uint32_t vid = 0;
  uint32_t pid = 0;
  std::string caption;
};

// A settings value read as strtoul reads base 16: leading white space and a "0x"/"0X" prefix
// are accepted, reading stops at the first non-hexadecimal character, no digits give 0. The
// result keeps the low 32 bits.
uint32_t HexSettingValue(const std::string& text);

// Reads IDC_VID, IDC_PID and IDS_STRING_CAPTION (with their defaults), gives the device link its
// IDs (HidDevice::SetIds) and hands the caption, unchanged, to `setTitle` when one is given.
// Returns what it applied.
Settings LoadSettings(const std::function<void(const std::string& title)>& setTitle = {});

}  // namespace vortan
