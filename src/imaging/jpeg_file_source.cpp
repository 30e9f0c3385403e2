#include "imaging/jpeg_file_source.h"

#include <jerror.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/read_failure.h"

namespace zavo {
namespace {

// Large enough that a 20-megapixel file takes a few dozen reads, small
// enough to be nothing beside the picture.
constexpr size_t kPiece = 256 * 1024;

// libjpeg's end of image, handed over where a file ends early: libjpeg then
// warns "Premature end of JPEG file" and fills the rest gray, as it would
// with its own file source.
constexpr JOCTET kEndOfImage[] = {0xFF, JPEG_EOI};

JpegFileSource* SourceOf(j_decompress_ptr cinfo) {
  return reinterpret_cast<JpegFileSource*>(cinfo->src);
}

void StartInput(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr cinfo) {
  JpegFileSource* source = SourceOf(cinfo);
  ssize_t count;
  do {
    count =
        ::pread(source->fd, source->buffer, source->capacity, static_cast<off_t>(source->position));
  } while (count < 0 && errno == EINTR);
  if (count < 0) {
    source->read_error = errno;
    ERREXIT(cinfo, JERR_FILE_READ);
  }
  if (count == 0) {
    // Reads end before the size the file had when we opened it when someone
    // truncated it meanwhile, or the system failed to give what it holds:
    // either way, what we would decode is not the file.
    if (source->position < source->size) {
      source->ended_early = true;
      ERREXIT(cinfo, JERR_FILE_READ);
    }
    if (source->position == 0) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    WARNMS(cinfo, JWRN_JPEG_EOF);
    source->pub.next_input_byte = kEndOfImage;
    source->pub.bytes_in_buffer = sizeof kEndOfImage;
    return TRUE;
  }
  source->position += static_cast<uint64_t>(count);
  source->pub.next_input_byte = source->buffer;
  source->pub.bytes_in_buffer = static_cast<size_t>(count);
  return TRUE;
}

// Large markers (thumbnails, profiles) are skipped without being read.
void SkipInput(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  JpegFileSource* source = SourceOf(cinfo);
  const auto wanted = static_cast<size_t>(count);
  if (wanted <= source->pub.bytes_in_buffer) {
    source->pub.next_input_byte += wanted;
    source->pub.bytes_in_buffer -= wanted;
    return;
  }
  source->position += wanted - source->pub.bytes_in_buffer;
  source->pub.bytes_in_buffer = 0;
}

void EndInput(j_decompress_ptr) {}

}  // namespace

void UseJpegFileSource(j_decompress_ptr cinfo, JpegFileSource* source, int fd, uint64_t size) {
  source->fd = fd;
  source->size = size;
  source->position = 0;
  source->read_error = 0;
  source->ended_early = false;
  // From libjpeg's pool: freed with the decompressor, whatever happens. A
  // small file gets a buffer of its own size (one byte more sees its end):
  // mapping and unmapping a whole piece cost more than reading it.
  source->capacity = static_cast<size_t>(std::min<uint64_t>(kPiece, size + 1));
  source->buffer = static_cast<JOCTET*>((*cinfo->mem->alloc_small)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, source->capacity));
  source->pub.init_source = StartInput;
  source->pub.fill_input_buffer = FillInput;
  source->pub.skip_input_data = SkipInput;
  source->pub.resync_to_restart = jpeg_resync_to_restart;
  source->pub.term_source = EndInput;
  source->pub.next_input_byte = nullptr;
  source->pub.bytes_in_buffer = 0;
  cinfo->src = &source->pub;
}

std::optional<Error> JpegFileSourceFailure(const JpegFileSource& source, const std::string& path) {
  if (source.ended_early) return ReadEndedEarlyError(source.fd, source.size, path);
  if (source.read_error != 0) return ReadRefusedError(path, source.read_error);
  return std::nullopt;
}

}  // namespace zavo
