#include "settings/settings.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
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

// Loads `files`: what was applied, and one warning line holding `warning` ("": none).
void ExpectLoaded(const SettingsFiles& files, const Log& applied, const std::string& warning) {
  FakeTarget target;
  ::testing::internal::CaptureStderr();
  LoadSettings(files, target);
  const std::string warnings = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(target.log, applied);
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), !warning.empty()) << warnings;
  EXPECT_NE(warnings.find(warning), std::string::npos) << warnings;
}

std::string Line(const std::string& line) { return CrLf({line, "[EOF]"}); }

const std::string kBom = "\xEF\xBB\xBF";  // as some editors start a UTF-8 file

TEST(SettingsLoader, AppliesWhatTheLinesSay) {
  const std::string limit_head = CrLf({"JPGQ , 60", std::string(kSettingsSizeLimit - 50, 'x')});
  const std::string ends = "the file ends without an \"[EOF]\" line";
  // What the file says, what is applied, and a part of the one warning line.
  const std::tuple<std::string, Log, std::string> cases[] = {
      {kBom + Line("JPGQ , 60"), {"JPGQ=60"}, "ZAVO.CNF starts with a UTF-8 byte-order mark"},
      // Four characters name the key.
      {CrLf({"JPGQUALITY , 60", "JPGQ 70 ' c", "[EOF]"}),
       {"JPGQ=60"},
       "ZAVO.CNF line 2: JPGQ line \"JPGQ 70 ' c\" has no \",\" before its value; line skipped"},
      {Line("\tJPGQ , 60"), {}, ""},  // the tab belongs to the key
      {CrLf({"'", "", "JPGQ , 101", "JPGB , 1", "TIFM , -4", "[EOF]"}),
       {"JPGB=1", "TIFM=-4"},
       "ZAVO.CNF line 3: JPGQ value 101 refused (quality must be 0 to 100); line skipped\n"},
      {Line("TIFM , 32768"), {}, "line 1: TIFM value 32768 overflows (must be -32768 to 32767)"},
      // A lone LF stays in the line, and the number reading skips it.
      {"JPGQ , 6\n0\n[EOF]\n", {"JPGQ=60"}, "ZAVO.CNF uses LF line ends; lines must end with CR"},
      {"JPGQ , 60\r\nJPGB , 1\r\nTIFM , ", {"JPGQ=60", "JPGB=1", "TIFM=0"}, "line 4: " + ends},
      // Only the exact line ends the file.
      {CrLf({"[EOF] ", " [EOF]", "[eof]", "[EOF]x", "JPGQ , 60"}), {"JPGQ=60"}, "line 6: " + ends},
      // Lone CRs end lines too; nothing after "[EOF]" is read.
      {"JPGQ , 60\rJPGB , 1\r[EOF]\rJPGQ , 70\rTIFM , 99999", {"JPGQ=60", "JPGB=1"}, ""},
      // The line the size limit cuts through is not read as a shorter one.
      {limit_head + CrLf({"JPGQ , 7" + std::string(100, ' ') + "0", "JPGB , 1", "[EOF]"}),
       {"JPGQ=60"},
       "line 3: no \"[EOF]\" line within the first 65536 bytes"}};
  for (const auto& [text, applied, warning] : cases) {
    SCOPED_TRACE(text.substr(0, 80));
    testing::TempDir dir;
    testing::WriteText(dir.File("ZAVO.CNF"), text);
    ExpectLoaded(Files(dir), applied, warning);
  }
}

