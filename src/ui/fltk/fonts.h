// The faces the add-in's windows draw their text in, chosen by the text
// (font_choice.h): FLTK has no fallback for a character its font lacks, so
// a text in a face without it would show boxes. Private to the FLTK layer.
#pragma once

#include <FL/Enumerations.H>

#include <string>
#include <string_view>
#include <vector>

namespace zavo::ui::fltk {

// 9 points at the display's resolution becomes the size of every text
// (FLTK font sizes are pixels), and FLTK's default face one that shows
// Japanese. Safe to call repeatedly; must run after the display is open and
// before widgets are constructed (FL_NORMAL_SIZE is read then).
void SetUpFonts();

// An FLTK font number whose face shows every character of `texts`, as
// ChooseFontFamily ranks the installed fonts; one number per family.
Fl_Font FontShowing(const std::vector<std::string>& texts);

// FontShowing for the texts a window is made of; when no installed font
// shows them all, one warning says what is missing and what to install.
Fl_Font FontForWindow(const std::vector<std::string>& texts);

// Whether `font`, a number FontShowing gave, shows every character of `text`.
bool Shows(Fl_Font font, std::string_view text);

}  // namespace zavo::ui::fltk
