#include "ui/fltk/fonts.h"

#include <FL/Fl.H>

#include <map>

#include "platform/diagnostics.h"
#include "ui/fltk/font_choice.h"
#include "ui/fltk/widgets.h"

namespace zavo::ui::fltk {
namespace {

// What the package depends on for the window's Japanese texts.
constexpr const char* kJapaneseFontPackage = "fonts-ipafont-mincho";

struct Chosen {
  Fl_Font font;
  FontChoice choice;  // for the texts it was chosen for
};

struct Faces {
  std::map<std::string, Chosen> by_texts;  // what was asked before
  std::map<std::string, Fl_Font> by_family;
  std::map<Fl_Font, FontChoice> choices;  // what each font number shows
  // FLTK keeps a pointer to a font's name, so the names live here, in
  // nodes that never move.
  std::map<Fl_Font, std::string> xft_names;
  Fl_Font next_free = FL_FREE_FONT;
};

Faces& TheFaces() {
  static Faces faces;
  return faces;
}

std::string KeyOf(const std::vector<std::string>& texts) {
  std::string key;
  for (const std::string& text : texts) key.append(text).append(1, '\0');
  return key;
}

// The first character of an Xft name is FLTK's style code: " " is plain.
// Without it a family starting with "I" or "B" would lose that letter.
void Define(Faces& faces, Fl_Font font, const FontChoice& choice) {
  faces.xft_names[font] = " " + choice.family;
  Fl::set_font(font, faces.xft_names[font].c_str());
  faces.choices[font] = choice;
}

const Chosen& Choose(const std::vector<std::string>& texts) {
  Faces& faces = TheFaces();
  const std::string key = KeyOf(texts);
  if (const auto known = faces.by_texts.find(key); known != faces.by_texts.end()) {
    return known->second;
  }
  FontChoice choice = ChooseFontFamily(texts);
  auto [at, is_new] = faces.by_family.try_emplace(choice.family, faces.next_free);
  if (is_new) {
    Define(faces, at->second, choice);
    faces.next_free = static_cast<Fl_Font>(faces.next_free + 1);
  }
  return faces.by_texts[key] = {at->second, std::move(choice)};
}

}  // namespace

void SetUpFonts() {
  static bool done = false;
  if (done) return;
  done = true;
  // Kana and kanji: what the add-in's own texts are written in.
  const Fl_Font japanese = FontShowing({"あア亜"});
  Faces& faces = TheFaces();
  Fl::set_font(FL_HELVETICA, faces.xft_names[japanese].c_str());
  faces.choices[FL_HELVETICA] = faces.choices[japanese];
  FL_NORMAL_SIZE = ScaleOfDisplay().FontPixels(9);
}

Fl_Font FontShowing(const std::vector<std::string>& texts) { return Choose(texts).font; }

Fl_Font FontForWindow(const std::vector<std::string>& texts) {
  const Chosen& chosen = Choose(texts);
  const FontChoice& choice = chosen.choice;
  static bool warned = false;
  if (!choice.missing.empty() && !warned) {
    warned = true;
    CurrentDiagnostics().Warning("no installed font has the characters " + choice.missing +
                                 " of the window's texts, which show as boxes; the package " +
                                 kJapaneseFontPackage + " has them");
  }
  return chosen.font;
}

bool Shows(Fl_Font font, std::string_view text) {
  const Faces& faces = TheFaces();
  const auto choice = faces.choices.find(font);
  return choice != faces.choices.end() && choice->second.Shows(text);
}

}  // namespace zavo::ui::fltk
