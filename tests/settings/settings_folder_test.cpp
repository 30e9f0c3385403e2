#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "settings/settings.h"
#include "support/test_support.h"

namespace zavo {
namespace {

struct FolderCase {
  const char* what;
  bool program_folder_writable;
  const char* config_home;      // XDG_CONFIG_HOME, relative to the scratch folder; nullptr: unset
  const char* settings_folder;  // expected, relative to the scratch folder; "": none
};

class SettingsFolderTable : public ::testing::TestWithParam<FolderCase> {};

// The choice is made as an ordinary user, for whom a folder's permissions
// hold; the scratch folder holds the program folder "app", the home "home"
// and a file "file" under which no folder can be made.
TEST_P(SettingsFolderTable, ChoosesWhereTheSettingsLive) {
  const FolderCase& c = GetParam();
  testing::TempDir dir;
  const std::string root = dir.path().string() + "/";
  std::filesystem::create_directories(root + "app");
  std::filesystem::create_directories(root + "home");
  testing::WriteText(root + "file", "");
  testing::OpenToOrdinaryUser(root, true);
  testing::OpenToOrdinaryUser(root + "home", true);
  testing::OpenToOrdinaryUser(root + "app", c.program_folder_writable);
  const auto body = [&] {
    ::setenv("HOME", (root + "home").c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    if (c.config_home != nullptr) {
      const std::string config = c.config_home;
      ::setenv("XDG_CONFIG_HOME",
               (config.starts_with('/') ? root + config.substr(1) : config).c_str(), 1);
    }
    const SettingsFiles files = LocateSettings(root + "app/");
    EXPECT_EQ(files.template_path, root + "app/DEF_ZAVO.CNF");
    const std::string expected = c.settings_folder;
    EXPECT_EQ(files.folder, expected.empty() ? "" : root + expected);
    EXPECT_EQ(files.unavailable.empty(), !expected.empty()) << files.unavailable;
    if (!expected.empty()) {
      EXPECT_TRUE(std::filesystem::is_directory(root + expected));
    }
  };
  EXPECT_TRUE(testing::RunInChild(body, true)) << c.what;
}

// A leading "/" marks a path inside the scratch folder.
const FolderCase kFolderCases[] = {
    {"writable program folder", true, "/config", "app/"},
    {"read-only, XDG_CONFIG_HOME unset", false, nullptr, "home/.config/zavo/"},
    {"read-only, XDG_CONFIG_HOME set", false, "/config", "config/zavo/"},
    {"read-only, XDG_CONFIG_HOME relative (ignored)", false, "config", "home/.config/zavo/"},
    {"read-only, XDG_CONFIG_HOME empty (ignored)", false, "", "home/.config/zavo/"},
    {"read-only, config folder cannot be made", false, "/file/config", ""},
};

INSTANTIATE_TEST_SUITE_P(SettingsFolder, SettingsFolderTable, ::testing::ValuesIn(kFolderCases));

}  // namespace
}  // namespace zavo
