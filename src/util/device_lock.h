// SPDX-License-Identifier: Apache-2.0
#pragma once
// An exclusive lock (flock) on a file, for "one update per keyboard": the file is the keyboard's
// device node, or a stand-in file for a simulated keyboard. The lock belongs to the open file,
// so it ends with the process and no stale lock is ever left behind.
#include <string>

namespace vortan {

enum class LockResult {
  kTaken,      // held until Release or the end of the process
  kBusy,       // another open of the file (another process) holds it
  kFailed,     // the file cannot be opened or locked; nothing is held, and the run must not go on
  kNotNeeded,  // (backends only) the backend has no devices of its own to lock; nothing is held
};

class DeviceLock {
 public:
  DeviceLock() = default;
  ~DeviceLock();
  DeviceLock(const DeviceLock&) = delete;
  DeviceLock& operator=(const DeviceLock&) = delete;

  // Locks `path` without waiting; releases a lock held before. `create` makes a missing file
  // (mode 0644, so every user's simulation meets the same lock); a symbolic link is never
  // followed then. kTaken, kBusy or kFailed; after kFailed Error() says why.
  LockResult Take(const std::string& path, bool create = false);
  void Release();
  bool Held() const { return fd_ >= 0; }
  // The open descriptor of the locked file while held, else -1; it stays the lock's to close.
  int Descriptor() const { return fd_; }
  // Why the last Take failed ("the update lock PATH cannot be taken: REASON"), and whether the
  // reason was a lack of permission; empty and false after a Take that did not fail.
  const std::string& Error() const { return error_; }
  bool ErrorDeniedPermission() const { return denied_; }

 private:
  LockResult Fail(const std::string& path, int error);

  int fd_ = -1;
  std::string error_;
  bool denied_ = false;
};

}  // namespace vortan
