#include "cli/trace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vortan::cli {
namespace {

// /dev/null, /dev/zero, /dev/full and their kin share the memory devices' major number.
constexpr unsigned kMemoryDevicesMajor = 1;

}  // namespace

TraceFile::~TraceFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool TraceFile::Open(const std::string& path, std::string* error) {
  path_ = path;
  // O_NONBLOCK: a FIFO without a reader fails at once instead of waiting for one. No O_TRUNC
  // before the type is known.
  const int fd = ::open(path.c_str(),
                        O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
  if (fd < 0) {
    *error = "Cannot write the trace file " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const bool memory = S_ISCHR(st.st_mode) && major(st.st_rdev) == kMemoryDevicesMajor;
  if (!regular && !memory) {
    ::close(fd);
    *error = "The trace file " + path + " is not a regular file";
    return false;
  }
  if (regular && ::ftruncate(fd, 0) != 0) {
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
