#include "app/startup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/diagnostics.h"
#include "support/fakes.h"
#include "support/test_support.h"

namespace zavo {
namespace {

using testing::FakeWindow;
using testing::RecordingImgKit;
using testing::RecordingMessageBoxes;

class StartupTest : public ::testing::Test {
 protected:
  StartupOutcome Start(const std::vector<std::string>& arguments) {
    return Form_Load(form, state, window, boxes, imgkit, folder.path().string(), arguments);
  }

  testing::TempDir folder;
  ModuleState state;
  RecordingImgKit imgkit;
  RecordingMessageBoxes boxes;
  FakeWindow window;
  ui::Form1 form{state, imgkit, boxes};
};

TEST_F(StartupTest, NoTokensWarnsAndEnds) {
  const StartupOutcome outcome = Start({});
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].title, "Plumio TWAIN(32Bit) ADD_IN");
  EXPECT_EQ(boxes.shown[0].style, 48);
  EXPECT_EQ(boxes.shown[0].text,
            "このADD_INはPlumioのからのみご利用になれます。\r\r"
            "Plumioからの場合、SETUPにてADD_INの設定を行ってからにしてください");
  EXPECT_FALSE(outcome.wait_for_user);
  EXPECT_EQ(outcome.exit_status, kExitNormal);
  EXPECT_TRUE(imgkit.calls.empty());
}

TEST_F(StartupTest, FixesTheFolderShowsTheWindowAndCentresIt) {
  Start({"/GP"});
  EXPECT_EQ(state.AppFolder, folder.path().string() + "/");
  EXPECT_EQ(window.shows, 1);
  EXPECT_FLOAT_EQ(form.left, 1024 * 15 / 2.0f - 3960 / 2.0f);
  EXPECT_FLOAT_EQ(form.top, 768 * 15 / 2.0f - 720 / 2.0f);
}

TEST_F(StartupTest, ReadModeImportsWithoutAWarningWhenTheHostStartedIt) {
  const StartupOutcome outcome = Start({"/GP=X", "/R", "/JPG", "/ON=A.JPG", "/FN=B.BMP"});
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(imgkit.calls,
            (std::vector<std::string>{
                "JpegFileLoad(A.JPG, Plumio File Option ADD_IN, JPGファイル読み込み, 0) -> 1",
                "BmpFileSave(B.BMP, 1, Plumioへの引き渡し, B.BMP, 0)",
                "MemFree(1)",
            }));
  EXPECT_FALSE(outcome.wait_for_user);
  EXPECT_EQ(outcome.exit_status, kExitNormal);
}

TEST_F(StartupTest, ReadModeWarnsFirstThenStillImportsTiff) {
  Start({"/R", "/TIF", "/ON=A.TIF", "/FN=B.BMP"});
  ASSERT_EQ(boxes.shown.size(), 1u);
  ASSERT_FALSE(imgkit.calls.empty());
  EXPECT_EQ(imgkit.calls[0],
            "TiffFileLoad(A.TIF, Plumio File Option ADD_IN, TIFFファイル読み込み, 0) -> 1");
}

TEST_F(StartupTest, AFailedLoadSkipsTheSaveFreesZeroAndEndsWithStatusOne) {
  imgkit.loads_fail = true;
  const StartupOutcome outcome = Start({"/GP", "/R", "/JPG", "/ON=missing.jpg", "/FN=B.BMP"});
  EXPECT_EQ(imgkit.calls.size(), 2u);
  EXPECT_EQ(imgkit.calls.back(), "MemFree(0)");
  EXPECT_EQ(outcome.exit_status, kExitImportFailed);
}

TEST_F(StartupTest, AFailedBmpSaveIsAFailedImport) {
  imgkit.save_status = -1;
  EXPECT_EQ(Start({"/GP", "/R", "/JPG", "/ON=a.jpg", "/FN=b.bmp"}).exit_status, kExitImportFailed);
}

TEST_F(StartupTest, ReadModeGifOnlyTellsItIsNoLongerSupportedAndFails) {
  const StartupOutcome outcome = Start({"/GP", "/R", "/GIF", "/ON=A.GIF", "/FN=B.BMP"});
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "GIFは今回よりサポート外といたしました");
  EXPECT_EQ(boxes.shown[0].style, 0);
  EXPECT_EQ(boxes.shown[0].title, "ZAVO32");
  EXPECT_TRUE(imgkit.calls.empty());
  EXPECT_EQ(outcome.exit_status, kExitImportFailed);
}

// Nothing imported must not look like an import to the host.
TEST_F(StartupTest, ReadModeWithoutAFormatFailsWithOneStderrLineAndNoBox) {
  testing::WriteText(folder.File("ZAVO.CNF"), "[EOF]\r\n");  // no settings warning
  for (const char* format : {"/ON=A", "/PNG", "/JP"}) {
    RecordingDiagnostics said;
    const ScopedDiagnostics to(said);
    const StartupOutcome outcome = Start({"/GP", "/R", format, "/FN=B"});
    EXPECT_EQ(said.lines,
              std::vector<std::string>{"zavo: read mode: " + std::string(kNoFormatFailure)});
    EXPECT_EQ(outcome.exit_status, kExitImportFailed);
  }
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_TRUE(imgkit.calls.empty());
}

TEST_F(StartupTest, JpegSpelledOutMeansJpg) {
  Start({"/GP", "/R", "/JPEG", "/ON=A", "/FN=B"});
  ASSERT_FALSE(imgkit.calls.empty());
  EXPECT_EQ(imgkit.calls[0].rfind("JpegFileLoad(A,", 0), 0u);
}

