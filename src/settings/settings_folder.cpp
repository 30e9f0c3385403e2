// LocateSettings: the settings live beside the executable as long as the user
// may write there and it is no system folder; an installation under /usr is
// the package manager's, not the user's (not even root's), so each user then
// keeps the settings in a config folder of their own.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/owner_only.h"
#include "settings/settings.h"

namespace zavo {
namespace {

bool MayWriteIn(const std::string& folder) {
  return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

// A package manager owns these trees: a file the program made there would
// outlive the package's removal.
bool IsSystemFolder(const std::string& folder) {
  for (const char* tree : {"/usr/", "/bin/", "/sbin/", "/lib/", "/lib32/", "/lib64/", "/libx32/"}) {
    if (folder.starts_with(tree)) return true;
  }
  return false;
}

// A relative path in these variables is invalid and is ignored, as the XDG
// base directory rules ask.
std::string AbsoluteEnvironmentPath(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? value : "";
}

std::string ConfigHome() {
  std::string config = AbsoluteEnvironmentPath("XDG_CONFIG_HOME");
  if (!config.empty()) return config;
  std::string home = AbsoluteEnvironmentPath("HOME");
  if (home.empty()) {
    const passwd* user = ::getpwuid(::geteuid());
    if (user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/') home = user->pw_dir;
  }
  return home.empty() ? "" : home + "/.config";
}

// Creates `folder` and any missing parents, private to the user as config
// folders are. Empty on success, else the reason: an existing folder must be
// safe as well as writable.
std::string MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    struct stat st {};
    if (::stat(part.c_str(), &st) != 0 && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      return "cannot create " + part + ": " + std::strerror(errno);
    }
    if (slash == std::string::npos) break;
  }
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return folder + " is no folder";
  // Whoever else may write in it may put a link or a file of their own
  // under the settings' names.
  if (const Result<void> mine = CheckFolderOwnerOnly(folder); !mine) return mine.error().message();
  if (!MayWriteIn(folder)) return "cannot write in " + folder + ": " + std::strerror(errno);
  return "";
}

}  // namespace

SettingsFiles SettingsFiles::InFolder(const std::string& folder) {
  return {folder + kTemplateFileName, folder, "", ""};
}

SettingsFiles LocateSettings(const std::string& app_folder) {
  SettingsFiles files = SettingsFiles::InFolder(app_folder);
  if (!IsSystemFolder(app_folder) && MayWriteIn(app_folder)) {
    if (const Result<void> mine = CheckFolderOwnerOnly(app_folder); !mine) {
      files.unavailable = mine.error().message();
      files.folder.clear();
    }
    return files;
  }
  files.program_settings_path = app_folder + kSettingsFileName;
  const std::string config = ConfigHome();
  if (config.empty()) {
    files.folder.clear();
    files.unavailable = "no settings folder: neither XDG_CONFIG_HOME nor a home folder is known";
    return files;
  }
  files.folder = config + "/zavo";
  files.unavailable = MakeFolders(files.folder);
  if (!files.unavailable.empty()) files.folder.clear();
  if (!files.folder.empty()) files.folder += '/';
  return files;
}

}  // namespace zavo
