#include "ui/fltk/font_choice.h"

#include <fontconfig/fontconfig.h>

#include <limits>

namespace zavo::ui::fltk {
namespace {

struct PatternDeleter {
  void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
struct FontSetDeleter {
  void operator()(FcFontSet* set) const { FcFontSetDestroy(set); }
};
using Pattern = std::unique_ptr<FcPattern, PatternDeleter>;
using FontSet = std::unique_ptr<FcFontSet, FontSetDeleter>;

std::shared_ptr<FcCharSet> OwnedCharSet(FcCharSet* charset) {
  return {charset, [](FcCharSet* owned) { FcCharSetDestroy(owned); }};
}

// The characters of UTF-8 `text` a font must have: control characters
// (line ends) are drawn by nobody, and bytes that are no UTF-8 are passed
// over rather than guessed at.
std::u32string DrawnCharacters(std::string_view text) {
  std::u32string drawn;
  const auto* bytes = reinterpret_cast<const FcChar8*>(text.data());
  int left = static_cast<int>(text.size());
  while (left > 0) {
    FcChar32 c = 0;
    const int length = FcUtf8ToUcs4(bytes, &c, left);
    if (length <= 0) {
      ++bytes;
      --left;
      continue;
    }
    bytes += length;
    left -= length;
    if (c >= 0x20 && !(c >= 0x7F && c < 0xA0)) drawn += static_cast<char32_t>(c);
  }
  return drawn;
}

// Ranks the window's face first: "ＭＳ 明朝" where it is installed, else
// what the configuration offers for a serif face and for Japanese.
Pattern PreferredFace() {
  Pattern pattern(FcPatternCreate());
  for (const char* family : {"ＭＳ 明朝", "MS Mincho", "serif"}) {
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  }
  FcPatternAddString(pattern.get(), FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
  FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
  FcPatternAddInteger(pattern.get(), FC_WEIGHT, FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern.get(), FC_SLANT, FC_SLANT_ROMAN);
  FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
  FcDefaultSubstitute(pattern.get());
  return pattern;
}

FcCharSet* CharSetOf(FcPattern* font) {
  FcCharSet* charset = nullptr;
  return FcPatternGetCharSet(font, FC_CHARSET, 0, &charset) == FcResultMatch ? charset : nullptr;
}

// The first font in fontconfig's order that lacks the fewest of `needed`.
FcPattern* FewestMissing(const FcFontSet& sorted, const FcCharSet* needed) {
  FcPattern* best = nullptr;
  FcChar32 fewest = std::numeric_limits<FcChar32>::max();
  for (int i = 0; i < sorted.nfont && fewest > 0; ++i) {
    const FcCharSet* charset = CharSetOf(sorted.fonts[i]);
    if (charset == nullptr) continue;
    const FcChar32 missing = FcCharSetSubtractCount(needed, charset);
    if (missing < fewest) {
      best = sorted.fonts[i];
      fewest = missing;
    }
  }
  return best;
}

// The characters of `drawn` that `charset` (none: no font) lacks, in UTF-8.
std::string Missing(const std::u32string& drawn, const FcCharSet* charset) {
  std::u32string listed;
  std::string missing;
  for (const char32_t c : drawn) {
    if ((charset != nullptr && FcCharSetHasChar(charset, c) != FcFalse) ||
        listed.find(c) != std::u32string::npos) {
      continue;
    }
    listed += c;
    FcChar8 utf8[FC_UTF8_MAX_LEN];
    missing.append(reinterpret_cast<const char*>(utf8), FcUcs4ToUtf8(c, utf8));
  }
  return missing;
}

}  // namespace

bool FontChoice::Shows(std::string_view text) const {
  if (!charset) return false;
  for (const char32_t c : DrawnCharacters(text)) {
    if (FcCharSetHasChar(charset.get(), c) == FcFalse) return false;
  }
  return true;
}

FontChoice ChooseFontFamily(const std::vector<std::string>& texts) {
  std::u32string drawn;
  for (const std::string& text : texts) drawn += DrawnCharacters(text);
  const std::shared_ptr<FcCharSet> needed = OwnedCharSet(FcCharSetCreate());
  for (const char32_t c : drawn) FcCharSetAddChar(needed.get(), c);

  const Pattern pattern = PreferredFace();
  FcResult result = FcResultNoMatch;
  const FontSet sorted(FcFontSort(nullptr, pattern.get(), FcFalse, nullptr, &result));
  FontChoice choice;
  FcPattern* font = sorted ? FewestMissing(*sorted, needed.get()) : nullptr;
  FcChar8* family = nullptr;
  if (font == nullptr || FcPatternGetString(font, FC_FAMILY, 0, &family) != FcResultMatch) {
    choice.missing = Missing(drawn, nullptr);
    return choice;
  }
  choice.family = reinterpret_cast<const char*>(family);
  choice.charset = OwnedCharSet(FcCharSetCopy(CharSetOf(font)));
  choice.missing = Missing(drawn, choice.charset.get());
  return choice;
}

}  // namespace zavo::ui::fltk
