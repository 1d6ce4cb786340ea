// SPDX-License-Identifier: Apache-2.0
// hidapi's C functions over the loader emulator, declared by the real hidapi.h.
#include "fake_hidapi.h"

#include <hidapi.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

struct hid_device_ {
  vortan::HidBackend::Handle handle;
};

namespace vortan::fakehid {
namespace {

struct State {
  std::unique_ptr<emu::Emulator> emulator = std::make_unique<emu::Emulator>();
  std::vector<std::string> calls;
  std::wstring error;
  std::string deviceFolder;
  int readWaitMs = 0;
};

State& S() {
  static State state;
  return state;
}

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* format, ...) {
  char line[128];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  S().calls.emplace_back(line);
}

}  // namespace

emu::Emulator& Backend() {
  return *S().emulator;
}

void Reset() {
  S() = State{};
}

void SetReadWait(int ms) {
  S().readWaitMs = ms;
}

void SetDeviceFolder(const std::string& folder) {
  S().deviceFolder = folder;
}

const std::vector<std::string>& Calls() {
  return S().calls;
}

}  // namespace vortan::fakehid

namespace {

// The device of an open, or nullptr with the emulator's reason kept for hid_error.
hid_device* Opened(vortan::HidBackend::Handle handle) {
  if (handle) return new hid_device{handle};
  const std::string reason = vortan::fakehid::Backend().OpenError();
  vortan::fakehid::S().error.assign(reason.begin(), reason.end());
  return nullptr;
}

}  // namespace

using vortan::fakehid::Backend;
using vortan::fakehid::Log;
using vortan::fakehid::S;

extern "C" {

int HID_API_EXPORT hid_exit(void) {
  Log("hid_exit");
  Backend().Exit();
  return 0;
}

struct hid_device_info HID_API_EXPORT* hid_enumerate(unsigned short vendor_id,
                                                     unsigned short product_id) {
  Log("hid_enumerate %04x %04x", vendor_id, product_id);
  hid_device_info* head = nullptr;
  hid_device_info** tail = &head;
  const auto wide = [](const std::string& text) {
    auto* out = static_cast<wchar_t*>(std::calloc(text.size() + 1, sizeof(wchar_t)));
    for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<unsigned char>(text[i]);
    return out;
  };
  for (const vortan::HidDeviceInfo& entry : Backend().Enumerate(vendor_id, product_id)) {
    auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
    info->vendor_id = vendor_id;
    info->product_id = product_id;
    // With a device folder, each keyboard's node is a real file there, for the lock to take.
    std::string path = entry.path;
    if (!S().deviceFolder.empty()) {
      path = S().deviceFolder + "/" + path.substr(path.find(':') + 1);
      std::fclose(std::fopen(path.c_str(), "a"));
    }
    info->path = strdup(path.c_str());
    info->serial_number = wide(entry.serial);
    info->manufacturer_string = wide(entry.manufacturer);
    info->product_string = wide(entry.product);
    info->interface_number = entry.interfaceNumber;
    *tail = info;
    tail = &info->next;
  }
  return head;
}

void HID_API_EXPORT hid_free_enumeration(struct hid_device_info* devs) {
  int entries = 0;
  while (devs) {
    hid_device_info* next = devs->next;
    std::free(devs->path);
    std::free(devs->serial_number);
    std::free(devs->manufacturer_string);
    std::free(devs->product_string);
    std::free(devs);
    devs = next;
    ++entries;
  }
  Log("hid_free_enumeration %d", entries);
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open(unsigned short vendor_id,
                                                 unsigned short product_id,
                                                 const wchar_t* serial_number) {
  Log("hid_open %04x %04x %s", vendor_id, product_id, serial_number ? "serial" : "null");
  return Opened(Backend().Open(vendor_id, product_id));
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open_path(const char* path) {
  Log("hid_open_path %s", path);
  std::string device = path;
  const std::string folder = S().deviceFolder + "/";
  if (!S().deviceFolder.empty() && device.starts_with(folder)) {
    device = "sim:" + device.substr(folder.size());
  }
  return Opened(Backend().OpenPath(device));
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device* dev, const unsigned char* data,
                                          size_t length) {
  Log("hid_write %zu", length);
  return Backend().Write(dev->handle, data, length);
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device* dev, unsigned char* data,
                                                 size_t length, int milliseconds) {
  Log("hid_read_timeout %zu %d", length, milliseconds);
  if (S().readWaitMs > 0 && ::poll(nullptr, 0, S().readWaitMs) < 0) return -1;
  return Backend().Read(dev->handle, data, length, milliseconds);
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device* dev) {
  Log("hid_close");
  if (!dev) return;
  Backend().Close(dev->handle);
  delete dev;
}

HID_API_EXPORT const wchar_t* HID_API_CALL hid_error(hid_device* dev) {
  Log("hid_error %s", dev ? "dev" : "null");
  return S().error.empty() ? L"Success" : S().error.c_str();
}

// The backend probes each locked node with HIDIOCGRDESCSIZE before opening it; the stand-in's
// nodes are plain files, so the probe is answered here as a hidraw node answers it.
int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  if (request == HIDIOCGRDESCSIZE) {
    *static_cast<int*>(argument) = 0;
    return 0;
  }
  return static_cast<int>(::syscall(SYS_ioctl, fd, request, argument));
}

}  // extern "C"
