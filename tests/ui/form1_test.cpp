#include "ui/form1.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/fakes.h"
#include "support/test_support.h"

namespace zavo::ui {
namespace {

using Calls = std::vector<std::string>;

class Form1Test : public ::testing::Test {
 protected:
  Form1Test() {
    state.Settings = SettingsFiles::InFolder(folder.path().string() + "/");
    state.TargetFile = "/out/target";
    state.TransferFile = "/tmp/transfer.bmp";
  }

  // What start-up does in write mode.
  void PrepareWriteMode(int16_t format) {
    form.StackPanels();
    form.ShowFormatPanel(format);
    form.FitHeight();
    state.SavesOnUnload = true;
  }

  testing::TempDir folder;
  ModuleState state;
  testing::RecordingImgKit imgkit;
  testing::RecordingMessageBoxes boxes;
  Form1 form{state, imgkit, boxes};
};

TEST_F(Form1Test, StartsWithTheCreationSettings) {
  EXPECT_EQ(form.caption, "Plumio File Option ADDIN");
  EXPECT_EQ(form.JPEG_Q_SC->value(), 50);
  EXPECT_EQ(form.JPEG_Q_DISP->caption, "50");
  EXPECT_EQ(form.JPEG_BW->value(), 0);
  EXPECT_TRUE(form.Option1->selected());
  EXPECT_FALSE(form.Option2->selected());
  EXPECT_EQ(form.Label4.caption, "");
  EXPECT_EQ(form.Picture1[1]->left, 4080);
  EXPECT_EQ(form.Picture1[2]->top, 2880);
  EXPECT_EQ(form.F_PARA_BASE[2]->left, 0);
  EXPECT_EQ(form.F_PARA_BASE[0]->left, 30);
  EXPECT_EQ(form.Option2->container(), form.TIF_TYPE.get());
  EXPECT_EQ(form.Line1->x1, 3840);
  EXPECT_EQ(form.Line1->y2, 120);
}

TEST_F(Form1Test, StackPanelsPilesAllThreeOnPanelZeroAndDisablesThem) {
  form.StackPanels();
  for (const auto& panel : form.Picture1) {
    EXPECT_EQ(panel->left, 0);
    EXPECT_EQ(panel->top, 1080);
    EXPECT_FALSE(panel->enabled);
  }
}

TEST_F(Form1Test, JpegPanelComesToTheFrontEnabledWithTheTargetPath) {
  const float top_before = form.top;
  PrepareWriteMode(kFormatJpeg);
  EXPECT_EQ(form.FrontPanel(), kJpegPanel);
  EXPECT_TRUE(form.Picture1[kJpegPanel]->enabled);
  EXPECT_FALSE(form.Picture1[kTiffPanel]->enabled);
  EXPECT_EQ(form.Label4.caption, "/out/target");
  EXPECT_EQ(form.client_height, 2715);
  EXPECT_EQ(form.top, top_before);
}

TEST_F(Form1Test, TiffPanelSelectsTheOptionFromTheFlag) {
  state.TiffCompression = 0;
  PrepareWriteMode(kFormatTiff);
  EXPECT_TRUE(form.Option1->selected());
  EXPECT_FALSE(form.Option2->selected());
  EXPECT_EQ(form.FrontPanel(), kTiffPanel);
  EXPECT_TRUE(form.Picture1[kTiffPanel]->enabled);
}

TEST_F(Form1Test, ALoadedFiveSelectsPackBitsAndBecomesOne) {
  state.TiffCompression = 5;
  PrepareWriteMode(kFormatTiff);
  EXPECT_FALSE(form.Option1->selected());
  EXPECT_TRUE(form.Option2->selected());
  EXPECT_EQ(state.TiffCompression, 1);
}

TEST_F(Form1Test, JpegModeLeavesALoadedFiveAlone) {
  state.TiffCompression = 5;
  PrepareWriteMode(kFormatJpeg);
  EXPECT_EQ(state.TiffCompression, 5);
}

TEST_F(Form1Test, GifTellsItIsNotSupportedAndEnablesNothing) {
  PrepareWriteMode(kFormatGif);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "今回よりサポート外といたしました");
  EXPECT_EQ(boxes.shown[0].style, 0);
  EXPECT_EQ(boxes.shown[0].title, "ZAVO32");
  EXPECT_EQ(form.Label4.caption, "");
  for (const auto& panel : form.Picture1) EXPECT_FALSE(panel->enabled);
  EXPECT_EQ(form.client_height, 2715);
}

TEST_F(Form1Test, QualityDisplayFollowsEveryRealChange) {
  ASSERT_TRUE(form.JPEG_Q_SC->SetValue(50));
  EXPECT_EQ(form.JPEG_Q_DISP->caption, "50");  // the same value is no change
  ASSERT_TRUE(form.JPEG_Q_SC->SetValue(65));
  EXPECT_EQ(form.JPEG_Q_DISP->caption, " 65");
  ASSERT_TRUE(form.JPEG_Q_SC->SetValue(0));
  EXPECT_EQ(form.JPEG_Q_DISP->caption, " 0");
}

TEST_F(Form1Test, ThumbDragChangesTheDisplayOnlyOnRelease) {
  PrepareWriteMode(kFormatJpeg);
  form.JPEG_Q_SC->UserDrag(70);
  form.JPEG_Q_SC->UserDrag(80);
  EXPECT_EQ(form.JPEG_Q_DISP->caption, "50");
  EXPECT_EQ(form.JPEG_Q_SC->value(), 50);
  form.JPEG_Q_SC->UserRelease();
  EXPECT_EQ(form.JPEG_Q_DISP->caption, " 80");
  form.JPEG_Q_SC->UserArrow(+1);
  form.JPEG_Q_SC->UserTrough(-1);
  form.JPEG_Q_SC->UserTrough(-1);
  EXPECT_EQ(form.JPEG_Q_DISP->caption, " 79");
}

TEST_F(Form1Test, ScrollBarStopsAtItsEnds) {
  PrepareWriteMode(kFormatJpeg);
  ASSERT_TRUE(form.JPEG_Q_SC->SetValue(100));
  form.JPEG_Q_SC->UserArrow(+1);
  EXPECT_EQ(form.JPEG_Q_SC->value(), 100);
  form.JPEG_Q_SC->UserDrag(-40);
  form.JPEG_Q_SC->UserRelease();
  EXPECT_EQ(form.JPEG_Q_SC->value(), 0);
}

TEST_F(Form1Test, RefusesInvalidValuesAndKeepsTheOldOnes) {
  EXPECT_FALSE(form.JPEG_Q_SC->SetValue(101));
  EXPECT_FALSE(form.JPEG_Q_SC->SetValue(-1));
  EXPECT_FALSE(form.JPEG_BW->SetValue(3));
  EXPECT_EQ(form.JPEG_Q_SC->value(), 50);
  EXPECT_EQ(form.JPEG_Q_DISP->caption, "50");
  EXPECT_EQ(form.JPEG_BW->value(), 0);
}

TEST_F(Form1Test, CheckBoxClicksToggleAndClearAGreyedBox) {
  PrepareWriteMode(kFormatJpeg);
  form.JPEG_BW->UserClick();
  EXPECT_EQ(form.JPEG_BW->value(), 1);
  form.JPEG_BW->UserClick();
  EXPECT_EQ(form.JPEG_BW->value(), 0);
  ASSERT_TRUE(form.JPEG_BW->SetValue(2));
  form.JPEG_BW->UserClick();
  EXPECT_EQ(form.JPEG_BW->value(), 0);
}

TEST_F(Form1Test, OptionClicksSetTheFlagAndStayExclusive) {
  PrepareWriteMode(kFormatTiff);
  form.Option2->UserClick();
  EXPECT_EQ(state.TiffCompression, 1);
  EXPECT_FALSE(form.Option1->selected());
  form.Option1->UserClick();
  EXPECT_EQ(state.TiffCompression, 0);
  EXPECT_FALSE(form.Option2->selected());
}

TEST_F(Form1Test, DisabledPanelsPassNoInput) {
  PrepareWriteMode(kFormatTiff);
  form.Command1->UserClick();
  form.JPEG_BW->UserClick();
  form.JPEG_Q_SC->UserArrow(+1);
  EXPECT_TRUE(imgkit.calls.empty());
  EXPECT_EQ(form.JPEG_BW->value(), 0);
  EXPECT_EQ(form.JPEG_Q_SC->value(), 50);
}

TEST_F(Form1Test, JpegSaveSendsQualityAndGrayscaleOfTheMoment) {
  PrepareWriteMode(kFormatJpeg);
  ASSERT_TRUE(form.JPEG_Q_SC->SetValue(75));
  ASSERT_TRUE(form.JPEG_BW->SetValue(2));
  form.Command1->UserClick();
  EXPECT_EQ(imgkit.calls, (Calls{"FileLoad(/tmp/transfer.bmp, Plumio File ADD_In, 読み込み中) -> 1",
                                 "JpegFileSave(/out/target, 1, , , 75, 1)", "MemFree(1)"}));
  EXPECT_FALSE(form.unloaded());
}

TEST_F(Form1Test, TiffSaveSendsPackBitsOrNone) {
  PrepareWriteMode(kFormatTiff);
  form.Option2->UserClick();
  form.Command4->UserClick();
  form.Option1->UserClick();
  form.Command4->UserClick();
  EXPECT_EQ(imgkit.calls[1], "TiffFileSave(/out/target, 1, , 圧縮保存中, 5)");
  EXPECT_EQ(imgkit.calls[4], "TiffFileSave(/out/target, 2, , 保存中, 0)");
}

TEST_F(Form1Test, AFailedLoadSavesNothingAndFreesZero) {
  imgkit.loads_fail = true;
  PrepareWriteMode(kFormatJpeg);
  form.Command1->UserClick();
  EXPECT_EQ(imgkit.calls.size(), 2u);
  EXPECT_EQ(imgkit.calls[1], "MemFree(0)");
}

TEST_F(Form1Test, FocusMovesInTabOrderOverEnabledControls) {
  PrepareWriteMode(kFormatJpeg);
  std::vector<std::string> order;
  for (int i = 0; i < 6; ++i) {
    form.FocusNext();
    order.push_back(form.focus()->name());
  }
  EXPECT_EQ(order, (std::vector<std::string>{"Command2(0)", "Command1", "JPEG_BW", "JPEG_Q_SC",
                                             "Command2(0)", "Command1"}));
}

TEST_F(Form1Test, ArrowsInTheOptionGroupSelectTheNeighbourAndTakeTheFocus) {
  PrepareWriteMode(kFormatTiff);
  form.SetFocus(form.Option1.get());
  const struct {
    Key key;
    OptionButton* selected;
    int16_t flag;
  } steps[] = {{Key::Right, form.Option2.get(), 1},
               {Key::Down, form.Option1.get(), 0},  // round the end
               {Key::Up, form.Option2.get(), 1},
               {Key::Left, form.Option1.get(), 0}};
  for (const auto& step : steps) {
    EXPECT_TRUE(form.UserKey(step.key));
    EXPECT_EQ(form.focus(), step.selected);
    EXPECT_TRUE(step.selected->selected());
    EXPECT_EQ(state.TiffCompression, step.flag);
  }
  EXPECT_FALSE(form.Option2->selected());
}

TEST_F(Form1Test, FocusedScrollBarStepsByArrowsPagesAndToItsEnds) {
  PrepareWriteMode(kFormatJpeg);
  form.SetFocus(form.JPEG_Q_SC.get());
  form.JPEG_Q_SC->large_change = 10;
  const struct {
    Key key;
    int value;
  } steps[] = {{Key::Left, 49},     {Key::Up, 48},     {Key::Right, 49}, {Key::Down, 50},
               {Key::PageDown, 60}, {Key::PageUp, 50}, {Key::End, 100},  {Key::Home, 0}};
  for (const auto& step : steps) {
    EXPECT_TRUE(form.UserKey(step.key));
    EXPECT_EQ(form.JPEG_Q_SC->value(), step.value);
  }
  EXPECT_EQ(form.JPEG_Q_DISP->caption, " 0");
  EXPECT_FALSE(form.UserKey(Key::Enter));
}

TEST_F(Form1Test, SpaceTicksTheBoxAndEnterPressesTheFocusedButtonOnly) {
  PrepareWriteMode(kFormatJpeg);
  form.SetFocus(form.JPEG_BW.get());
  EXPECT_TRUE(form.UserKey(Key::Space));
  EXPECT_EQ(form.JPEG_BW->value(), 1);
  EXPECT_FALSE(form.UserKey(Key::Enter));
  EXPECT_FALSE(form.UserKey(Key::Right));
  form.SetFocus(form.Command1.get());
  EXPECT_TRUE(form.UserKey(Key::Enter));
  EXPECT_EQ(imgkit.calls.size(), 3u);
  form.SetFocus(form.Command4.get());  // on the TIFF panel, behind
  EXPECT_FALSE(form.UserKey(Key::Enter));
  EXPECT_EQ(imgkit.calls.size(), 3u);
}

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
    scaled.StackPanels();
    scaled.ShowFormatPanel(kFormatJpeg);
    scaled.FitHeight();
    EXPECT_EQ(scaled.ClientPixels(), c.client) << c.dpi;
    EXPECT_EQ(scaled.PixelsOf(scaled.Label1), c.label1) << c.dpi;
    EXPECT_EQ(scaled.PixelsOf(*scaled.JPEG_Q_DISP), c.quality_display) << c.dpi;
    EXPECT_EQ(scaled.FontPixelsOf(scaled.Label1), c.title_font) << c.dpi;
    EXPECT_EQ(scaled.FontPixelsOf(*scaled.Label3), c.text_font) << c.dpi;
  }
}

