#include "platform/owner_only.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zavo {

Result<void> CheckOwnerOnly(const struct stat& st, const std::string& name) {
  if (st.st_uid != 0 && st.st_uid != ::geteuid()) {
    return Error(ErrorKind::Io, name + " is owned by user " + std::to_string(st.st_uid));
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return Error(ErrorKind::Io, name + " is writable by " +
                                    ((st.st_mode & S_IWOTH) != 0 ? "others" : "its group"));
  }
  return {};
}

Result<void> CheckFolderOwnerOnly(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) {
    return Error(ErrorKind::Io,
                 "cannot examine the folder " + folder + ": " + std::strerror(errno));
  }
  return CheckOwnerOnly(st, "the folder " + folder);
}

}  // namespace zavo
