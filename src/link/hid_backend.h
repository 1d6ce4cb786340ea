// SPDX-License-Identifier: Apache-2.0
#pragma once
// The OS seam of the device link: the handful of hidapi calls the system makes, behind an
// interface so that the loader emulator can stand in for the USB host service. The production
// implementation (hidapi/hidapi_backend.cpp) is the only file that includes hidapi.h.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "util/device_lock.h"

namespace vortan {

// One entry of an enumeration: a HID interface with the link's IDs, as the library lists it.
struct HidDeviceInfo {
  std::string path;  // what OpenPath takes (for hidraw, the device node)
  std::string serial;
  std::string manufacturer;
  std::string product;
  int interfaceNumber = -1;
};

class HidBackend {
 public:
  // Opaque device handle owned by the backend; nullptr means "no device".
  using Handle = void*;

  virtual ~HidBackend() = default;

  // Enumerates the attached HID interfaces matching vid and pid (0 matches any, as hid_enumerate
  // defines), frees the list, and returns how many entries it held. A device with several HID
  // interfaces counts once per interface.
  virtual int CountDevices(uint16_t vid, uint16_t pid) = 0;

  // Opens the first matching device (hid_open with no serial number). Returns nullptr on
  // failure; OpenError() then tells why.
  virtual Handle Open(uint16_t vid, uint16_t pid) = 0;

  // The entries CountDevices counts, with their paths and strings (hid_enumerate). Backends
  // that stand in for a device without paths list nothing.
  virtual std::vector<HidDeviceInfo> Enumerate(uint16_t /*vid*/, uint16_t /*pid*/) { return {}; }

  // Opens the interface at `path` as Enumerate listed it (hid_open_path). nullptr on failure,
  // as for Open; backends without paths open nothing.
  virtual Handle OpenPath(const std::string& /*path*/) { return nullptr; }

  // Writes one output report (byte 0 is the report ID). Returns the number of bytes written,
  // or -1 on failure.
  virtual int Write(Handle handle, const uint8_t* data, size_t length) = 0;

  // Waits at most timeout_ms for one input report and copies up to `length` bytes of it.
  // Returns the number of bytes read (> 0), 0 when no report arrived in time, or -1 on failure,
  // which is also what an unplugged device gives.
  virtual int Read(Handle handle, uint8_t* data, size_t length, int timeout_ms) = 0;

  // Closes a handle returned by Open; the handle is invalid afterwards.
  virtual void Close(Handle handle) = 0;

  // Takes the exclusive lock of the device Open(vid, pid) would open, keyed by the device's path,
  // so that no two processes update one keyboard. kTaken, kBusy (another process holds it), or
  // kFailed when it cannot be taken for any reason (no such device, a node or lock file this
  // user cannot open, something planted in its place): the run must then not go on, and
  // OpenError() / OpenDeniedPermission() say why. Only backends without devices of their own
  // (test stand-ins) answer kNotNeeded, as this default does.
  virtual LockResult Lock(uint16_t /*vid*/, uint16_t /*pid*/) { return LockResult::kNotNeeded; }
  // The same for the interface at `path`, the one OpenPath(path) would open.
  virtual LockResult LockPath(const std::string& /*path*/) { return LockResult::kNotNeeded; }
  // Releases the lock Lock or LockPath took, if any.
  virtual void Unlock() {}

  // Releases the library's global state (hid_exit); the next CountDevices initialises it again.
  virtual void Exit() = 0;

  // A descriptor that turns readable when the set of attached devices may have changed (one
  // was added or removed), so that a watcher can sleep in poll() instead of counting on a timer.
  // It is only a hint: the watcher calls DrainChanges and then counts again. The backend owns it
  // (the caller never reads or closes it) and keeps it open for the backend's life; the first
  // call makes it, so call this before the first count and no change is missed. -1 when the
  // backend cannot tell (this default): the watcher then counts on a timer. Neither this nor
  // DrainChanges opens a device; both may run on one watching thread while another thread uses
  // the link.
  virtual int ChangeDescriptor() { return -1; }
  // Takes the pending notifications, so the descriptor stays quiet until the next change.
  virtual void DrainChanges() {}

  // The reason the last Open, Lock or LockPath failed, in the library's (or the system's) own
  // words, or empty when none is known.
  virtual std::string OpenError() = 0;
  // True when the last Open, Lock or LockPath failed for lack of permission on the device node.
  virtual bool OpenDeniedPermission() = 0;
};

// The production backend over the real hidapi (hidraw). Defined in hidapi/hidapi_backend.cpp.
std::shared_ptr<HidBackend> MakeHidapiBackend();

}  // namespace vortan
