#include "cli/flash_command.h"

#include <signal.h>
#include <unistd.h>

#include <iostream>

#include "app/main_window.h"
#include "app/package_steps.h"
#include "app/update_run.h"
#include "cli/device_access.h"
#include "cli/exit_codes.h"
#include "cli/package_opening.h"
#include "cli/progress_display.h"
#include "cli/stop_requests.h"
#include "link/hid_device.h"
#include "util/diag_log.h"

namespace vortan::cli {

FlashCommand::FlashCommand(CLI::App& app)
    : command_(app.add_subcommand("flash", "Update the attached device with a package")) {
  command_->add_option("package", packagePath_, "Update package (.dat)")->required();
  command_->add_flag("--verbose,-v", verbose_,
                     "Show the diagnostic log (completed steps, skipped description lines)");
  AddDeviceLinkOptions(*command_, link_);
  AddWaitOption(*command_, wait_);
}

bool FlashCommand::Selected() const {
  return command_->parsed();
}

int FlashCommand::Run(const GlobalOptions& options) const {
  const LogSink previousLog = verbose_ ? SetLogSink({}) : SetLogSink([](std::string_view) {});
  DatFileExamine datFile(options.workFolder);
  DeviceLinkSetup setup;
  const int status = WithTraceChecked(setup, Flash(datFile, setup, options));
  datFile.DeleteTempFiles();
  SetLogSink(previousLog);
  return status;
}

int FlashCommand::Flash(DatFileExamine& datFile, DeviceLinkSetup& setup,
                        const GlobalOptions& options) const {
  std::string error;
  // Before the package writes its work files: a trace path or fault script that is no regular
  // file ends the command first.
  if (!setup.OpenFiles(link_, &error)) {
    std::cerr << error << '\n';
    return kExitUsage;
  }
  if (!OpenPackage(datFile, packagePath_)) return kExitPackageRefused;

  if (!setup.Install(link_, options.deviceBackend, &datFile, options.sharedFolder, &error)) {
    std::cerr << error << '\n';
    return kExitUsage;
  }
  // A wait that ends without the one device has already shown why.
  if (!WaitIfAsked(wait_, [&datFile](int count) {
        return count > 1 ? std::string(kTextMoreThanOneDevice) : datFile.GetNoDeviceText();
      })) {
    return kExitNoSingleDevice;
  }
  HidDevice& link = HidDevice::Instance();
  const int count = link.CountDevices();
  if (count != 1) {
    std::cerr << (count > 1 ? std::string(kTextMoreThanOneDevice) : datFile.GetNoDeviceText())
              << '\n';
    return kExitNoSingleDevice;
  }
  // Refused before the first report, so two updates never interleave their commands.
  if (!link.Claim()) {
    std::cerr << kTextUpdateRunningElsewhere << '\n';
    return kExitNoSingleDevice;
  }

  PackageSteps steps(datFile);
  const int32_t total = steps.TotalStepCount();
  std::cout << "Updating " << datFile.GetProductModel() << " to firmware "
            << datFile.GetFirmwareVersion() << " in " << total << " steps" << std::endl;
  ProgressDisplay display(std::cerr, ::isatty(STDERR_FILENO) == 1, total);
  LogSink outsideRun;
  if (verbose_) outsideRun = SetLogSink([&display](std::string_view line) { display.Log(line); });
  if (options.stops && !options.stops->BeginRun()) {
    if (verbose_) SetLogSink(outsideRun);
    return ExitStatusOfSignal(options.stops->StopSignal());
  }
  const bool success = RunUpdate(steps, [&display](int32_t value) { display.Show(value); });
  if (options.stops) options.stops->EndRun();
  if (verbose_) SetLogSink(outsideRun);

  if (success) {
    std::cout << "Update Success!" << std::endl;
    return kExitSuccess;
  }
  std::cerr << "Update Error!\n";
  if (options.stops && options.stops->CutOff()) return ExitStatusOfSignal(SIGINT);
  // The run opens the link itself; when that is what failed, the user needs the reason more
  // than the bare outcome.
  if (!link.LastOpenError().empty() || link.LastOpenDeniedPermission()) {
    std::cerr << OpenFailureText(link.LastOpenError(), link.LastOpenDeniedPermission(),
                                 HidDevice::Vid(), HidDevice::Pid());
  }
  return kExitUpdateFailed;
}

}  // namespace vortan::cli
