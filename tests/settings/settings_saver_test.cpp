#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/error.h"
#include "settings/settings.h"
#include "support/test_support.h"

namespace zavo {
namespace {

// Holds the three values and refuses what the real controls refuse.
class FakeTarget : public SettingsTarget {
 public:
  FakeTarget(int16_t q = 75, int16_t g = 0, int16_t t = 0) : quality(q), grayscale(g), tiff(t) {}
  int16_t JpegQuality() const override { return quality; }
  Result<void> SetJpegQuality(int16_t value) override {
    if (value < 0 || value > 100) return Error(ErrorKind::InvalidValue, "JPEG_Q_SC refused");
    quality = value;
    return {};
  }
  int16_t JpegGrayscale() const override { return grayscale; }
  Result<void> SetJpegGrayscale(int16_t value) override {
    if (value < 0 || value > 2) return Error(ErrorKind::InvalidValue, "JPEG_BW refused");
    grayscale = value;
    return {};
  }
  int16_t TiffCompressionFlag() const override { return tiff; }
  Result<void> SetTiffCompressionFlag(int16_t value) override {
    tiff = value;
    return {};
  }

  int16_t quality;
  int16_t grayscale;
  int16_t tiff;
};

std::string CrLfLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

SettingsFiles Files(const testing::TempDir& dir) {
  return SettingsFiles::InFolder(dir.path().string() + "/");
}

// What a save may leave in its folder besides the settings file, its
// template and its lock: nothing, above all no scratch file.
std::vector<std::string> StrayFiles(const testing::TempDir& dir) {
  std::vector<std::string> stray;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    if (name != "DEF_ZAVO.CNF" && name != "ZAVO.CNF" && name != "ZAVO.LCK") stray.push_back(name);
  }
  return stray;
}

// Saves from `template_text` (no template file when empty) and returns the new ZAVO.CNF.
std::string SaveFrom(const std::string& template_text, const FakeTarget& target) {
  testing::TempDir dir;
  if (!template_text.empty()) testing::WriteText(dir.File("DEF_ZAVO.CNF"), template_text);
  ::testing::internal::CaptureStderr();
  const auto saved = SaveSettings(Files(dir), target);
  ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(saved.ok()) << saved.error().message();
  EXPECT_EQ(StrayFiles(dir), std::vector<std::string>{});
  return testing::ReadText(dir.File("ZAVO.CNF"));
}

struct RebuildCase {
  const char* template_line;
  const char* written_line;
};

class RebuiltLineTable : public ::testing::TestWithParam<RebuildCase> {};

// Quality 75, grayscale 2, TiffCompression -3 throughout.
TEST_P(RebuiltLineTable, WritesTheLineCharacterByCharacter) {
  const std::string written =
      SaveFrom(CrLfLines({GetParam().template_line, "[EOF]"}), FakeTarget(75, 2, -3));
  EXPECT_EQ(written, CrLfLines({GetParam().written_line, "[EOF]"}));
}

const RebuildCase kRebuildCases[] = {
    {"JPGQ , 50", "JPGQ ,  75 "},
    {"   JPGQ   ,   50   ", "JPGQ ,  75 "},
    {"JPGQ , 50 ' kept", "JPGQ ,  75 ' kept"},
    {"JPGQ,50'kept  ", "JPGQ ,  75 'kept"},
    {"JPGQ , 50 ' it's", "JPGQ ,  75 ' it's"},
    {"JPGQ 50", "JPGQ ,  75 "},  // no comma: written in the normal form
    {"JPGQUALITY , 50", "JPGQ ,  75 "},
    {"jpgq , 50", "jpgq , 50 "},  // not a known key: its own value text
    {"NOTE ,  a  b  ", "NOTE , a  b "},
    {"NOTE , x , y", "NOTE , x , y "},
    {"AB", "AB , AB "},  // no comma: the whole rest is the value text too
    {"JPGB , 0", "JPGB ,  2 "},
    {"TIFM , 0", "TIFM , -3 "},
    {"\tJPGQ , 5", "\tJPG , 5 "},
    {"画質設定値 , 画質", "画質設定 , 画質 "},
    {"   ' comment   ", "' comment"},
    {"'", "'"},
    {"", ""},
    {"     ", ""},
    {"[eof]", "[eof , [eof] "},  // case counts: not the terminator
};

INSTANTIATE_TEST_SUITE_P(SettingsSaver, RebuiltLineTable, ::testing::ValuesIn(kRebuildCases));

TEST(SettingsSaver, EndsTheCopyAtATerminatorWithBlanks) {
  for (const char* terminator : {"[EOF]", "[EOF]   ", "   [EOF]", " [EOF] "}) {
    EXPECT_EQ(SaveFrom(CrLfLines({"JPGQ , 1", terminator, "TIFM , 1", "junk"}), FakeTarget()),
              CrLfLines({"JPGQ ,  75 ", "[EOF]"}))
        << '"' << terminator << '"';
  }
}

TEST(SettingsSaver, WritesTheCurrentValueOnEveryLineOfARepeatedKey) {
  EXPECT_EQ(SaveFrom(CrLfLines({"JPGB , 0", "JPGB , 1 ' again", "[EOF]"}), FakeTarget(75, 1)),
            CrLfLines({"JPGB ,  1 ", "JPGB ,  1 ' again", "[EOF]"}));
}

TEST(SettingsSaver, LeavesOutAKeyTheTemplateLacks) {
  EXPECT_EQ(SaveFrom(CrLfLines({"JPGQ , 1", "[EOF]"}), FakeTarget(9, 1, 1)),
            CrLfLines({"JPGQ ,  9 ", "[EOF]"}));
}

TEST(SettingsSaver, MatchesTheGoldenFile) {
  const std::string golden = std::string(ZAVO_SOURCE_DIR) + "/tests/settings/golden/";
  EXPECT_EQ(SaveFrom(testing::ReadText(golden + "template.cnf"), FakeTarget(60, 1, -5)),
            testing::ReadText(golden + "expected.cnf"));
}

TEST(SettingsSaver, WritesTheThreeKeysWithoutATemplate) {
  EXPECT_EQ(SaveFrom("", FakeTarget(60, 1, -7)),
            CrLfLines({"JPGQ ,  60 ", "JPGB ,  1 ", "TIFM , -7 ", "[EOF]"}));
}

TEST(SettingsSaver, CompletesAnUnterminatedTemplate) {
  EXPECT_EQ(
      SaveFrom("' c\r\nJPGB , 0\r\n[EOF] x", FakeTarget(60, 1, 0)),
      CrLfLines({"' c", "JPGB ,  1 ", "[EOF , [EOF] x ", "JPGQ ,  60 ", "TIFM ,  0 ", "[EOF]"}));
}

TEST(SettingsSaver, ReplacesTheOldFileInsteadOfRewritingIt) {
  testing::TempDir dir;
  testing::WriteText(dir.File("DEF_ZAVO.CNF"), CrLfLines({"JPGQ , 1", "[EOF]"}));
  testing::WriteText(dir.File("ZAVO.CNF"), "old");
  std::filesystem::create_hard_link(dir.File("ZAVO.CNF"), dir.File("old-link"));
  ASSERT_TRUE(SaveSettings(Files(dir), FakeTarget(33)).ok());
  EXPECT_EQ(testing::ReadText(dir.File("ZAVO.CNF")), CrLfLines({"JPGQ ,  33 ", "[EOF]"}));
  EXPECT_EQ(testing::ReadText(dir.File("old-link")), "old");  // its file was never opened
}

TEST(SettingsSaver, ReportsAFolderThatCannotBeWritten) {
  testing::TempDir dir;
  const auto saved = SaveSettings(SettingsFiles::InFolder(dir.File("absent") + "/"), FakeTarget());
  ASSERT_FALSE(saved.ok());
  EXPECT_EQ(saved.error().kind(), ErrorKind::Io);
  EXPECT_NE(saved.error().message().find("ZAVO.CNF"), std::string::npos) << saved.error().message();
  EXPECT_FALSE(std::filesystem::exists(dir.File("absent")));
}

TEST(SettingsSaver, ReportsASettingsFileThatIsAFolder) {
  testing::TempDir dir;
  std::filesystem::create_directory(dir.File("ZAVO.CNF"));
  const auto saved = SaveSettings(Files(dir), FakeTarget());
  ASSERT_FALSE(saved.ok());
  EXPECT_EQ(saved.error().kind(), ErrorKind::Io);
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("ZAVO.CNF")));
  EXPECT_EQ(StrayFiles(dir), std::vector<std::string>{});
}

