// SPDX-License-Identifier: Apache-2.0
#include "emulator/umockdev/hidraw_testbed.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>

namespace vortan::emu {

struct HidrawTestbed::Node {
  std::mutex* mutex = nullptr;  // the test bed's: serialises the handlers with Unplug
  std::unique_ptr<LoaderDevice> device;
  HidrawKeyboard keyboard;
  std::string devnode;
  std::vector<std::string> syspaths;  // usb_device, usb_interface, hid, hidraw
  std::vector<uint8_t> descriptor;
  UMockdevIoctlBase* handler = nullptr;
  int masterFd = -1;  // the PTY side umockdev keeps: a byte written here makes the node readable
  int readerFd = -1;  // our own open of the node's side, to take a byte back
  int readable = 0;   // bytes now in the PTY
  int clients = 0;    // open descriptors of the node, in every process
  int opens = 0;      // opens of the node so far
  std::deque<LoaderDevice::Report> queue;
  bool unplugged = false;
};

namespace {

using Node = HidrawTestbed::Node;

// A vendor-defined application collection with one 63-byte input and one 63-byte output report
// behind `reportId`; hidapi lists one entry per such top-level collection.
std::vector<uint8_t> Collection(uint8_t usage, uint8_t reportId) {
  return {0x06, 0x00, 0xFF, 0x09, usage, 0xA1, 0x01, 0x85, reportId, 0x09, 0x02, 0x15,
          0x00, 0x26, 0xFF, 0x00, 0x75,  0x08, 0x95, 0x3F, 0x81,     0x02, 0x09, 0x03,
          0x15, 0x00, 0x26, 0xFF, 0x00,  0x75, 0x08, 0x95, 0x3F,     0x91, 0x02, 0xC0};
}

std::vector<uint8_t> Descriptor(bool twoCollections) {
  std::vector<uint8_t> d = Collection(0x01, 0x51);
  if (twoCollections) {
    const std::vector<uint8_t> second = Collection(0x02, 0x52);
    d.insert(d.end(), second.begin(), second.end());
  }
  return d;
}

// Takes a string umockdev allocated; empty for null.
std::string Taken(gchar* text) {
  std::string out = text ? text : "";
  g_free(text);
  return out;
}

std::string Hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value & 0xFFFFu);
  return text;
}

// Moves every reply the device has queued into the node's queue; notes an unplug.
void Collect(Node& node) {
  LoaderDevice::Report report;
  int got;
  while ((got = node.device->NextReport(report)) > 0) node.queue.push_back(report);
  if (got < 0 || node.device->Unplugged()) node.unplugged = true;
}

// Keeps one byte in the PTY per queued report (one for good once unplugged, so a waiting poll()
// wakes and the read fails), so that poll() on the node sees what a hidraw node would.
void SyncReadable(Node& node) {
  const int wanted = node.unplugged ? 1 : static_cast<int>(node.queue.size());
  char byte = 'r';
  while (node.readable < wanted && ::write(node.masterFd, &byte, 1) == 1) ++node.readable;
  while (node.readable > wanted && ::read(node.readerFd, &byte, 1) == 1) --node.readable;
}

UMockdevIoctlData* Argument(UMockdevIoctlClient* client) {
  return umockdev_ioctl_client_get_arg(client);
}

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
  Node& node = *static_cast<Node*>(data);
  std::lock_guard<std::mutex> hold(*node.mutex);
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = Argument(client);
  if (node.unplugged) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
  } else if (request == HIDIOCGRDESCSIZE && !node.keyboard.failDescriptorProbe) {
    GError* error = nullptr;
    UMockdevIoctlData* size = umockdev_ioctl_data_resolve(arg, 0, sizeof(int), &error);
    g_clear_error(&error);
    // The resolve of offset 0 is the argument itself: the int the client passed.
    const int length = static_cast<int>(node.descriptor.size());
    std::memcpy(arg->data, &length, sizeof length);
    if (size) g_object_unref(size);
    umockdev_ioctl_client_complete(client, 0, 0);
  } else {
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
  }
  return TRUE;
}

gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
  Node& node = *static_cast<Node*>(data);
  std::lock_guard<std::mutex> hold(*node.mutex);
  UMockdevIoctlData* arg = Argument(client);
  Collect(node);
  if (node.unplugged || !node.device->AcceptReport(arg->data, arg->data_len)) {
    node.unplugged = true;
    umockdev_ioctl_client_complete(client, -1, ENODEV);
  } else {
    umockdev_ioctl_client_complete(client, arg->data_len, 0);
  }
  Collect(node);
  SyncReadable(node);
  return TRUE;
}

gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
  Node& node = *static_cast<Node*>(data);
  std::lock_guard<std::mutex> hold(*node.mutex);
  UMockdevIoctlData* arg = Argument(client);
  Collect(node);
  if (node.unplugged) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
  } else if (node.queue.empty()) {
    umockdev_ioctl_client_complete(client, -1, EAGAIN);
  } else {
    // One report per read, as hidraw hands them out.
    const LoaderDevice::Report& report = node.queue.front();
    const size_t length = std::min<size_t>(report.length, static_cast<size_t>(arg->data_len));
    std::memcpy(arg->data, report.bytes.data(), length);
    node.queue.pop_front();
    umockdev_ioctl_client_complete(client, static_cast<long>(length), 0);
  }
  SyncReadable(node);
  return TRUE;
}

void OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer data) {
  Node& node = *static_cast<Node*>(data);
  std::lock_guard<std::mutex> hold(*node.mutex);
  ++node.clients;
  ++node.opens;
}

// Closing the last descriptor of a hidraw node discards the reports queued for it: a failed
// run's unread replies must not answer the next run.
void OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer data) {
  Node& node = *static_cast<Node*>(data);
  std::lock_guard<std::mutex> hold(*node.mutex);
  if (--node.clients > 0 || node.unplugged) return;
  node.queue.clear();
  node.device->DropPending();
  SyncReadable(node);
}

}  // namespace

HidrawTestbed::HidrawTestbed() {
  const char* preload = ::getenv("LD_PRELOAD");
  if (!preload || !std::strstr(preload, "libumockdev-preload")) {
    error_ = "umockdev's preload library is not loaded (run under umockdev-wrapper)";
    return;
  }
  testbed_ = umockdev_testbed_new();
}

HidrawTestbed::~HidrawTestbed() {
  for (const std::unique_ptr<Node>& node : nodes_) {
    if (node->readerFd >= 0) ::close(node->readerFd);
  }
  if (testbed_) g_object_unref(testbed_);
  for (const std::unique_ptr<Node>& node : nodes_) {
    if (node->handler) g_object_unref(node->handler);
  }
}

std::string HidrawTestbed::AddSysfs(int index, const HidrawKeyboard& k) {
  const std::string n = std::to_string(index + 1);
  const std::string usbName = "1-" + n;
  const std::string usb = Taken(umockdev_testbed_add_device(
      testbed_, "usb", usbName.c_str(), nullptr, "idVendor", Hex4(k.vid).c_str(), "idProduct",
      Hex4(k.pid).c_str(), "manufacturer", k.manufacturer.c_str(), "product", k.product.c_str(),
      "serial", k.serial.c_str(), "bcdDevice", "0100", nullptr, "DEVTYPE", "usb_device", nullptr));
  char interfaceNumber[4];
  std::snprintf(interfaceNumber, sizeof interfaceNumber, "%02x", k.interfaceNumber & 0xFF);
  const std::string intfName = usbName + ":1." + std::to_string(k.interfaceNumber);
  const std::string intf = Taken(umockdev_testbed_add_device(
      testbed_, "usb", intfName.c_str(), usb.c_str(), "bInterfaceNumber", interfaceNumber, nullptr,
      "DEVTYPE", "usb_interface", nullptr));
  const std::string hidId = "0003:0000" + Hex4(k.vid) + ":0000" + Hex4(k.pid);
  const std::string hidName = "0003:" + Hex4(k.vid) + ":" + Hex4(k.pid) + "." + Hex4(index + 1);
  const std::string hid = Taken(umockdev_testbed_add_device(
      testbed_, "hid", hidName.c_str(), intf.c_str(), nullptr, "HID_ID", hidId.c_str(), "HID_NAME",
      k.product.c_str(), "HID_UNIQ", k.serial.c_str(), nullptr));
  umockdev_testbed_set_attribute_binary(testbed_, hid.c_str(), "report_descriptor",
                                        nodes_[index]->descriptor.data(),
                                        static_cast<int>(nodes_[index]->descriptor.size()));
  // A description, not add_device: only a description's "N:" line makes the node (a PTY). The
  // "device" link, which umockdev does not make, is how hidapi reaches the hid parent.
  const std::string rawPath = hid + "/hidraw" + std::to_string(index);
  const std::string description = "P: " + rawPath.substr(4) +
                                  "\nN: " + nodes_[index]->devnode.substr(5) +
                                  "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=" + nodes_[index]->devnode +
                                  "\nA: dev=242:" + std::to_string(index) + "\nL: device=../\n";
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(testbed_, description.c_str(), &error)) {
    error_ = std::string("umockdev refused ") + rawPath + ": " + error->message;
    g_clear_error(&error);
    return {};
  }
  nodes_[index]->syspaths = {usb, intf, hid, rawPath};
  return rawPath;
}

