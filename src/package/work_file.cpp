// SPDX-License-Identifier: Apache-2.0
#include "package/work_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vortan {
namespace {

bool IsOurPrivateFile(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  // One link only: a hard link planted to another of our files must not be overwritten.
  if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1) return false;
  return (st.st_mode & 07777) == 0600 || ::fchmod(fd, 0600) == 0;
}

bool WriteAll(int fd, const uint8_t* data, size_t length) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(fd, data + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool WriteWorkFile(const std::string& path, const uint8_t* data, size_t length, std::string* why) {
  // No O_TRUNC: an existing file is checked before anything of it changes. O_NONBLOCK keeps a
  // planted FIFO from blocking the open; it does not affect writes to a regular file.
  const int fd = ::open(path.c_str(),
                        O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
  if (fd < 0) {
    if (why) *why = std::strerror(errno);
    return false;
  }
  std::string reason;
  bool ok = IsOurPrivateFile(fd);
  if (!ok) reason = "Not a private regular file of this user";
  if (ok && !(::ftruncate(fd, 0) == 0 && WriteAll(fd, data, length))) {
    ok = false;
    reason = errno ? std::strerror(errno) : "Nothing written";
  }
  // A delayed write error (full disk, quota) can surface only at close.
  if (::close(fd) != 0 && ok) {
    ok = false;
    reason = std::strerror(errno);
  }
  if (!ok && why) *why = reason;
  return ok;
}

}  // namespace vortan
