#include "ui/fltk/font_choice.h"

#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/fakes.h"
#include "support/test_support.h"
#include "ui/form1.h"

namespace zavo::ui::fltk {
namespace {

// From fonts-dejavu-core and from the package's dependency fonts-ipafont-mincho.
constexpr const char* kLatinOnly = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char* kJapanese = "/usr/share/fonts/opentype/ipafont-mincho/ipam.ttf";

// Makes the given font files fontconfig's only fonts: a machine that has
// nothing else installed.
void InstallOnly(const testing::TempDir& folder, const std::vector<const char*>& fonts) {
  std::ofstream conf(folder.File("fonts.conf"));
  conf << "<fontconfig><cachedir>" << folder.File("cache") << "</cachedir>";
  for (const std::filesystem::path font : fonts) {
    const std::filesystem::path dir = folder.path() / font.stem();
    std::filesystem::create_directory(dir);
    std::filesystem::create_symlink(font, dir / font.filename());
    conf << "<dir>" << dir.string() << "</dir>";
  }
  conf << "</fontconfig>\n" << std::flush;
  setenv("FONTCONFIG_FILE", folder.File("fonts.conf").c_str(), 1);
  FcConfig* config = FcInitLoadConfigAndFonts();
  ASSERT_TRUE(FcConfigSetCurrent(config));
  FcConfigDestroy(config);  // the current configuration holds it
}

// The face for Japanese is preferred, but coverage comes first: Georgian is
// in DejaVu Sans only.
TEST(FontChoice, ChoosesAFontWithEveryCharacterOrSaysWhatItLacks) {
  ModuleState state;
  testing::RecordingImgKit imgkit;
  testing::RecordingMessageBoxes boxes;
  Form1 form{state, imgkit, boxes};
  form.ShowFormatPanel(kFormatGif);
  // Every caption of the window, the GIF message and the path box's ellipsis.
  std::vector<std::string> window{boxes.shown.at(0).text, "…"};
  for (const Control* control : form.controls()) window.push_back(control->caption);
  const struct {
    std::vector<const char*> fonts;
    std::vector<std::string> texts;
    const char* family;
    const char* missing;
  } cases[] = {
      {{kLatinOnly, kJapanese}, window, "IPAMincho", ""},
      {{kLatinOnly, kJapanese}, {"Save"}, "IPAMincho", ""},
      {{kLatinOnly, kJapanese}, {"Tbilisi თბილისი"}, "DejaVu Sans", ""},
      {{kLatinOnly}, window, "DejaVu Sans", "今回よりサポート外といたしま"},
  };
  for (const auto& c : cases) {
    testing::TempDir folder;
    InstallOnly(folder, c.fonts);
    const FontChoice choice = ChooseFontFamily(c.texts);
    EXPECT_EQ(choice.family, c.family);
    EXPECT_TRUE(choice.missing.starts_with(c.missing)) << choice.missing;
    EXPECT_EQ(choice.missing.empty(), *c.missing == '\0') << choice.missing;
    EXPECT_EQ(choice.Shows("Save " + c.texts[0]), choice.missing.empty());  // not by the first only
  }
}

}  // namespace
}  // namespace zavo::ui::fltk
