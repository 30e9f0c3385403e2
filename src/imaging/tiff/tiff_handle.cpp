#include "imaging/tiff/tiff_handle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "platform/file_io.h"

namespace zavo {
namespace {

// libtiff allocates whole strips and tiles: enough for a strip as large as
// our biggest picture in 8-bit RGBA, not the gigabytes a forged header asks for.
constexpr tmsize_t kMaxLibtiffAllocation = tmsize_t{1} << 30;
constexpr size_t kMaxWarnings = 5;

std::string Format(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(length));
  return text;
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != text.npos; }

// libtiff gives no error codes, only text; these are the phrases its 4.x
// messages use for each kind of trouble.
ErrorKind KindOf(const std::string& message) {
  if (Contains(message, "byte limit") || Contains(message, "Out of memory") ||
      Contains(message, "No space") || Contains(message, "Memory allocation")) {
    return ErrorKind::TooLarge;
  }
  if (Contains(message, "Sorry") || Contains(message, "not configured") ||
      Contains(message, "not supported") || Contains(message, "unsupported")) {
    return ErrorKind::Unsupported;
  }
  if (Contains(message, "Read error") || Contains(message, "Not enough data") ||
      Contains(message, "Premature") || Contains(message, "past end") ||
      Contains(message, "Cannot read TIFF header")) {
    return ErrorKind::Truncated;
  }
  return ErrorKind::Malformed;
}

// Fills `buffer` from the file at the input's position; less only when the
// file ended early or a read failed, which the input then remembers.
uint64_t ReadFile(TiffInput* input, void* buffer, uint64_t count) {
  uint64_t got = 0;
  while (got < count) {
    const ssize_t read = input->read_at(input->fd, static_cast<uint8_t*>(buffer) + got, count - got,
                                        static_cast<off_t>(input->position + got));
    if (read < 0 && errno == EINTR) continue;
    if (read < 0) {
      input->read_error = errno;
      break;
    }
    if (read == 0) {
      // Only a file that shrank since it was opened ends before its size.
      struct stat st {};
      if (::fstat(input->fd, &st) != 0) {
        input->read_error = errno;
      } else if (static_cast<uint64_t>(st.st_size) < input->size) {
        input->cut_short = true;
      }
      break;
    }
    got += static_cast<uint64_t>(read);
  }
  return got;
}

tmsize_t ReadInput(thandle_t handle, void* buffer, tmsize_t size) {
  auto* input = static_cast<TiffInput*>(handle);
  if (size <= 0 || input->position >= input->size) return 0;
  uint64_t count = std::min<uint64_t>(static_cast<uint64_t>(size), input->size - input->position);
  if (input->fd >= 0) {
    count = ReadFile(input, buffer, count);
  } else {
    std::memcpy(buffer, input->bytes.data() + input->position, count);
  }
  input->position += count;
  return static_cast<tmsize_t>(count);
}

tmsize_t RefuseWrite(thandle_t, void*, tmsize_t) { return -1; }

toff_t SeekInput(thandle_t handle, toff_t offset, int whence) {
  auto* input = static_cast<TiffInput*>(handle);
  uint64_t base = 0;
  if (whence == SEEK_CUR) base = input->position;
  if (whence == SEEK_END) base = input->size;
  // Offsets are unsigned; a "negative" one wraps and is refused here.
  if (offset > UINT64_MAX - base) return static_cast<toff_t>(-1);
  input->position = base + offset;
  return input->position;
}

int CloseNothing(thandle_t) { return 0; }

toff_t InputSize(thandle_t handle) { return static_cast<TiffInput*>(handle)->size; }

// Nothing is mapped: libtiff reads every strip and tile into a buffer.
int MapNothing(thandle_t, void**, toff_t*) { return 0; }

void UnmapNothing(thandle_t, void*, toff_t) {}

struct OptionsDeleter {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};
using OptionsPtr = std::unique_ptr<TIFFOpenOptions, OptionsDeleter>;

OptionsPtr OptionsFor(TiffMessages* messages) {
  OptionsPtr options(TIFFOpenOptionsAlloc());
  if (!options) return options;
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxLibtiffAllocation);
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), &TiffMessages::OnError, messages);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), &TiffMessages::OnWarning, messages);
  return options;
}

// libtiff 4.5's RGBA reader refuses an uncompressed tile unless libtiff's raw
// buffer is exactly one tile long, which a buffer libtiff allocates for
// reading is not (it rounds it up to 1 KiB; only a mapping fitted). A buffer
// of our own, of exactly that size, is kept as it is given; a stored tile
// longer than that is then refused on every route ("Data buffer too small"),
// as that reader refused it before. A tile larger than the file cannot be
// read whole anyway.
void GiveRawTileBuffer(TIFF* tif, TiffInput* input) {
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  const uint64_t tile = TIFFIsTiled(tif) ? TIFFTileSize64(tif) : 0;
  if (compression != COMPRESSION_NONE || tile == 0 || tile > input->size ||
      tile > static_cast<uint64_t>(kMaxLibtiffAllocation)) {
    return;
  }
  input->raw_tile.reset(new (std::nothrow) uint8_t[tile]);
  if (input->raw_tile) TIFFReadBufferSetup(tif, input->raw_tile.get(), static_cast<tmsize_t>(tile));
}

