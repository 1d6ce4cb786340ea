// SPDX-License-Identifier: Apache-2.0
#include "app/device_wait.h"

#include "app/main_window.h"
#include "link/hid_device.h"
#include "util/clock.h"

namespace vortan {

bool WaitForSingleDevice(std::chrono::milliseconds limit, const std::function<void(int)>& onChange,
                         int stopFd) {
  Clock& clock = ProcessClock();
  HidDevice& link = HidDevice::Instance();
  const std::chrono::milliseconds start = clock.Now();
  // Asked for before the first count, so that a keyboard plugged in after it is heard of.
  const int changeFd = link.ChangeDescriptor();
  int previous = -1;
  // A stop asked for before the wait ends it before the first count.
  if (clock.SleepUnlessReadable({stopFd}, std::chrono::milliseconds(0)) == 0) return false;
  for (;;) {
    // Drained before counting: a change after the count leaves the descriptor readable.
    link.DrainChanges();
    const int count = link.CountDevices();
    if (count != previous && onChange) onChange(count);
    previous = count;
    if (count == 1) return true;
    const std::chrono::milliseconds waited = clock.Now() - start;
    std::chrono::milliseconds slice = kDeviceWatchInterval;
    if (changeFd >= 0) {
      if (limit.count() >= 0 && waited >= limit) return false;
      slice = limit.count() < 0 ? std::chrono::milliseconds(-1) : limit - waited;
    } else if (limit.count() >= 0 && waited + kDeviceWatchInterval > limit) {
      return false;
    }
    if (clock.SleepUnlessReadable({stopFd, changeFd}, slice) == 0) return false;
  }
}

}  // namespace vortan
