#include "cli/device_access.h"

#include <cstdio>

#include "link/hid_device.h"

namespace vortan::cli {
namespace {

std::string Hex4(uint32_t id, bool upper) {
  char text[8];
  std::snprintf(text, sizeof text, upper ? "%04X" : "%04x", id & 0xFFFFu);
  return text;
}

}  // namespace

std::string UdevRuleLine(uint32_t vid, uint32_t pid) {
  std::string rule = "KERNEL==\"hidraw*\", SUBSYSTEM==\"hidraw\", ";
  if (vid & 0xFFFFu) rule += "ATTRS{idVendor}==\"" + Hex4(vid, false) + "\", ";
  if (pid & 0xFFFFu) rule += "ATTRS{idProduct}==\"" + Hex4(pid, false) + "\", ";
  return rule + "TAG+=\"uaccess\"";
}

std::string OpenFailureText(const std::string& reason, bool deniedPermission, uint32_t vid,
                            uint32_t pid) {
  std::string text =
      kTextDeviceCannotBeOpened + (reason.empty() ? std::string("no reason given") : reason) + "\n";
  if (!deniedPermission) return text;
  text += "Your user may not open the device's hidraw node. Install the udev rule " +
          std::string(kUdevRuleFile) + " as " + kUdevRuleInstallPath + ":\n" +
          "  sudo install -m 0644 " + kUdevRuleFile + " " + kUdevRuleInstallPath + "\n" +
          "  sudo udevadm control --reload-rules && sudo udevadm trigger\n" +
          "then unplug and replug the keyboard. The rule for the configured IDs (VID 0x" +
          Hex4(vid, true) + ", PID 0x" + Hex4(pid, true) + ") is:\n  " + UdevRuleLine(vid, pid) +
          "\n";
  return text;
}

}  // namespace vortan::cli
