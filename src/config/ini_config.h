// SPDX-License-Identifier: Apache-2.0
#pragma once
// The settings file "Config.ini": key = value lines read once into a dictionary. There are no
// sections; ";" starts a comment; a later line replaces an earlier value of the same key; keys
// compare exactly, case included. A file that is missing, unreadable or not valid UTF-8 gives an
// empty dictionary, so every lookup yields its default. Nothing is reported.
#include <map>
#include <string>
#include <string_view>

namespace vortan {

// The settings keys and their defaults.
inline constexpr char kKeyVid[] = "IDC_VID";
inline constexpr char kKeyPid[] = "IDC_PID";
inline constexpr char kKeyCaption[] = "IDS_STRING_CAPTION";
inline constexpr char kDefaultVid[] = "0xF1A5";
inline constexpr char kDefaultPid[] = "0x1234";
inline constexpr char kDefaultCaption[] = "VORTAN KB 25 Firmware Update";
inline constexpr char kConfigFileName[] = "Config.ini";

class IniConfig {
 public:
  // Larger files are not settings files; they are treated as unreadable.
  static constexpr uint64_t kMaxFileBytes = 1 << 20;

  // An empty dictionary.
  IniConfig() = default;
  // Reads the file at `path` (see above).
  explicit IniConfig(const std::string& path);

  // The one process-wide instance, made on first use from ConfigPath() and never destroyed.
  static IniConfig& instance();
  // instance()._getValueByKey(key, defaultValue).
  static std::string getValueByKey(const std::string& key, const std::string& defaultValue);
  // The value the file gave under `key`, or `defaultValue` when it gave none.
  std::string _getValueByKey(const std::string& key, const std::string& defaultValue) const;

  // Makes instance() read `path` instead of the file beside the program (a program's
  // `--config FILE`). False, changing nothing, once instance() has been made.
  static bool UsePath(const std::string& path);
  // The file instance() reads (or has read): the path given to UsePath, else DefaultPath().
  static std::string ConfigPath();
  // "Config.ini" in the folder of the running executable (/proc/self/exe); just the file name,
  // relative to the working folder, if the executable's path cannot be read.
  static std::string DefaultPath();

 private:
  void ParseText(std::string_view text);

  std::map<std::string, std::string> _configDic;
};

}  // namespace vortan
