// SPDX-License-Identifier: Apache-2.0
#include "cli/flash_command.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>

#include "app/device_status_text.h"
#include "app/failure_texts.h"
#include "app/package_steps.h"
#include "app/update_run.h"
#include "app/user_texts.h"
#include "cli/exit_codes.h"
#include "cli/package_opening.h"
#include "cli/parallel_flash.h"
#include "cli/reporter.h"
#include "cli/stop_requests.h"
#include "cli/trace_file.h"
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
  // Chosen once for the command. With --all --verbose the children's log lines would tear a
  // table drawn in place, so they are shown as lines instead.
  const std::unique_ptr<Reporter> reporter =
      MakeReporter(json_, ::isatty(STDERR_FILENO) == 1 && !(all_ && verbose_));
  if (all_) return FlashEvery(datFile, setup, options, *reporter);
  // Before the package writes its work files: a trace path or fault script that is no regular
  // file ends the command first.
  std::string error;
  if (!setup.Install(link_, options.deviceBackend, options.sharedFolder, &error)) {
    std::cerr << error << '\n';
    return kExitUsage;
  }
  std::vector<HidDeviceInfo> keyboards;
  int status = ChooseNamedKeyboard(keyboards);
  if (status == kExitSuccess) status = OpenAndFit(datFile, setup);
  if (status == kExitSuccess && devicePath_.empty()) {
    status = WaitForOneKeyboard(datFile, options, keyboards);
  }
  if (status != kExitSuccess) return status;
  return ClaimAndRun(datFile, setup, {keyboards.front().path, keyboards.front().serial}, options,
                     *reporter);
}

int FlashCommand::ChooseNamedKeyboard(std::vector<HidDeviceInfo>& keyboards) const {
  // A chosen keyboard is checked first: a wrong path must not cost the work files.
  HidDevice::SelectPath(devicePath_);
  if (devicePath_.empty()) return kExitSuccess;
  for (const HidDeviceInfo& entry : HidDevice::Instance().ListDevices()) {
    if (entry.path == devicePath_) keyboards.push_back(entry);
  }
  if (!keyboards.empty()) return kExitSuccess;
  std::cerr << "No keyboard with the configured IDs at " << devicePath_
            << " (vortan-flash devices --list shows them)\n";
  return kExitNoSingleDevice;
}

int FlashCommand::OpenAndFit(DatFileExamine& datFile, DeviceLinkSetup& setup) const {
  if (!OpenPackage(datFile, packagePath_)) return kExitPackageRefused;
  std::string error;
  if (setup.Fit(datFile, &error)) return kExitSuccess;
  std::cerr << error << '\n';
  return kExitUsage;
}

int FlashCommand::WaitForOneKeyboard(const DatFileExamine& datFile, const GlobalOptions& options,
                                     std::vector<HidDeviceInfo>& keyboards) const {
  const bool waited = WaitIfAsked(
      wait_, [&datFile](int count) { return DeviceStatusText(count, &datFile); },
      options.stops ? options.stops->StopFd() : -1);
  if (options.stops && options.stops->StopSignal()) {
    return ExitStatusOfSignal(options.stops->StopSignal());
  }
  // A wait that ends without the one device has already shown why.
  if (!waited) return kExitNoSingleDevice;
  // Counted per entry as the link's open counts (an interface hidapi lists once per
  // collection is more than one device here); the list only names the keyboard.
  HidDevice& link = HidDevice::Instance();
  const int count = link.CountDevices();
  keyboards = link.ListDevices();
  if (count == 1 && !keyboards.empty()) return kExitSuccess;
  std::cerr << DeviceStatusText(keyboards.empty() ? 0 : count, &datFile) << '\n';
  return kExitNoSingleDevice;
}

int FlashCommand::ClaimAndRun(DatFileExamine& datFile, DeviceLinkSetup& setup,
                              const KeyboardName& keyboard, const GlobalOptions& options,
                              Reporter& reporter) const {
  HidDevice& link = HidDevice::Instance();
  // Refused before the first report, so two updates never interleave their commands.
  if (!link.Claim()) {
    std::cerr << (link.LastOpenBusy()
                      ? link.LastOpenError() + "\n"
                      : OpenFailureText(link.LastOpenError(), link.LastOpenDeniedPermission(),
                                        HidDevice::Vid(), HidDevice::Pid()));
    return kExitNoSingleDevice;
  }
  // From here on a stop request no longer ends the program: nothing is said about a run that
  // does not start.
  if (options.stops && !options.stops->BeginRun()) {
    return ExitStatusOfSignal(options.stops->StopSignal());
  }
  const RunOutcome outcome = RunWithProgress(datFile, keyboard, reporter);
  // Whatever signal comes after the last step, the exit status is the run's outcome.
  if (options.stops) options.stops->EndRun();
  setup.ReportUnfiredFaults(keyboard, reporter);
  return Report(datFile, keyboard, outcome, options, reporter);
}

