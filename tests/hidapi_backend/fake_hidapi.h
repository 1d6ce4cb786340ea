// SPDX-License-Identifier: Apache-2.0
#pragma once
// Control side of the hidapi stand-in: the emulator behind its hid_* functions and the log of
// the calls they received.
#include <string>
#include <vector>

#include "emulator/emulator.h"

namespace vortan::fakehid {

// The emulator every hid_* function talks to.
emu::Emulator& Backend();
// Starts afresh: a new emulator with no devices and an empty call log.
void Reset();
// Gives each listed device a path: a file "hidrawN" (N its attach index) made in `folder`, so the
// backend's device lock has a node to lock. Empty (the default after Reset): no paths.
void SetDeviceFolder(const std::string& folder);
// Makes every hid_read_timeout first wait `ms` in poll(), and fail as hidapi's hidraw read does
// when that poll() is interrupted (EINTR). 0 after Reset.
void SetReadWait(int ms);
// One line per hid_* call, in order, e.g. "hid_enumerate 3151 4002", "hid_write 64",
// "hid_read_timeout 64 10000", "hid_close", "hid_exit".
const std::vector<std::string>& Calls();

}  // namespace vortan::fakehid
