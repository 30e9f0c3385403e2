#include "settings/settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/fake_target.h"
#include "support/test_support.h"

namespace zavo {
namespace {

namespace fs = std::filesystem;
using testing::FakeTarget;
using Log = std::vector<std::string>;

std::string CrLf(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

SettingsFiles Files(const testing::TempDir& dir) {
  return SettingsFiles::InFolder(dir.path().string() + "/");
}

struct Loaded {
  Log log;
  std::string warnings;
  long lines() const { return std::count(warnings.begin(), warnings.end(), '\n'); }
};

Loaded Load(const SettingsFiles& files) {
  FakeTarget target;
  ::testing::internal::CaptureStderr();
  LoadSettings(files, target);
  return {target.log, ::testing::internal::GetCapturedStderr()};
}

// --- loading ---

struct LoadCase {
  std::string text;  // ZAVO.CNF
  Log applied;
  std::string warning;  // a part of the one warning line; "": none
};

std::string Line(const std::string& line) { return CrLf({line, "[EOF]"}); }

TEST(SettingsLoader, AppliesWhatTheLinesSay) {
  const std::string limit_head = CrLf({"JPGQ , 60", std::string(kSettingsSizeLimit - 50, 'x')});
  const std::string ends = "the file ends without an \"[EOF]\" line";
  const LoadCase cases[] = {
      {Line("JPGQ , 60"), {"JPGQ=60"}, ""},
      {Line("   JPGQ   ,60   ' note"), {"JPGQ=60"}, ""},
      {Line("JPGQUALITY , 60"), {"JPGQ=60"}, ""},  // four characters name the key
      {Line("jpgq , 60"), {}, ""},                 // keys are case-sensitive
      {Line("JPGQ 60"), {"JPGQ=0"}, ""},           // no comma: the value text is "JPGQ 60"
      {Line("\tJPGQ , 60"), {}, ""},               // the tab belongs to the key
      {Line("   ' JPGQ , 60"), {}, ""},            // an empty key, like a comment
      {Line("JPGQ , 60 , 70"), {"JPGQ=60"}, ""},
      {Line("JPGB , 2"), {"JPGB=2"}, ""},
      {Line("TIFM , 1.5"), {"TIFM=2"}, ""},
      {Line("XXXX , 5"), {}, ""},
      {CrLf({"'", "", "JPGQ , 101", "[EOF]"}),
       {},
       "ZAVO.CNF line 3: JPGQ value 101 refused (quality must be 0 to 100); line skipped\n"},
      {Line("TIFM , 32768"), {}, "line 1: TIFM value 32768 overflows (must be -32768 to 32767)"},
      {Line("TIFM , 1" + std::string(400, '0')), {}, "1" + std::string(199, '0') + "... overflows"},
      {"TIFM , 9\n99999\r\n[EOF]\r\n", {}, "line 1: TIFM value 9 / 99999 overflows"},
      {"' c\r\n\r\nJPGQ , 90\r\nJPGB , 1\r\nTIFM , -4\r\n[EOF]\r\n",
       {"JPGQ=90", "JPGB=1", "TIFM=-4"},
       ""},
      {CrLf({"JPGQ , 60", "JPGQ , 70", "[EOF]"}), {"JPGQ=60", "JPGQ=70"}, ""},
      {CrLf({"JPGQ , 60", "[EOF]", "JPGQ , 70", "TIFM , 99999"}) + "x", {"JPGQ=60"}, ""},
      {"JPGQ , 60\rJPGB , 1\r[EOF]\r", {"JPGQ=60", "JPGB=1"}, ""},
      // A lone LF stays in the line, and the number reading skips it.
      {"JPGQ , 6\n0\n[EOF]\n", {"JPGQ=60"}, "line 2: " + ends},
      {"JPGQ , 60\r\nJPGB , 1\r\nTIFM , ", {"JPGQ=60", "JPGB=1", "TIFM=0"}, "line 4: " + ends},
      // Only the exact line ends the file.
      {CrLf({"[EOF] ", " [EOF]", "[eof]", "[EOF]x", "JPGQ , 60"}), {"JPGQ=60"}, "line 6: " + ends},
      {"", {}, "line 1: " + ends},
      // Reading stops at the size limit; the line it cuts through ("7"
      // and "0" far apart) is not read as a shorter one.
      {limit_head + CrLf({"JPGQ , 7" + std::string(100, ' ') + "0", "JPGB , 1", "[EOF]"}),
       {"JPGQ=60"},
       "line 3: no \"[EOF]\" line within the first 65536 bytes"}};
  for (const LoadCase& c : cases) {
    const Loaded loaded = [&] {
      testing::TempDir dir;
      testing::WriteText(dir.File("ZAVO.CNF"), c.text);
      return Load(Files(dir));
    }();
    SCOPED_TRACE(c.text.substr(0, 80));
    EXPECT_EQ(loaded.log, c.applied);
    EXPECT_EQ(loaded.lines(), c.warning.empty() ? 0 : 1) << loaded.warnings;
    EXPECT_NE(loaded.warnings.find(c.warning), std::string::npos) << loaded.warnings;
  }
}

// A huge file whose "[EOF]" comes early is read no further (a sparse GiB).
TEST(SettingsLoader, StopsAtTheTerminatorOfAHugeFile) {
  testing::TempDir dir;
  testing::WriteText(dir.File("ZAVO.CNF"), Line("JPGQ , 60"));
  fs::resize_file(dir.File("ZAVO.CNF"), uint64_t{1} << 30);
  const Loaded loaded = Load(Files(dir));
  EXPECT_EQ(loaded.log, Log{"JPGQ=60"});
  EXPECT_EQ(loaded.warnings, "");
}

TEST(SettingsLoader, CopiesTheTemplateByteForByteOnlyOverAMissingFile) {
  testing::TempDir dir;
  // Odd but valid: blanks, UTF-8 text, an unknown key and text after "[EOF]".
  const std::string odd =
      "' 設定\r\n  ' x  \r\nTIFM,1\r\nJPGQ , 42 ' q\r\n???? , 1\r\n[EOF]\r\nrest\n\xff";
  testing::WriteText(dir.File("DEF_ZAVO.CNF"), odd);
  EXPECT_EQ(Load(Files(dir)).log, (Log{"TIFM=1", "JPGQ=42"}));
  EXPECT_EQ(testing::ReadText(dir.File("ZAVO.CNF")), odd);
  testing::WriteText(dir.File("ZAVO.CNF"), Line("JPGQ , 20"));
  EXPECT_EQ(Load(Files(dir)).log, Log{"JPGQ=20"});
}

// Neither file: the creation values stay, with one warning; a template
// that is a FIFO is neither waited on nor copied. Without a settings folder
// (a read-only installation) the template applies and nothing is said, as
// the close tells; a folder that fails to take the copy is worth a warning.
TEST(SettingsLoader, StartsFromTheTemplateWhereverItCan) {
  testing::TempDir dir;
  const struct {
    std::string folder;  // of the settings file; the template in `dir`
    void (*plant)(const std::string& template_path);
    Log applied;
    std::string warning;  // "": none
  } cases[] = {
      {"", [](const std::string& t) { testing::WriteText(t, Line("JPGQ , 75")); }, {"JPGQ=75"}, ""},
      {dir.File("absent") + "/", [](const std::string&) {}, {"JPGQ=75"}, "absent"},
      {dir.path().string() + "/",
       [](const std::string& t) { fs::remove(t); },
       {},
       dir.File("DEF_ZAVO.CNF") + ": No such file or directory; no settings loaded"},
      {dir.path().string() + "/",
       [](const std::string& t) { ::mkfifo(t.c_str(), 0666); },
       {},
       "not a regular file"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.warning);
    c.plant(dir.File("DEF_ZAVO.CNF"));
    SettingsFiles files = Files(dir);
    files.folder = c.folder;
    EXPECT_TRUE(testing::RunInChild([&] {
      const Loaded loaded = Load(files);
      EXPECT_EQ(loaded.log, c.applied);
      EXPECT_EQ(loaded.lines(), c.warning.empty() ? 0 : 1) << loaded.warnings;
      EXPECT_NE(loaded.warnings.find(c.warning), std::string::npos) << loaded.warnings;
    }));
  }
  EXPECT_FALSE(fs::exists(dir.File("ZAVO.CNF")));
}

// A settings file that is there but cannot be read is left exactly as it
// is and the template's values apply; the folder is open to the user, so
// only that rule keeps the loader from replacing it.
TEST(SettingsLoader, StartsFromTheTemplateAndLeavesAnUnreadableFileAlone) {
  for (const std::string kind : {"unreadable", "FIFO", "folder", "dangling link"}) {
    SCOPED_TRACE(kind);
    testing::TempDir dir;
    testing::WriteText(dir.File("DEF_ZAVO.CNF"), Line("JPGQ , 10"));
    const std::string path = dir.File("ZAVO.CNF");
    if (kind == "unreadable") testing::WriteText(path, Line("JPGQ , 20"));
    if (kind == "unreadable") fs::permissions(path, fs::perms::none);
    if (kind == "FIFO") ::mkfifo(path.c_str(), 0666);
    if (kind == "folder") fs::create_directory(path);
    if (kind == "dangling link") fs::create_symlink(path + ".gone", path);
    const auto planted = fs::symlink_status(path);
    testing::OpenToOrdinaryUser(dir.path().string(), true);
    EXPECT_TRUE(testing::RunInChild(
        [&] {
          const Loaded loaded = Load(Files(dir));
          EXPECT_EQ(loaded.log, Log{"JPGQ=10"});
          EXPECT_EQ(loaded.lines(), 1) << loaded.warnings;
          EXPECT_NE(loaded.warnings.find(path + ": "), std::string::npos) << loaded.warnings;
        },
        true));
    EXPECT_EQ(fs::symlink_status(path).type(), planted.type());
    EXPECT_EQ(fs::symlink_status(path).permissions(), planted.permissions());
  }
}

// --- saving ---

// What a save may leave besides the settings file, its template and its
// lock: nothing, above all no scratch file.
std::vector<std::string> StrayFiles(const testing::TempDir& dir) {
  std::vector<std::string> stray;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    if (name != "DEF_ZAVO.CNF" && name != "ZAVO.CNF" && name != "ZAVO.LCK") stray.push_back(name);
  }
  return stray;
}

// Saves from `template_text` (no template file when empty); the new ZAVO.CNF.
std::string SaveFrom(const std::string& template_text, const FakeTarget& target) {
  testing::TempDir dir;
  if (!template_text.empty()) testing::WriteText(dir.File("DEF_ZAVO.CNF"), template_text);
  const auto saved = SaveSettings(Files(dir), target);
  EXPECT_TRUE(saved.ok()) << saved.error().message();
  EXPECT_EQ(StrayFiles(dir), std::vector<std::string>{});
  return testing::ReadText(dir.File("ZAVO.CNF"));
}

// Quality 75, grayscale 2, TiffCompression -3 throughout.
TEST(SettingsSaver, RebuildsTheTemplateLineByLine) {
  const std::pair<std::string, std::string> cases[] = {
      {Line("JPGQ , 50"), Line("JPGQ ,  75 ")},
      {Line("   JPGQ   ,   50   "), Line("JPGQ ,  75 ")},
      {Line("JPGQ,50'kept  "), Line("JPGQ ,  75 'kept")},
      {Line("JPGQ , 50 ' it's"), Line("JPGQ ,  75 ' it's")},
      {Line("JPGQ 50"), Line("JPGQ ,  75 ")},  // no comma: written in the normal form
      {Line("JPGQUALITY , 50"), Line("JPGQ ,  75 ")},
      {Line("jpgq , 50"), Line("jpgq , 50 ")},  // not a known key: its own value text
      {Line("NOTE ,  a  b  "), Line("NOTE , a  b ")},
      {Line("NOTE , x , y"), Line("NOTE , x , y ")},
      {Line("AB"), Line("AB , AB ")},  // no comma: the whole rest is the value text too
      {Line("JPGB , 0"), Line("JPGB ,  2 ")},
      {Line("TIFM , 0"), Line("TIFM , -3 ")},
      {Line("\tJPGQ , 5"), Line("\tJPG , 5 ")},
      {Line("画質設定値 , 画質"), Line("画質設定 , 画質 ")},
      {Line("   ' comment   "), Line("' comment")},
      {Line("     "), Line("")},
      {Line("[eof]"), Line("[eof , [eof] ")},  // case counts: not the terminator
      {CrLf({"JPGB , 0", "JPGB , 1 ' again", "[EOF]"}),
       CrLf({"JPGB ,  2 ", "JPGB ,  2 ' again", "[EOF]"})},
      {CrLf({"JPGQ , 1", " [EOF]  ", "TIFM , 1", "junk"}), Line("JPGQ ,  75 ")},
      {"", CrLf({"JPGQ ,  75 ", "JPGB ,  2 ", "TIFM , -3 ", "[EOF]"})},
      {"' c\r\nJPGB , 0\r\n[EOF] x",
       CrLf({"' c", "JPGB ,  2 ", "[EOF , [EOF] x ", "JPGQ ,  75 ", "TIFM , -3 ", "[EOF]"})}};
  for (const auto& [template_text, written] : cases) {
    EXPECT_EQ(SaveFrom(template_text, FakeTarget(75, 2, -3)), written) << template_text;
  }
  const std::string golden = ZAVO_SOURCE_DIR "/tests/settings/golden/";
  EXPECT_EQ(SaveFrom(testing::ReadText(golden + "template.cnf"), FakeTarget(60, 1, -5)),
            testing::ReadText(golden + "expected.cnf"));
  ::testing::internal::CaptureStderr();
  SaveFrom(CrLf({"JPGQ , 1"}), FakeTarget());
  EXPECT_NE(::testing::internal::GetCapturedStderr().find(
                "DEF_ZAVO.CNF: no \"[EOF]\" line; missing settings added at the end"),
            std::string::npos);
}

TEST(SettingsSaver, GivesBackEveryValueThroughTheInstallationTemplate) {
  testing::TempDir dir;
  fs::copy_file(ZAVO_SOURCE_DIR "/data/DEF_ZAVO.CNF", dir.File("DEF_ZAVO.CNF"));
  for (int16_t quality = 0; quality <= 100; ++quality) {
    for (int16_t grayscale = 0; grayscale <= 2; ++grayscale) {
      const int16_t tiff =
          static_cast<int16_t>(quality == 100 ? 32767 : -1 - 327 * quality - grayscale);
      ASSERT_TRUE(SaveSettings(Files(dir), FakeTarget(quality, grayscale, tiff)).ok());
      const Loaded loaded = Load(Files(dir));
      ASSERT_EQ(loaded.log,
                (Log{"JPGQ=" + std::to_string(quality), "JPGB=" + std::to_string(grayscale),
                     "TIFM=" + std::to_string(tiff)}));
      ASSERT_EQ(loaded.warnings, "");
    }
  }
}

// The old file is replaced, never rewritten: a hard link to it keeps it.
TEST(SettingsSaver, ReplacesTheOldFileKeepsItWhenTheWriteFailsAndReportsWhy) {
  testing::TempDir dir;
  testing::WriteText(dir.File("DEF_ZAVO.CNF"),
                     CrLf({"' a long comment line", "JPGQ , 1", "[EOF]"}));
  testing::WriteText(dir.File("ZAVO.CNF"), "old");
  fs::create_hard_link(dir.File("ZAVO.CNF"), dir.File("old-link"));
  // The file size limit stands in for a full disk.
  EXPECT_TRUE(testing::RunInChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{16, 16};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const auto saved = SaveSettings(Files(dir), FakeTarget());
    ASSERT_FALSE(saved.ok());
    EXPECT_EQ(saved.error().kind(), ErrorKind::Io);
  }));
  EXPECT_EQ(testing::ReadText(dir.File("ZAVO.CNF")), "old");
  ASSERT_TRUE(SaveSettings(Files(dir), FakeTarget(33)).ok());
  EXPECT_EQ(testing::ReadText(dir.File("ZAVO.CNF")),
            CrLf({"' a long comment line", "JPGQ ,  33 ", "[EOF]"}));
  EXPECT_EQ(testing::ReadText(dir.File("old-link")), "old");
  fs::remove(dir.File("old-link"));
  EXPECT_EQ(StrayFiles(dir), std::vector<std::string>{});
  // A folder in the file's place, or no folder at all: reported.
  fs::remove(dir.File("ZAVO.CNF"));
  fs::create_directory(dir.File("ZAVO.CNF"));
  for (const std::string& folder : {dir.path().string() + "/", dir.File("absent") + "/"}) {
    const auto saved = SaveSettings(SettingsFiles::InFolder(folder), FakeTarget());
    EXPECT_TRUE(!saved.ok() && saved.error().kind() == ErrorKind::Io) << folder;
  }
  EXPECT_TRUE(fs::is_directory(dir.File("ZAVO.CNF")));
  EXPECT_EQ(StrayFiles(dir), std::vector<std::string>{});
}

