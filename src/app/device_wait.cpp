#include "app/device_wait.h"

#include "app/main_window.h"
#include "link/clock.h"
#include "link/hid_device.h"

namespace vortan {

bool WaitForSingleDevice(std::chrono::milliseconds limit, const std::function<void(int)>& onChange,
                         int stopFd) {
  Clock& clock = ProcessClock();
  const std::chrono::milliseconds start = clock.Now();
  int previous = -1;
  // A stop asked for before the wait ends it before the first count.
  if (clock.SleepUnlessReadable(stopFd, std::chrono::milliseconds(0))) return false;
  for (;;) {
    const int count = HidDevice::Instance().CountDevices();
    if (count != previous && onChange) onChange(count);
    previous = count;
    if (count == 1) return true;
    if (limit.count() >= 0 && clock.Now() - start + kDeviceWatchInterval > limit) return false;
    if (clock.SleepUnlessReadable(stopFd, kDeviceWatchInterval)) return false;
  }
}

}  // namespace vortan
