#include "test_support.h"

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

#include "imaging/image_rows.h"
#include "imaging/orientation.h"

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

std::vector<uint8_t> Bytes(const Image& image) {
  return {image.data(), image.data() + image.size_bytes()};
}

Image Noise(uint32_t width, uint32_t height, PixelFormat format) {
  Image image = Image::Create(width, height, format, "test").value();
  uint32_t state = 12345;
  for (uint32_t y = 0; y < height; ++y) {
    for (size_t x = 0; x < size_t{width} * BytesPerPixel(format); ++x) {
      state = state * 1103515245 + 12345;
      image.row(y)[x] = static_cast<uint8_t>(state >> 24);
    }
  }
  return image;
}

size_t EntriesIn(const std::filesystem::path& folder) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

FileSizeLimit::FileSizeLimit(uint64_t bytes) : old_handler_(::signal(SIGXFSZ, SIG_IGN)) {
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  saved_ = limit.rlim_cur;
  limit.rlim_cur = bytes;
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit() {
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = saved_;
  ::setrlimit(RLIMIT_FSIZE, &limit);
  ::signal(SIGXFSZ, old_handler_);
}

RgbPicture ToRgb(const Image& stored) {
  Image upright;
  if (stored.orientation != 1) upright = UprightCopy(stored).value();
  const Image& image = stored.orientation != 1 ? upright : stored;
  RgbPicture picture{image.width(), image.height(), {}};
  picture.rgb.reserve(size_t{image.width()} * image.height() * 3);
  ImageRows rows(image);  // a transfer file's picture stays in its file
  RowBand band;
  for (uint32_t y = 0; y < image.height(); ++y) {
    band = rows.From(y, band).value();
    const uint8_t* row = band.row(y);
    for (uint32_t x = 0; x < image.width(); ++x) {
      if (image.format() == PixelFormat::Gray8) {
        picture.rgb.insert(picture.rgb.end(), {row[x], row[x], row[x]});
      } else {
        picture.rgb.insert(picture.rgb.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
      }
    }
  }
  return picture;
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

// -strip drops the comment ImageMagick would copy from the file into the
// PPM header, after -auto-orient has used the orientation.
std::optional<RgbPicture> DecodeWithImageMagick(const std::string& path) {
  std::string out;
  if (RunCommand("convert '" + path +
                     "[0]' -auto-orient -background white -alpha remove -alpha off -depth 8 "
                     "-strip ppm:- 2>/dev/null",
                 &out) != 0) {
    return std::nullopt;
  }
  std::istringstream in(out);
  std::string magic;
  RgbPicture picture;
  unsigned maxval = 0;
  if (!(in >> magic >> picture.width >> picture.height >> maxval) || magic != "P6" ||
      maxval != 255 || in.get() == EOF) {
    return std::nullopt;
  }
  picture.rgb.resize(size_t{picture.width} * picture.height * 3);
  in.read(reinterpret_cast<char*>(picture.rgb.data()),
          static_cast<std::streamsize>(picture.rgb.size()));
  if (!in) return std::nullopt;
  return picture;
}

int MaxChannelDifference(const RgbPicture& a, const RgbPicture& b) {
  if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return 255;
  int worst = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) {
    worst = std::max(worst, std::abs(int{a.rgb[i]} - int{b.rgb[i]}));
  }
  return worst;
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
  std::filesystem::permissions(folder, writable ? perms::all : read_only);
}

}  // namespace zavo::testing
