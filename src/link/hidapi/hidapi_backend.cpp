// SPDX-License-Identifier: Apache-2.0
// The only file that calls hidapi (hidraw backend).
#include <hidapi.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <cwchar>

#include "link/hid_backend.h"
#include "link/hidapi/hidraw_monitor.h"

namespace vortan {
namespace {

std::string Narrow(const wchar_t* text) {
  if (!text) return {};
  std::mbstate_t state{};
  const wchar_t* src = text;
  size_t len = std::wcsrtombs(nullptr, &src, 0, &state);
  if (len == static_cast<size_t>(-1)) return "unprintable error text";
  std::string out(len, '\0');
  src = text;
  state = std::mbstate_t{};
  std::wcsrtombs(out.data(), &src, len, &state);
  return out;
}

// The device's strings as UTF-8 whatever the locale (wchar_t holds UTF-32 here); code points
// that are no characters become U+FFFD.
std::string Utf8(const wchar_t* text) {
  std::string out;
  for (; text && *text; ++text) {
    char32_t c = static_cast<char32_t>(*text);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// hidapi's open gives up on a node that does not answer HIDIOCGRDESCSIZE, and then reports
// "Success" (hidapi 0.13.1 even records the error on the device it has just freed). The same
// probe on the descriptor the lock holds open refuses such a node first, with its real cause.
// True when the node answers; else `error` says what failed where.
bool ProbeReportDescriptor(const DeviceLock& lock, const std::string& node, std::string* error) {
  if (!lock.Held()) return true;  // nothing open to probe: hidapi's open fails by itself
  int size = 0;
  if (::ioctl(lock.Descriptor(), HIDIOCGRDESCSIZE, &size) == 0) return true;
  *error =
      node + " does not answer HIDIOCGRDESCSIZE, as a hidraw node does: " + std::strerror(errno);
  return false;
}

class HidapiBackend final : public HidBackend {
 public:
  int CountDevices(uint16_t vid, uint16_t pid) override {
    hid_device_info* list = hid_enumerate(vid, pid);
    int count = 0;
    for (hid_device_info* d = list; d; d = d->next) ++count;
    hid_free_enumeration(list);
    return count;
  }

  std::vector<HidDeviceInfo> Enumerate(uint16_t vid, uint16_t pid) override {
    hid_device_info* list = hid_enumerate(vid, pid);
    std::vector<HidDeviceInfo> entries;
    for (hid_device_info* d = list; d; d = d->next) {
      entries.push_back({d->path ? d->path : "", Utf8(d->serial_number),
                         Utf8(d->manufacturer_string), Utf8(d->product_string),
                         d->interface_number});
    }
    hid_free_enumeration(list);
    return entries;
  }

  Handle Open(uint16_t vid, uint16_t pid) override {
    if (!Probed(lockedPath_)) return nullptr;
    errno = 0;
    return Opened(hid_open(vid, pid, nullptr));
  }

  Handle OpenPath(const std::string& path) override {
    if (!Probed(path)) return nullptr;
    errno = 0;
    return Opened(hid_open_path(path.c_str()));
  }

  // hid_open(vid, pid, NULL) opens the first device hid_enumerate lists, so that is the node
  // to lock: a hidraw node is one inode for every process that opens it.
  LockResult Lock(uint16_t vid, uint16_t pid) override {
    hid_device_info* list = hid_enumerate(vid, pid);
    const std::string path = list && list->path ? list->path : "";
    hid_free_enumeration(list);
    return LockNode(path);
  }

  LockResult LockPath(const std::string& path) override { return LockNode(path); }

  void Unlock() override { lock_.Release(); }

  int Write(Handle handle, const uint8_t* data, size_t length) override {
    return hid_write(static_cast<hid_device*>(handle), data, length);
  }

  int Read(Handle handle, uint8_t* data, size_t length, int timeout_ms) override {
    return hid_read_timeout(static_cast<hid_device*>(handle), data, length, timeout_ms);
  }

  void Close(Handle handle) override { hid_close(static_cast<hid_device*>(handle)); }

  void Exit() override { hid_exit(); }

  // hidapi enumerates what udev lists, so udev's events on hidraw nodes are the changes.
  int ChangeDescriptor() override { return monitor_.Descriptor(); }
  void DrainChanges() override { monitor_.Drain(); }

  std::string OpenError() override { return openError_; }
  bool OpenDeniedPermission() override { return denied_; }

 private:
  // False, keeping the reason for OpenError, when the locked node fails the descriptor probe.
  bool Probed(const std::string& node) {
    denied_ = false;
    return ProbeReportDescriptor(lock_, node, &openError_);
  }

  // Keeps the reason of a failed open (`dev` null) for OpenError and OpenDeniedPermission.
  hid_device* Opened(hid_device* dev) {
    if (!dev) {
      const int saved = errno;
      // hid_error(NULL) reports the last global error of hidapi (the failed open), which is
      // "Success" when the error was not recorded globally.
      openError_ = Narrow(hid_error(nullptr));
      if ((openError_.empty() || openError_ == "Success") && saved) {
        openError_ = std::strerror(saved);
      }
      denied_ =
          saved == EACCES || saved == EPERM || openError_.find("ermission") != std::string::npos;
    }
    return dev;
  }

  // Fails closed: a node that cannot be locked (gone, or not ours to open) gets no update,
  // with the reason kept for OpenError and, for lack of permission, the udev advice.
  LockResult LockNode(const std::string& path) {
    lockedPath_ = path;
    const LockResult result =
        path.empty() ? LockResult::kFailed : lock_.Take(path, /*create=*/false);
    if (result == LockResult::kFailed) {
      openError_ = path.empty() ? "the keyboard is no longer listed" : lock_.Error();
      denied_ = !path.empty() && lock_.ErrorDeniedPermission();
    }
    return result;
  }

  std::string openError_;
  bool denied_ = false;
  DeviceLock lock_;
  std::string lockedPath_;  // the node lock_ was last asked to lock
  HidrawMonitor monitor_;
};

}  // namespace

std::shared_ptr<HidBackend> MakeHidapiBackend() {
  return std::make_shared<HidapiBackend>();
}

}  // namespace vortan
