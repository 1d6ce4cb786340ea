// SPDX-License-Identifier: Apache-2.0
#include "cli/devices_command.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "app/device_status_text.h"
#include "app/failure_texts.h"
#include "cli/exit_codes.h"
#include "cli/reporter.h"
#include "link/hid_device.h"

namespace vortan::cli {
namespace {

std::string IdsText() {
  char text[48];
  std::snprintf(text, sizeof text, "VID 0x%04X, PID 0x%04X", HidDevice::Vid() & 0xFFFFu,
                HidDevice::Pid() & 0xFFFFu);
  return text;
}

int List(Reporter& reporter) {
  const std::vector<HidDeviceInfo> entries = HidDevice::Instance().ListDevices();
  for (const HidDeviceInfo& entry : entries) reporter.Device(entry);
  std::cout << std::flush;
  return entries.empty() ? kExitNoSingleDevice : kExitSuccess;
}

}  // namespace

DevicesCommand::DevicesCommand(CLI::App& app)
    : command_(app.add_subcommand("devices", "Count the attached devices and try to open one")) {
  AddDeviceLinkOptions(*command_, link_);
  AddWaitOption(*command_, wait_);
  command_->add_flag("--list", list_,
                     "List every matching HID interface: path, serial number, strings, interface");
  command_->add_flag("--json", json_, "With --list: one JSON object per line")->needs("--list");
}

bool DevicesCommand::Selected() const {
  return command_->parsed();
}

int DevicesCommand::Run(const GlobalOptions& options) const {
  DeviceLinkSetup setup;
  return WithTraceChecked(setup, Count(setup, options));
}

int DevicesCommand::Count(DeviceLinkSetup& setup, const GlobalOptions& options) const {
  std::string error;
  if (!setup.Install(link_, options.deviceBackend, options.sharedFolder, &error)) {
    std::cerr << error << '\n';
    return kExitUsage;
  }
  if (list_) return List(*MakeReporter(json_, ::isatty(STDERR_FILENO) == 1));
  const int stopFd = options.stops ? options.stops->StopFd() : -1;
  WaitIfAsked(
      wait_,
      [](int count) {
        return "Waiting for one matching device (" + IdsText() + "): " + std::to_string(count) +
               " attached";
      },
      stopFd);
  if (options.stops && options.stops->StopSignal()) {
    return ExitStatusOfSignal(options.stops->StopSignal());
  }
  HidDevice& link = HidDevice::Instance();
  const int count = link.CountDevices();
  std::cout << "Matching devices (" << IdsText() << "): " << count << '\n'
            << DeviceStatusText(count, nullptr) << '\n';
  if (count != 1) return kExitNoSingleDevice;
  if (!link.EnsureOpen()) {
    std::cerr << OpenFailureText(link.LastOpenError(), link.LastOpenDeniedPermission(),
                                 HidDevice::Vid(), HidDevice::Pid());
    return kExitNoSingleDevice;
  }
  link.Close();
  return kExitSuccess;
}

}  // namespace vortan::cli