// Whoever may write in the settings folder can plant things under the names
// once used for the scratch file or used for the lock. The save never
// writes through them, never waits on them, and still succeeds.
TEST(SettingsSaver, SavesPastLinksAndFifosPlantedUnderItsNames) {
  for (const char* name : {"ZAVO.TMP", "ZAVO.LCK"}) {
    for (const std::string kind : {"link", "dangling link", "fifo"}) {
      SCOPED_TRACE(std::string(name) + " " + kind);
      testing::TempDir dir;
      testing::WriteText(dir.File("DEF_ZAVO.CNF"), Line("JPGQ , 1"));
      const std::string planted = dir.File(name), victim = dir.File("victim");
      if (kind == "fifo") {
        ASSERT_EQ(::mkfifo(planted.c_str(), 0666), 0);
      } else {
        fs::create_symlink(victim, planted);
      }
      if (kind == "link") testing::WriteText(victim, "precious");
      EXPECT_TRUE(
          testing::RunInChild([&] { EXPECT_TRUE(SaveSettings(Files(dir), FakeTarget(33)).ok()); }));
      EXPECT_EQ(testing::ReadText(dir.File("ZAVO.CNF")), Line("JPGQ ,  33 "));
      EXPECT_FALSE(fs::is_symlink(dir.File("ZAVO.CNF")));
      EXPECT_EQ(fs::exists(victim), kind == "link");
      EXPECT_EQ(kind == "link" ? testing::ReadText(victim) : "", kind == "link" ? "precious" : "");
      EXPECT_EQ(fs::symlink_status(planted).type(),
                kind == "fifo" ? fs::file_type::fifo : fs::file_type::symlink);
    }
  }
}

