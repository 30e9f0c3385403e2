// The one error type of the add-in: a kind and a message that names the
// format, the defect and the file. It travels as a value inside Result<T>
// and, where nothing can go on, as an exception to the run-time report.
#pragma once

#include <exception>
#include <string>
#include <utility>
#include <variant>

namespace zavo {

enum class ErrorKind {
  Malformed,     // the file breaks its format's rules
  Unsupported,   // a valid file in a variant we do not read
  Truncated,     // the data ends before the format says it should
  TooLarge,      // beyond the size limits
  Io,            // the operating system refused a read, write or rename
  InvalidValue,  // a control or setting refused a value
  Overflow,      // a number outside its integer type
  Internal,      // a broken invariant of our own
};

class Error : public std::exception {
 public:
  Error(ErrorKind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

  ErrorKind kind() const { return kind_; }
  const std::string& message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  ErrorKind kind_;
  std::string message_;
};

// A value or the Error that prevented it.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}
  Result(Error error) : state_(std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const Error& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)), ok_(false) {}

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  const Error& error() const { return error_; }

 private:
  Error error_{ErrorKind::Internal, ""};
  bool ok_ = true;
};

// Propagates the error of an expression that yields a Result.
#define ZAVO_TRY(expr)                                      \
  do {                                                      \
    auto zavo_try_result_ = (expr);                         \
    if (!zavo_try_result_) return zavo_try_result_.error(); \
  } while (0)

// Propagates the error of an expression that yields a Result<T>, or moves
// its value into `target`, a declaration such as `Image image`:
//   ZAVO_TRY_ASSIGN(Image image, Image::Create(w, h, format, name));
#define ZAVO_TRY_ASSIGN(target, expr) \
  ZAVO_TRY_ASSIGN_WITH(ZAVO_TRY_JOIN(zavo_try_value_, __LINE__), target, expr)
#define ZAVO_TRY_ASSIGN_WITH(result, target, expr) \
  auto result = (expr);                            \
  if (!result) return result.error();              \
  target = std::move(result).value()
#define ZAVO_TRY_JOIN(a, b) ZAVO_TRY_JOIN_AGAIN(a, b)
#define ZAVO_TRY_JOIN_AGAIN(a, b) a##b

}  // namespace zavo
