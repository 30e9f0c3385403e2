// What `zavo --help` and `zavo --version` print; the man page docs/zavo.1
// says the same at length (tests/gui/package_test.sh holds them together).
#pragma once

#include <string>

namespace zavo {

std::string HelpText();
std::string VersionText();

}  // namespace zavo