TEST_F(Form1Test, AReportedFrameKeepsTheWindowCentredByItsOuterSize) {
  form.CenterOnScreen(1024 * 15, 768 * 15);
  PrepareWriteMode(kFormatJpeg);
  form.AdoptFrame({30, 150, 360, 60});  // 2, 10, 24 and 4 pixels
  EXPECT_EQ(form.width(), 3960 + 180);
  // The outer 276 x 76 pixels of the creation size centred on 1024 x 768;
  // the client area 2 pixels right and 24 down of its corner.
  EXPECT_EQ(form.ClientPixels(), (PixelRect{374 + 2, 346 + 24, 264, 181}));
}

TEST_F(Form1Test, BackUnloadsOnceSavingTheSettings) {
  testing::WriteText(folder.File("DEF_ZAVO.CNF"), "JPGQ , 75\r\nJPGB , 0\r\nTIFM , 0\r\n[EOF]\r\n");
  int unloads = 0;
  form.on_unloaded = [&] { ++unloads; };
  PrepareWriteMode(kFormatJpeg);
  ASSERT_TRUE(form.JPEG_Q_SC->SetValue(60));
  form.Command2[0]->UserClick();
  form.Unload();
  EXPECT_EQ(unloads, 1);
  EXPECT_NE(testing::ReadText(folder.File("ZAVO.CNF")).find("JPGQ ,  60 \r\n"), std::string::npos);
}

TEST_F(Form1Test, AFailedSaveIsReportedAndTheWindowStillCloses) {
  state.Settings = SettingsFiles::InFolder(folder.File("missing-folder") + "/");
  state.SavesOnUnload = true;
  int unloads = 0;
  form.on_unloaded = [&] { ++unloads; };
  form.Unload();
  EXPECT_EQ(unloads, 1);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_NE(boxes.shown[0].text.find("missing-folder"), std::string::npos);
}

}  // namespace
}  // namespace zavo::ui
