#include "util/device_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace vortan {

DeviceLock::~DeviceLock() {
  Release();
}

LockResult DeviceLock::Take(const std::string& path, bool create) {
  Release();
  // Read-only and non-blocking: the open only gives the lock something to hold.
  const int flags =
      O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (create ? O_CREAT | O_NOFOLLOW : 0);
  const int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) return LockResult::kUnavailable;
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    const bool busy = errno == EWOULDBLOCK;
    ::close(fd);
    return busy ? LockResult::kBusy : LockResult::kUnavailable;
  }
  fd_ = fd;
  return LockResult::kTaken;
}

void DeviceLock::Release() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

}  // namespace vortan
