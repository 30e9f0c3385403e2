// How twips and points become pixels on a display: an inch is 1440 twips
// and 72 points, and as many pixels as the display's resolution says. At
// 96 dots per inch, the resolution when the desktop says nothing, a pixel is
// 15 twips; at 192 it is 7.5 and the window is drawn twice as large.
#pragma once

namespace zavo::ui {

struct PixelRect {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
  bool operator==(const PixelRect&) const = default;
};

class DisplayScale {
 public:
  static constexpr double kDefaultDpi = 96;

  // From the text of the X resource Xft.dpi (nullptr when it is not set).
  // Text that is no number, or a resolution no display has, gives 96.
  static DisplayScale FromXftDpi(const char* resource);

  explicit DisplayScale(double dpi = kDefaultDpi);
  double dpi() const { return dpi_; }
  double twips_per_pixel() const { return 1440.0 / dpi_; }

  // Rounded to the nearest pixel.
  int Pixels(double twips) const;
  int Twips(int pixels) const;
  int FontPixels(int points) const;
  // A length drawn as `pixels` at 96 dpi, at this resolution.
  int Scaled(int pixels) const;

 private:
  double dpi_;
};

}  // namespace zavo::ui
