#include "app/startup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/fakes.h"
#include "support/test_support.h"

namespace zavo {
namespace {

using Texts = std::vector<std::string>;

class StartupTest : public ::testing::Test {
 protected:
  StartupOutcome Start(const std::vector<std::string>& arguments) {
    return Form_Load(form, state, window, boxes, imgkit, folder.path().string(), arguments);
  }

  testing::TempDir folder;
  ModuleState state;
  testing::RecordingImgKit imgkit;
  testing::RecordingMessageBoxes boxes;
  testing::FakeWindow window;
  ui::Form1 form{state, imgkit, boxes};
};

const std::string kWarning = std::string(kHostWarningTitle) + ", 48: " + kHostWarningText;
const std::string kBmpSave = "BmpFileSave(B, 1, Plumioへの引き渡し, B, 0)";
const std::string kJpegRead =
    "JpegFileLoad(A, Plumio File Option ADD_IN, JPGファイル読み込み, 0) -> ";
const Texts kJpegImport = {kJpegRead + "1", kBmpSave, "MemFree(1)"};

// Read mode without a format fails with no box: the real program's test holds its stderr line.
TEST_F(StartupTest, TellsTheModesApartAndEndsWithTheirOutcome) {
  enum Fault { kNone, kLoadFails, kSaveFails, kNoDisplay };
  const struct {
    std::vector<std::string> tokens;
    Fault fault;
    Texts boxes, calls;
    bool waits;
    int status;
  } cases[] = {
      // clang-format off
      {{}, kNone, {kWarning}, {}, false, kExitNormal},
      {{"/GP=X", "/R", "/JPG", "/ON=A", "/FN=B"}, kNone, {}, kJpegImport, false, kExitNormal},
      {{"/GP", "/R", "/JPEG", "/ON=A", "/FN=B"}, kLoadFails, {}, {kJpegRead + "0", "MemFree(0)"},
       false, kExitImportFailed},
      {{"/GP", "/R", "/JPG", "/ON=A", "/FN=B"}, kSaveFails, {}, kJpegImport, false,
       kExitImportFailed},
      {{"/R", "/TIF", "/ON=A", "/FN=B"}, kNone, {kWarning},
       {"TiffFileLoad(A, Plumio File Option ADD_IN, TIFFファイル読み込み, 0) -> 1", kBmpSave,
        "MemFree(1)"}, false, kExitNormal},
      {{"/GP", "/R", "/GIF", "/ON=A", "/FN=B"}, kNone,
       {"ZAVO32, 0: GIFは今回よりサポート外といたしました"}, {}, false, kExitImportFailed},
      {{"/GP=X", "/W", "/JPG", "/ON=A", "/FN=B"}, kNone, {}, {}, true, kExitNormal},
      {{"/W"}, kNone, {kWarning}, {}, true, kExitNormal},
      {{"/GP", "/R", "/PNG", "/FN=B"}, kNone, {}, {}, false, kExitImportFailed},
      {{"/GP", "/R", "/JP", "/ON=A"}, kNone, {}, {}, false, kExitImportFailed},
      {{"/GP", "/W", "/JPG", "/ON=A", "/FN=B"}, kNoDisplay, {}, {}, false, kExitImportFailed}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.tokens));
    ModuleState fresh_state;
    testing::RecordingImgKit kit;
    testing::RecordingMessageBoxes shown;
    testing::FakeWindow screen;
    screen.display = shown.screen = c.fault != kNoDisplay;
    kit.loads_fail = c.fault == kLoadFails;
    kit.save_status = c.fault == kSaveFails ? -1 : 0;
    ui::Form1 fresh{fresh_state, kit, shown};
    ::testing::internal::CaptureStderr();
    const StartupOutcome outcome =
        Form_Load(fresh, fresh_state, screen, shown, kit, folder.path().string(), c.tokens);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(shown.Texts(), c.boxes);
    EXPECT_EQ(kit.calls, c.calls);
    EXPECT_EQ(outcome.wait_for_user, c.waits);
    EXPECT_EQ(fresh_state.SavesOnUnload, c.waits);
    EXPECT_EQ(outcome.exit_status, c.status);
  }
}

TEST_F(StartupTest, MatchesByPrefixLetsLaterTokensWinAndCentresTheWindow) {
  Start({"/GP", "/READ", "/WRITE", "/JPEG", "/TIFF", "/ON=a", "/ON= C:\\b ", "/FN=c"});
  EXPECT_EQ(form.FrontPanel(), ui::kTiffPanel);
  EXPECT_EQ(form.Label4.caption, " C:\\b ");
  EXPECT_EQ(state.TransferFile, "c");
  EXPECT_EQ(state.AppFolder, folder.path().string() + "/");
  EXPECT_EQ(window.shows, 1);
  EXPECT_FLOAT_EQ(form.left, 1024 * 15 / 2.0f - 3960 / 2.0f);
  EXPECT_FLOAT_EQ(form.top, 768 * 15 / 2.0f - 720 / 2.0f);
}

// A close that slips in while a read-mode import lets events through (its
// progress display does) must not rewrite the settings.
TEST_F(StartupTest, LoadsTheSettingsFirstAndOnlyWriteModeStoresThem) {
  const std::string settings = "JPGQ , 75\r\nJPGB , 2\r\nTIFM , 5\r\n[EOF]\r\n";
  testing::WriteText(folder.File("ZAVO.CNF"), settings);
  imgkit.during_load = [this] {
    ASSERT_TRUE(form.JPEG_Q_SC->SetValue(10));
    form.Unload();
  };
  Start({"/GP", "/R", "/JPG", "/ON=a.jpg", "/FN=b.bmp"});
  EXPECT_TRUE(form.unloaded());
  EXPECT_EQ(testing::ReadText(folder.File("ZAVO.CNF")), settings);

  ui::Form1 window_form{state, imgkit, boxes};
  Form_Load(window_form, state, window, boxes, imgkit, folder.path().string(),
            {"/GP", "/W", "/TIF", "/ON=a.tif", "/FN=b.bmp"});
  EXPECT_EQ(window_form.JPEG_Q_DISP->caption, " 75");
  EXPECT_EQ(window_form.JPEG_BW->value(), 2);
  EXPECT_TRUE(window_form.Option2->selected());
  EXPECT_EQ(state.TiffCompression, 1);
  ASSERT_TRUE(window_form.JPEG_Q_SC->SetValue(10));
  window_form.Unload();
  EXPECT_NE(testing::ReadText(folder.File("ZAVO.CNF")).find("JPGQ ,  10 "), std::string::npos);
  EXPECT_TRUE(boxes.shown.empty());
}

}  // namespace
}  // namespace zavo
