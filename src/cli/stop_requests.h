// SPDX-License-Identifier: Apache-2.0
#pragma once
// What vortan-flash does with a stop signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT), taken on the
// signal thread. Before a run the request is kept: nothing starts after it, a wait ends at once
// (StopFd), and main ends the program (removing its work files) with 128 plus the signal's
// number. While a run is active the run outlives it, since an update cut off midway can leave
// the keyboard without firmware: the first request warns once; a second interactive one (SIGINT
// or SIGQUIT, the user at the terminal insisting) cuts the link off, so the run ends at its next
// report, sending nothing more. Once the run has ended, requests change nothing: the exit status
// is the run's outcome.
#include <functional>
#include <mutex>
#include <string>

namespace vortan::cli {

class StopRequests {
 public:
  // Ready() is false when the descriptor for StopFd cannot be made.
  StopRequests();
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  bool Ready() const { return stopFd_ >= 0; }
  // Why not ready, in the system's words.
  const std::string& Error() const { return error_; }

  // The signal thread.
  void OnSignal(int signal);

  // The main thread, around the run. BeginRun is false, and nothing may start, when a stop was
  // requested before. EndRun ends the run for good.
  bool BeginRun();
  void EndRun();
  // BeginRun for flash --all, whose children decide: until EndRun every stop signal also goes
  // to `forward`, on the signal thread, and no warning is shown nor link cut off here.
  bool BeginForwardedRun(std::function<void(int signal)> forward);

  // The first signal that came before the run, or 0.
  int StopSignal() const;
  // Becomes readable (and stays so) when a stop is requested before the run, so that a wait can
  // watch it beside its own events. Owned here.
  int StopFd() const { return stopFd_; }
  // The signal (SIGINT or SIGQUIT) that cut the run off, or 0.
  int CutOffSignal() const;

 private:
  enum class Phase { kBefore, kRunning, kAfter };

  // Returns the signal to pass on when forwarding.
  int OnSignalDuringRun(int signal);

  mutable std::mutex mutex_;
  Phase phase_ = Phase::kBefore;
  bool warned_ = false;
  int interruptedBy_ = 0;  // the first interactive signal of the run
  int cutOffSignal_ = 0;
  int stopSignal_ = 0;
  int stopFd_ = -1;
  std::string error_;
  std::function<void(int)> forward_;
};

// The exit status of a program ended by `signal` (128 plus its number, as shells report it).
constexpr int ExitStatusOfSignal(int signal) {
  return 128 + signal;
}

}  // namespace vortan::cli