// Two processes closing their windows over and over at the same moment:
// every save succeeds and the file is always one of the two, whole.
TEST(SettingsSaver, LetsConcurrentSavesTakeTurns) {
  testing::TempDir dir;
  testing::WriteText(dir.File("DEF_ZAVO.CNF"),
                     CrLf({"' t", "JPGQ , 1", "JPGB , 0", "TIFM , 0", "[EOF]"}));
  const auto saver = [&](int16_t value) {
    const pid_t child = ::fork();
    if (child == 0) {
      for (int round = 0; round < 100; ++round) {
        if (!SaveSettings(Files(dir), FakeTarget(value, 1, value)).ok()) ::_exit(1);
      }
      ::_exit(0);
    }
    return child;
  };
  for (const pid_t child : {saver(11), saver(99)}) {
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a save failed";
  }
  const std::string saved = testing::ReadText(dir.File("ZAVO.CNF"));
  const auto whole = [](const char* v) {
    return CrLf(
        {"' t", "JPGQ , " + std::string(v), "JPGB ,  1 ", "TIFM , " + std::string(v), "[EOF]"});
  };
  EXPECT_TRUE(saved == whole(" 11 ") || saved == whole(" 99 ")) << saved;
  EXPECT_EQ(StrayFiles(dir), std::vector<std::string>{});
}

