#include "ui/form1.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
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
// The focus goes round the stops both ways: of the options the selected one,
// or the first while none is.
TEST_F(Form1Test, ShowsTheFormatsPanelInFrontAndOnlyItTakesInput) {
  const struct {
    int16_t format, flag_before;
    int front;  // -1: none enabled
    int16_t flag_after;
    Texts boxes, stops;
  } cases[] = {
      {kFormatJpeg, 5, kJpegPanel, 5, {}, {"Command2(0)", "Command1", "JPEG_BW", "JPEG_Q_SC"}},
      {kFormatTiff, 0, kTiffPanel, 0, {}, {"Command2(2)", "Command4", "Option1"}},
      {kFormatTiff, 5, kTiffPanel, 1, {}, {"Command2(2)", "Command4", "Option2"}},
      {kFormatGif, 0, -1, 0, {"ZAVO32, 0: 今回よりサポート外といたしました"}, {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    state.TiffCompression = c.flag_before;
    testing::RecordingMessageBoxes shown_boxes;
    Form1 shown{state, imgkit, shown_boxes};
    PrepareWriteMode(c.format, shown);
    for (int panel : {kJpegPanel, kGifPanel, kTiffPanel}) {  // stacked where the JPEG one lies
      const Control& p = *shown.Picture1[panel];
      EXPECT_EQ(std::tuple(p.enabled, p.left, p.top), std::tuple(panel == c.front, 0, 1080));
    }
    EXPECT_EQ(shown.FrontPanel(), c.front >= 0 ? c.front : kJpegPanel);
    EXPECT_EQ(shown.Label4.caption, c.front >= 0 ? "/out/target" : "");
    EXPECT_EQ(state.TiffCompression, c.flag_after);
    EXPECT_EQ(shown_boxes.texts, c.boxes);
    shown.Option1->SetSelected(false);  // none selected unless PackBits is
    for (bool backwards : {false, true}) {
      shown.SetFocus(nullptr);
      Texts order, expected;
      for (size_t i = 0; i < 2 * c.stops.size(); ++i) {
        shown.FocusNext(backwards);
        order.push_back(shown.focus()->name());
        const size_t at = i % c.stops.size();
        expected.push_back(c.stops[backwards ? c.stops.size() - 1 - at : at]);
      }
      EXPECT_EQ(order, expected) << backwards;
      shown.FocusNext(backwards);
      EXPECT_EQ(shown.focus() == nullptr, c.stops.empty());
    }
  }
}

// Arrows in the option group select round the end; Save exports the values of the moment.
TEST_F(Form1Test, KeysWorkTheFocusedControlOnly) {
  PrepareWriteMode(kFormatTiff, form);
  form.SetFocus(form.Option1.get());
  // clang-format off
  const std::pair<Key, Control*> option_steps[] = {{Key::Right, form.Option2.get()},
      {Key::Down, form.Option1.get()}, {Key::Up, form.Option2.get()}, {Key::Left, form.Option1.get()}};
  // clang-format on
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
  // The client area, Label1 and JPEG_Q_DISP; the fonts of Label1 and Label3.
  using Pixels = std::tuple<PixelRect, PixelRect, PixelRect, int, int>;
  const std::pair<double, Pixels> cases[] = {
      {96, {{380, 360, 264, 181}, {48, 8, 209, 22}, {210, 96, 41, 25}, 16, 12}},
      {192, {{248, 336, 528, 362}, {96, 16, 418, 44}, {420, 192, 82, 50}, 32, 24}}};
  for (const auto& [dpi, pixels] : cases) {
    Form1 scaled{state, imgkit, boxes};
    scaled.scale = DisplayScale(dpi);
    scaled.CenterOnScreen(scaled.scale.Twips(1024), scaled.scale.Twips(768));
    PrepareWriteMode(kFormatJpeg, scaled);
    EXPECT_EQ(Pixels(scaled.ClientPixels(), scaled.PixelsOf(scaled.Label1),
                     scaled.PixelsOf(*scaled.JPEG_Q_DISP), scaled.FontPixelsOf(scaled.Label1),
                     scaled.FontPixelsOf(*scaled.Label3)),
              pixels)
        << dpi;
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
  state.Settings = SettingsFiles::InFolder(folder.File("missing-folder") + "/");
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
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_NE(boxes.texts[0].find("missing-folder"), std::string::npos);
}

}  // namespace
}  // namespace zavo::ui
