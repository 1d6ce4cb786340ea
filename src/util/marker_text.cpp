// SPDX-License-Identifier: Apache-2.0
#include "util/marker_text.h"

namespace vortan {

std::string ReplaceMarkers(std::string_view format,
                           std::initializer_list<std::string_view> values) {
  std::string out;
  auto value = values.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format.substr(i, 2) == "%@" && value != values.end()) {
      out += *value++;
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

}  // namespace vortan
