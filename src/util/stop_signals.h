#pragma once
// The signals that ask the program to stop (SIGINT, SIGTERM, SIGHUP) are taken on one thread of
// their own, never by a handler that interrupts whatever thread the kernel picks: a device read
// waiting in poll() would fail with EINTR and fail the update. They stay blocked in every other
// thread; SIGPIPE is ignored, so a broken pipe only fails the writes to it.
#include <functional>
#include <thread>

namespace vortan {

// Blocks the stop signals in the calling thread, and so in every thread started from it later,
// and ignores SIGPIPE. Call first in main, before any thread exists.
void BlockStopSignals();

// A signalfd that reads the blocked stop signals (non-blocking, close-on-exec), or -1.
int OpenStopSignalFd();
// The next stop signal pending on `fd`, or 0 when none is.
int ReadStopSignal(int fd);

// Waits for the stop signals on a thread of its own and hands each to `handler` there.
class StopSignalWatcher {
 public:
  explicit StopSignalWatcher(std::function<void(int signal)> handler);
  // Stops the thread and waits for it.
  ~StopSignalWatcher();
  StopSignalWatcher(const StopSignalWatcher&) = delete;
  StopSignalWatcher& operator=(const StopSignalWatcher&) = delete;

 private:
  void Watch();

  std::function<void(int)> handler_;
  int signalFd_ = -1;
  int wakeFd_ = -1;
  std::thread thread_;
};

}  // namespace vortan
