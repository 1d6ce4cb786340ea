#include "util/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "util/bulk_buffer.h"

namespace vortan {
namespace {

bool ReadOpenFile(int fd, uint64_t maxBytes, ByteBuffer& out) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return false;
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size > maxBytes) return false;
  if (!SizeForWholeRead(out, static_cast<size_t>(size))) return false;
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    // End of file before the size fstat gave: the file shrank under us, a short read.
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool ReadRegularFile(const std::string& path, uint64_t maxBytes, ByteBuffer& out,
                     SymlinkPolicy links) {
  out.clear();
  // Non-blocking so that opening a FIFO returns at once instead of waiting for a writer; it has
  // no effect on reads of a regular file.
  const int noFollow = links == SymlinkPolicy::kRefuse ? O_NOFOLLOW : 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | noFollow);
  if (fd < 0) return false;
  const bool ok = ReadOpenFile(fd, maxBytes, out);
  ::close(fd);
  if (!ok) {
    out.clear();
    out.shrink_to_fit();
  }
  return ok;
}

}  // namespace vortan