// A read-only program folder's ZAVO.CNF is copied rather than the template;
// without a byte-order mark, so it is not warned about at every start. A
// settings file that is there but cannot be read is left alone; a FIFO is
// never waited on.
TEST(SettingsLoader, StartsAMissingFileAsACopyAndLeavesAnUnreadableOneAlone) {
  const std::string t = Line("JPGQ , 10"), mine = CrLf({"' mine", "JPGQ , 20", "[EOF]"});
  const std::string lf = "JPGQ , 10\n[EOF]\n", instead = "; starting from the template";
  struct Case {
    std::string where;  // the writable folder: "program", "user" (config) or "none"
    std::string template_text, program_settings;  // "": no such file
    std::string user_settings;  // also "FIFO", "folder", or "unreadable" (that text)
    Log applied;
    std::string settings_after, warning;  // ZAVO.CNF in `where` after the load
  } const cases[] = {
      {"program", lf, "", "", {"JPGQ=10"}, lf, "/DEF_ZAVO.CNF uses LF line ends; lines must end"},
      {"program", "", "", "", {}, "", "DEF_ZAVO.CNF: No such file or directory; no settings"},
      {"user", t, "", "", {"JPGQ=10"}, t, ""},
      {"user", t, kBom + mine, "", {"JPGQ=20"}, mine, "/ZAVO.CNF starts with a UTF-8 byte-order"},
      {"user", t, mine, Line("JPGQ , 30"), {"JPGQ=30"}, Line("JPGQ , 30"), ""},
      {"user", t, mine, "unreadable", {"JPGQ=10"}, "unreadable", "Permission denied" + instead},
      {"user", t, mine, "FIFO", {"JPGQ=10"}, "FIFO", "ZAVO.CNF: not a regular file" + instead},
      {"user", t, mine, "folder", {"JPGQ=10"}, "folder", "ZAVO.CNF: not a regular file" + instead},
      {"none", t, mine, "", {"JPGQ=20"}, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where + ": " + c.program_settings + c.user_settings);
    testing::TempDir program, config;
    const std::string user_settings = config.File("zavo/ZAVO.CNF");
    if (!c.template_text.empty()) testing::WriteText(program.File("DEF_ZAVO.CNF"), c.template_text);
    if (!c.program_settings.empty())
      testing::WriteText(program.File("ZAVO.CNF"), c.program_settings);
    if (!c.user_settings.empty()) {
      fs::create_directory(config.File("zavo"));
      testing::OpenToOrdinaryUser(config.File("zavo"), true);
      if (c.user_settings == "FIFO")
        ::mkfifo(user_settings.c_str(), 0666);
      else if (c.user_settings == "folder")
        fs::create_directory(user_settings);
      else
        testing::WriteText(user_settings, c.user_settings);
      if (c.user_settings == "unreadable") fs::permissions(user_settings, fs::perms::none);
    }
    testing::OpenToOrdinaryUser(program.path().string(), c.where == "program");
    testing::OpenToOrdinaryUser(config.path().string(), c.where == "user");
    EXPECT_TRUE(testing::RunInChild(
        [&] {
          ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
          ExpectLoaded(LocateSettings(program.path().string() + "/"), c.applied, c.warning);
        },
        true));
    const std::string after = c.where == "program" ? program.File("ZAVO.CNF") : user_settings;
    const bool special = fs::is_fifo(after) || fs::is_directory(after);
    EXPECT_EQ(special ? c.user_settings : testing::ReadText(after), c.settings_after);
  }
}

