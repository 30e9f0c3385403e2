#include "platform/caught_error.h"

#include <new>

namespace zavo {
namespace {

Error Translate(const std::exception_ptr& exception) {
  try {
    std::rethrow_exception(exception);
  } catch (const Error& error) {
    return error;
  } catch (const std::bad_alloc&) {
    return Error(ErrorKind::TooLarge, "");
  } catch (const std::exception& error) {
    return Error(ErrorKind::Internal, error.what());
  } catch (...) {
    return Error(ErrorKind::Internal, "an exception that is not a std::exception");
  }
}

}  // namespace

Error ErrorOfException(const std::exception_ptr& exception) noexcept {
  try {
    return Translate(exception);
  } catch (...) {
    return Error(ErrorKind::TooLarge, "");
  }
}

}  // namespace zavo
