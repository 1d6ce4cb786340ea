// SPDX-License-Identifier: Apache-2.0
#include "cli/trace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vortan::cli {
namespace {

// /dev/null and /dev/full: the memory devices' major 1, minors 3 and 7 (Linux devices.txt). The
// others of major 1 (/dev/mem, /dev/port, /dev/kmsg) must never receive a trace.
bool IsNullOrFull(dev_t device) {
  return device == makedev(1, 3) || device == makedev(1, 7);
}

// Why `st` may not receive the trace, or nullptr when it may.
const char* Refusal(const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return "is a symbolic link";
  if (S_ISCHR(st.st_mode)) return IsNullOrFull(st.st_rdev) ? nullptr : "is a device node";
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  if (st.st_uid != ::geteuid()) return "belongs to another user";
  if (st.st_nlink != 1) return "has another hard link";
  return nullptr;
}

}  // namespace

TraceFile::~TraceFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool TraceFile::Open(const std::string& path, std::string* error) {
  path_ = path;
  // Checked before the open as well as after it: opening some device nodes acts on the device.
  struct stat st {};
  const char* refusal = ::lstat(path.c_str(), &st) == 0 ? Refusal(st) : nullptr;
  if (refusal) {
    *error = "The trace file " + path + " " + refusal;
    return false;
  }
  // O_NONBLOCK: a FIFO without a reader fails at once instead of waiting for one. No O_TRUNC
  // before the type is known.
  const int fd = ::open(path.c_str(),
                        O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
  if (fd < 0) {
    *error = "Cannot write the trace file " + path + ": " + std::strerror(errno);
    return false;
  }
  refusal = ::fstat(fd, &st) == 0 ? Refusal(st) : std::strerror(errno);
  if (refusal) {
    ::close(fd);
    *error = "The trace file " + path + " " + refusal;
    return false;
  }
  if (S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
    *error = "Cannot write the trace file " + path + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  fd_ = fd;
  return true;
}

void TraceFile::WriteLine(const std::string& line) {
  std::lock_guard lock(mutex_);
  if (fd_ < 0 || !failure_.empty()) return;
  // One write per line, so a trace of a run that hangs or is killed still shows its last report.
  std::string text = line;
  text.push_back('\n');
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failure_ = n < 0 ? std::strerror(errno) : "nothing written";
      return;
    }
    done += static_cast<size_t>(n);
  }
}

bool TraceFile::Finish(std::string* error) {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) {
    // A delayed write error (full disk, quota) can surface only at close.
    if (::close(fd_) != 0 && failure_.empty()) failure_ = std::strerror(errno);
    fd_ = -1;
  }
  if (failure_.empty()) return true;
  *error = "Cannot write the trace file " + path_ + ": " + failure_;
  return false;
}

}  // namespace vortan::cli
