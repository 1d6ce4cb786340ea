// SPDX-License-Identifier: Apache-2.0
#include "config/ini_config.h"

#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

#include "util/byte_text.h"
#include "util/regular_file.h"
#include "util/utf8_text.h"

namespace vortan {
namespace {

struct InstanceState {
  std::mutex mutex;
  std::optional<std::string> path;
  IniConfig* instance = nullptr;
};

InstanceState& State() {
  static InstanceState state;
  return state;
}

}  // namespace

IniConfig::IniConfig(const std::string& path) {
  ByteBuffer bytes;
  if (!ReadRegularFile(path, kMaxFileBytes, bytes)) return;
  const std::string_view text = SkipByteOrderMark(AsText(bytes));
  if (!IsValidUtf8(text)) return;
  ParseText(text);
}

void IniConfig::ParseText(std::string_view text) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = TrimSpace(text.substr(start, end - start));
    start = end + 1;

    line = line.substr(0, line.find(';'));
    const size_t eq = line.find('=');
    // Tested before the key and value are trimmed: "KEY= ;note" stores an empty value while
    // "KEY=" is skipped.
    if (eq == std::string_view::npos || eq == 0 || eq + 1 == line.size()) continue;
    _configDic[std::string(TrimSpace(line.substr(0, eq)))] =
        std::string(TrimSpace(line.substr(eq + 1)));
  }
}

IniConfig& IniConfig::instance() {
  InstanceState& state = State();
  std::lock_guard lock(state.mutex);
  if (state.instance == nullptr) {
    // Lives until the process ends, like the settings it holds.
    state.instance = new IniConfig(state.path ? *state.path : DefaultPath());
    if (!state.path) state.path = DefaultPath();
  }
  return *state.instance;
}

std::string IniConfig::getValueByKey(const std::string& key, const std::string& defaultValue) {
  return instance()._getValueByKey(key, defaultValue);
}

std::string IniConfig::_getValueByKey(const std::string& key,
                                      const std::string& defaultValue) const {
  const auto it = _configDic.find(key);
  return it == _configDic.end() ? defaultValue : it->second;
}

bool IniConfig::UsePath(const std::string& path) {
  InstanceState& state = State();
  std::lock_guard lock(state.mutex);
  if (state.instance != nullptr) return false;
  state.path = path;
  return true;
}

std::string IniConfig::ConfigPath() {
  InstanceState& state = State();
  std::lock_guard lock(state.mutex);
  return state.path ? *state.path : DefaultPath();
}

std::string IniConfig::DefaultPath() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return kConfigFileName;
  return (exe.parent_path() / kConfigFileName).string();
}

}  // namespace vortan