// Where the settings live, chosen as an ordinary user for whom permissions
// hold. The scratch folder holds the program folder "app", the home "home"
// and a file "file"; a leading "/" in XDG_CONFIG_HOME stands for it.
TEST(SettingsFolder, ChoosesWhereTheSettingsLive) {
  const struct {
    bool program_folder_writable;
    const char* config_home;      // nullptr: unset
    std::string settings_folder;  // in the scratch folder; "": none
  } cases[] = {{true, "/config", "app/"},
               {false, nullptr, "home/.config/zavo/"},
               {false, "/config", "config/zavo/"},
               {false, "config", "home/.config/zavo/"},  // relative: ignored
               {false, "", "home/.config/zavo/"},
               {false, "/file/config", ""}};
  for (const auto& c : cases) {
    testing::TempDir dir;
    const std::string root = dir.path().string() + "/";
    fs::create_directories(root + "app");
    fs::create_directories(root + "home");
    testing::WriteText(root + "file", "");
    testing::OpenToOrdinaryUser(root, true);
    testing::OpenToOrdinaryUser(root + "home", true);
    testing::OpenToOrdinaryUser(root + "app", c.program_folder_writable);
    const auto body = [&] {
      ::setenv("HOME", (root + "home").c_str(), 1);
      ::unsetenv("XDG_CONFIG_HOME");
      const std::string config = c.config_home != nullptr ? c.config_home : "";
      if (c.config_home != nullptr) {
        ::setenv("XDG_CONFIG_HOME",
                 (config.starts_with('/') ? root + config.substr(1) : config).c_str(), 1);
      }
      const SettingsFiles files = LocateSettings(root + "app/");
      EXPECT_EQ(files.template_path, root + "app/DEF_ZAVO.CNF");
      EXPECT_EQ(files.folder, c.settings_folder.empty() ? "" : root + c.settings_folder);
      EXPECT_EQ(files.unavailable.empty(), !c.settings_folder.empty()) << files.unavailable;
      EXPECT_TRUE(c.settings_folder.empty() || fs::is_directory(root + c.settings_folder));
    };
    EXPECT_TRUE(testing::RunInChild(body, true)) << c.settings_folder << " " << c.config_home;
  }
}

}  // namespace
}  // namespace zavo
