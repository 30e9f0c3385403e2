#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/error.h"
#include "settings/settings.h"
#include "support/test_support.h"

namespace zavo {
namespace {

using Log = std::vector<std::string>;

// Refuses values the way the real controls do and logs what it accepted.
class FakeTarget : public SettingsTarget {
 public:
  int16_t JpegQuality() const override { return quality; }
  Result<void> SetJpegQuality(int16_t value) override {
    if (value < 0 || value > 100) return Error(ErrorKind::InvalidValue, "JPEG_Q_SC refused");
    quality = value;
    log.push_back("JPGQ=" + std::to_string(value));
    return {};
  }
  int16_t JpegGrayscale() const override { return grayscale; }
  Result<void> SetJpegGrayscale(int16_t value) override {
    if (value < 0 || value > 2) return Error(ErrorKind::InvalidValue, "JPEG_BW refused");
    grayscale = value;
    log.push_back("JPGB=" + std::to_string(value));
    return {};
  }
  int16_t TiffCompressionFlag() const override { return tiff; }
  Result<void> SetTiffCompressionFlag(int16_t value) override {
    tiff = value;
    log.push_back("TIFM=" + std::to_string(value));
    return {};
  }

  int16_t quality = 50;  // the values the controls are created with
  int16_t grayscale = 0;
  int16_t tiff = 0;
  Log log;
};

SettingsFiles Files(const testing::TempDir& dir) {
  return SettingsFiles::InFolder(dir.path().string() + "/");
}

std::string CrLfLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

// Loads `text` as ZAVO.CNF; what went to stderr lands in `warnings`.
FakeTarget LoadText(const std::string& text, std::string* warnings = nullptr) {
  testing::TempDir dir;
  testing::WriteText(dir.File("ZAVO.CNF"), text);
  FakeTarget target;
  ::testing::internal::CaptureStderr();
  LoadSettings(Files(dir), target);
  const std::string captured = ::testing::internal::GetCapturedStderr();
  if (warnings != nullptr) *warnings = captured;
  return target;
}

struct LineCase {
  const char* line;
  Log applied;
  bool warns;
};

class SingleLineTable : public ::testing::TestWithParam<LineCase> {};

TEST_P(SingleLineTable, AppliesTheLineOrSkipsIt) {
  std::string warnings;
  const FakeTarget target = LoadText(CrLfLines({GetParam().line, "[EOF]"}), &warnings);
  EXPECT_EQ(target.log, GetParam().applied) << '"' << GetParam().line << '"';
  EXPECT_EQ(warnings.empty(), !GetParam().warns) << warnings;
}

// Every single line the file format describes, plus a few neighbours.
const LineCase kLineCases[] = {
    {"JPGQ , 60", {"JPGQ=60"}, false},
    {"JPGQ,60", {"JPGQ=60"}, false},
    {"   JPGQ   ,   60   ", {"JPGQ=60"}, false},
    {"JPGQ , 60 ' preferred", {"JPGQ=60"}, false},
    {"JPGQUALITY , 60", {"JPGQ=60"}, false},  // four characters name the key
    {"jpgq , 60", {}, false},                 // keys are case-sensitive
    {"JPGQ 60", {"JPGQ=0"}, false},           // no comma: the value text is "JPGQ 60"
    {"JPGQ , 101", {}, true},                 // refused by the scroll bar
    {"JPGQ , -1", {}, true},
    {"JPGQ ,", {"JPGQ=0"}, false},
    {"\tJPGQ , 60", {}, false},              // the tab belongs to the key
    {"   ' JPGQ , 60", {}, false},           // an empty key, like a comment
    {"JPGQ , 60 , 70", {"JPGQ=60"}, false},  // the second comma ends the number
    {"JPGQ , 50.5", {"JPGQ=50"}, false},
    {"JPGQ , &H40", {"JPGQ=64"}, false},
    {"JPGB , 1", {"JPGB=1"}, false},
    {"JPGB , 2", {"JPGB=2"}, false},
    {"JPGB , 3", {}, true},  // refused by the check box
    {"TIFM , 1.5", {"TIFM=2"}, false},
    {"TIFM , 0.5", {"TIFM=0"}, false},
    {"TIFM , 7", {"TIFM=7"}, false},
    {"TIFM , -32768", {"TIFM=-32768"}, false},
    {"TIFM , 32768", {}, true},  // overflow
    {"TIFM , -32769", {}, true},
    {"TIFM , 1E9", {}, true},
    {"", {}, false},
    {"    ", {}, false},
    {"XXXX , 5", {}, false},
};

INSTANTIATE_TEST_SUITE_P(SettingsLoader, SingleLineTable, ::testing::ValuesIn(kLineCases));

struct KindCase {
  const char* line;
  bool ends_the_file;
};

class LineKindTable : public ::testing::TestWithParam<KindCase> {};

// A terminator stops reading: the JPGQ line after it must then have no effect.
TEST_P(LineKindTable, TellsTheTerminatorFromOtherLines) {
  std::string warnings;
  const FakeTarget target = LoadText(CrLfLines({GetParam().line, "JPGQ , 60", "[EOF]"}), &warnings);
  EXPECT_EQ(target.log, GetParam().ends_the_file ? Log{} : Log{"JPGQ=60"}) << GetParam().line;
  EXPECT_EQ(warnings, "");
}

const KindCase kKindCases[] = {
    {"[EOF]", true},   {"[EOF] ", false},  // for the loader only the exact line is a terminator
    {" [EOF]", false}, {"[eof]", false},
    {"[EOF]x", false}, {"'JPGQ , 70", false},  // a comment line
    {"", false},
};

INSTANTIATE_TEST_SUITE_P(SettingsLoader, LineKindTable, ::testing::ValuesIn(kKindCases));

TEST(SettingsLoader, ReadsTheThreeKeys) {
  const FakeTarget target =
      LoadText("' comment\r\n\r\nJPGQ , 90\r\nJPGB , 1\r\nTIFM , -4\r\n[EOF]\r\n");
  EXPECT_EQ(target.log, (Log{"JPGQ=90", "JPGB=1", "TIFM=-4"}));
}

TEST(SettingsLoader, LetsTheLaterOfTwoLinesWin) {
  EXPECT_EQ(LoadText(CrLfLines({"JPGQ , 60", "JPGQ , 70", "[EOF]"})).quality, 70);
}

TEST(SettingsLoader, IgnoresEverythingAfterTheTerminator) {
  std::string warnings;
  const FakeTarget target = LoadText(
      CrLfLines({"JPGQ , 60", "[EOF]", "JPGQ , 70", "JPGB , 9", "TIFM , 99999"}) + "x", &warnings);
  EXPECT_EQ(target.log, Log{"JPGQ=60"});
  EXPECT_EQ(warnings, "");
}

TEST(SettingsLoader, EndsLinesAtALoneCr) {
  EXPECT_EQ(LoadText("JPGQ , 60\rJPGB , 1\r[EOF]\r").log, (Log{"JPGQ=60", "JPGB=1"}));
}

// A lone LF stays in the line: here all of it is one JPGQ line whose value
// "60\n[EOF]\n" reads as 60, because the number reading skips line feeds.
TEST(SettingsLoader, KeepsALoneLfInsideTheLine) {
  std::string warnings;
  EXPECT_EQ(LoadText("JPGQ , 6\n0\n[EOF]\n", &warnings).log, Log{"JPGQ=60"});
  EXPECT_NE(warnings.find("line 2: the file ends without"), std::string::npos) << warnings;
}

TEST(SettingsLoader, NamesFileLineAndReasonOfARefusedValue) {
  testing::TempDir dir;
  testing::WriteText(dir.File("ZAVO.CNF"), CrLfLines({"'", "'", "", "", "JPGB , 1", "",
                                                      "JPGQ , 101", "TIFM , 40000", "[EOF]"}));
  FakeTarget target;
  ::testing::internal::CaptureStderr();
  LoadSettings(Files(dir), target);
  const std::string path = dir.File("ZAVO.CNF");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "zavo: warning: " + path +
                " line 7: JPGQ value 101 refused (quality must be 0 to 100); line skipped\n"
                "zavo: warning: " +
                path +
                " line 8: TIFM value 40000 overflows (must be -32768 to 32767); line skipped\n");
  EXPECT_EQ(target.log, Log{"JPGB=1"});
}

TEST(SettingsLoader, WarnsInOneLineWhateverTheValueHolds) {
  std::string warnings;
  EXPECT_EQ(LoadText("TIFM , 9\n99999\r\n[EOF]\r\n", &warnings).log, Log{});
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 1) << warnings;
  EXPECT_NE(warnings.find("line 1: TIFM value 9 / 99999 overflows"), std::string::npos) << warnings;
}

