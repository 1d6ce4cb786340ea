// SPDX-License-Identifier: Apache-2.0
#include "util/standard_streams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vortan {
namespace {

// Runs in a child whose descriptors in `closed` are closed; exits 0 when each came back on
// /dev/null and the next file opened lands above the standard streams.
[[noreturn]] void CheckInChild(int closed) {
  for (int fd = 0; fd < 3; ++fd) {
    if (closed & (1 << fd)) ::close(fd);
  }
  if (OpenClosedStandardStreams() != closed) ::_exit(1);
  struct stat null {};
  if (::stat("/dev/null", &null) != 0) ::_exit(2);
  for (int fd = 0; fd < 3; ++fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) ::_exit(3);
    if ((closed & (1 << fd)) && st.st_rdev != null.st_rdev) ::_exit(4);
  }
  const int next = ::open("/dev/null", O_RDONLY);
  ::_exit(next > 2 ? 0 : 5);
}

// Guards against a trace or device node opened on a descriptor a closed stream left free.
TEST(StandardStreamsTest, ClosedOnesAreTakenByDevNullBeforeAnythingElse) {
  for (const int closed : {0, 1, 2, 4, 6, 7}) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) CheckInChild(closed);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "closed mask " << closed << ", status " << status;
  }
}

}  // namespace
}  // namespace vortan
