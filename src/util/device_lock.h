#pragma once
// An exclusive lock (flock) on a file, for "one update per keyboard": the file is the keyboard's
// device node, or a stand-in file for a simulated keyboard. The lock belongs to the open file,
// so it ends with the process and no stale lock is ever left behind.
#include <string>

namespace vortan {

enum class LockResult {
  kTaken,        // held until Release or the end of the process
  kBusy,         // another open of the file (another process) holds it
  kUnavailable,  // the file cannot be opened or locked; nothing is held
};

class DeviceLock {
 public:
  DeviceLock() = default;
  ~DeviceLock();
  DeviceLock(const DeviceLock&) = delete;
  DeviceLock& operator=(const DeviceLock&) = delete;

  // Locks `path` without waiting; releases a lock held before. `create` makes a missing file
  // (mode 0644, so every user's simulation meets the same lock); a symbolic link is never
  // followed then.
  LockResult Take(const std::string& path, bool create = false);
  void Release();
  bool Held() const { return fd_ >= 0; }
  // The open descriptor of the locked file while held, else -1; it stays the lock's to close.
  int Descriptor() const { return fd_; }

 private:
  int fd_ = -1;
};

}  // namespace vortan