TEST(SettingsLoader, KeepsValuesReadBeforeACutOffEnd) {
  std::string warnings;
  const FakeTarget target = LoadText("JPGQ , 60\r\nJPGB , 1\r\nTIFM , ", &warnings);
  EXPECT_EQ(target.log, (Log{"JPGQ=60", "JPGB=1", "TIFM=0"}));
  EXPECT_NE(warnings.find("ZAVO.CNF line 4: the file ends without an \"[EOF]\" line"),
            std::string::npos)
      << warnings;
}

// Only an exact "[EOF]" ends the file for the loader.
TEST(SettingsLoader, TreatsAnInexactTerminatorAsAMissingOne) {
  std::string warnings;
  EXPECT_EQ(LoadText(CrLfLines({"JPGQ , 60", "[EOF] "}), &warnings).log, Log{"JPGQ=60"});
  EXPECT_NE(warnings.find("line 3: the file ends without"), std::string::npos) << warnings;
}

TEST(SettingsLoader, LoadsNothingFromAnEmptyFile) {
  std::string warnings;
  EXPECT_EQ(LoadText("", &warnings).log, Log{});
  EXPECT_NE(warnings.find("line 1: the file ends without"), std::string::npos) << warnings;
}

TEST(SettingsLoader, CopiesTheTemplateOverAMissingSettingsFile) {
  testing::TempDir dir;
  // Odd but valid: blanks, UTF-8 text, an unknown key and text after "[EOF]".
  const std::string template_text =
      "' 設定\r\n  ' x  \r\nTIFM,1\r\nJPGQ , 42 ' q\r\n???? , 1\r\n[EOF]\r\nrest\n\xff";
  testing::WriteText(dir.File("DEF_ZAVO.CNF"), template_text);
  FakeTarget target;
  LoadSettings(Files(dir), target);
  EXPECT_EQ(testing::ReadText(dir.File("ZAVO.CNF")), template_text);
  EXPECT_EQ(target.log, (Log{"TIFM=1", "JPGQ=42"}));
}

