// Fitting text into a width the toolkit measures, so that a long path stays
// readable: message boxes wrap it, the path box shows its end. Toolkit-free:
// the width of a piece of text comes from `measure`.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace zavo::ui {

// The width of a piece of UTF-8 text, in the caller's unit (pixels).
using TextMeasure = std::function<double(std::string_view text)>;

// `text` with each of its lines that is wider than `width` broken into
// lines that fit: after the last "/" or blank that fits, or else between
// two characters (a folder name wider than the box). No character is lost;
// a character wider than `width` alone still gets a line of its own.
std::string WrapToWidth(std::string_view text, double width, const TextMeasure& measure);

// `text` when it fits in `width`; otherwise "…" followed by as much of the
// end of `text` as fits after it: the file name of a path, and as many of
// its folders as there is room for.
std::string ElideStart(std::string_view text, double width, const TextMeasure& measure);

}  // namespace zavo::ui
