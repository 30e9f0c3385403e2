#include "app/startup.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "app/command_line.h"
#include "support/fakes.h"
#include "support/test_support.h"

namespace zavo {
namespace {

using Texts = std::vector<std::string>;

Texts Listed(const CommandLineTokens& tokens) {
  return {tokens.TokenList.begin(), tokens.TokenList.begin() + tokens.TokenCount};
}

TEST(SplitCommandLine, CutsBeforeEverySlashTrimsBlanksAndKeepsTenTokens) {
  const std::pair<std::string, Texts> cases[] = {
      {"", {}},
      {"  /R /ON=A.JPG   /FN=B.BMP ", {"/R", "/ON=A.JPG", "/FN=B.BMP"}},
      {"X /R", {"X", "/R"}},
      {"/R\t/W", {"/R\t", "/W"}},  // tabs are no blanks
      {"/A/B/C/D/E/F/G/H/I/J/K/L", {"/A", "/B", "/C", "/D", "/E", "/F", "/G", "/H", "/I", "/J"}}};
  for (auto [line, expected] : cases) {
    CommandLineTokens tokens;
    EXPECT_EQ(SplitCommandLine(line, tokens), 0);
    EXPECT_EQ(Listed(tokens), expected) << line;
  }
}

// A file name may hold a slash or begin or end with a blank.
TEST(TokenizeArguments, KeepsWholePathsAndSplitsTheRest) {
  const std::pair<Texts, Texts> cases[] = {
      {{" /ON= /x/y.jpg ", "  /FN=t.bmp  "}, {"/ON= /x/y.jpg ", "/FN=t.bmp  "}},
      {{"/R/JPG ", "X", "", "/W"}, {"/R", "/JPG", "X", "/W"}}};
  for (const auto& [arguments, expected] : cases) {
    EXPECT_EQ(Listed(TokenizeArguments(arguments)), expected) << arguments[0];
  }
}

// What one start of the program works on, in a folder of its own.
struct Session {
  StartupOutcome Start(const Texts& arguments) {
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
const std::string kJpegRead =
    "JpegFileLoad(A, Plumio File Option ADD_IN, JPGファイル読み込み, 0) -> ";
const Texts kJpegImport = {kJpegRead + "1", "BmpFileSave(B, 1, Plumioへの引き渡し, B, 0)",
                           "MemFree(1)"};

// Read mode without a format fails with no box: the real program's test holds its stderr line.
TEST(Startup, TellsTheModesApartAndEndsWithTheirOutcome) {
  enum Fault { kNone, kLoadFails, kSaveFails, kNoDisplay };
  const std::tuple<Texts, Fault, Texts, Texts, bool, int> cases[] = {
      // clang-format off
      {{}, kNone, {kWarning}, {}, false, kExitNormal},
      {{"/GP=X", "/R", "/JPG", "/ON=A", "/FN=B"}, kNone, {}, kJpegImport, false, kExitNormal},
      {{"/GP", "/R", "/JPEG", "/ON=A", "/FN=B"}, kLoadFails, {}, {kJpegRead + "0", "MemFree(0)"},
       false, kExitImportFailed},
      {{"/GP", "/R", "/JPG", "/ON=A", "/FN=B"}, kSaveFails, {}, kJpegImport, false,
       kExitImportFailed},
      {{"/GP", "/R", "/GIF", "/ON=A", "/FN=B"}, kNone,
       {"ZAVO32, 0: GIFは今回よりサポート外といたしました"}, {}, false, kExitImportFailed},
      {{"/W"}, kNone, {kWarning}, {}, true, kExitNormal},
      {{"/GP", "/R", "/JP", "/ON=A"}, kNone, {}, {}, false, kExitImportFailed},
      {{"/GP", "/W", "/JPG", "/ON=A", "/FN=B"}, kNoDisplay, {}, {}, false, kExitImportFailed}};
  // clang-format on
  for (const auto& [tokens, fault, boxes, calls, waits, status] : cases) {
    SCOPED_TRACE(::testing::PrintToString(tokens));
    Session run;
    run.window.display = run.boxes.screen = fault != kNoDisplay;
    run.imgkit.loads_fail = fault == kLoadFails;
    run.imgkit.save_status = fault == kSaveFails ? -1 : 0;
    const StartupOutcome outcome = run.Start(tokens);
    EXPECT_EQ(std::tuple(run.boxes.texts, run.imgkit.calls, outcome.wait_for_user,
                         run.state.SavesOnUnload, outcome.exit_status),
              std::tuple(boxes, calls, waits, waits, status));
  }
}

TEST(Startup, MatchesByPrefixAndLetsLaterTokensWin) {
  Session run;
  run.Start({"/GP", "/READ", "/WRITE", "/JPEG", "/TIFF", "/ON=a", "/ON= C:\\b ", "/FN=c"});
  EXPECT_EQ(std::tuple(run.form.FrontPanel(), run.form.Label4.caption, run.state.TransferFile,
                       run.state.AppFolder, run.window.shows),
            std::tuple(ui::kTiffPanel, " C:\\b ", "c", run.folder.path().string() + "/", 1));
}

// A close that slips in during a read-mode import (its progress display lets
// events through) does nothing: the window closes with the process.
TEST(Startup, LoadsTheSettingsFirstAndOnlyWriteModeStoresThem) {
  Session read, write;
  testing::WriteText(write.folder.File("ZAVO.CNF"),
                     "JPGQ , 75\r\nJPGB , 2\r\nTIFM , 5\r\n[EOF]\r\n");
  read.imgkit.during_load = [&read] {
    ASSERT_TRUE(read.form.JPEG_Q_SC->SetValue(10));
    read.form.Unload();
  };
  read.Start({"/GP", "/R", "/JPG", "/ON=a.jpg", "/FN=b.bmp"});
  EXPECT_FALSE(read.form.unloaded());
  write.Start({"/GP", "/W", "/TIF", "/ON=a.tif", "/FN=b.bmp"});
  EXPECT_EQ(std::tuple(write.form.JPEG_Q_DISP->caption, write.form.JPEG_BW->value(),
                       write.form.Option2->selected(), write.state.TiffCompression),
            std::tuple(" 75", 2, true, 1));
  EXPECT_TRUE(read.boxes.shown.empty() && write.boxes.shown.empty());
}

}  // namespace
}  // namespace zavo
