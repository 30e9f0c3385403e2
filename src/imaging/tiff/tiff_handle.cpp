#include "imaging/tiff/tiff_handle.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

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

// What pread gives of [position, position + count); less when the file was
// cut short meanwhile, which libtiff reports as a read error.
uint64_t ReadFile(const TiffMemory& memory, void* buffer, uint64_t count) {
  uint64_t got = 0;
  while (got < count) {
    const ssize_t read = ::pread(memory.fd, static_cast<uint8_t*>(buffer) + got, count - got,
                                 static_cast<off_t>(memory.position + got));
    if (read < 0 && errno == EINTR) continue;
    if (read <= 0) break;
    got += static_cast<uint64_t>(read);
  }
  return got;
}

tmsize_t ReadMemory(thandle_t handle, void* buffer, tmsize_t size) {
  auto* memory = static_cast<TiffMemory*>(handle);
  if (size <= 0 || memory->position >= memory->bytes.size()) return 0;
  uint64_t count =
      std::min<uint64_t>(static_cast<uint64_t>(size), memory->bytes.size() - memory->position);
  if (memory->read_through_fd) {
    count = ReadFile(*memory, buffer, count);
  } else {
    std::memcpy(buffer, memory->bytes.data() + memory->position, count);
  }
  memory->position += count;
  return static_cast<tmsize_t>(count);
}

tmsize_t RefuseWrite(thandle_t, void*, tmsize_t) { return -1; }

toff_t SeekMemory(thandle_t handle, toff_t offset, int whence) {
  auto* memory = static_cast<TiffMemory*>(handle);
  uint64_t base = 0;
  if (whence == SEEK_CUR) base = memory->position;
  if (whence == SEEK_END) base = memory->bytes.size();
  // Offsets are unsigned; a "negative" one wraps and is refused here.
  if (offset > UINT64_MAX - base) return static_cast<toff_t>(-1);
  memory->position = base + offset;
  return memory->position;
}

int CloseNothing(thandle_t) { return 0; }

toff_t MemorySize(thandle_t handle) { return static_cast<TiffMemory*>(handle)->bytes.size(); }

// libtiff reads mapped data in place and never writes to it in read mode.
int MapMemory(thandle_t handle, void** base, toff_t* size) {
  auto* memory = static_cast<TiffMemory*>(handle);
  if (memory->read_through_fd) return 0;
  *base = const_cast<uint8_t*>(memory->bytes.data());
  *size = memory->bytes.size();
  return memory->bytes.empty() ? 0 : 1;
}

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
  if (!messages->first_error_.empty()) return 1;
  try {
    messages->first_error_ = Format(format, args);
    if (messages->first_error_.empty()) messages->first_error_ = "unknown libtiff error";
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

void ReleaseDecodedStrip(TIFF* tif, uint32_t strip) {
  const auto* memory = static_cast<const TiffMemory*>(TIFFClientdata(tif));
  if (memory == nullptr || !memory->file_mapping || memory->read_through_fd) return;
  const uint64_t offset = TIFFGetStrileOffset(tif, strip);
  const uint64_t count = TIFFGetStrileByteCount(tif, strip);
  if (offset >= memory->bytes.size() || count > memory->bytes.size() - offset) return;
  // Only whole pages inside the strip: its neighbours may share the edge pages.
  const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  const auto base = reinterpret_cast<uintptr_t>(memory->bytes.data());
  const uint64_t first = (base + offset + page - 1) / page * page;
  const uint64_t last = (base + offset + count) / page * page;
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

TiffPtr OpenTiffInMemory(TiffMemory* memory, TiffMessages* messages) {
  OptionsPtr options = OptionsFor(messages);
  if (!options) return nullptr;
  return TiffPtr(TIFFClientOpenExt(messages->name().c_str(), "r", memory, ReadMemory, RefuseWrite,
                                   SeekMemory, CloseNothing, MemorySize, MapMemory, UnmapNothing,
                                   options.get()));
}

TiffPtr OpenTiffForWriting(int fd, TiffMessages* messages) {
  OptionsPtr options = OptionsFor(messages);
  if (!options) return nullptr;
  return TiffPtr(TIFFFdOpenExt(fd, messages->name().c_str(), "w", options.get()));
}

}  // namespace zavo
