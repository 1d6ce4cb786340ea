#pragma once
// Options every vortan-flash command takes, before or after the command name.
#include <string>

#include "cli/device_link_setup.h"

namespace vortan::cli {

struct GlobalOptions {
  // Settings file read instead of "Config.ini" beside the program; empty for that one.
  std::string configPath;
  // Where the package's work files go. Always "/tmp" in use; tests give each run its own.
  std::string workFolder = "/tmp";
  // The backend of the real device, used unless a command simulates one.
  BackendFactory deviceBackend;
};

}  // namespace vortan::cli