TEST(SettingsLoader, PrefersTheSettingsFileToTheTemplate) {
  testing::TempDir dir;
  testing::WriteText(dir.File("DEF_ZAVO.CNF"), CrLfLines({"JPGQ , 10", "[EOF]"}));
  testing::WriteText(dir.File("ZAVO.CNF"), CrLfLines({"JPGQ , 20", "[EOF]"}));
  FakeTarget target;
  LoadSettings(Files(dir), target);
  EXPECT_EQ(target.log, Log{"JPGQ=20"});
}

TEST(SettingsLoader, KeepsTheCreationValuesWhenBothFilesAreMissing) {
  testing::TempDir dir;
  FakeTarget target;
  ::testing::internal::CaptureStderr();
  LoadSettings(Files(dir), target);
  const std::string warnings = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(target.log, Log{});
  EXPECT_EQ(target.quality, 50);
  EXPECT_NE(warnings.find(dir.File("DEF_ZAVO.CNF")), std::string::npos) << warnings;
  EXPECT_NE(warnings.find("no settings loaded"), std::string::npos) << warnings;
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 1);
}

struct UnreadableCase {
  const char* what;
  void (*plant)(const std::string& path);
};

class UnreadableSettingsTable : public ::testing::TestWithParam<UnreadableCase> {};

// Only a missing settings file is made from the template. One that is there
// but cannot be read is left exactly as it is, and the template's values
// apply. The folder is open to the user, so nothing but that rule keeps the
// loader from replacing the file; a FIFO must not block the start.
TEST_P(UnreadableSettingsTable, StartsFromTheTemplateAndLeavesTheFileAlone) {
  testing::TempDir dir;
  testing::WriteText(dir.File("DEF_ZAVO.CNF"), CrLfLines({"JPGQ , 10", "[EOF]"}));
  const std::string path = dir.File("ZAVO.CNF");
  GetParam().plant(path);
  const auto planted = std::filesystem::symlink_status(path);
  testing::OpenToOrdinaryUser(dir.path().string(), true);
  const auto body = [&] {
    FakeTarget target;
    ::testing::internal::CaptureStderr();
    LoadSettings(Files(dir), target);
    const std::string warnings = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(target.log, Log{"JPGQ=10"});
    EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 1) << warnings;
    EXPECT_NE(warnings.find(path + ": "), std::string::npos) << warnings;
  };
  EXPECT_TRUE(testing::RunInChild(body, true)) << GetParam().what;
  EXPECT_EQ(std::filesystem::symlink_status(path).type(), planted.type()) << GetParam().what;
  EXPECT_EQ(std::filesystem::symlink_status(path).permissions(), planted.permissions());
}

const UnreadableCase kUnreadableCases[] = {
    {"no read permission",
     [](const std::string& path) {
       testing::WriteText(path, CrLfLines({"JPGQ , 20", "[EOF]"}));
       std::filesystem::permissions(path, std::filesystem::perms::none);
     }},
    {"a FIFO", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0); }},
    {"a folder", [](const std::string& path) { std::filesystem::create_directory(path); }},
    {"a dangling link",
     [](const std::string& path) { std::filesystem::create_symlink(path + ".gone", path); }},
};

