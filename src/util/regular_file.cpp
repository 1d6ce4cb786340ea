// SPDX-License-Identifier: Apache-2.0
#include "util/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/bulk_buffer.h"

namespace vortan {
namespace {

bool Fail(std::string* why, const char* reason) {
  if (why) *why = reason;
  return false;
}

bool ReadOpenFile(int fd, uint64_t maxBytes, ByteBuffer& out, std::string* why) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return Fail(why, std::strerror(errno));
  if (!S_ISREG(st.st_mode) || st.st_size < 0) return Fail(why, "Not a regular file");
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size > maxBytes) return Fail(why, "File too large");
  if (!SizeForWholeRead(out, static_cast<size_t>(size))) {
    errno = ENOMEM;
    return Fail(why, std::strerror(ENOMEM));
  }
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(why, std::strerror(errno));
    // End of file before the size fstat gave: the file shrank under us, a short read.
    if (n == 0) return Fail(why, "The file shrank while it was read");
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool ReadRegularFile(const std::string& path, uint64_t maxBytes, ByteBuffer& out,
                     SymlinkPolicy links, std::string* why) {
  out.clear();
  // Non-blocking so that opening a FIFO returns at once instead of waiting for a writer; it has
  // no effect on reads of a regular file.
  const int noFollow = links == SymlinkPolicy::kRefuse ? O_NOFOLLOW : 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | noFollow);
  if (fd < 0) return Fail(why, std::strerror(errno));
  errno = 0;
  const bool ok = ReadOpenFile(fd, maxBytes, out, why);
  const int reason = errno;
  ::close(fd);
  if (!ok) {
    out.clear();
    out.shrink_to_fit();
    errno = reason;
  }
  return ok;
}

}  // namespace vortan
