// SPDX-License-Identifier: Apache-2.0
#pragma once
// The one writer of JSON text in vortan-flash. Paths and a device's strings are the system's
// and the device's bytes and need not be UTF-8: ill-formed bytes are replaced by U+FFFD rather
// than refused (which would throw), and control characters are escaped, so every value makes
// valid JSON and a line never breaks inside a value.
#include <nlohmann/json.hpp>
#include <string>

namespace vortan::cli {

// `value` as text, indented by `indent` spaces per level, or on one line for -1; no line break
// at the end.
std::string JsonText(const nlohmann::json& value, int indent);

// One line of JSON (JSON Lines) without its line break.
inline std::string JsonLine(const nlohmann::json& value) {
  return JsonText(value, -1);
}

}  // namespace vortan::cli
