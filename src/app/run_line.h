// SPDX-License-Identifier: Apache-2.0
#pragma once
// The line the window shows beside the progress bar while a run goes on: which step runs and
// how long the rest will take. It never replaces the status text.
#include <chrono>
#include <cstdint>
#include <string>

namespace vortan {

inline constexpr char kTextUpdating[] = "Updating — keep the keyboard connected";
// After success, followed by the package's firmware version.
inline constexpr char kTextUpdatedTo[] = "Updated to ";
inline constexpr char kTextNotUpdated[] = "Not updated.";

// "Updating — keep the keyboard connected. Step <done + 1> of <total>, <time> left", the step
// capped at `total`. Before any step has completed (`done` 0) the time is what the fixed pauses
// alone take ("at least"); afterwards the measured mean time per step, `elapsed` / `done`,
// gives the rest ("about").
std::string RunLine(int32_t done, int32_t total, std::chrono::milliseconds elapsed);

// "12 s", "1 min 5 s", rounded up to whole seconds.
std::string DurationText(std::chrono::milliseconds duration);

}  // namespace vortan