// The file size limit stands in for a full disk; it must not touch the test
// process, so the save runs in a child that reports through its exit code.
TEST(SettingsSaver, KeepsTheOldFileWhenTheDiskIsFull) {
  testing::TempDir dir;
  testing::WriteText(dir.File("DEF_ZAVO.CNF"),
                     CrLfLines({"' a long comment line", "JPGQ , 1", "[EOF]"}));
  testing::WriteText(dir.File("ZAVO.CNF"), "old settings");
  const pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{16, 16};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const auto saved = SaveSettings(Files(dir), FakeTarget());
    ::_exit(!saved.ok() && saved.error().kind() == ErrorKind::Io ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the save did not report the failed write";
  EXPECT_EQ(testing::ReadText(dir.File("ZAVO.CNF")), "old settings");
  EXPECT_EQ(StrayFiles(dir), std::vector<std::string>{});
}

struct PlantedCase {
  const char* name;  // what was planted in the settings folder under this name
  const char* kind;  // "link", "dangling link" or "fifo"
};

class PlantedFileTable : public ::testing::TestWithParam<PlantedCase> {};

// Whoever may write in the settings folder can plant things under the names
// the add-in once used as its scratch file or uses for its lock. The save is
// never written through them (a link would have the file it names
// overwritten, or created), never waits on them, and still succeeds.
TEST_P(PlantedFileTable, SavesWithoutWritingThroughOrWaitingOnIt) {
  testing::TempDir dir;
  testing::WriteText(dir.File("DEF_ZAVO.CNF"), CrLfLines({"JPGQ , 1", "[EOF]"}));
  const std::string planted = dir.File(GetParam().name);
  const std::string victim = dir.File("victim");
  const std::string kind = GetParam().kind;
  if (kind == "fifo") {
    ASSERT_EQ(::mkfifo(planted.c_str(), 0666), 0);
  } else {
    std::filesystem::create_symlink(victim, planted);
  }
  if (kind == "link") testing::WriteText(victim, "precious");
  const auto body = [&] {
    ::testing::internal::CaptureStderr();
    const auto saved = SaveSettings(Files(dir), FakeTarget(33));
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(saved.ok()) << saved.error().message();
  };
  EXPECT_TRUE(testing::RunInChild(body)) << planted;
  EXPECT_EQ(testing::ReadText(dir.File("ZAVO.CNF")), CrLfLines({"JPGQ ,  33 ", "[EOF]"}));
  EXPECT_FALSE(std::filesystem::is_symlink(dir.File("ZAVO.CNF")));
  EXPECT_EQ(testing::ReadText(victim), kind == "link" ? "precious" : "");
  EXPECT_EQ(std::filesystem::exists(victim), kind == "link");
  EXPECT_EQ(
      std::filesystem::symlink_status(planted).type(),
      kind == "fifo" ? std::filesystem::file_type::fifo : std::filesystem::file_type::symlink);
}

const PlantedCase kPlantedCases[] = {
    {"ZAVO.TMP", "link"}, {"ZAVO.TMP", "dangling link"}, {"ZAVO.TMP", "fifo"},
    {"ZAVO.LCK", "link"}, {"ZAVO.LCK", "dangling link"}, {"ZAVO.LCK", "fifo"},
};

INSTANTIATE_TEST_SUITE_P(SettingsSaver, PlantedFileTable, ::testing::ValuesIn(kPlantedCases));

// Two processes closing their windows over and over at the same moment:
// every save succeeds and the file is always one of the two, whole.
TEST(SettingsSaver, LetsConcurrentSavesTakeTurns) {
  testing::TempDir dir;
  testing::WriteText(dir.File("DEF_ZAVO.CNF"),
                     CrLfLines({"' template", "JPGQ , 1", "JPGB , 0", "TIFM , 0", "[EOF]"}));
  const auto saver = [&](int16_t quality) {
    const pid_t child = ::fork();
    if (child == 0) {
      for (int round = 0; round < 100; ++round) {
        if (!SaveSettings(Files(dir), FakeTarget(quality, 1, quality)).ok()) ::_exit(1);
      }
      ::_exit(0);
    }
    return child;
  };
  const pid_t savers[] = {saver(11), saver(99)};
  for (const pid_t child : savers) {
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a save failed";
  }
  const std::string saved = testing::ReadText(dir.File("ZAVO.CNF"));
  EXPECT_TRUE(
      saved == CrLfLines({"' template", "JPGQ ,  11 ", "JPGB ,  1 ", "TIFM ,  11 ", "[EOF]"}) ||
      saved == CrLfLines({"' template", "JPGQ ,  99 ", "JPGB ,  1 ", "TIFM ,  99 ", "[EOF]"}))
      << saved;
  EXPECT_EQ(StrayFiles(dir), std::vector<std::string>{});
}

TEST(SettingsSaver, GivesBackEveryValueAfterALoad) {
  testing::TempDir dir;
  testing::WriteText(dir.File("DEF_ZAVO.CNF"),
                     CrLfLines({"' template", "JPGQ , 50", "JPGB , 0", "TIFM , 0", "[EOF]"}));
  for (int16_t quality = 0; quality <= 100; ++quality) {
    for (int16_t grayscale = 0; grayscale <= 2; ++grayscale) {
      const int16_t tiff = static_cast<int16_t>(-1 - 327 * quality - grayscale);
      ASSERT_TRUE(SaveSettings(Files(dir), FakeTarget(quality, grayscale, tiff)).ok());
      FakeTarget loaded(50, 0, 0);
      LoadSettings(Files(dir), loaded);
      ASSERT_EQ(loaded.quality, quality);
      ASSERT_EQ(loaded.grayscale, grayscale);
      ASSERT_EQ(loaded.tiff, tiff);
    }
  }
}

TEST(SettingsSaver, RoundTripsThroughTheInstallationTemplate) {
  testing::TempDir dir;
  std::filesystem::copy_file(std::string(ZAVO_SOURCE_DIR) + "/data/DEF_ZAVO.CNF",
                             dir.File("DEF_ZAVO.CNF"));
  for (const FakeTarget& saved :
       {FakeTarget(60, 1, 1), FakeTarget(0, 2, -32768), FakeTarget(100, 0, 32767)}) {
    ASSERT_TRUE(SaveSettings(Files(dir), saved).ok());
    FakeTarget loaded(50, 0, 0);
    ::testing::internal::CaptureStderr();
    LoadSettings(Files(dir), loaded);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(loaded.quality, saved.quality);
    EXPECT_EQ(loaded.grayscale, saved.grayscale);
    EXPECT_EQ(loaded.tiff, saved.tiff);
  }
}

}  // namespace
}  // namespace zavo