FlashCommand::RunOutcome FlashCommand::RunWithProgress(DatFileExamine& datFile,
                                                       const KeyboardName& keyboard,
                                                       Reporter& reporter) const {
  PackageSteps steps(datFile);
  RunOutcome outcome;
  outcome.total = steps.TotalStepCount();
  reporter.RunStarted(keyboard, datFile, outcome.total);
  LogSink outsideRun;
  if (verbose_) outsideRun = SetLogSink([&reporter](std::string_view line) { reporter.Log(line); });
  outcome.success = RunUpdate(
      steps,
      [&](int32_t value) {
        reporter.Progress(keyboard, value);
        if (value >= 0) outcome.lastDone = value;
      },
      &outcome.thrown);
  if (verbose_) SetLogSink(outsideRun);
  return outcome;
}

int FlashCommand::Report(const DatFileExamine& datFile, const KeyboardName& keyboard,
                         const RunOutcome& outcome, const GlobalOptions& options,
                         Reporter& reporter) const {
  RunEnd end;
  end.success = outcome.success;
  int status = kExitSuccess;
  if (!outcome.success) {
    const HidDevice& link = HidDevice::Instance();
    end.reason = RunFailureReason(link, outcome.lastDone, outcome.total, outcome.thrown);
    // Scripts and repair desks read stderr alone: the window's details, step and advice included.
    end.details =
        RunFailureDetails(link, datFile, outcome.lastDone, outcome.thrown, kRetryOnCommandLine);
    const int cutOff = options.stops ? options.stops->CutOffSignal() : 0;
    status = cutOff ? ExitStatusOfSignal(cutOff) : kExitUpdateFailed;
  }
  reporter.RunEnded(keyboard, end);
  return status;
}

int FlashCommand::FlashEvery(DatFileExamine& datFile, DeviceLinkSetup& setup,
                             const GlobalOptions& options, Reporter& reporter) const {
  // The parent only lists the keyboards: the children write the traces.
  DeviceLinkOptions listing = link_;
  listing.tracePath.clear();
  std::string error;
  if (!setup.Install(listing, options.deviceBackend, options.sharedFolder, &error)) {
    std::cerr << error << '\n';
    return kExitUsage;
  }
  const std::vector<HidDeviceInfo> keyboards = HidDevice::Instance().ListDevices();
  if (!ChildTracesWritable(keyboards.size())) return kExitUsage;
  // Examined once here, so that a refused package reaches no keyboard; each child examines it
  // again for its own work files, so these go at once.
  const bool ready = OpenPackage(datFile, packagePath_);
  datFile.DeleteTempFiles();
  if (!ready) return kExitPackageRefused;
  if (keyboards.empty()) {
    std::cerr << DeviceStatusText(0, &datFile) << '\n';
    return kExitNoSingleDevice;
  }
  return FlashInParallel(ParallelPlan(keyboards, options, reporter));
}

bool FlashCommand::ChildTracesWritable(size_t keyboards) const {
  // As a single flash opens its trace before anything else, each child's is tried here, so that
  // a trace no child could write ends the command before any work (at least one, as a single
  // flash tries its own with no keyboard attached).
  std::string error;
  for (size_t i = 0; !link_.tracePath.empty() && i < std::max<size_t>(keyboards, 1); ++i) {
    TraceFile trace;
    if (!trace.Open(ChildTracePath(i), &error) || !trace.Finish(&error)) {
      std::cerr << error << '\n';
      return false;
    }
  }
  return true;
}

ParallelFlashPlan FlashCommand::ParallelPlan(const std::vector<HidDeviceInfo>& keyboards,
                                             const GlobalOptions& options,
                                             Reporter& reporter) const {
  ParallelFlashPlan plan;
  plan.reporter = &reporter;
  plan.stops = options.stops;
  for (size_t i = 0; i < keyboards.size(); ++i) {
    plan.keyboards.push_back({{keyboards[i].path, keyboards[i].serial},
                              ChildArgs(options.forwardedArgs, keyboards[i].path, i)});
  }
  return plan;
}

std::string FlashCommand::ChildTracePath(size_t keyboard) const {
  return link_.tracePath + "." + std::to_string(keyboard);
}

std::vector<std::string> FlashCommand::ChildArgs(const std::vector<std::string>& globalArgs,
                                                 const std::string& path, size_t keyboard) const {
  // Every value joined to its option and the package after "--": no path or package name that
  // starts with "-" can be read as an option.
  std::vector<std::string> args = globalArgs;
  args.insert(args.end(), {"flash", "--device=" + path, "--json"});
  if (verbose_) args.push_back("--verbose");
  if (link_.Simulated()) {
    args.push_back("--simulate-devices=" + std::to_string(link_.SimulatedDeviceCount()));
    if (!link_.faultScriptPath.empty()) {
      args.push_back("--simulate-faults=" + link_.faultScriptPath);
    }
    if (link_.simulateDenied) args.push_back("--simulate-denied");
  }
  if (!link_.tracePath.empty()) args.push_back("--trace=" + ChildTracePath(keyboard));
  args.insert(args.end(), {"--", packagePath_});
  return args;
}

}  // namespace vortan::cli
