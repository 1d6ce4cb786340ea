// SPDX-License-Identifier: Apache-2.0
#include "util/clock.h"

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

// Waits up to `timeoutMs` (0: not at all, negative: for ever) for one of `fds` to be readable;
// the index of a readable one, or -1.
int Readable(const std::vector<int>& fds, int timeoutMs) {
  std::vector<pollfd> watched;
  for (int fd : fds) watched.push_back({fd, POLLIN, 0});  // poll skips negative descriptors
  int ready;
  do {
    ready = ::poll(watched.data(), watched.size(), timeoutMs);
  } while (ready < 0 && errno == EINTR && timeoutMs <= 0);
  for (size_t i = 0; ready > 0 && i < watched.size(); ++i) {
    if (watched[i].revents & (POLLIN | POLLHUP | POLLERR)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

int Clock::SleepUnlessReadable(const std::vector<int>& fds, std::chrono::milliseconds duration) {
  if (const int ready = Readable(fds, 0); ready >= 0) return ready;
  if (duration.count() > 0) Sleep(duration);
  return Readable(fds, 0);
}

int SystemClock::SleepUnlessReadable(const std::vector<int>& fds,
                                     std::chrono::milliseconds duration) {
  if (duration.count() < 0) return Readable(fds, -1);
  const std::chrono::milliseconds end = Now() + duration;
  for (std::chrono::milliseconds left = duration; left.count() > 0; left = end - Now()) {
    if (const int ready = Readable(fds, static_cast<int>(left.count())); ready >= 0) return ready;
  }
  return Readable(fds, 0);
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
