// SPDX-License-Identifier: Apache-2.0
#pragma once
// The device status text: what the window's status field and every vortan-flash command say of
// the number of attached devices with the configured IDs.
#include <string>

namespace vortan {

class DatFileExamine;

// The status for `count` attached devices: two or more, "More than one device! Remove some
// devices"; none, the package's GetNoDeviceText (the keys that open the loader); exactly one,
// "Device connected. Press "Update"", or "Device connected (Open dat file first)" when
// `package` is not ready, since no update can start then. A null `package` stands for a command
// that counts without one (`devices`): one device is then simply connected, and none gives the
// no-device text of a package object holding no package.
std::string DeviceStatusText(int count, const DatFileExamine* package);

}  // namespace vortan
