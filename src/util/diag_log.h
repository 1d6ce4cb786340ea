// SPDX-License-Identifier: Apache-2.0
#pragma once
// The diagnostic log: single lines such as a completed step index ("%d") or a skipped line of a
// chip description file ("Unknown:%@"). Lines go to one sink, standard error by default, so that
// tests can capture them.
#include <functional>
#include <string>
#include <string_view>

namespace vortan {

using LogSink = std::function<void(std::string_view line)>;

// Writes one line to the current sink. Safe to call from the update thread.
void DiagLog(std::string_view line);

// Replaces the sink; an empty function restores standard error. Returns the previous sink.
LogSink SetLogSink(LogSink sink);

}  // namespace vortan
