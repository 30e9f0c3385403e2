// The text rules the settings file was written for, once supplied by the old
// platform runtime: trimming, taking leading characters, reading a number
// from text, rounding it to a 16-bit integer and writing a number back.
// Text is UTF-8; bytes pass through unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace zavo {

// Removes blanks (the space character only, never tabs) at both ends.
std::string_view TrimBlanks(std::string_view text);

// The first `count` characters of `text` (all of it when shorter). A
// character is a UTF-8 sequence, so a multi-byte letter is never split.
std::string_view LeadingChars(std::string_view text, size_t count);

// Reads a number from the start of `text` as the old runtime did: blanks,
// tabs and line feeds are skipped anywhere; then an optional sign, digits,
// "." and digits, and an exponent (E, optional sign, digits) are taken up to
// the first character that cannot continue the number. "&H" starts a
// hexadecimal and "&O" an octal integer. The separator is "." whatever the
// locale. Gives 0 when the text does not start with a number.
double ReadNumber(std::string_view text);

// The nearest 16-bit integer, a half going to the even neighbour (50.5 -> 50,
// 51.5 -> 52); Error(Overflow) when it lies outside -32768..32767.
Result<int16_t> RoundToInt16(double number);

// A decimal number in the sign-position form: a blank before zero and
// positive numbers, "-" before negative ones (" 75", " 0", "-3").
std::string SignPositionText(int value);

}  // namespace zavo
