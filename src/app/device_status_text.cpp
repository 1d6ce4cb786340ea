// SPDX-License-Identifier: Apache-2.0
#include "app/device_status_text.h"

#include "app/user_texts.h"
#include "package/dat_file_examine.h"

namespace vortan {

std::string DeviceStatusText(int count, const DatFileExamine* package) {
  if (count >= 2) return kTextMoreThanOneDevice;
  if (count == 1) {
    return package && !package->IsFileReady() ? kTextDeviceConnectedNoPackage
                                              : kTextDeviceConnected;
  }
  return package ? package->GetNoDeviceText() : DatFileExamine().GetNoDeviceText();
}

}  // namespace vortan
