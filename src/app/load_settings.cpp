// SPDX-License-Identifier: Apache-2.0
#include "app/load_settings.h"

#include <cstdlib>

#include "config/ini_config.h"
#include "link/hid_device.h"

namespace vortan {

uint32_t HexSettingValue(const std::string& text) {
  return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 16));
}

Settings LoadSettings(const std::function<void(const std::string& title)>& setTitle) {
  Settings settings;
  settings.vid = HexSettingValue(IniConfig::getValueByKey(kKeyVid, kDefaultVid));
  settings.pid = HexSettingValue(IniConfig::getValueByKey(kKeyPid, kDefaultPid));
  settings.caption = IniConfig::getValueByKey(kKeyCaption, kDefaultCaption);
  HidDevice::SetIds(settings.vid, settings.pid);
  if (setTitle) setTitle(settings.caption);
  return settings;
}

}  // namespace vortan
