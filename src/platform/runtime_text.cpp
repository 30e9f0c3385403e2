#include "platform/runtime_text.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace zavo {
namespace {

bool IsSkippedInNumber(char c) { return c == ' ' || c == '\t' || c == '\n'; }

bool IsUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The old runtime read "1 000" as 1000: the skipped characters do not even
// end the number, so they are simply taken out before reading.
std::string WithoutSkipped(std::string_view text) {
  std::string kept;
  for (const char c : text) {
    if (!IsSkippedInNumber(c)) kept += c;
  }
  return kept;
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

double ReadRadixDigits(std::string_view digits, int radix) {
  double value = 0;
  for (const char c : digits) {
    const int digit = DigitValue(c);
    if (digit < 0 || digit >= radix) break;
    value = value * radix + digit;
  }
  return value;
}

size_t CopyDigits(std::string_view text, size_t at, std::string& out) {
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') out += text[at++];
  return at;
}

// "E", then an optional sign and digits; without digits there is no exponent.
void CopyExponent(std::string_view text, size_t at, std::string& out) {
  if (at >= text.size() || (text[at] != 'E' && text[at] != 'e')) return;
  std::string exponent = "e";
  ++at;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    if (text[at] == '-') exponent += '-';
    ++at;
  }
  if (CopyDigits(text, at, exponent) > at) out += exponent;
}

// The longest start of `text` that is a decimal number, rewritten without a
// "+" sign so that std::from_chars, which ignores the locale, accepts it.
std::string DecimalPrefix(std::string_view text) {
  std::string number;
  size_t at = 0;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    if (text[at] == '-') number += '-';
    ++at;
  }
  const size_t digits_before = number.size();
  at = CopyDigits(text, at, number);
  if (at < text.size() && text[at] == '.') {
    number += '.';
    at = CopyDigits(text, at + 1, number);
  }
  if (number.find_first_of("0123456789", digits_before) == std::string::npos) return "";
  CopyExponent(text, at, number);
  return number;
}

double ReadDecimal(std::string_view text) {
  const std::string number = DecimalPrefix(text);
  if (number.empty()) return 0;
  double value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error == std::errc::result_out_of_range) {
    // Beyond the range of a double: a negative exponent means a vanishing
    // number, anything else one far beyond every integer range.
    if (number.find("e-") != std::string::npos) return 0;
    const double huge = std::numeric_limits<double>::infinity();
    return number.front() == '-' ? -huge : huge;
  }
  return value;
}

double NearestHalfToEven(double number) {
  const double below = std::floor(number);
  const double fraction = number - below;
  if (fraction > 0.5) return below + 1;
  if (fraction < 0.5) return below;
  return std::fmod(below, 2) == 0 ? below : below + 1;
}

std::string NumberForMessage(double number) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
  return std::string(buffer, result.ptr);
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string_view LeadingChars(std::string_view text, size_t count) {
  size_t end = 0;
  for (size_t taken = 0; taken < count && end < text.size(); ++taken) {
    ++end;
    while (end < text.size() && IsUtf8Continuation(text[end])) ++end;
  }
  return text.substr(0, end);
}

double ReadNumber(std::string_view text) {
  const std::string kept = WithoutSkipped(text);
  const std::string_view number = kept;
  // The old runtime took "&h" and "&o" as well; a sign before "&" is no number.
  if (number.size() >= 2 && number[0] == '&') {
    if (number[1] == 'H' || number[1] == 'h') return ReadRadixDigits(number.substr(2), 16);
    if (number[1] == 'O' || number[1] == 'o') return ReadRadixDigits(number.substr(2), 8);
    return 0;
  }
  return ReadDecimal(number);
}

Result<int16_t> RoundToInt16(double number) {
  const double nearest = NearestHalfToEven(number);
  // Written so that a NaN fails the test too.
  if (!(nearest >= -32768 && nearest <= 32767)) {
    return Error(ErrorKind::Overflow,
                 "number " + NumberForMessage(number) + " is outside -32768 to 32767");
  }
  return static_cast<int16_t>(nearest);
}

std::string SignPositionText(int value) {
  std::string text = value < 0 ? "" : " ";
  text += std::to_string(value);
  return text;
}

}  // namespace zavo
