// SPDX-License-Identifier: Apache-2.0
#pragma once
// Starting this program again as a child whose output the parent reads: `flash --all` runs one
// child per keyboard, so that each keeps the link's one-keyboard-per-process state.
#include <sys/types.h>

#include <string>
#include <vector>

namespace vortan::cli {

struct ChildProcess {
  pid_t pid = -1;
  int out = -1;  // read end of the child's stdout
  int err = -1;  // read end of the child's stderr
};

// Runs /proc/self/exe with `args` (after argv[0]), stdin from /dev/null, stdout and stderr on
// pipes (close-on-exec in the parent). The child gets a process group of its own, so a
// terminal's Ctrl-C reaches only the parent, which passes signals on itself; and it receives
// SIGTERM should the parent die first. False when no child could be started.
bool StartSelf(const std::vector<std::string>& args, ChildProcess& child);

}  // namespace vortan::cli
