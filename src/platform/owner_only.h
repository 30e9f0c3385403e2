// Files and folders that no one but their owner may change, owned by root or
// the effective user: the only ones whose contents this program trusts, as
// OpenSSH (StrictModes) and GnuPG judge theirs. Whoever else may write in a
// folder may put anything under any name there.
#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/error.h"

namespace zavo {

// Passes when `st`, of what `name` names in the message, is owned by root or
// the effective user and writable by neither its group nor others.
Result<void> CheckOwnerOnly(const struct stat& st, const std::string& name);

// The same for the folder at `folder` ("the folder ... is owned by user
// 1001"), or why it cannot be examined.
Result<void> CheckFolderOwnerOnly(const std::string& folder);

}  // namespace zavo
