// SPDX-License-Identifier: Apache-2.0
#include "app/failure_texts.h"

#include <cstdio>

#include "link/hid_device.h"
#include "package/dat_file_examine.h"
#include "package/step_plan.h"

namespace vortan {
namespace {

std::string Hex4(uint32_t id, bool upper) {
  char text[8];
  std::snprintf(text, sizeof text, upper ? "%04X" : "%04x", id & 0xFFFFu);
  return text;
}

bool OpenFailed(const HidDevice& link) {
  return !link.LastOpenError().empty() || link.LastOpenDeniedPermission();
}

// "Step 9 of 13 failed while writing block 3 of data pack 1[: <thrown>].\n"
std::string StepFailureLine(const HidDevice& link, const DatFileExamine& package, int32_t lastDone,
                            const std::string& thrown) {
  std::string line = RunFailureReason(link, lastDone, package.TotalStepCount());
  const std::string activity = StepActivity(package, static_cast<uint32_t>(lastDone + 1));
  if (!activity.empty()) line += " while " + activity;
  return line + (thrown.empty() ? "" : ": " + thrown) + ".\n";
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

std::string RunFailureReason(const HidDevice& link, int32_t lastDone, int32_t total,
                             const std::string& thrown) {
  if (OpenFailed(link)) {
    const std::string text = OpenFailureText(link.LastOpenError(), link.LastOpenDeniedPermission(),
                                             HidDevice::Vid(), HidDevice::Pid());
    return text.substr(0, text.find('\n'));
  }
  if (total < 1) return "The package plans no step";
  return "Step " + std::to_string(lastDone + 2) + " of " + std::to_string(total) + " failed" +
         (thrown.empty() ? "" : ": " + thrown);
}

std::string StepActivity(const DatFileExamine& package, uint32_t index) {
  const AXUpdate* first = package.Updater(1);
  const AXUpdate* second = package.Updater(2);
  if (!package.IsFileReady() || !first) return "";
  const int32_t steps1 = first->StepCount();
  const PlannedStep step =
      PlanStep(index, steps1, second ? second->StepCount() : 0, package.CountDataPack());
  const std::string pack = " of data pack " + std::to_string(step.pack);
  switch (step.kind) {
    case StepKind::kEnterUpdateMode:
      return "putting the keyboard's loader into update mode for data pack " +
             std::to_string(step.pack);
    case StepKind::kRunStep:
      return "writing block " + std::to_string(step.argument + 1) + pack;
    case StepKind::kFinalStep:
      return "verifying the written data" + pack;
    case StepKind::kNone:
      break;
  }
  return "";
}

std::string KeysToOpen(const DatFileExamine& package) {
  // The status text's rule: only the later names decide how many are quoted.
  int count = 0;
  for (int key = 3; key >= 1 && count == 0; --key) {
    if (!package.KeyName(key).empty()) count = key;
  }
  std::string keys;
  for (int key = 1; key <= count; ++key) {
    keys += (key > 1 ? " + \"" : "\"") + package.KeyName(key) + "\"";
  }
  return keys;
}

std::string RunFailureDetails(const HidDevice& link, const DatFileExamine& package,
                              int32_t lastDone, const std::string& thrown,
                              const std::string& retry) {
  const std::string reason =
      OpenFailed(link) ? OpenFailureText(link.LastOpenError(), link.LastOpenDeniedPermission(),
                                         HidDevice::Vid(), HidDevice::Pid())
                       : StepFailureLine(link, package, lastDone, thrown);
  return reason + RunFailureNextStep(package, lastDone, retry) + "\n";
}

std::string RunFailureNextStep(const DatFileExamine& package, int32_t lastDone,
                               const std::string& retry) {
  if (lastDone < 0) {
    return "Nothing was written to the keyboard. Check that it is connected, then " + retry + ".";
  }
  const std::string keys = KeysToOpen(package);
  return "The keyboard may stay in its loader until an update succeeds. Keep it connected (if "
         "it is not found, open its loader" +
         (keys.empty() ? std::string() : " by pressing " + keys) + "), then " + retry + ".";
}

}  // namespace vortan
