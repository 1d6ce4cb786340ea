// SPDX-License-Identifier: Apache-2.0
#pragma once
// The time seam. Every pause of an update (the half second after each step, the erase waits)
// goes through the process clock, so tests and the emulator can run a whole update on a
// virtual clock in milliseconds while production sleeps for real.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

namespace vortan {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
  // Sleeps for `duration` unless one of the descriptors `fds` is or becomes readable first (-1
  // entries are skipped); a negative duration sleeps until one does. Returns the index in `fds`
  // of a readable descriptor, or -1 when the time ran out. This default looks at them before and
  // after a plain Sleep (of nothing, for a negative duration), as a virtual clock must; the
  // system clock wakes as soon as one becomes readable.
  virtual int SleepUnlessReadable(const std::vector<int>& fds, std::chrono::milliseconds duration);
  // Time since an arbitrary fixed origin; only differences are meaningful.
  virtual std::chrono::milliseconds Now() const = 0;
};

class SystemClock final : public Clock {
 public:
  void Sleep(std::chrono::milliseconds duration) override;
  int SleepUnlessReadable(const std::vector<int>& fds, std::chrono::milliseconds duration) override;
  std::chrono::milliseconds Now() const override;
};

// Sleep returns at once and advances Now by the duration. Thread-safe.
class VirtualClock final : public Clock {
 public:
  void Sleep(std::chrono::milliseconds duration) override { now_ms_ += duration.count(); }
  std::chrono::milliseconds Now() const override { return std::chrono::milliseconds(now_ms_); }
  // Total time slept, for tests that assert on the pauses.
  int64_t SleptMs() const { return now_ms_; }

 private:
  std::atomic<int64_t> now_ms_{0};
};

// The clock every pause uses; the system clock unless a test or the emulator set another.
Clock& ProcessClock();
// Installs `clock` (not owned; it must outlive its use) or, with nullptr, the system clock.
void SetProcessClock(Clock* clock);

// Restores the previous process clock when it goes out of scope.
class ScopedProcessClock {
 public:
  explicit ScopedProcessClock(Clock* clock);
  ~ScopedProcessClock();
  ScopedProcessClock(const ScopedProcessClock&) = delete;
  ScopedProcessClock& operator=(const ScopedProcessClock&) = delete;

 private:
  Clock* previous_;
};

}  // namespace vortan
