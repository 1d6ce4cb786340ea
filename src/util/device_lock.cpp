// SPDX-License-Identifier: Apache-2.0
#include "util/device_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vortan {

DeviceLock::~DeviceLock() {
  Release();
}

LockResult DeviceLock::Take(const std::string& path, bool create) {
  Release();
  error_.clear();
  denied_ = false;
  // Read-only and non-blocking: the open only gives the lock something to hold.
  const int flags =
      O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (create ? O_CREAT | O_NOFOLLOW : 0);
  const int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) return Fail(path, errno);
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    const int error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? LockResult::kBusy : Fail(path, error);
  }
  fd_ = fd;
  return LockResult::kTaken;
}

LockResult DeviceLock::Fail(const std::string& path, int error) {
  error_ = "the update lock " + path + " cannot be taken: " + std::strerror(error);
  denied_ = error == EACCES || error == EPERM;
  return LockResult::kFailed;
}

void DeviceLock::Release() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

}  // namespace vortan
