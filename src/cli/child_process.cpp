// SPDX-License-Identifier: Apache-2.0
#include "cli/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "util/stop_signals.h"

namespace vortan::cli {

bool StartSelf(const std::vector<std::string>& args, ChildProcess& child) {
  // Everything the child needs is prepared before vfork: after it only system calls.
  std::vector<std::string> argvText = {"vortan-flash"};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2];
  int err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return false;
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return false;
  }
  const pid_t parent = ::getpid();
  // vfork: the child borrows this process's memory until exec instead of copying its page
  // tables, which fork would do once per keyboard, with copy-on-write faults on both sides after.
  // Safe here: the child only makes system calls on its own stack (no handlers are installed,
  // no allocation) and this thread waits until it execs or exits.
  const pid_t pid = ::vfork();
  if (pid == 0) {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    UnblockSignalsForExec();
    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (in < 0 || ::dup2(in, STDIN_FILENO) < 0 || ::dup2(out[1], STDOUT_FILENO) < 0 ||
        ::dup2(err[1], STDERR_FILENO) < 0) {
      ::_exit(127);
    }
    ::execv("/proc/self/exe", argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  if (pid < 0) {
    ::close(out[0]);
    ::close(err[0]);
    return false;
  }
  child = {pid, out[0], err[0]};
  return true;
}

}  // namespace vortan::cli
