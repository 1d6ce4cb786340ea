// SPDX-License-Identifier: Apache-2.0
#include "config/ini_config.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "app/load_settings.h"
#include "link/hid_device.h"
#include "support/temp_dir.h"

namespace vortan {
namespace {

struct Applied {
  uint32_t vid;
  uint32_t pid;
  std::string caption;
};

// Reads the settings file at `path` and converts its values as LoadSettings does.
Applied SettingsAt(const std::string& path) {
  const IniConfig config(path);
  return {HexSettingValue(config._getValueByKey(kKeyVid, kDefaultVid)),
          HexSettingValue(config._getValueByKey(kKeyPid, kDefaultPid)),
          config._getValueByKey(kKeyCaption, kDefaultCaption)};
}

Applied SettingsFrom(const testing::TempDir& dir, std::string_view text) {
  EXPECT_TRUE(testing::WriteText(dir.File("Config.ini"), text));
  return SettingsAt(dir.File("Config.ini"));
}

TEST(IniConfigTest, FileLinesTakeEffectAsTheSettingsTableSays) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"IDC_PID = 0x5678 ; board B", 0x5678},
      {"IDC_PID=5678", 0x5678},
      {"IDC_PID=0x12345", 0x12345},  // stored whole; the link takes the low 16 bits
      {"IDC_PID=", 0x1234},
      {"IDC_PID= ; none", 0},  // an empty value is stored and converts to 0
      {"IDC_PID=;none", 0x1234},
      {"=0x5678", 0x1234},
      {"idc_pid=0x5678", 0x1234},
      {"[Device]\nIDC_PID=0x5678", 0x5678},
      {"IDC_PID=0x1111\r\nIDC_PID=0x2222\r\n", 0x2222},
      {"  IDC_PID\t=\t0x00AB  \r\n", 0xAB},
      {"IDC_PID=zz", 0},
      {"; IDC_PID=0x5678", 0x1234},
      {"IDC_PID 0x5678", 0x1234},
      {"IDC_PID=0x5678\xFF", 0x1234},          // not valid UTF-8: the whole file is ignored
      {"\xEF\xBB\xBFIDC_PID=0x5678", 0x5678},  // a byte-order mark made the first key unknown
  };
  testing::TempDir dir;
  for (const auto& [text, pid] : cases) {
    EXPECT_EQ(SettingsFrom(dir, text).pid, pid) << ::testing::PrintToString(text);
  }
  EXPECT_EQ(SettingsFrom(dir, "IDS_STRING_CAPTION =  Board B; rev 2 \n").caption, "Board B");
  EXPECT_EQ(SettingsFrom(dir, "IDS_STRING_CAPTION=A=B\n").caption, "A=B");
}

TEST(IniConfigTest, MissingOrUnreadableFileGivesTheDefaults) {
  testing::TempDir dir;
  std::filesystem::create_directory(dir.path() / "folder");
  for (const std::string& path : {dir.File("absent.ini"), dir.File("folder")}) {
    const Applied applied = SettingsAt(path);
    EXPECT_EQ(applied.vid, 0xF1A5u);
    EXPECT_EQ(applied.pid, 0x1234u);
    EXPECT_EQ(applied.caption, "VORTAN KB 25 Firmware Update");
  }
}

TEST(IniConfigTest, HexValuesReadAsStrtoulBase16) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"0x5678", 0x5678}, {"0X5678", 0x5678}, {" \t0x1a", 0x1A}, {"12G4", 0x12}, {"", 0},
      {"0x", 0},          {"G", 0},           {"F1A5", 0xF1A5},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(HexSettingValue(text), value) << text;
}

TEST(IniConfigTest, DefaultFileLiesBesideTheRunningProgram) {
  const std::filesystem::path path = IniConfig::DefaultPath();
  EXPECT_EQ(path.filename(), "Config.ini");
  EXPECT_TRUE(std::filesystem::exists(path.parent_path() / program_invocation_short_name));
}

// The one test that makes the process-wide instance: UsePath must be honoured on first use.
TEST(IniConfigTest, LoadSettingsReadsTheChosenFileOnceAndAppliesIt) {
  testing::TempDir dir;
  const std::string path = dir.File("Config.ini");
  ASSERT_TRUE(testing::WriteText(path, "IDC_VID=0x0483\nIDC_PID=0x5750\nIDS_STRING_CAPTION=KB\n"));
  ASSERT_TRUE(IniConfig::UsePath(path));
  std::string title;
  const Settings applied = LoadSettings([&](const std::string& t) { title = t; });
  EXPECT_EQ(title, "KB");
  EXPECT_EQ(applied.vid, 0x0483u);
  EXPECT_EQ(HidDevice::Vid(), 0x0483u);
  EXPECT_EQ(HidDevice::Pid(), 0x5750u);
  // Read once: later edits and later paths change nothing.
  ASSERT_TRUE(testing::WriteText(path, "IDC_VID=0x1111\n"));
  EXPECT_FALSE(IniConfig::UsePath(dir.File("other.ini")));
  EXPECT_EQ(IniConfig::getValueByKey(kKeyVid, kDefaultVid), "0x0483");
}

}  // namespace
}  // namespace vortan