// libtiff refuses an out-of-range value or an empty array of these with an
// error, keeps the tag's default and reads on; they only say how to show the
// picture, so the picture stands and the caller warns instead.
constexpr const char* kMetadataTags[] = {"Orientation", "ResolutionUnit", "XResolution",
                                         "YResolution", "ICC Profile"};

// libtiff's words for such a refusal: "<file>: Bad value 9 for \"Orientation\"
// tag", or "<file>: Null count for \"ICC Profile\" (...)" (the value is then empty).
std::optional<TiffMessages::RefusedTag> RefusedMetadata(const std::string& text) {
  const size_t open = text.find('"'), close = text.find('"', open + 1);
  if (close == text.npos) return std::nullopt;
  const std::string tag = text.substr(open + 1, close - open - 1);
  if (std::find(std::begin(kMetadataTags), std::end(kMetadataTags), tag) ==
      std::end(kMetadataTags)) {
    return std::nullopt;
  }
  const size_t bad = text.find("Bad value "), of = text.find(" for \"");
  if (bad != text.npos && bad < of)
    return TiffMessages::RefusedTag{tag, text.substr(bad + 10, of - bad - 10)};
  if (text.find("Null count for \"") != text.npos) return TiffMessages::RefusedTag{tag, ""};
  return std::nullopt;
}

}  // namespace

Error TiffMessages::Failure(const std::string& action) const {
  if (first_error_.empty()) return Refusal(ErrorKind::Malformed, action);
  return Refusal(KindOf(first_error_), first_error_);
}

Error TiffMessages::Refusal(ErrorKind kind, const std::string& what) const {
  return Error(kind, "TIFF: " + what + ": " + name_);
}

void TiffMessages::Warn(const std::string& text) {
  if (std::find(warnings_.begin(), warnings_.end(), text) == warnings_.end()) {
    warnings_.push_back(text);
  }
}

bool TiffMessages::Warned(const std::string& part) const {
  return std::any_of(warnings_.begin(), warnings_.end(),
                     [&](const std::string& warning) { return Contains(warning, part.c_str()); });
}

void TiffMessages::MoveWarningsTo(Warnings* warnings) {
  if (warnings != nullptr) {
    for (const auto& warning : warnings_) warnings->push_back("TIFF: " + warning + ": " + name_);
  }
  warnings_.clear();
}

// Returning 1 tells libtiff the message is handled, so the process-wide
// handler (which prints on stderr) stays silent.
int TiffMessages::OnError(TIFF*, void* self, const char*, const char* format,
                          va_list args) noexcept {
  auto* messages = static_cast<TiffMessages*>(self);
  ++messages->said_;
  try {
    std::string text = Format(format, args);
    if (auto refused = RefusedMetadata(text)) {
      messages->refused_tags_.push_back(std::move(*refused));
      return 1;
    }
    if (!messages->first_error_.empty()) return 1;
    messages->first_error_ = text.empty() ? "unknown libtiff error" : std::move(text);
  } catch (...) {
    // Without room for the text the failure still counts; the caller's own
    // description of the action stands in for it.
    messages->error_lost_ = true;
  }
  return 1;
}

int TiffMessages::OnWarning(TIFF*, void* self, const char*, const char* format,
                            va_list args) noexcept {
  auto* messages = static_cast<TiffMessages*>(self);
  ++messages->said_;
  auto& list = messages->warnings_;
  if (list.size() >= kMaxWarnings) return 1;
  try {
    std::string text = Format(format, args);
    if (std::find(list.begin(), list.end(), text) == list.end()) list.push_back(std::move(text));
  } catch (...) {
    // A warning that cannot be kept is dropped, as those past the cap are.
  }
  return 1;
}

void TiffInput::NoteFailureOf(const TiffInput& other) {
  if (failed()) return;
  read_error = other.read_error;
  cut_short = other.cut_short;
}

Error TiffInput::Failure(const std::string& path) const {
  if (cut_short) return FileCutShortError(path);
  return Error(ErrorKind::Io, "cannot read " + path + ": " + std::strerror(read_error));
}

TiffPtr OpenTiffForReading(TiffInput* input, TiffMessages* messages) {
  OptionsPtr options = OptionsFor(messages);
  if (!options) return nullptr;
  // "m": libtiff is not even to ask for a mapping.
  TiffPtr tif(TIFFClientOpenExt(messages->name().c_str(), "rm", input, ReadInput, RefuseWrite,
                                SeekInput, CloseNothing, InputSize, MapNothing, UnmapNothing,
                                options.get()));
  if (tif) GiveRawTileBuffer(tif.get(), input);
  return tif;
}

TiffPtr OpenTiffForWriting(int fd, TiffMessages* messages) {
  OptionsPtr options = OptionsFor(messages);
  if (!options) return nullptr;
  return TiffPtr(TIFFFdOpenExt(fd, messages->name().c_str(), "w", options.get()));
}

}  // namespace zavo
