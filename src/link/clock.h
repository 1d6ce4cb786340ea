#pragma once
// The time seam. Every pause of an update (the half second after each step, the erase waits)
// goes through the process clock, so tests and the emulator can run a whole update on a
// virtual clock in milliseconds while production sleeps for real.
#include <atomic>
#include <chrono>
#include <cstdint>

namespace vortan {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
  // Sleeps for `duration` unless descriptor `fd` is or becomes readable first (-1: plain Sleep).
  // True when `fd` is readable. This default looks at `fd` before and after a plain Sleep, as a
  // virtual clock must; the system clock wakes as soon as it becomes readable.
  virtual bool SleepUnlessReadable(int fd, std::chrono::milliseconds duration);
  // Time since an arbitrary fixed origin; only differences are meaningful.
  virtual std::chrono::milliseconds Now() const = 0;
};

class SystemClock final : public Clock {
 public:
  void Sleep(std::chrono::milliseconds duration) override;
  bool SleepUnlessReadable(int fd, std::chrono::milliseconds duration) override;
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
