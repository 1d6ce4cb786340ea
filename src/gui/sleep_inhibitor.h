// SPDX-License-Identifier: Apache-2.0
#pragma once
// Holds off sleep and shutdown while a firmware update runs, through the login manager's
// inhibitor lock (org.freedesktop.login1.Manager.Inhibit on the system bus). The lock lasts as
// long as we keep the file descriptor it returns open. Where the bus or the login manager is
// absent, Acquire fails quietly and the update goes on without the lock.
namespace vortan {

class SleepInhibitor {
 public:
  SleepInhibitor() = default;
  ~SleepInhibitor() { Release(); }
  SleepInhibitor(const SleepInhibitor&) = delete;
  SleepInhibitor& operator=(const SleepInhibitor&) = delete;

  // True when the lock is held (also when it already was).
  bool Acquire();
  void Release();
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace vortan