// Run as the ordinary user, whose own file a planted link names. A folder
// another user owns or may write is neither read nor written: the template's
// values apply and the save says why. A link is never followed, nor a
// read-only file replaced, even in the user's own folder.
TEST(SettingsFolder, ReadsAndWritesOnlyRegularFilesInAFolderNoOneElseControls) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to own files as other users";
  const uid_t user = testing::OrdinaryUser(), other = testing::kAnotherUser;
  const std::string mine = Line("JPGQ , 30"), link = "link";
  const struct {
    bool in_program_folder;
    uid_t owner;
    mode_t mode;           // of the folder
    std::string settings;  // its ZAVO.CNF: "link" to the user's own file, or the text
    mode_t settings_mode;
    Log applied;
    std::string warning, refusal;  // warning "": none
  } cases[] = {
      {false, other, 0777, mine, 0644, {"JPGQ=10"}, "", "/zavo is owned by user 4242"},
      {true, 0, 0757, mine, 0644, {"JPGQ=10"}, "", "is writable by others"},
      {false, user, 0700, link, 0644, {"JPGQ=10"}, "ZAVO.CNF: it is a symbolic link", "link"},
      {false, user, 0700, mine, 0444, {"JPGQ=30"}, "", "ZAVO.CNF: Permission denied"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refusal + c.settings);
    testing::TempDir program, config, own;
    const std::string folder = c.in_program_folder ? program.path().string() : config.File("zavo");
    testing::WriteText(program.File("DEF_ZAVO.CNF"), Line("JPGQ , 10"));
    testing::OpenToOrdinaryUser(program.path(), false);
    testing::OpenToOrdinaryUser(config.path(), false);
    testing::OpenToOrdinaryUser(own.path(), true);
    testing::WriteText(own.File("file"), "precious");
    ASSERT_EQ(::chown(own.File("file").c_str(), user, 0), 0);
    fs::create_directories(folder);
    const std::string settings = folder + "/ZAVO.CNF";
    if (c.settings == link) fs::create_symlink(own.File("file"), settings);
    if (c.settings != link) testing::WriteText(settings, c.settings);
    const uid_t planter = c.owner == user ? user : other;
    ASSERT_EQ(::lchown(settings.c_str(), planter, 0) | ::chown(folder.c_str(), c.owner, 0), 0);
    if (c.settings != link) fs::permissions(settings, static_cast<fs::perms>(c.settings_mode));
    fs::permissions(folder, static_cast<fs::perms>(c.mode));
    const size_t entries = testing::EntriesIn(folder);
    EXPECT_TRUE(testing::RunInChild(
        [&] {
          ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
          const SettingsFiles files = LocateSettings(program.path().string() + "/");
          ExpectLoaded(files, c.applied, c.warning);
          testing::ExpectFailure(SaveSettings(files, FakeTarget(33)), ErrorKind::Io, "", c.refusal);
        },
        true));
    EXPECT_EQ(testing::ReadText(own.File("file")), "precious");
    EXPECT_TRUE(c.settings == link ? fs::is_symlink(settings)
                                   : testing::ReadText(settings) == c.settings);
    EXPECT_EQ(testing::EntriesIn(folder), entries + (c.owner == user));  // the lock
  }
}

// Saves from `template_text` (no template file when empty); the new ZAVO.CNF.
std::string SaveFrom(const std::string& template_text, const FakeTarget& target) {
  testing::TempDir dir;
  if (!template_text.empty()) testing::WriteText(dir.File("DEF_ZAVO.CNF"), template_text);
  const auto saved = SaveSettings(Files(dir), target);
  EXPECT_TRUE(saved.ok()) << saved.error().message();
  EXPECT_EQ(testing::EntriesIn(dir.path()), template_text.empty() ? 2u : 3u);  // and the lock
  return testing::ReadText(dir.File("ZAVO.CNF"));
}

// Keys the template lacks are written before its "[EOF]", or at the end.
TEST(SettingsSaver, RebuildsTheTemplateLineByLine) {
  const std::string q = "JPGQ ,  75 ", b = "JPGB ,  2 ", t = "TIFM , -3 ";
  // What the golden templates do not hold: a mark, no template, no "[EOF]".
  const std::pair<std::string, std::string> cases[] = {
      {kBom + Line("JPGQ , 50"), CrLf({q, b, t, "[EOF]"})},
      {"", CrLf({q, b, t, "[EOF]"})},
      {"' c\r\nJPGB , 0\r\n[EOF] x", CrLf({"' c", b, "[EOF , [EOF] x ", q, t, "[EOF]"})}};
  for (const auto& [template_text, written] : cases) {
    EXPECT_EQ(SaveFrom(template_text, FakeTarget(75, 2, -3)), written) << template_text;
  }
  const std::string golden = ZAVO_SOURCE_DIR "/tests/settings/golden/";
  for (const std::string name : {"", "lacking-keys-"}) {
    EXPECT_EQ(SaveFrom(testing::ReadText(golden + name + "template.cnf"), FakeTarget(60, 1, -5)),
              testing::ReadText(golden + name + "expected.cnf"))
        << name;
  }
  ::testing::internal::CaptureStderr();  // the saver's own warning
  SaveFrom("JPGQ , 1\n[EOF]\n", FakeTarget());
  const std::string warnings = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(warnings.find("DEF_ZAVO.CNF uses LF line ends"), std::string::npos) << warnings;
}

