// What `zavo --help` and `zavo --version` print; the man page is made from
// the same text.
#pragma once

#include <string>

namespace zavo {

std::string HelpText();
std::string VersionText();

}  // namespace zavo
