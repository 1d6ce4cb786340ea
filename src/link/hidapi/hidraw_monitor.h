// SPDX-License-Identifier: Apache-2.0
#pragma once
// Hears hidraw nodes come and go: a libudev monitor on the hidraw subsystem, fed by the udev
// daemon after it has applied its rules, so a node announced here already has the permissions
// the rules give it. Used by the hidapi backend for HidBackend::ChangeDescriptor.
struct udev;
struct udev_monitor;

namespace vortan {

class HidrawMonitor {
 public:
  HidrawMonitor() = default;
  ~HidrawMonitor();
  HidrawMonitor(const HidrawMonitor&) = delete;
  HidrawMonitor& operator=(const HidrawMonitor&) = delete;

  // Connects the monitor on the first call. Its socket, readable while a uevent of a hidraw
  // node is pending; owned by the monitor and open until it is destroyed. -1 when no monitor
  // can be connected, or when no udev daemon runs (as in a container): it would hear nothing.
  int Descriptor();
  // Receives and drops every pending uevent, without waiting.
  void Drain();

 private:
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  bool tried_ = false;
};

}  // namespace vortan
