#pragma once
// What vortan-flash does with a stop signal (SIGINT, SIGTERM, SIGHUP), taken on the signal
// thread. While a run is active the run outlives it: an update cut off midway can leave the
// keyboard without firmware. The first request warns once; a second SIGINT, the user insisting,
// cuts the link off so the run ends at its next report, sending nothing more. With no run
// active the request is kept, and main ends the program (removing its work files) with 128 plus
// the signal's number.
#include <functional>
#include <mutex>

namespace vortan::cli {

class StopRequests {
 public:
  // The signal thread.
  void OnSignal(int signal);

  // While set, every stop signal goes to `forward` instead, on the signal thread: flash --all
  // passes them on to its children, which decide. Cleared with an empty function.
  void ForwardTo(std::function<void(int signal)> forward);

  // The main thread, around the run. BeginRun is false, and nothing may start, when a stop was
  // requested before.
  bool BeginRun();
  void EndRun();

  // The first signal that came while no run was active, or 0.
  int StopSignal() const;
  // True when a second SIGINT cut the run off.
  bool CutOff() const;

 private:
  mutable std::mutex mutex_;
  bool running_ = false;
  bool warned_ = false;
  bool interrupted_ = false;
  bool cutOff_ = false;
  int stopSignal_ = 0;
  std::function<void(int)> forward_;
};

// The exit status of a program ended by `signal` (128 plus its number, as shells report it).
constexpr int ExitStatusOfSignal(int signal) {
  return 128 + signal;
}

}  // namespace vortan::cli
