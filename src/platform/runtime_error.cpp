#include "platform/runtime_error.h"

namespace zavo {

int RuntimeErrorNumber(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::Overflow:
      return 6;
    case ErrorKind::TooLarge:
      return 7;
    case ErrorKind::InvalidValue:
      return 380;
    case ErrorKind::Io:
      return 75;
    case ErrorKind::Truncated:
      return 62;
    case ErrorKind::Malformed:
    case ErrorKind::Unsupported:
    case ErrorKind::Internal:
      break;
  }
  return 51;
}

std::string RuntimeErrorDescription(ErrorKind kind) {
  switch (RuntimeErrorNumber(kind)) {
    case 6:
      return "Overflow";
    case 7:
      return "Out of memory";
    case 380:
      return "Invalid property value";
    case 75:
      return "Path/File access error";
    case 62:
      return "Input past end of file";
    default:
      return "Internal error";
  }
}

std::string RuntimeErrorReport(const Error& error) {
  std::string report = "Run-time error '" + std::to_string(RuntimeErrorNumber(error.kind())) +
                       "':\n\n" + RuntimeErrorDescription(error.kind());
  if (!error.message().empty()) report += "\n" + error.message();
  return report;
}

}  // namespace zavo
