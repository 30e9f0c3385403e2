#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/error.h"
#include "settings/settings.h"

namespace zavo::testing {

// Refuses what the window's controls refuse and logs the rest ("JPGQ=60").
class FakeTarget : public SettingsTarget {
 public:
  FakeTarget(int16_t q = 50, int16_t g = 0, int16_t t = 0) : quality(q), grayscale(g), tiff(t) {}
  int16_t JpegQuality() const override { return quality; }
  Result<void> SetJpegQuality(int16_t value) override { return Set(&quality, "JPGQ", value, 100); }
  int16_t JpegGrayscale() const override { return grayscale; }
  Result<void> SetJpegGrayscale(int16_t value) override {
    return Set(&grayscale, "JPGB", value, 2);
  }
  int16_t TiffCompressionFlag() const override { return tiff; }
  Result<void> SetTiffCompressionFlag(int16_t value) override {
    return Set(&tiff, "TIFM", value, INT16_MAX);
  }

  int16_t quality, grayscale, tiff;
  std::vector<std::string> log;

 private:
  Result<void> Set(int16_t* field, const char* key, int16_t value, int16_t most) {
    if (value > most || (value < 0 && most != INT16_MAX)) {
      return Error(ErrorKind::InvalidValue, std::string(key) + " refused");
    }
    log.push_back(std::string(key) + "=" + std::to_string(value));
    *field = value;
    return {};
  }
};

}  // namespace zavo::testing
