// Where an exception may go no further (the entry points of a module, the
// callbacks of a C library or of the toolkit) it is caught whole and later
// becomes the add-in's one error type, for the run-time error report.
#pragma once

#include <exception>

#include "platform/error.h"

namespace zavo {

// The error an exception stands for: an Error as it is, running out of
// memory as TooLarge, anything else as Internal with its text. Throws
// nothing: without memory even for the text, it is TooLarge without one.
Error ErrorOfException(const std::exception_ptr& exception) noexcept;

}  // namespace zavo
