// SPDX-License-Identifier: Apache-2.0
#pragma once
// Why something failed and what the user can do next, in the words both the window and
// vortan-flash use: the open refusal with the udev rule, the step that failed and what it was
// doing, and how to try again. Every function returns its text; none prints.
#include <cstdint>
#include <string>

namespace vortan {

class DatFileExamine;
class HidDevice;

// The rule shipped in the source tree and where it is installed.
inline constexpr char kUdevRuleFile[] = "packaging/70-vortan-updater.rules";
inline constexpr char kUdevRuleInstallPath[] = "/etc/udev/rules.d/70-vortan-updater.rules";

// The one-line udev rule for the link's IDs (low 16 bits each, lower-case hex as sysfs shows
// them). An ID of 0 matches any device on the link, so the rule then leaves that attribute out.
std::string UdevRuleLine(uint32_t vid, uint32_t pid);

// Several lines, each ending in '\n': "The device cannot be opened: <reason>" and, when
// `deniedPermission`, the install commands and the rule for the configured IDs.
std::string OpenFailureText(const std::string& reason, bool deniedPermission, uint32_t vid,
                            uint32_t pid);

// The one line that says why a run failed: the first line of OpenFailureText when the link's
// last open failed, else "Step <lastDone + 2> of <total> failed" (lastDone: the index of the
// last completed step, -1 for none), followed by ": <thrown>" when an exception with that reason
// ended the run.
std::string RunFailureReason(const HidDevice& link, int32_t lastDone, int32_t total,
                             const std::string& thrown = {});

// What global step `index` of the ready `package` does, e.g. "writing block 3 of data pack 1";
// empty when the index lies outside the plan.
std::string StepActivity(const DatFileExamine& package, uint32_t index);

// The package's key names as the status text quotes them ("\"Fn\" + \"Esc\""), by the status
// text's rules; empty when the package names no key.
std::string KeysToOpen(const DatFileExamine& package);

// How the user tries again, ending the next-step line: the window's button, or vortan-flash.
inline constexpr char kRetryInWindow[] = "press Update to try again";
inline constexpr char kRetryOnCommandLine[] = "run the same vortan-flash command again";

// One line on what to do after a failed run: nothing was written when no step completed;
// otherwise the keyboard may stay in its loader, so reopen it (the package's keys) and `retry`.
std::string RunFailureNextStep(const DatFileExamine& package, int32_t lastDone,
                               const std::string& retry = kRetryInWindow);

// The details of a failed run, lines ending in '\n': the step that failed, what it was doing
// and, when an exception ended the run, its text (or, when the open was refused, the whole
// OpenFailureText with the udev rule), then RunFailureNextStep. The run must have ended, so the
// link is no longer in use. One text for the window and vortan-flash.
std::string RunFailureDetails(const HidDevice& link, const DatFileExamine& package,
                              int32_t lastDone, const std::string& thrown = {},
                              const std::string& retry = kRetryInWindow);

}  // namespace vortan
