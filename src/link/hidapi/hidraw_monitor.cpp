// SPDX-License-Identifier: Apache-2.0
#include "link/hidapi/hidraw_monitor.h"

#include <libudev.h>
#include <linux/netlink.h>
#include <sys/socket.h>

namespace vortan {
namespace {

// Newer libudev subscribes a monitor to no group when it finds no udev daemon (it would otherwise
// hear the host's raw events inside a container): such a socket never turns readable.
bool HearsNothing(int fd) {
  sockaddr_nl address{};
  socklen_t length = sizeof address;
  return ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
         address.nl_family == AF_NETLINK && address.nl_groups == 0;
}

}  // namespace

HidrawMonitor::~HidrawMonitor() {
  if (monitor_) udev_monitor_unref(monitor_);
  if (udev_) udev_unref(udev_);
}

int HidrawMonitor::Descriptor() {
  if (!tried_) {
    tried_ = true;
    udev_ = udev_new();
    // The "udev" group: events come after the daemon's rules ran, not the kernel's raw ones.
    monitor_ = udev_ ? udev_monitor_new_from_netlink(udev_, "udev") : nullptr;
    if (monitor_ &&
        (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
         udev_monitor_enable_receiving(monitor_) < 0)) {
      monitor_ = udev_monitor_unref(monitor_);
    }
    if (monitor_ && HearsNothing(udev_monitor_get_fd(monitor_))) {
      monitor_ = udev_monitor_unref(monitor_);
    }
  }
  return monitor_ ? udev_monitor_get_fd(monitor_) : -1;
}

void HidrawMonitor::Drain() {
  if (!monitor_) return;
  // libudev's receive does not wait: it gives nullptr once nothing is pending.
  while (udev_device* device = udev_monitor_receive_device(monitor_)) udev_device_unref(device);
}

}  // namespace vortan
