// The only file that calls hidapi (hidraw backend).
#include <hidapi.h>

#include <cerrno>
#include <cstring>
#include <cwchar>

#include "link/hid_backend.h"

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

class HidapiBackend final : public HidBackend {
 public:
  int CountDevices(uint16_t vid, uint16_t pid) override {
    hid_device_info* list = hid_enumerate(vid, pid);
    int count = 0;
    for (hid_device_info* d = list; d; d = d->next) ++count;
    hid_free_enumeration(list);
    return count;
  }

  Handle Open(uint16_t vid, uint16_t pid) override {
    errno = 0;
    hid_device* dev = hid_open(vid, pid, nullptr);
    if (!dev) {
      const int saved = errno;
      // hid_error(NULL) reports the last global error of hidapi (the failed open).
      openError_ = Narrow(hid_error(nullptr));
      if (openError_.empty() && saved) openError_ = std::strerror(saved);
      denied_ =
          saved == EACCES || saved == EPERM || openError_.find("ermission") != std::string::npos;
    }
    return dev;
  }

  // hid_open(vid, pid, NULL) opens the first device hid_enumerate lists, so that is the node
  // to lock: a hidraw node is one inode for every process that opens it.
  LockResult Lock(uint16_t vid, uint16_t pid) override {
    hid_device_info* list = hid_enumerate(vid, pid);
    const std::string path = list && list->path ? list->path : "";
    hid_free_enumeration(list);
    return path.empty() ? LockResult::kUnavailable : lock_.Take(path);
  }

  void Unlock() override { lock_.Release(); }

  int Write(Handle handle, const uint8_t* data, size_t length) override {
    return hid_write(static_cast<hid_device*>(handle), data, length);
  }

  int Read(Handle handle, uint8_t* data, size_t length, int timeout_ms) override {
    return hid_read_timeout(static_cast<hid_device*>(handle), data, length, timeout_ms);
  }

  void Close(Handle handle) override { hid_close(static_cast<hid_device*>(handle)); }

  void Exit() override { hid_exit(); }

  std::string OpenError() override { return openError_; }
  bool OpenDeniedPermission() override { return denied_; }

 private:
  std::string openError_;
  bool denied_ = false;
  DeviceLock lock_;
};

}  // namespace

std::shared_ptr<HidBackend> MakeHidapiBackend() {
  return std::make_shared<HidapiBackend>();
}

}  // namespace vortan
