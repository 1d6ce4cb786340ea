// SPDX-License-Identifier: Apache-2.0
#pragma once
// Options every vortan-flash command takes, before or after the command name.
#include <string>
#include <vector>

#include "cli/device_link_setup.h"
#include "cli/stop_requests.h"

namespace vortan::cli {

struct GlobalOptions {
  // Settings file read instead of "Config.ini" beside the program; empty for that one.
  std::string configPath;
  // The package's work files go to a private folder made in this one ("/tmp" in use; tests give
  // each run its own); main replaces it with that private folder.
  std::string workFolder = "/tmp";
  // The folder --work-dir named: simulated keyboards keep their lock files there, so that runs
  // of several processes meet.
  std::string sharedFolder = "/tmp";
  // The backend of the real device, used unless a command simulates one.
  BackendFactory deviceBackend;
  // The stop signals taken so far; null where no signal is watched (tests of the pieces).
  StopRequests* stops = nullptr;
  // The global options as given, for the child processes of `flash --all` to repeat.
  std::vector<std::string> forwardedArgs;
};

}  // namespace vortan::cli
