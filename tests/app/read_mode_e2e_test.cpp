// The real program as the host starts it, without a display.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/hostile_jpeg.h"
#include "support/test_support.h"

namespace zavo {
namespace {

namespace fs = std::filesystem;
using testing::RunCommand;

std::string Quote(const std::string& path) { return "'" + path + "'"; }

std::string Import(const std::string& format, const std::string& source,
                   const std::string& transfer) {
  return format + " " + Quote("/ON=" + source) + " " + Quote("/FN=" + transfer);
}

// Past `ulimit -f` the write fails instead of the signal killing the process;
// a FIFO without a writer would hold an ordinary open for ever; timeout's 60 s
// only tells a hang from an answer.
TEST(ReadMode, EndsWithItsOutcomeAndKeepsTheOldTransferFileOnFailure) {
  testing::TempDir dir;
  const std::string tif = dir.File("photo one "), jpg = dir.File("a.jpg"),
                    cut = dir.File("cut.jpg");
  ASSERT_EQ(RunCommand("convert -size 33x17 plasma:fractal -seed 1 -compress LZW tif:" +
                       Quote(tif) + " && convert -size 300x200 gradient:red-blue " + Quote(jpg) +
                       " && head -c 3000 " + Quote(jpg) + " >" + Quote(cut)),
            0);
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::mkdir(dir.File("dir").c_str(), 0700), 0);
  const std::string transfer = dir.File("t.bmp "), limited = "ulimit -f 32 && env -u DISPLAY";
  // Reads of the file named last fail as a bad disk block makes them fail.
  const std::string failing = "env -u DISPLAY LD_PRELOAD=" ZAVO_FAILING_READS
                              " ASAN_OPTIONS=verify_asan_link_order=0 ZAVO_FAIL_READS_OF=";
  const std::string fifo = Quote(dir.File("fifo")),
                    gone_reader = "exec 4<>" + fifo + " 5>" + fifo +
                                  " 4<&- && env -u DISPLAY sh -c 'exec \"$@\" 2>&5' sh";
  // A display on the abstract name X clients try first that never answers.
  const int display_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int number = 7900;
  for (sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}}; number < 8000; ++number) {
    const std::string name = std::string(1, '\0') + "/tmp/.X11-unix/X" + std::to_string(number);
    std::memcpy(address.sun_path, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    if (::bind(display_fd, reinterpret_cast<sockaddr*>(&address), length) == 0) break;
  }
  ASSERT_EQ(::listen(display_fd, 8), 0);
  const std::string display = ":" + std::to_string(number);
  const std::tuple<std::string, std::string, std::string, int> cases[] = {
      // clang-format off
      {Import("/R /TIF", tif, transfer), "", "Plumio TWAIN(32Bit) ADD_IN", 0},
      {Import("/GP /R /JPEG", jpg, transfer), "", "", 0},
      {Import("/GP /R /JPG", cut, transfer), gone_reader, "", 0},
      {Import("/GP /R /JPG", dir.File("missing.jpg"), transfer), "", "missing.jpg", 1},
      {Import("/GP /R /JPG", jpg, transfer), limited, "t.bmp : File too large", 1},
      {Import("/GP /R /JPG", jpg, transfer), failing + jpg, jpg + ": Input/output error", 1},
      {Import("/GP /R /JPG", jpg, transfer), "ZAVO_FAIL_READS_AS=end " + failing + jpg,
       "cannot read " + jpg + ": it gave fewer bytes than it holds", 1},
      {Import("/GP /R /JPG", jpg, transfer), failing + "/ZAVO.CNF",
       "ZAVO.CNF: Input/output error", 0},
      {Import("/GP /R", jpg, transfer), "",
       "zavo: read mode: no format was given (/JPG or /TIF); nothing was imported\n", 1},
      {Import("/GP /R /TIF", dir.File("dir"), transfer), "", "folder", 1},
      {Import("/GP /R /JPG", "/dev/null", transfer), "", "device", 1},
      {Import("/GP /W /JPG", dir.File("out.jpg"), dir.File("fifo")), "", "FIFO", 1},
      {Import("/GP /R /JPG", jpg, transfer), "env DISPLAY=" + display, "zavo: warning: the display "
       + display + " did not answer within 2 seconds; going on without a display\n", 0}};
  // clang-format on
  for (const auto& [arguments, prefix, said, status] : cases) {
    SCOPED_TRACE(arguments);
    testing::WriteText(transfer, "old");
    const std::string run = (prefix.empty() ? "env -u DISPLAY" : prefix) + " timeout 60 '";
    std::string output;
    EXPECT_EQ(RunCommand(run + ZAVO_BINARY "' " + arguments + " 2>&1", &output), status) << output;
    // Whole lines, or none, are all it says.
    const bool whole = said.empty() || said.ends_with('\n');
    EXPECT_TRUE(whole ? output == said : output.find(said) != std::string::npos) << output;
    EXPECT_EQ(testing::EntriesIn(dir.path()), 6u);
    const std::string left = testing::ReadText(transfer);
    EXPECT_TRUE(status == 0 ? left.starts_with("BM") : left == "old") << left;
  }
  ::close(display_fd);
}

