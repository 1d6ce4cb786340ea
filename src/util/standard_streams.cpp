// SPDX-License-Identifier: Apache-2.0
#include "util/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace vortan {

int OpenClosedStandardStreams() {
  int opened = 0;
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free descriptor is `fd` itself, as the lower ones are open by now.
    const int got = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (got == fd) {
      opened |= 1 << fd;
    } else if (got >= 0) {
      ::close(got);
    }
  }
  return opened;
}

}  // namespace vortan
