// SPDX-License-Identifier: Apache-2.0
#pragma once
// `--wait[=SECONDS]` of the devices and flash commands: before going on, wait for exactly one
// matching keyboard (for ever, or at most SECONDS), so the user can open the keyboard's loader
// after starting the command.
#include <CLI/CLI.hpp>
#include <functional>
#include <string>

namespace vortan::cli {

struct WaitOption {
  std::string seconds;  // empty when given without a value
  CLI::Option* option = nullptr;

  bool Given() const { return option && option->count() > 0; }
};

void AddWaitOption(CLI::App& command, WaitOption& wait);

// Without --wait: true at once. With it: waits, writing `textFor(count)` on stderr whenever
// the count changes while it is not one; true once exactly one device is attached. A stop
// request (`stopFd` readable, see StopRequests::StopFd; -1 for none) ends the wait at once with
// false.
bool WaitIfAsked(const WaitOption& wait, const std::function<std::string(int count)>& textFor,
                 int stopFd);

}  // namespace vortan::cli