// The transfer file is a link in `shared` to the user's own file: only the
// kernel's protected_symlinks rule, applied by the program itself, keeps it.
TEST(ReadMode, FollowsALinkOnlyWhereTheKernelWould) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as other users";
  testing::TempDir dir, shared, program;
  testing::OpenToOrdinaryUser(dir.path(), true);
  testing::OpenToOrdinaryUser(program.path(), false);
  // The build folder may lie where the user cannot reach; a copy runs instead.
  const std::string build = fs::path(ZAVO_BINARY).parent_path().string() + "/";
  ASSERT_EQ(
      RunCommand("convert -size 8x8 xc:red " + Quote(dir.File("a.jpg")) + " && cd " + Quote(build) +
                 " && cp zavo libzavo_core.so zavo_tiff.so zavo_window.so DEF_ZAVO.CNF " +
                 Quote(program.path())),
      0);
  const uid_t user = testing::OrdinaryUser(), other = testing::kAnotherUser;
  const std::string file = dir.File("t.bmp"), link = shared.File("t.bmp"),
                    as_user = "setpriv --reuid=" + std::to_string(user) +
                              " --regid=" + std::to_string(user) +
                              " --clear-groups env -u DISPLAY HOME=/none";
  // The folder's mode and owner, the link's owner, and the refusal ("": none).
  const std::tuple<mode_t, uid_t, uid_t, std::string> cases[] = {
      {01777, 0, other, link + ": it is a symbolic link that user 4242 put in"},
      {01777, 0, user, ""},
      {01777, other, other, ""},
      {0777, 0, other, ""},
      {01775, 0, other, ""}};
  for (const auto& [shared_mode, shared_owner, link_owner, refusal] : cases) {
    SCOPED_TRACE(std::to_string(shared_mode) + " " + refusal);
    fs::remove(link);
    testing::WriteText(file, "old");
    fs::create_symlink(file, link);
    ASSERT_EQ(::lchown(link.c_str(), link_owner, 0) | ::chown(file.c_str(), user, 0) |
                  ::chown(shared.path().c_str(), shared_owner, 0) |
                  ::chmod(shared.path().c_str(), shared_mode),
              0);
    std::string output;
    EXPECT_EQ(RunCommand(as_user + " " + Quote(program.File("zavo")) + " " +
                             Import("/GP /R /JPG", dir.File("a.jpg"), link) + " 2>&1",
                         &output),
              refusal.empty() ? 0 : 1)
        << output;
    EXPECT_NE(output.find(refusal), std::string::npos) << output;
    EXPECT_EQ(testing::ReadText(file) == "old", !refusal.empty());
  }
}

