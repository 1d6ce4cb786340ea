// SPDX-License-Identifier: Apache-2.0
#pragma once
// The signals that ask the program to stop (SIGINT, SIGTERM, SIGHUP, SIGQUIT) are taken on one
// thread of their own, never by a handler that interrupts whatever thread the kernel picks: a
// device read waiting in poll() would fail with EINTR and fail the update. They stay blocked in
// every other thread. No other signal sent from outside may end the program midway through an
// update either: those whose default action ends the process (SIGUSR1, SIGUSR2, SIGALRM,
// SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGSTKFLT, SIGXCPU and the real-time signals) stay blocked
// for the program's life, and SIGPIPE and SIGXFSZ are ignored, so a broken pipe or a file-size
// limit only fails the writes concerned (EPIPE, EFBIG). Faults the program raises itself
// (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS) are bugs and keep their default.
#include <functional>
#include <string>
#include <thread>

namespace vortan {

// Blocks the stop signals and the other signals above in the calling thread, and so in every
// thread started from it later, and ignores SIGPIPE and SIGXFSZ. Call first in main, before any
// thread exists. A child process must undo it before exec (UnblockSignalsForExec).
void BlockStopSignals();
// The dispositions and mask BlockStopSignals changed, back to the defaults; for a forked child
// just before exec (async-signal-safe).
void UnblockSignalsForExec();

// A signalfd that reads the blocked stop signals (non-blocking, close-on-exec), or -1.
int OpenStopSignalFd();
// The next stop signal pending on `fd`, or 0 when none is.
int ReadStopSignal(int fd);

// Waits for the stop signals on a thread of its own and hands each to `handler` there.
class StopSignalWatcher {
 public:
  // Never throws: when the signalfd or the thread cannot be had, Watching() is false and Error()
  // says why.
  explicit StopSignalWatcher(std::function<void(int signal)> handler);
  // Stops the thread and waits for it.
  ~StopSignalWatcher();
  StopSignalWatcher(const StopSignalWatcher&) = delete;
  StopSignalWatcher& operator=(const StopSignalWatcher&) = delete;

  bool Watching() const { return thread_.joinable(); }
  // Why the signals are not watched, in the system's words; empty while watching.
  const std::string& Error() const { return error_; }

 private:
  void Watch();

  std::function<void(int)> handler_;
  int signalFd_ = -1;
  int wakeFd_ = -1;
  std::string error_;
  std::thread thread_;
};

}  // namespace vortan
