// SPDX-License-Identifier: Apache-2.0
#include "cli/json.h"

namespace vortan::cli {

std::string JsonText(const nlohmann::json& value, int indent) {
  return value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace vortan::cli