// Little-endian (value, bytes) fields, as TIFF and BMP headers hold them.
void Put(std::vector<uint8_t>& out, std::initializer_list<std::pair<uint64_t, int>> fields) {
  for (const auto& [value, bytes] : fields)
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// The most picture the fewest TIFF bytes hold: a white page 16384 pixels wide,
// in one CCITT G4 strip for 1-bit samples (one bit a row), else in Zstd
// strips of `rows` rows made of RLE blocks (4 bytes for each 128 KiB).
std::vector<uint8_t> BlankTiff(uint32_t height, uint32_t rows, uint16_t bits, uint16_t samples) {
  std::vector<uint8_t> data;
  std::vector<uint32_t> starts;
  for (uint32_t y = 0; y < height; y += rows) {
    starts.push_back(static_cast<uint32_t>(data.size()));
    if (bits == 1) data.insert(data.end(), (height + 7) / 8, 0xFF);
    uint64_t left = bits == 1 ? 0 : 16384ull * samples * bits / 8 * std::min(rows, height - y);
    if (left > 0) data.insert(data.end(), {0x28, 0xB5, 0x2F, 0xFD, 0x00, 0x38});  // 128 KiB window
    for (uint64_t block; left > 0; left -= block) {
      block = std::min<uint64_t>(left, 128 * 1024);
      Put(data, {{block << 3 | 2 | (left == block ? 1 : 0), 3}, {0xFF, 1}});  // RLE, last marked
    }
  }
  starts.push_back(static_cast<uint32_t>(data.size()));
  const auto strips = static_cast<uint32_t>(starts.size() - 1);
  const uint32_t bits_at = 134, offsets_at = bits_at + 2 * samples;
  const uint32_t counts_at = offsets_at + 4 * strips, data_at = counts_at + 4 * strips;
  std::vector<uint8_t> tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 10, 0};
  const uint32_t entries[][4] = {
      {256, 4, 1, 16384},                                     // ImageWidth
      {257, 4, 1, height},                                    // ImageLength
      {258, 3, samples, samples == 1 ? bits : bits_at},       // BitsPerSample
      {259, 3, 1, bits == 1 ? 4u : 50000u},                   // Compression: G4, Zstd
      {262, 3, 1, samples == 1 ? 0u : 2u},                    // PhotometricInterpretation
      {273, 4, strips, strips == 1 ? data_at : offsets_at},   // StripOffsets
      {277, 3, 1, samples},                                   // SamplesPerPixel
      {278, 4, 1, rows},                                      // RowsPerStrip
      {279, 4, strips, strips == 1 ? starts[1] : counts_at},  // StripByteCounts
      {339, 3, 1, bits == 32 ? 3u : 1u}};                     // SampleFormat: float, integer
  for (const auto& [tag, type, count, value] : entries)
    Put(tiff, {{tag, 2}, {type, 2}, {count, 4}, {value, 4}});
  Put(tiff, {{0, 4}});  // no next directory
  for (int i = 0; i < samples; ++i) Put(tiff, {{bits, 2}});
  for (uint32_t i = 0; i < strips; ++i) Put(tiff, {{data_at + starts[i], 4}});
  for (uint32_t i = 0; i < strips; ++i) Put(tiff, {{starts[i + 1] - starts[i], 4}});
  tiff.insert(tiff.end(), data.begin(), data.end());
  return tiff;
}

