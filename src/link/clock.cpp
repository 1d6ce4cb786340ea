#include "link/clock.h"

#include <poll.h>

#include <cerrno>
#include <thread>

namespace vortan {
namespace {

SystemClock& TheSystemClock() {
  static SystemClock clock;
  return clock;
}

std::atomic<Clock*> g_clock{nullptr};

// Waits up to `timeoutMs` (0: not at all) for `fd` to be readable.
bool Readable(int fd, int timeoutMs) {
  pollfd watched = {fd, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&watched, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR && timeoutMs == 0);
  return ready > 0;
}

}  // namespace

bool Clock::SleepUnlessReadable(int fd, std::chrono::milliseconds duration) {
  if (fd < 0) {
    Sleep(duration);
    return false;
  }
  if (Readable(fd, 0)) return true;
  Sleep(duration);
  return Readable(fd, 0);
}

bool SystemClock::SleepUnlessReadable(int fd, std::chrono::milliseconds duration) {
  if (fd < 0) {
    Sleep(duration);
    return false;
  }
  const std::chrono::milliseconds end = Now() + duration;
  for (std::chrono::milliseconds left = duration; left.count() > 0; left = end - Now()) {
    if (Readable(fd, static_cast<int>(left.count()))) return true;
  }
  return Readable(fd, 0);
}

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
