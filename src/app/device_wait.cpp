#include "app/device_wait.h"

#include "app/main_window.h"
#include "link/clock.h"
#include "link/hid_device.h"

namespace vortan {

bool WaitForSingleDevice(std::chrono::milliseconds limit,
                         const std::function<void(int)>& onChange) {
  Clock& clock = ProcessClock();
  const std::chrono::milliseconds start = clock.Now();
  int previous = -1;
  for (;;) {
    const int count = HidDevice::Instance().CountDevices();
    if (count != previous && onChange) onChange(count);
    previous = count;
    if (count == 1) return true;
    if (limit.count() >= 0 && clock.Now() - start + kDeviceWatchInterval > limit) return false;
    clock.Sleep(kDeviceWatchInterval);
  }
}

}  // namespace vortan
