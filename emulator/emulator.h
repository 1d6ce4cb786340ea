// SPDX-License-Identifier: Apache-2.0
#pragma once
// The USB HID host service with emulated loader devices attached, behind the same backend
// interface as hidapi. Tests, `vortan-flash --simulate` and the window's --simulate install it
// with HidDevice::UseBackend.
//
// Enumeration follows hid_enumerate: a VID or PID of 0 matches any, every HID interface of a
// matching device is one entry, unplugged devices are not listed. Open takes the first matching
// device in attach order. Each interface has a path fixed by attach order (PathOf), so another
// process that attaches the same devices names the same keyboard by the same path. A read with
// nothing queued sleeps its whole time-out on ProcessClock() and returns 0, so a silent device
// costs no real time under a VirtualClock; a read or write on an unplugged device returns -1.
//
// Every report that crosses the link is recorded as one hex line: "H>D 51 04 00 ..." for
// host-to-device, "D>H ..." for device-to-host, 64 bytes each (or as many as were delivered).
// The in-memory record keeps the latest TraceLimit() lines (100000 unless set; 0 keeps none, for a
// long run traced to a file through the sink); a sink, when set, gets every line.
//
// Thread-safe: every call is serialised on one mutex (the sleep of a read happens outside it).
// Devices are owned by the emulator and stay valid for its life; configure them (families,
// faults) before the host starts a run.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/loader_device.h"
#include "link/hid_backend.h"

namespace vortan::emu {

class Emulator final : public HidBackend {
 public:
  Emulator();
  ~Emulator() override;

  // Attaches a new device (or a prepared one) and returns it.
  LoaderDevice& Attach(uint16_t vid, uint16_t pid, int interfaces = 1);
  LoaderDevice& Attach(std::unique_ptr<LoaderDevice> device);
  // All devices ever attached, unplugged ones included, in attach order.
  size_t DeviceCount() const;
  LoaderDevice& Device(size_t index);

  // Makes the next `count` Open calls fail with `reason`; `denied` reports a permission refusal.
  void FailOpens(int count, std::string reason, bool denied = false);
  // Until ProcessClock() reaches `time` no device is listed or opened: keyboards plugged in
  // later, for rehearsing a wait for the device. Their arrival is announced on the change
  // descriptor when that time comes on the system's monotonic clock (under a virtual clock, as
  // many milliseconds of real time from now).
  void HideDevicesUntil(std::chrono::milliseconds time);
  // Unplugs device `index` (as LoaderDevice::Unplug does) and announces it.
  void Unplug(size_t index);
  // False: ChangeDescriptor gives -1, as a backend that cannot tell of changes does.
  void SetAnnouncesChanges(bool announces);

  // Gives each attached device a lock file in `folder` ("vortan-simulated-VID-PID-N.lock", N
  // its attach index), so that two processes simulating the same keyboard there meet the same
  // lock. Without a folder nothing is locked (kNotNeeded); with one, a lock file that cannot be
  // taken refuses the run (kFailed, OpenError() says why).
  void SetLockFolder(std::string folder);

  // Handles currently open, and how often Exit ran: lets tests check the link's discipline.
  int OpenHandles() const;
  int ExitCount() const;

  std::vector<std::string> Trace() const;
  void ClearTrace();
  size_t TraceLimit() const;
  void SetTraceLimit(size_t lines);
  // Lines dropped from the in-memory record because of the limit.
  size_t TraceDropped() const;
  // Called with every trace line as it is made (on the host's thread, under the lock).
  void SetTraceSink(std::function<void(const std::string&)> sink);

  // "sim:hidraw<device>" for interface 0, "sim:hidraw<device>.<interface>" for the others;
  // the serial number is "SIM<device>", 4 digits.
  static std::string PathOf(size_t device, int interface);
  static std::string SerialOf(size_t device);

  // HidBackend
  int CountDevices(uint16_t vid, uint16_t pid) override;
  std::vector<HidDeviceInfo> Enumerate(uint16_t vid, uint16_t pid) override;
  Handle Open(uint16_t vid, uint16_t pid) override;
  // Opens the device of a path PathOf gives, whatever its IDs (as hid_open_path does).
  Handle OpenPath(const std::string& path) override;
  int Write(Handle handle, const uint8_t* data, size_t length) override;
  // A negative timeout (a blocking read) on a silent device returns -1 at once rather than
  // blocking forever.
  int Read(Handle handle, uint8_t* data, size_t length, int timeout_ms) override;
  void Close(Handle handle) override;
  LockResult Lock(uint16_t vid, uint16_t pid) override;
  LockResult LockPath(const std::string& path) override;
  void Unlock() override;
  void Exit() override;
  std::string OpenError() override;
  bool OpenDeniedPermission() override;
  // Readable after a device was attached or unplugged through the emulator, or hidden devices
  // arrived: an epoll descriptor over an eventfd and a timerfd, owned by the emulator.
  int ChangeDescriptor() override;
  void DrainChanges() override;

 private:
  struct OpenDevice {
    LoaderDevice* device;
  };

  bool Matches(const LoaderDevice& d, uint16_t vid, uint16_t pid) const;
  Handle OpenLocked(LoaderDevice* device);
  // Both with mutex_ held; a failure keeps its reason for OpenError.
  LockResult LockDevice(size_t index);
  LockResult NoDeviceToLock();
  LoaderDevice* Lookup(Handle handle) const;
  void Record(const char* direction, const uint8_t* data, size_t length);
  void HandleArrivals(LoaderDevice& from);
  void Announce();

  // The change descriptor and its two sources; -1 where the system refused one.
  int changeFd_ = -1;
  int announceFd_ = -1;
  int arrivalFd_ = -1;
  bool announces_ = true;

  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<LoaderDevice>> devices_;
  std::map<const void*, std::unique_ptr<OpenDevice>> handles_;
  int failOpens_ = 0;
  std::string failReason_;
  bool failDenied_ = false;
  std::string openError_;
  bool openDenied_ = false;
  int exitCount_ = 0;
  std::string lockFolder_;
  DeviceLock lock_;
  std::chrono::milliseconds hiddenUntil_{0};
  std::deque<std::string> trace_;
  size_t traceLimit_ = 100000;
  size_t traceDropped_ = 0;
  std::function<void(const std::string&)> sink_;
};

}  // namespace vortan::emu
