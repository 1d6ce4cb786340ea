// SPDX-License-Identifier: Apache-2.0
#pragma once
// The one "%@" substitution of user-visible texts.
#include <initializer_list>
#include <string>
#include <string_view>

namespace vortan {

// `format` with its "%@" markers replaced by `values` in order; markers beyond the values stay.
std::string ReplaceMarkers(std::string_view format, std::initializer_list<std::string_view> values);

}  // namespace vortan
