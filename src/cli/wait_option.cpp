// SPDX-License-Identifier: Apache-2.0
#include "cli/wait_option.h"

#include <chrono>
#include <iostream>

#include "app/device_wait.h"

namespace vortan::cli {

void AddWaitOption(CLI::App& command, WaitOption& wait) {
  wait.option = command
                    .add_option("--wait", wait.seconds,
                                "Wait for exactly one device first, for ever or at most SECONDS "
                                "(--wait=SECONDS)")
                    ->expected(0, 1)
                    ->type_name("SECONDS")
                    ->check(CLI::Range(0, 24 * 60 * 60));
}

bool WaitIfAsked(const WaitOption& wait, const std::function<std::string(int)>& textFor,
                 int stopFd) {
  if (!wait.Given()) return true;
  const std::chrono::milliseconds limit = wait.seconds.empty()
                                              ? std::chrono::milliseconds(-1)
                                              : std::chrono::seconds(std::stoi(wait.seconds));
  return WaitForSingleDevice(
      limit,
      [&textFor](int count) {
        if (count != 1) std::cerr << textFor(count) << std::endl;
      },
      stopFd);
}

}  // namespace vortan::cli
