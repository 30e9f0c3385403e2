#include "ui/form1.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fakes.h"
#include "support/test_support.h"
#include "ui/display_scale.h"

namespace zavo::ui {
namespace {

using Texts = std::vector<std::string>;

class Form1Test : public ::testing::Test {
 protected:
  Form1Test() {
    state.Settings = SettingsFiles::InFolder(folder.path().string() + "/");
    state.TargetFile = "/out/target";
    state.TransferFile = "/tmp/transfer.bmp";
  }
  void PrepareWriteMode(int16_t format, Form1& shown) {
    shown.StackPanels();
    shown.ShowFormatPanel(format);
    shown.FitHeight();
    state.SavesOnUnload = true;
  }

  testing::TempDir folder;
  ModuleState state;
  testing::RecordingImgKit imgkit;
  testing::RecordingMessageBoxes boxes;
  Form1 form{state, imgkit, boxes};
};

// A stored TIFF flag other than 0 selects PackBits and becomes 1, in TIFF mode only.
TEST_F(Form1Test, ShowsTheFormatsPanelInFrontAndOnlyItTakesInput) {
  const struct {
    int16_t format, flag_before;
    int front;  // -1: none enabled
    int16_t flag_after;
    Texts boxes;
  } cases[] = {{kFormatJpeg, 5, kJpegPanel, 5, {}},
               {kFormatTiff, 0, kTiffPanel, 0, {}},
               {kFormatTiff, 5, kTiffPanel, 1, {}},
               {kFormatGif, 0, -1, 0, {"ZAVO32, 0: 今回よりサポート外といたしました"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    state.TiffCompression = c.flag_before;
    testing::RecordingMessageBoxes shown_boxes;
    Form1 shown{state, imgkit, shown_boxes};
    PrepareWriteMode(c.format, shown);
    for (int panel : {kJpegPanel, kGifPanel, kTiffPanel}) {
      EXPECT_EQ(shown.Picture1[panel]->enabled, panel == c.front) << panel;
      EXPECT_EQ(shown.Picture1[panel]->top, shown.Picture1[kJpegPanel]->top);
      EXPECT_EQ(shown.Picture1[panel]->left, shown.Picture1[kJpegPanel]->left);
    }
    EXPECT_EQ(shown.FrontPanel(), c.front >= 0 ? c.front : kJpegPanel);
    EXPECT_EQ(shown.Label4.caption, c.front >= 0 ? "/out/target" : "");
    EXPECT_EQ(shown.Option2->selected(), c.format == kFormatTiff && c.flag_after == 1);
    EXPECT_EQ(state.TiffCompression, c.flag_after);
    EXPECT_EQ(shown_boxes.texts, c.boxes);
    const Control& frame = *shown.F_PARA_BASE[kJpegPanel];
    EXPECT_GE(shown.client_height, frame.window_top() + frame.height);
  }
}

// Of the options only the selected one is a stop, or the first while none is.
TEST_F(Form1Test, FocusGoesRoundTheEnabledControlsBothWays) {
  const struct {
    int16_t format;
    int selected;  // 0: no option selected
    Texts stops;
  } cases[] = {{kFormatJpeg, 1, {"Command2(0)", "Command1", "JPEG_BW", "JPEG_Q_SC"}},
               {kFormatTiff, 1, {"Command2(2)", "Command4", "Option1"}},
               {kFormatTiff, 2, {"Command2(2)", "Command4", "Option2"}},
               {kFormatTiff, 0, {"Command2(2)", "Command4", "Option1"}},
               {kFormatGif, 1, {}}};
  for (const auto& [format, selected, stops] : cases) {
    Form1 shown{state, imgkit, boxes};
    PrepareWriteMode(format, shown);
    shown.Option1->SetSelected(selected == 1);
    shown.Option2->SetSelected(selected == 2);
    for (bool backwards : {false, true}) {
      shown.SetFocus(nullptr);
      Texts order, expected;
      for (size_t i = 0; i < 2 * stops.size(); ++i) {
        shown.FocusNext(backwards);
        order.push_back(shown.focus()->name());
        expected.push_back(
            stops[backwards ? stops.size() - 1 - i % stops.size() : i % stops.size()]);
      }
      EXPECT_EQ(order, expected) << backwards;
      shown.FocusNext(backwards);
      EXPECT_EQ(shown.focus() == nullptr, stops.empty());
    }
  }
}

// Arrows in the option group select round the end; Save exports the values of the moment.
TEST_F(Form1Test, KeysWorkTheFocusedControlOnly) {
  PrepareWriteMode(kFormatTiff, form);
  form.SetFocus(form.Option1.get());
  const std::pair<Key, Control*> option_steps[] = {{Key::Right, form.Option2.get()},
                                                   {Key::Down, form.Option1.get()},
                                                   {Key::Up, form.Option2.get()},
                                                   {Key::Left, form.Option1.get()}};
  for (const auto& [key, selected] : option_steps) {
    EXPECT_TRUE(form.UserKey(key));
    EXPECT_EQ(form.focus(), selected);
    EXPECT_EQ(state.TiffCompression, selected == form.Option2.get() ? 1 : 0);
  }
  form.SetFocus(form.Command1.get());  // on the JPEG panel, behind
  EXPECT_FALSE(form.UserKey(Key::Enter));
  PrepareWriteMode(kFormatJpeg, form);
  EXPECT_FALSE(form.JPEG_Q_SC->SetValue(101).ok());
  EXPECT_FALSE(form.JPEG_BW->SetValue(3).ok());
  form.SetFocus(form.JPEG_Q_SC.get());
  form.JPEG_Q_SC->large_change = 10;
  // clang-format off
  const std::pair<Key, int> bar_steps[] = {{Key::Left, 49}, {Key::Up, 48}, {Key::Right, 49},
      {Key::Down, 50}, {Key::PageDown, 60}, {Key::PageUp, 50}, {Key::End, 100}, {Key::Home, 0}};
  // clang-format on
  for (const auto& [key, value] : bar_steps) {
    EXPECT_TRUE(form.UserKey(key));
    EXPECT_EQ(form.JPEG_Q_SC->value(), value);
  }
  EXPECT_FALSE(form.UserKey(Key::Enter));
  form.SetFocus(form.JPEG_BW.get());
  ASSERT_TRUE(form.JPEG_BW->SetValue(2));
  for (int expected : {0, 1}) {  // a greyed box clears
    EXPECT_TRUE(form.UserKey(Key::Space));
    EXPECT_EQ(form.JPEG_BW->value(), expected);
  }
  form.SetFocus(form.Command1.get());
  EXPECT_FALSE(form.UserKey(Key::Left));
  EXPECT_TRUE(form.UserKey(Key::Enter));
  imgkit.loads_fail = true;  // then nothing is saved
  EXPECT_TRUE(form.UserKey(Key::Enter));
  const std::string load = "FileLoad(/tmp/transfer.bmp, Plumio File ADD_In, 読み込み中) -> ";
  EXPECT_EQ(imgkit.calls, (Texts{load + "1", "JpegFileSave(/out/target, 1, , , 0, 1)", "MemFree(1)",
                                 load + "0", "MemFree(0)"}));
}

// The one place the window's pixels are pinned.
TEST_F(Form1Test, GeometryFollowsTheDisplayResolution) {
  const struct {
    double dpi;
    PixelRect client, label1, quality_display;
    int title_font, text_font;
  } cases[] = {{96, {380, 360, 264, 181}, {48, 8, 209, 22}, {210, 96, 41, 25}, 16, 12},
               {192, {248, 336, 528, 362}, {96, 16, 418, 44}, {420, 192, 82, 50}, 32, 24}};
  for (const auto& c : cases) {
    Form1 scaled{state, imgkit, boxes};
    scaled.scale = DisplayScale(c.dpi);
    scaled.CenterOnScreen(scaled.scale.Twips(1024), scaled.scale.Twips(768));
    PrepareWriteMode(kFormatJpeg, scaled);
    EXPECT_EQ(scaled.ClientPixels(), c.client) << c.dpi;
    EXPECT_EQ(scaled.PixelsOf(scaled.Label1), c.label1) << c.dpi;
    EXPECT_EQ(scaled.PixelsOf(*scaled.JPEG_Q_DISP), c.quality_display) << c.dpi;
    EXPECT_EQ(scaled.FontPixelsOf(scaled.Label1), c.title_font) << c.dpi;
    EXPECT_EQ(scaled.FontPixelsOf(*scaled.Label3), c.text_font) << c.dpi;
  }
  // A reported frame (2, 10, 24 and 4 pixels) keeps it centred by its outer size.
  form.CenterOnScreen(1024 * 15, 768 * 15);
  PrepareWriteMode(kFormatJpeg, form);
  form.AdoptFrame({30, 150, 360, 60});
  EXPECT_EQ(form.ClientPixels(), (PixelRect{374 + 2, 346 + 24, 264, 181}));
}

TEST(DisplayScale, TakesXftDpiWhenItIsAResolutionAnd96Otherwise) {
  const std::pair<const char*, double> cases[] = {
      {nullptr, 15}, {"96", 15},     {"192", 7.5}, {"144.0", 10}, {" 120 ", 12}, {"", 15},
      {"abc", 15},   {"192dpi", 15}, {"0", 15},    {"-192", 15},  {"1e9", 15},   {"nan", 15}};
  for (const auto& [resource, twips_per_pixel] : cases) {
    EXPECT_DOUBLE_EQ(DisplayScale::FromXftDpi(resource).twips_per_pixel(), twips_per_pixel)
        << (resource != nullptr ? resource : "(unset)");
  }
  EXPECT_EQ(DisplayScale(192).Twips(5), 38);  // 37.5 rounds away from zero
}

// A failed store is reported and the window still closes. A save's progress
// display lets events through: a second save or a close then does nothing.
TEST_F(Form1Test, UnloadsOnceSavingTheSettingsButNeverDuringASave) {
  int unloads = 0;
  form.on_unloaded = [&] { ++unloads; };
  PrepareWriteMode(kFormatJpeg, form);
  imgkit.during_load = [&] {
    form.Command1->UserClick();
    form.Command2[0]->UserClick();
  };
  form.Command1_Click();
  EXPECT_EQ(imgkit.calls.size(), 3u);  // one load, save and free
  EXPECT_FALSE(form.unloaded() || form.busy());
  form.Command2[0]->UserClick();
  form.Unload();
  EXPECT_EQ(unloads, 1);
  Form1 failing{state, imgkit, boxes};
  state.Settings = SettingsFiles::InFolder(folder.File("missing-folder") + "/");
  failing.on_unloaded = [&] { ++unloads; };
  failing.Unload();
  EXPECT_EQ(unloads, 2);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_NE(boxes.texts[0].find("missing-folder"), std::string::npos);
}

}  // namespace
}  // namespace zavo::ui
