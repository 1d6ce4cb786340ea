#include "link/clock.h"

#include <thread>

namespace vortan {
namespace {

SystemClock& TheSystemClock() {
  static SystemClock clock;
  return clock;
}

std::atomic<Clock*> g_clock{nullptr};

}  // namespace

void SystemClock::Sleep(std::chrono::milliseconds duration) {
  std::this_thread::sleep_for(duration);
}

std::chrono::milliseconds SystemClock::Now() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
}

Clock& ProcessClock() {
  Clock* clock = g_clock.load();
  return clock ? *clock : TheSystemClock();
}

void SetProcessClock(Clock* clock) {
  g_clock.store(clock);
}

ScopedProcessClock::ScopedProcessClock(Clock* clock) : previous_(g_clock.load()) {
  SetProcessClock(clock);
}

ScopedProcessClock::~ScopedProcessClock() {
  SetProcessClock(previous_);
}

}  // namespace vortan
