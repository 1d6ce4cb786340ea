// SPDX-License-Identifier: Apache-2.0
#pragma once
// The idle window's device watch: how often the real vortan-updater wakes while no keyboard
// comes or goes, and how soon a keyboard plugged into (or pulled from) a umockdev test bed makes
// the hidapi backend's change descriptor readable.
#include <string>

namespace vortan::bench {

struct IdleWakeups {
  bool ok = false;
  std::string error;
  double perSecond = 0;  // context switches of all its threads, voluntary and not
};
// Starts `program --simulate` on Qt's offscreen platform with its runtime and data folders in
// the scratch folder, lets it settle for 3 s, then counts its context switches over `seconds`
// (from /proc/PID/task/*/status), and stops it.
IdleWakeups MeasureIdleWakeups(const std::string& program, int seconds);

struct NoticeLatency {
  bool ok = false;
  std::string error;
  double plugMs = 0;  // medians, from the start of the plug (an upper bound of the uevent's)
  double unplugMs = 0;
};
NoticeLatency MeasureNoticeLatency(int rounds);
// `vortan_bench --device-notice ROUNDS`, run under umockdev-wrapper by MeasureNoticeLatency,
// measures in the test bed and prints the numbers on one line.
inline constexpr char kNoticeHelperFlag[] = "--device-notice";
int NoticeHelper(int rounds);

}  // namespace vortan::bench