// 66 bytes of RLE8 that decode to a 16384 x 16384 colour picture: one red
// pixel, then the end of the picture, the rest left white.
std::vector<uint8_t> RunLengthBomb() {
  std::vector<uint8_t> bmp = {'B', 'M'};
  // File size, reserved, pixel offset, header size, width, height, planes, bits per pixel, RLE8,
  // pixel bytes, resolution, colours; then red and white, one red pixel, the end of the picture.
  const std::initializer_list<std::pair<uint64_t, int>> header = {
      {66, 4}, {0, 4}, {62, 4}, {40, 4}, {16384, 4}, {16384, 4},
      {1, 2},  {8, 2}, {1, 4},  {4, 4},  {0, 8},     {2, 8}};
  Put(bmp, header);
  bmp.insert(bmp.end(), {0, 0, 0xFF, 0, 0xFF, 0xFF, 0xFF, 0, 1, 0, 0, 1});
  return bmp;
}

// What the README (Limits) says the worst files of 100 KB or less cost, each
// run under the address space it states with twice the time it takes at most;
// exports run as Save runs them. Two CPUs, as where it was measured: every
// thread reserves address space of its own.
TEST(InputFilesE2e, EverySmallFileEndsWithinTheMemoryTheReadmeStates) {
  testing::TempDir dir;
  const std::string in = dir.File("in"), out = dir.File("out");
  const std::string tiff = "'" ZAVO_BINARY "' " + Import("/GP /R /TIF", in, out);
  const std::string bench = "'" ZAVO_BENCH_BINARY "' export-", files = Quote(in) + " " + Quote(out);
  constexpr uint64_t kSome = UINT64_MAX;  // any size but none
  constexpr uint64_t kJpegMib = 1024;     // what every small JPEG stays within
  // What it is, its bytes, what runs it, what it says, its address space and bytes written.
  using Case =
      std::tuple<std::string, std::vector<uint8_t>, std::string, std::string, uint64_t, uint64_t>;
  std::vector<Case> cases = {
      {"2 KB G4 page", BlankTiff(16384, 16384, 1, 1), tiff, "", 448, 268'436'534},
      {"G4 page a row over the pixel limit", BlankTiff(16385, 16385, 1, 1), tiff, "limit", 448, 0},
      {"98 KB float TIFF, strips under 1 GiB", BlankTiff(16384, 5461, 32, 3), tiff, "", 1920,
       805'306'422},
      {"float TIFF, strips over 1 GiB", BlankTiff(16384, 5462, 32, 3), tiff, "beyond", 1920, 0},
      {"RLE8 to TIFF", RunLengthBomb(), bench + "tiff " + files + " none", "", 896, 805'404'824},
      {"RLE8 to JPEG", RunLengthBomb(), bench + "jpeg " + files + " 75 0", "", 1664, kSome}};
  for (const testing::HostileJpeg& bomb : testing::DecompressionBombs()) {
    cases.push_back({bomb.name, bomb.bytes, "'" ZAVO_BINARY "' " + Import("/GP /R /JPG", in, out),
                     bomb.refused ? "bytes can" : "", kJpegMib, bomb.refused ? 0 : kSome});
  }
  for (const auto& [name, bytes, command, said, mib, written_bytes] : cases) {
    SCOPED_TRACE(name);
    ASSERT_LE(bytes.size(), 100u * 1024);
    testing::WriteBytes(in, bytes);
    fs::remove(out);
#ifdef ZAVO_SANITIZED
    // A picture at the caps takes minutes there, and they reserve terabytes.
    if (said.empty() && mib != kJpegMib) continue;
    const std::string limits = "ulimit -t 60";
#else
    const std::string limits = "ulimit -t 60 && ulimit -v " + std::to_string(mib << 10);
#endif
    std::string output;
    const int status =
        RunCommand(limits + " && env -u DISPLAY taskset -c 0,1 " + command + " 2>&1", &output);
    EXPECT_EQ(status, said.empty() ? 0 : 1) << output;
    EXPECT_NE(output.find(said), std::string::npos) << output;  // never "out of memory"
    const uint64_t written = fs::exists(out) ? fs::file_size(out) : 0;
    EXPECT_TRUE(written_bytes == kSome ? written > 0 : written == written_bytes) << written;
  }
}

}  // namespace
}  // namespace zavo
