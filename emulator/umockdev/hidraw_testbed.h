// SPDX-License-Identifier: Apache-2.0
#pragma once
// Emulated hidraw keyboards for the real hidapi and libudev: a umockdev test bed whose sysfs
// holds, per keyboard, a USB device, its interface, the HID device and its hidraw node, each node
// answered by a LoaderDevice. Programs that run under umockdev's preload library (this process
// and its children inherit LD_PRELOAD and UMOCKDEV_DIR) enumerate, open, lock, write and read
// these nodes as they would a real keyboard.
//
// What the real stack needs, and how it is met here:
// - hidapi 0.13 reads HID_ID, HID_NAME and HID_UNIQ from the hid device's uevent, the strings
//   and interface number from the usb_device and usb_interface parents, and the report
//   descriptor through the hidraw node's "device" link (one entry per top-level collection).
// - hidapi's open issues only HIDIOCGRDESCSIZE; its read is poll() and then read(). umockdev
//   intercepts ioctl, read and write but neither poll() nor flock(): the node is a PTY, so the
//   handler keeps exactly one byte in the PTY per queued report (taken back when the report is
//   handed out), which makes poll() wake and time out as on a real node, and flock() locks the
//   PTY as it would the node. A read gets exactly one report.
// - An "add" uevent is sent only after the node's handler is attached, so a program that opens
//   the node when it hears of it finds it answered. uevents need this process itself to run
//   under the preload (umockdev-wrapper).
//
// Not copyable. Plug, Unplug and Device may be called from any thread; the handlers run on
// umockdev's worker thread and every access to a LoaderDevice is serialised with them.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/loader_device.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace vortan::emu {

struct HidrawKeyboard {
  uint16_t vid = 0;
  uint16_t pid = 0;
  std::string serial;
  std::string manufacturer = "VORTAN";
  std::string product = "VORTAN Loader";
  int interfaceNumber = 0;
  // The report descriptor holds two top-level collections: hidapi lists the node twice.
  bool twoCollections = false;
  // HIDIOCGRDESCSIZE fails with ENOTTY, as on a node that is no hidraw device.
  bool failDescriptorProbe = false;
  // The node's mode is 0000: opening it is refused with EACCES (for root too, once its
  // CAP_DAC_OVERRIDE is dropped).
  bool denyOpen = false;
};

class HidrawTestbed {
 public:
  // Makes an empty test bed and points UMOCKDEV_DIR at it. Error() is non-empty when umockdev's
  // preload is not loaded in this process: nothing would be redirected then.
  HidrawTestbed();
  // Removes the test bed with its keyboards.
  ~HidrawTestbed();
  HidrawTestbed(const HidrawTestbed&) = delete;
  HidrawTestbed& operator=(const HidrawTestbed&) = delete;

  const std::string& Error() const { return error_; }

  // Adds a keyboard answered by `device` and sends its "add" uevent. Returns its index, or -1
  // (Error() says why) when umockdev refused it.
  int Plug(std::unique_ptr<LoaderDevice> device, const HidrawKeyboard& keyboard);
  // Unplugs keyboard `index`: its open handles fail every read and write (ENODEV, a waiting
  // poll() wakes), its sysfs devices go and a "remove" uevent is sent.
  void Unplug(int index);
  // The node of keyboard `index`, e.g. "/dev/hidraw0".
  std::string NodePath(int index) const;
  // Runs `action` on keyboard `index`'s LoaderDevice while no handler touches it.
  void WithDevice(int index, const std::function<void(LoaderDevice&)>& action);
  // How often keyboard `index`'s node has been opened, by any process.
  int OpenCount(int index);

  // One keyboard's node and its handler's state (in the .cpp).
  struct Node;

 private:
  std::string AddSysfs(int index, const HidrawKeyboard& keyboard);

  UMockdevTestbed* testbed_ = nullptr;
  std::string error_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Node>> nodes_;
};

}  // namespace vortan::emu