TEST_F(StartupTest, MatchesByPrefixAndLaterTokensWin) {
  Start({"/GP", "/READ", "/WRITE", "/JPEG", "/TIFF", "/ON=a", "/ON=b", "/FN=c"});
  // Write mode (the later token) with TIFF: the TIFF panel is in front.
  EXPECT_EQ(form.FrontPanel(), ui::kTiffPanel);
  EXPECT_EQ(state.TargetFile, "b");
  EXPECT_EQ(state.TransferFile, "c");
}

TEST_F(StartupTest, KeepsBlanksAfterTheEqualsSign) {
  Start({"/GP", "/ON= C:\\A.JPG"});
  EXPECT_EQ(state.TargetFile, " C:\\A.JPG");
}

TEST_F(StartupTest, WriteModeJpegRaisesAndEnablesTheJpegPanel) {
  const StartupOutcome outcome = Start({"/GP=X", "/W", "/JPG", "/ON=OUT.JPG", "/FN=IN.BMP"});
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_TRUE(outcome.wait_for_user);
  EXPECT_EQ(form.FrontPanel(), ui::kJpegPanel);
  EXPECT_TRUE(form.Picture1[0]->enabled);
  EXPECT_FALSE(form.Picture1[1]->enabled);
  EXPECT_FALSE(form.Picture1[2]->enabled);
  EXPECT_EQ(form.Label4.caption, "OUT.JPG");
  EXPECT_EQ(form.client_height, 2715);
}

TEST_F(StartupTest, WriteModeWithoutAFormatWarnsAndLeavesEveryPanelDisabled) {
  const StartupOutcome outcome = Start({"/W"});
  EXPECT_EQ(boxes.shown.size(), 1u);
  EXPECT_TRUE(outcome.wait_for_user);
  for (const auto& panel : form.Picture1) EXPECT_FALSE(panel->enabled);
  EXPECT_EQ(form.client_height, 2715);
}

TEST_F(StartupTest, WriteModeWithoutADisplayReportsAndEnds) {
  window.display = false;
  boxes.screen = false;
  const StartupOutcome outcome = Start({"/GP", "/W", "/JPG", "/ON=a.jpg", "/FN=b.bmp"});
  EXPECT_FALSE(outcome.wait_for_user);
  EXPECT_EQ(outcome.exit_status, kExitImportFailed);
  EXPECT_TRUE(imgkit.calls.empty());
}

TEST_F(StartupTest, LoadsTheSettingsBeforeTheWindowIsPrepared) {
  testing::WriteText(folder.File("ZAVO.CNF"), "JPGQ , 75\r\nJPGB , 2\r\nTIFM , 5\r\n[EOF]\r\n");
  Start({"/GP", "/W", "/TIF", "/ON=a.tif", "/FN=b.bmp"});
  EXPECT_EQ(form.JPEG_Q_SC->value(), 75);
  EXPECT_EQ(form.JPEG_Q_DISP->caption, " 75");
  EXPECT_EQ(form.JPEG_BW->value(), 2);
  EXPECT_TRUE(form.Option2->selected());
  EXPECT_EQ(state.TiffCompression, 1);
}

// Only a write-mode window that came to wait for the user stores the
// settings when it closes. A close that slips in while a read-mode import
// lets events through (its progress display does) must not rewrite them.
TEST_F(StartupTest, OnlyAWriteModeWindowStoresTheSettingsWhenItCloses) {
  const std::string settings = "JPGQ , 75\r\n[EOF]\r\n";
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
            {"/GP", "/W", "/JPG", "/ON=a.jpg", "/FN=b.bmp"});
  ASSERT_TRUE(window_form.JPEG_Q_SC->SetValue(10));
  window_form.Unload();
  EXPECT_NE(testing::ReadText(folder.File("ZAVO.CNF")).find("JPGQ ,  10 "), std::string::npos);
  EXPECT_TRUE(boxes.shown.empty());
}

// A read-only installation whose user cannot have a config folder either:
// the window shows the template's values, and the close says once that the
// settings could not be stored.
TEST_F(StartupTest, AReadOnlyInstallationWithoutASettingsFolderStartsFromTheTemplate) {
  std::filesystem::copy_file(std::string(ZAVO_SOURCE_DIR) + "/data/DEF_ZAVO.CNF",
                             folder.File("DEF_ZAVO.CNF"));
  testing::WriteText(folder.File("home"), "a file where the config folder would go");
  testing::OpenToOrdinaryUser(folder.path().string(), false);
  const auto body = [&] {
    ::setenv("XDG_CONFIG_HOME", (folder.File("home") + "/config").c_str(), 1);
    Start({"/GP", "/W", "/JPG", "/ON=a.jpg", "/FN=b.bmp"});
    EXPECT_EQ(form.JPEG_Q_SC->value(), 75);
    EXPECT_EQ(form.JPEG_Q_DISP->caption, " 75");
    EXPECT_EQ(form.JPEG_BW->value(), 0);
    ::testing::internal::CaptureStderr();
    form.Unload();
    form.Unload();
    ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_NE(boxes.shown[0].text.find("設定を保存できませんでした"), std::string::npos);
    EXPECT_NE(boxes.shown[0].text.find(folder.File("home")), std::string::npos);
  };
  EXPECT_TRUE(testing::RunInChild(body, true));
  EXPECT_FALSE(std::filesystem::exists(folder.File("ZAVO.CNF")));
}

}  // namespace
}  // namespace zavo
