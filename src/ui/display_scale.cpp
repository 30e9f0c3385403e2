#include "ui/display_scale.h"

#include <cmath>
#include <cstdlib>

namespace zavo::ui {
namespace {

// Beyond these no display exists; a value outside is a typing error.
constexpr double kLowestDpi = 24;
constexpr double kHighestDpi = 960;

bool Plausible(double dpi) { return std::isfinite(dpi) && dpi >= kLowestDpi && dpi <= kHighestDpi; }

}  // namespace

DisplayScale DisplayScale::FromXftDpi(const char* resource) {
  if (resource == nullptr) return DisplayScale();
  char* end = nullptr;
  const double dpi = std::strtod(resource, &end);
  while (end != resource && (*end == ' ' || *end == '\t')) ++end;
  if (end == resource || *end != '\0') return DisplayScale();
  return DisplayScale(dpi);
}

DisplayScale::DisplayScale(double dpi) : dpi_(Plausible(dpi) ? dpi : kDefaultDpi) {}

int DisplayScale::Pixels(double twips) const {
  return static_cast<int>(std::lround(twips / twips_per_pixel()));
}

int DisplayScale::Twips(int pixels) const {
  return static_cast<int>(std::lround(pixels * twips_per_pixel()));
}

int DisplayScale::Scaled(int pixels) const {
  return static_cast<int>(std::lround(pixels * dpi_ / kDefaultDpi));
}

int DisplayScale::FontPixels(int points) const {
  return static_cast<int>(std::lround(points * dpi_ / 72.0));
}

}  // namespace zavo::ui