// The old file is replaced, never rewritten: a hard link to it keeps it. A
// FIFO planted as the lock is not waited on: the save goes on without it.
TEST(SettingsSaver, ReplacesTheOldFileKeepsItWhenTheWriteFailsAndReportsWhy) {
  testing::TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("ZAVO.LCK").c_str(), 0666), 0);
  testing::WriteText(dir.File("DEF_ZAVO.CNF"),
                     CrLf({"' a long comment line", "JPGQ , 1", "JPGB , 0", "TIFM , 0", "[EOF]"}));
  testing::WriteText(dir.File("ZAVO.CNF"), "old");
  fs::create_hard_link(dir.File("ZAVO.CNF"), dir.File("old-link"));
  EXPECT_TRUE(testing::RunInChild([&] {
    testing::LimitFileSize(16);
    testing::ExpectFailure(SaveSettings(Files(dir), FakeTarget()), ErrorKind::Io,
                           "settings not saved: ", "File too large");
  }));
  EXPECT_EQ(testing::ReadText(dir.File("ZAVO.CNF")), "old");
  EXPECT_TRUE(testing::RunInChild([&] { ASSERT_TRUE(SaveSettings(Files(dir), FakeTarget(33))); }));
  EXPECT_EQ(testing::ReadText(dir.File("ZAVO.CNF")),
            CrLf({"' a long comment line", "JPGQ ,  33 ", "JPGB ,  0 ", "TIFM ,  0 ", "[EOF]"}));
  EXPECT_EQ(testing::ReadText(dir.File("old-link")), "old");
}

// Whether another open of the lock file could lock it while the save asks
// for a value, that is while it builds the new file.
struct LockProbe : FakeTarget {
  explicit LockProbe(std::string path) : lock(std::move(path)) {}
  int16_t TiffCompressionFlag() const override {
    const int fd = ::open(lock.c_str(), O_RDONLY);
    held = fd >= 0 && ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    ::close(fd);
    return 0;
  }
  std::string lock;
  mutable bool held = false;
};

// Of two windows closing at once the later save wins whole: a save holds the
// lock until its file is in place, and waits while another holds it.
TEST(SettingsSaver, LetsConcurrentSavesTakeTurns) {
  testing::TempDir dir;
  testing::WriteText(dir.File("DEF_ZAVO.CNF"), Line("JPGQ , 1"));
  const LockProbe alone(dir.File("ZAVO.LCK"));
  ASSERT_TRUE(SaveSettings(Files(dir), alone).ok());
  EXPECT_TRUE(alone.held);
  const int other = ::open(dir.File("ZAVO.LCK").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(other, LOCK_EX), 0);
  std::thread waiting([&] { EXPECT_TRUE(SaveSettings(Files(dir), FakeTarget(33)).ok()); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(testing::ReadText(dir.File("ZAVO.CNF")).find("33"), std::string::npos);
  ::close(other);
  waiting.join();
  EXPECT_NE(testing::ReadText(dir.File("ZAVO.CNF")).find("JPGQ ,  33"), std::string::npos);
}

}  // namespace
}  // namespace zavo
