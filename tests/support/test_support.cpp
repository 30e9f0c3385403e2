#include "support/test_support.h"

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace zavo::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zavo-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::string& path, const std::string& text) {
  WriteBytes(path, {text.begin(), text.end()});
}

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  return {bytes.begin(), bytes.end()};
}

std::optional<std::filesystem::path> TestDataDir() {
  std::filesystem::path dir = ZAVO_TESTDATA_DIR;
  if (const char* env = std::getenv("ZAVO_TESTDATA_DIR")) dir = env;
  if (std::filesystem::exists(dir / "expected.tsv")) return dir;
  return std::nullopt;
}

std::vector<CorpusFile> Corpus(const std::filesystem::path& dir, const std::string& prefix) {
  std::vector<CorpusFile> files;
  std::ifstream tsv(dir / "expected.tsv");
  std::string line;
  while (std::getline(tsv, line)) {
    const size_t tab = line.find('\t');
    const std::string file = line.substr(0, tab);
    if (tab == std::string::npos || !file.starts_with(prefix)) continue;
    files.push_back({dir / file, line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1)});
  }
  return files;
}

std::map<std::string, std::vector<std::string>> Table(const std::string& name) {
  std::map<std::string, std::vector<std::string>> rows;
  std::ifstream tsv(ZAVO_SOURCE_DIR "/tests/" + name);
  for (std::string line; std::getline(tsv, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    rows[fields[0]].assign(fields.begin() + 1, fields.end());
  }
  return rows;
}

size_t EntriesIn(const std::filesystem::path& folder) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

void LimitFileSize(uint64_t bytes) {
  ::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{bytes, bytes};
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

int RunCommand(const std::string& command, std::string* out) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  std::array<char, 65536> buffer{};
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) text.append(buffer.data(), n);
  const int status = ::pclose(pipe);
  if (out != nullptr) *out = std::move(text);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {

void BecomeNobody() {
  if (::geteuid() != 0) return;
  const passwd* nobody = ::getpwnam("nobody");
  const group* nogroup = ::getgrnam("nogroup");
  if (nobody == nullptr || nogroup == nullptr || ::setgroups(0, nullptr) != 0 ||
      ::setgid(nogroup->gr_gid) != 0 || ::setuid(nobody->pw_uid) != 0) {
    std::fputs("cannot become nobody\n", stderr);
    ::_exit(3);
  }
}

}  // namespace

bool RunInChild(const std::function<void()>& body, bool ordinary_user) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    ::alarm(20);
    if (ordinary_user) BecomeNobody();
    body();
    std::fflush(nullptr);
    ::_exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void OpenToOrdinaryUser(const std::string& folder, bool writable) {
  using std::filesystem::perms;
  // Not even the owner may write a read-only one, for runs that are not root.
  const perms read_only = perms::owner_read | perms::owner_exec | perms::group_read |
                          perms::group_exec | perms::others_read | perms::others_exec;
  std::filesystem::permissions(folder, writable ? read_only | perms::owner_write : read_only);
  if (writable && ::geteuid() == 0) {
    EXPECT_EQ(::chown(folder.c_str(), OrdinaryUser(), static_cast<gid_t>(-1)), 0);
  }
}

uid_t OrdinaryUser() {
  const passwd* nobody = ::getpwnam("nobody");
  return nobody != nullptr && ::geteuid() == 0 ? nobody->pw_uid : ::geteuid();
}

}  // namespace zavo::testing