int HidrawTestbed::Plug(std::unique_ptr<LoaderDevice> device, const HidrawKeyboard& keyboard) {
  if (!testbed_) return -1;
  const int index = static_cast<int>(nodes_.size());
  auto node = std::make_unique<Node>();
  node->mutex = &mutex_;
  node->device = std::move(device);
  node->keyboard = keyboard;
  node->devnode = "/dev/hidraw" + std::to_string(index);
  node->descriptor = Descriptor(keyboard.twoCollections);
  Node* raw = node.get();
  {
    std::lock_guard<std::mutex> hold(mutex_);
    nodes_.push_back(std::move(node));
  }
  // The handler is attached, and the node's PTY made ready under the lock the handlers take,
  // before anything can open the node: umockdev sends the "add" uevent as the node is added, and
  // a program that opens it on hearing of it must find it answered.
  raw->handler = umockdev_ioctl_base_new();
  g_signal_connect(raw->handler, "handle-ioctl", G_CALLBACK(OnIoctl), raw);
  g_signal_connect(raw->handler, "handle-read", G_CALLBACK(OnRead), raw);
  g_signal_connect(raw->handler, "handle-write", G_CALLBACK(OnWrite), raw);
  g_signal_connect(raw->handler, "client-connected", G_CALLBACK(OnConnected), raw);
  g_signal_connect(raw->handler, "client-vanished", G_CALLBACK(OnVanished), raw);
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(testbed_, raw->devnode.c_str(), raw->handler, &error)) {
    error_ = std::string("attaching the handler of ") + raw->devnode + ": " + error->message;
    g_clear_error(&error);
    return -1;
  }
  std::lock_guard<std::mutex> hold(mutex_);
  if (AddSysfs(index, keyboard).empty()) return -1;
  raw->masterFd = umockdev_testbed_get_dev_fd(testbed_, raw->devnode.c_str());
  const char* reader = raw->masterFd >= 0 ? ::ptsname(raw->masterFd) : nullptr;
  raw->readerFd = reader ? ::open(reader, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC) : -1;
  if (raw->readerFd < 0) {
    error_ = "the PTY of " + raw->devnode + " cannot be opened: " + std::strerror(errno);
    return -1;
  }
  // Raw mode: every byte readable at once, nothing echoed back.
  termios mode{};
  ::tcgetattr(raw->readerFd, &mode);
  ::cfmakeraw(&mode);
  ::tcsetattr(raw->readerFd, TCSANOW, &mode);
  if (keyboard.denyOpen) {
    const std::string file = Taken(umockdev_testbed_get_root_dir(testbed_)) + raw->devnode;
    ::chmod(file.c_str(), 0);
  }
  return index;
}

void HidrawTestbed::Unplug(int index) {
  Node* node = nodes_.at(index).get();
  {
    std::lock_guard<std::mutex> hold(mutex_);
    node->device->Unplug();
    node->unplugged = true;
    SyncReadable(*node);
  }
  umockdev_testbed_uevent(testbed_, node->syspaths.back().c_str(), "remove");
  for (auto path = node->syspaths.rbegin(); path != node->syspaths.rend(); ++path) {
    umockdev_testbed_remove_device(testbed_, path->c_str());
  }
}

void HidrawTestbed::WithDevice(int index, const std::function<void(LoaderDevice&)>& action) {
  std::lock_guard<std::mutex> hold(mutex_);
  action(*nodes_.at(index)->device);
}

int HidrawTestbed::OpenCount(int index) {
  std::lock_guard<std::mutex> hold(mutex_);
  return nodes_.at(index)->opens;
}

std::string HidrawTestbed::NodePath(int index) const {
  return nodes_.at(index)->devnode;
}

}  // namespace vortan::emu
