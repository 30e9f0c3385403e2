// The report of an error nothing could handle: the error number and its
// description, as the user of the old add-in knew them.
#pragma once

#include <string>

#include "platform/error.h"

namespace zavo {

int RuntimeErrorNumber(ErrorKind kind);
std::string RuntimeErrorDescription(ErrorKind kind);
// "Run-time error '6':\n\nOverflow\n<message>"
std::string RuntimeErrorReport(const Error& error);

}  // namespace zavo