INSTANTIATE_TEST_SUITE_P(SettingsLoader, UnreadableSettingsTable,
                         ::testing::ValuesIn(kUnreadableCases));

TEST(SettingsLoader, NeitherWaitsOnNorCopiesATemplateThatIsAFifo) {
  testing::TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("DEF_ZAVO.CNF").c_str(), 0666), 0);
  const auto body = [&] {
    FakeTarget target;
    ::testing::internal::CaptureStderr();
    LoadSettings(Files(dir), target);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("not a regular file"),
              std::string::npos);
    EXPECT_EQ(target.log, Log{});
  };
  EXPECT_TRUE(testing::RunInChild(body));
  EXPECT_FALSE(std::filesystem::exists(dir.File("ZAVO.CNF")));
}

// A missing settings file that cannot be made: the template's values. With
// no settings folder at all (a read-only installation) nothing is said at
// the start, since the close tells the user that nothing could be stored; a
// folder that fails to take the copy is worth a warning.
TEST(SettingsLoader, AppliesTheTemplateWhenTheSettingsFileCannotBeMade) {
  testing::TempDir dir;
  testing::WriteText(dir.File("DEF_ZAVO.CNF"), CrLfLines({"JPGQ , 75", "JPGB , 1", "[EOF]"}));
  for (const std::string& folder : {std::string(), dir.File("absent") + "/"}) {
    SettingsFiles files = Files(dir);
    files.folder = folder;
    FakeTarget target;
    ::testing::internal::CaptureStderr();
    LoadSettings(files, target);
    const std::string warnings = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(target.log, (Log{"JPGQ=75", "JPGB=1"})) << folder;
    EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), folder.empty() ? 0 : 1)
        << warnings;
  }
}

// Reading stops at the size limit: a line beyond it never applies, and the
// line the limit cuts through is not read as a shorter one (its "7" and "0"
// read as 70 when whole, as 7 when cut before the "0").
TEST(SettingsLoader, ReadsNoFurtherThanTheSizeLimit) {
  const std::string head = CrLfLines({"JPGQ , 60", std::string(kSettingsSizeLimit - 50, 'x')});
  const std::string crossing = "JPGQ , 7" + std::string(100, ' ') + "0";
  std::string warnings;
  const FakeTarget target = LoadText(head + CrLfLines({crossing, "JPGB , 1", "[EOF]"}), &warnings);
  EXPECT_EQ(target.log, Log{"JPGQ=60"});
  EXPECT_NE(warnings.find("line 3: no \"[EOF]\" line within the first 65536 bytes"),
            std::string::npos)
      << warnings;
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 1) << warnings;
}

// A huge file costs nothing when its "[EOF]" comes early: it is read no
// further than that (a sparse gigabyte, so the test costs nothing either).
TEST(SettingsLoader, StopsAtTheTerminatorOfAHugeFile) {
  testing::TempDir dir;
  testing::WriteText(dir.File("ZAVO.CNF"), CrLfLines({"JPGQ , 60", "[EOF]"}));
  std::filesystem::resize_file(dir.File("ZAVO.CNF"), uint64_t{1} << 30);
  FakeTarget target;
  ::testing::internal::CaptureStderr();
  LoadSettings(Files(dir), target);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(target.log, Log{"JPGQ=60"});
}

TEST(SettingsLoader, QuotesAtMostTwoHundredCharactersOfALine) {
  std::string warnings;
  LoadText(CrLfLines({"TIFM , 1" + std::string(400, '0') + "x", "[EOF]"}), &warnings);
  EXPECT_NE(warnings.find("TIFM value 1" + std::string(199, '0') + "... overflows"),
            std::string::npos)
      << warnings;
}

TEST(SettingsLoader, LoadsTheInstallationTemplateTo75And0And0) {
  testing::TempDir dir;
  const std::string installed = std::string(ZAVO_SOURCE_DIR) + "/data/DEF_ZAVO.CNF";
  std::filesystem::copy_file(installed, dir.File("DEF_ZAVO.CNF"));
  FakeTarget target;
  target.tiff = 5;
  LoadSettings(Files(dir), target);
  EXPECT_EQ(target.log, (Log{"JPGQ=75", "JPGB=0", "TIFM=0"}));
  EXPECT_EQ(testing::ReadBytes(dir.File("ZAVO.CNF")), testing::ReadBytes(installed));
}

}  // namespace
}  // namespace zavo
