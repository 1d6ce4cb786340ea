#pragma once
// What to tell the user when the one attached device cannot be opened: the library's reason
// and, for a permission refusal, how to install the udev rule that grants the seat's user
// access to the device's hidraw node.
#include <cstdint>
#include <string>

namespace vortan::cli {

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

}  // namespace vortan::cli
