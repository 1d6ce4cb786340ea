#include "cli/flash_command.h"

#include <signal.h>
#include <unistd.h>

#include <iostream>

#include "app/package_steps.h"
#include "app/update_run.h"
#include "app/user_texts.h"
#include "cli/device_access.h"
#include "cli/exit_codes.h"
#include "cli/package_opening.h"
#include "cli/parallel_flash.h"
#include "cli/progress_display.h"
#include "cli/run_events.h"
#include "cli/stop_requests.h"
#include "link/hid_device.h"
#include "util/diag_log.h"

namespace vortan::cli {
namespace {

// The one line that says why a run failed: the open's refusal when that is what failed,
// otherwise the step that failed (nothing finer is known).
std::string FailureReason(const HidDevice& link, int32_t lastDone, int32_t total) {
  if (!link.LastOpenError().empty() || link.LastOpenDeniedPermission()) {
    const std::string text = OpenFailureText(link.LastOpenError(), link.LastOpenDeniedPermission(),
                                             HidDevice::Vid(), HidDevice::Pid());
    return text.substr(0, text.find('\n'));
  }
  if (total < 1) return "The package plans no step";
  return "Step " + std::to_string(lastDone + 2) + " of " + std::to_string(total) + " failed";
}

}  // namespace

FlashCommand::FlashCommand(CLI::App& app)
    : command_(app.add_subcommand("flash", "Update the attached device with a package")) {
  command_->add_option("package", packagePath_, "Update package (.dat)")->required();
  command_->add_flag("--verbose,-v", verbose_,
                     "Show the diagnostic log (completed steps, skipped description lines)");
  AddDeviceLinkOptions(*command_, link_);
  AddWaitOption(*command_, wait_);
  CLI::Option* device =
      command_->add_option("--device", devicePath_,
                           "Update the keyboard at PATH (see devices --list), whatever else is "
                           "attached");
  // --all updates what is attached now; waiting for exactly one keyboard makes no sense there.
  command_->add_flag("--all", all_, "Update every attached keyboard at once")
      ->excludes(device)
      ->excludes(command_->get_option("--wait"));
  command_->add_flag("--json", json_,
                     "Write the run's events as JSON Lines on stdout, human text on stderr");
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
  if (!all_ && !setup.OpenFiles(link_, &error)) {
    std::cerr << error << '\n';
    return kExitUsage;
  }
  if (all_) return FlashEvery(datFile, setup, options);
  if (!setup.Install(link_, options.deviceBackend, options.sharedFolder, &error)) {
    std::cerr << error << '\n';
    return kExitUsage;
  }
  HidDevice& link = HidDevice::Instance();
  // A chosen keyboard is checked first: a wrong path must not cost the work files.
  HidDevice::SelectPath(devicePath_);
  std::vector<HidDeviceInfo> keyboards;
  if (!devicePath_.empty()) {
    for (const HidDeviceInfo& entry : link.ListDevices()) {
      if (entry.path == devicePath_) keyboards.push_back(entry);
    }
    if (keyboards.empty()) {
      std::cerr << "No keyboard with the configured IDs at " << devicePath_
                << " (vortan-flash devices --list shows them)\n";
      return kExitNoSingleDevice;
    }
  }
  if (!OpenPackage(datFile, packagePath_)) return kExitPackageRefused;
  if (!setup.Fit(datFile, &error)) {
    std::cerr << error << '\n';
    return kExitUsage;
  }
  if (devicePath_.empty()) {
    // A wait that ends without the one device has already shown why.
    if (!WaitIfAsked(wait_, [&datFile](int count) {
          return count > 1 ? std::string(kTextMoreThanOneDevice) : datFile.GetNoDeviceText();
        })) {
      return kExitNoSingleDevice;
    }
    keyboards = link.ListDevices();
    if (keyboards.size() != 1) {
      std::cerr << (keyboards.size() > 1 ? std::string(kTextMoreThanOneDevice)
                                         : datFile.GetNoDeviceText())
                << '\n';
      return kExitNoSingleDevice;
    }
  }
  const KeyboardName keyboard{keyboards.front().path, keyboards.front().serial};
  // Refused before the first report, so two updates never interleave their commands.
  if (!link.Claim()) {
    std::cerr << (link.LastOpenBusy()
                      ? link.LastOpenError() + "\n"
                      : OpenFailureText(link.LastOpenError(), link.LastOpenDeniedPermission(),
                                        HidDevice::Vid(), HidDevice::Pid()));
    return kExitNoSingleDevice;
  }

  PackageSteps steps(datFile);
  const int32_t total = steps.TotalStepCount();
  std::ostream& human = json_ ? std::cerr : std::cout;
  human << "Updating " << datFile.GetProductModel() << " to firmware "
        << datFile.GetFirmwareVersion() << " in " << total << " steps" << std::endl;
  if (json_) std::cout << JsonLine(StartEvent(keyboard, datFile, total)) << std::endl;
  ProgressDisplay display(std::cerr, ::isatty(STDERR_FILENO) == 1, total);
  LogSink outsideRun;
  if (verbose_) outsideRun = SetLogSink([&display](std::string_view line) { display.Log(line); });
  if (options.stops && !options.stops->BeginRun()) {
    if (verbose_) SetLogSink(outsideRun);
    return ExitStatusOfSignal(options.stops->StopSignal());
  }
  int32_t lastDone = -1;
  const bool success = RunUpdate(steps, [&](int32_t value) {
    display.Show(value);
    if (value < 0) return;
    lastDone = value;
    if (json_) std::cout << JsonLine(StepEvent(keyboard, value, total)) << std::endl;
  });
  if (options.stops) options.stops->EndRun();
  if (verbose_) SetLogSink(outsideRun);

  setup.ReportUnfiredFaults(keyboard, json_);
  const std::string reason = success ? "" : FailureReason(link, lastDone, total);
  if (json_) std::cout << JsonLine(EndEvent(keyboard, success, reason)) << std::endl;
  if (success) {
    human << kTextSuccess << std::endl;
    return kExitSuccess;
  }
  std::cerr << kTextFailure << '\n';
  if (options.stops && options.stops->CutOff()) return ExitStatusOfSignal(SIGINT);
  // The run opens the link itself; when that is what failed, the user needs the reason more
  // than the bare outcome.
  if (!link.LastOpenError().empty() || link.LastOpenDeniedPermission()) {
    std::cerr << OpenFailureText(link.LastOpenError(), link.LastOpenDeniedPermission(),
                                 HidDevice::Vid(), HidDevice::Pid());
  }
  return kExitUpdateFailed;
}

int FlashCommand::FlashEvery(DatFileExamine& datFile, DeviceLinkSetup& setup,
                             const GlobalOptions& options) const {
  // The parent only lists the keyboards: the children write the traces.
  DeviceLinkOptions listing = link_;
  listing.tracePath.clear();
  std::string error;
  if (!setup.Install(listing, options.deviceBackend, options.sharedFolder, &error)) {
    std::cerr << error << '\n';
    return kExitUsage;
  }
  // Examined once here, so that a refused package reaches no keyboard; each child examines it
  // again for its own work files, so these go at once.
  const bool ready = OpenPackage(datFile, packagePath_);
  datFile.DeleteTempFiles();
  if (!ready) return kExitPackageRefused;
  const std::vector<HidDeviceInfo> keyboards = HidDevice::Instance().ListDevices();
  if (keyboards.empty()) {
    std::cerr << datFile.GetNoDeviceText() << '\n';
    return kExitNoSingleDevice;
  }

  ParallelFlashPlan plan;
  plan.json = json_;
  plan.terminal = ::isatty(STDERR_FILENO) == 1 && !verbose_;
  plan.stops = options.stops;
  for (size_t i = 0; i < keyboards.size(); ++i) {
    std::vector<std::string> args = options.forwardedArgs;
    args.insert(args.end(), {"flash", packagePath_, "--device", keyboards[i].path, "--json"});
    if (verbose_) args.push_back("-v");
    if (link_.Simulated()) {
      args.insert(args.end(), {"--simulate-devices", std::to_string(link_.SimulatedDeviceCount())});
      if (!link_.faultScriptPath.empty()) {
        args.insert(args.end(), {"--simulate-faults", link_.faultScriptPath});
      }
      if (link_.simulateDenied) args.push_back("--simulate-denied");
    }
    if (!link_.tracePath.empty()) {
      args.insert(args.end(), {"--trace", link_.tracePath + "." + std::to_string(i)});
    }
    plan.keyboards.push_back({{keyboards[i].path, keyboards[i].serial}, std::move(args)});
  }
  return FlashInParallel(plan);
}

}  // namespace vortan::cli
