// Which installed font shows a set of texts, asked of fontconfig by the
// characters the texts hold. FLTK draws every label in one font and has no
// fallback for a character that font lacks (it shows a box), so the font
// must be chosen for the text. Toolkit-free: only fontconfig.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

typedef struct _FcCharSet FcCharSet;

namespace zavo::ui::fltk {

struct FontChoice {
  // A family name of the chosen font, as Xft takes it; empty when
  // fontconfig knows no font at all.
  std::string family;
  // The characters of the texts that the family lacks (UTF-8, each once, in
  // their order); empty when it shows them all.
  std::string missing;
  // Whether the family shows every character of `text`.
  bool Shows(std::string_view text) const;

  std::shared_ptr<const FcCharSet> charset;
};

// The installed font that shows every character of `texts` (control
// characters and bytes that are no UTF-8 aside). Among those that do, the
// window's own face comes first, a Mincho ("ＭＳ 明朝"), then any serif face
// and any face for Japanese, as fontconfig ranks them. When none shows them
// all, the one that lacks the fewest, with `missing` saying what it lacks.
FontChoice ChooseFontFamily(const std::vector<std::string>& texts);

}  // namespace zavo::ui::fltk
