// The common case at full speed: libtiff decodes each row of an 8-bit gray or
// RGB strip straight into the picture's own row, which is then turned around in
// place (RGB to BGR, min-is-white to min-is-black). No RGBA raster, no copy.
// Large files of many strips or tiles in the common compressions are decoded
// on all cores, each thread with a handle of its own over the same file.
#include <atomic>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "imaging/channel_swap.h"
#include "imaging/parallel_rows.h"
#include "imaging/tiff/tiff_decode.h"

namespace zavo {
namespace {

void CopyRgbaAsBgr(const uint8_t* in, uint8_t* out, uint32_t width, uint16_t alpha) {
  for (uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
    for (int c = 0; c < 3; ++c) {
      const uint8_t colour = in[2 - c];
      if (alpha == EXTRASAMPLE_ASSOCALPHA) {
        out[c] = OverWhitePremultiplied(colour, in[3]);
      } else if (alpha == EXTRASAMPLE_UNASSALPHA) {
        out[c] = OverWhiteStraight(colour, in[3]);
      } else {
        out[c] = colour;  // an unspecified extra sample means nothing
      }
    }
  }
}

// The same turn as the in-place functions above, from `width` pixels of a
// decoded strip's or tile's row into the picture's.
void ConvertRow(const TiffLayout& layout, uint32_t width, const uint8_t* in, uint8_t* out) {
  if (layout.photometric == PHOTOMETRIC_MINISWHITE) {
    for (uint32_t x = 0; x < width; ++x) out[x] = static_cast<uint8_t>(255 - in[x]);
  } else if (layout.samples == 4) {
    CopyRgbaAsBgr(in, out, width, layout.alpha);
  } else if (layout.gray()) {
    std::memcpy(out, in, width);
  } else {
    SwapFirstAndThird(in, out, width);
  }
}

// A thread's tile is decoded whole into a buffer of its own; beyond this the
// file stays with the one-thread path, so the buffers cost little.
constexpr uint64_t kMaxParallelPieceBytes = uint64_t{4} << 20;

// Strips and tiles that a second handle decodes just as the first would:
// codecs whose state lives in the handle and starts afresh at each piece.
bool PiecesDecodeApart(const TiffLayout& layout) {
  switch (layout.compression) {
    case COMPRESSION_NONE:
    case COMPRESSION_PACKBITS:
    case COMPRESSION_LZW:
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
      return layout.photometric != PHOTOMETRIC_YCBCR;
  }
  return false;
}

// 8-bit gray or RGB(A) pixels that the fast route turns row by row.
bool EightBitGrayOrRgb(const TiffLayout& layout) {
  if (layout.bits != 8) return false;
  if (layout.sample_format != SAMPLEFORMAT_UINT && layout.sample_format != SAMPLEFORMAT_VOID) {
    return false;
  }
  // Old-style JPEG does its own colour conversion; leave it to the RGBA interface.
  if (layout.compression == COMPRESSION_OJPEG) return false;
  if (layout.photometric == PHOTOMETRIC_MINISBLACK ||
      layout.photometric == PHOTOMETRIC_MINISWHITE) {
    return layout.samples == 1;
  }
  if (layout.planar != PLANARCONFIG_CONTIG) return false;
  if (layout.photometric == PHOTOMETRIC_RGB) return layout.samples == 3 || layout.samples == 4;
  // With JPEGCOLORMODE_RGB set, libjpeg hands back RGB rows.
  return layout.photometric == PHOTOMETRIC_YCBCR && layout.compression == COMPRESSION_JPEG &&
         layout.samples == 3;
}

// One row through libtiff's scanline reader. The one-thread route reads
// every row so, and the threads read their strips' rows so too: they then
// honour the byte counts, strip heights and codec checks exactly as it does
// (a stored strip shorter than its rows fails "Not enough data", a PackBits
// run across rows is cut with a warning, on every route alike). Gray rows go
// straight into the picture; others through `scratch` (a row long), turned
// on the way, so the picture's memory is written once.
bool ReadRow(TIFF* tif, const TiffLayout& layout, uint32_t y, uint8_t* scratch, Image* image) {
  uint8_t* row = image->row(y);
  const bool as_stored = layout.gray() && layout.photometric != PHOTOMETRIC_MINISWHITE;
  if (TIFFReadScanline(tif, as_stored ? row : scratch, y, 0) < 0) return false;
  if (!as_stored) ConvertRow(layout, layout.width, scratch, row);
  return true;
}

// How the picture is cut into strips or tiles, each decoded on its own.
struct Pieces {
  bool tiled = false;
  uint32_t width = 0;   // pixels across a piece
  uint32_t height = 0;  // rows of a piece
  uint32_t across = 1;  // pieces side by side
  uint32_t count = 0;
  uint64_t row_bytes = 0;  // of a piece's decoded row

  uint32_t Left(uint32_t piece) const { return piece % across * width; }
  uint32_t Top(uint32_t piece) const { return piece / across * height; }
};

// The pieces of a file the threads can take, or nullopt: pieces not as the
// tags describe them, unusual codecs, tiles too large for a thread's buffer.
std::optional<Pieces> PiecesOf(const TiffSource& source) {
  const TiffLayout& layout = source.layout;
  if (!EightBitGrayOrRgb(layout) || !PiecesDecodeApart(layout)) return std::nullopt;
  Pieces pieces;
  pieces.tiled = layout.tiled;
  pieces.width = layout.width;
  pieces.height = layout.rows_per_strip;
  if (layout.tiled) {
    uint32_t tile_width = 0, tile_height = 0;
    TIFFGetField(source.tif, TIFFTAG_TILEWIDTH, &tile_width);
    TIFFGetField(source.tif, TIFFTAG_TILELENGTH, &tile_height);
    if (tile_width == 0 || tile_height == 0) return std::nullopt;
    pieces.width = tile_width;
    pieces.height = tile_height;
    pieces.across = (layout.width + tile_width - 1) / tile_width;
  }
  pieces.row_bytes = uint64_t{pieces.width} * layout.samples;
  const uint64_t down = (uint64_t{layout.height} + pieces.height - 1) / pieces.height;
  const uint64_t count =
      layout.tiled ? TIFFNumberOfTiles(source.tif) : TIFFNumberOfStrips(source.tif);
  const uint64_t tile_bytes = layout.tiled ? TIFFTileSize64(source.tif) : 0;
  if (count != down * pieces.across ||
      (layout.tiled &&
       (tile_bytes != pieces.row_bytes * pieces.height || tile_bytes > kMaxParallelPieceBytes))) {
    return std::nullopt;
  }
  pieces.count = static_cast<uint32_t>(count);
  return pieces;
}

const TiffInput& InputOf(TIFF* tif) { return *static_cast<const TiffInput*>(TIFFClientdata(tif)); }

struct PieceJob {
  const TiffSource& source;
  const Pieces& pieces;
  Image* image;
  PieceQueue queue;
  std::atomic<uint32_t> done{0};
  std::mutex lock;   // guards the input's failure
  TiffInput* input;  // the first handle's: takes the first failed read
};

// An uncompressed strip whose byte count is exactly its rows' bytes and lies
// within the file: the scanline reader would read those very bytes without a
// word, so they come in with one read (libtiff's own, given the size) and
// are turned straight into the picture. Any other strip goes row by row.
bool ReadsAsStored(TIFF* tif, const PieceJob& job, uint32_t strip, uint32_t rows,
                   std::vector<uint8_t>* buffer) {
  const uint64_t bytes = job.pieces.row_bytes * rows;
  const uint64_t count = TIFFGetStrileByteCount(tif, strip);
  const uint64_t offset = TIFFGetStrileOffset(tif, strip);
  if (job.source.layout.compression != COMPRESSION_NONE || count != bytes ||
      bytes > buffer->size() || offset > job.input->size || count > job.input->size - offset) {
    return false;
  }
  const auto size = static_cast<tmsize_t>(bytes);
  if (TIFFReadEncodedStrip(tif, strip, buffer->data(), size) != size) return false;
  for (uint32_t i = 0; i < rows; ++i) {
    ConvertRow(job.source.layout, job.source.layout.width,
               buffer->data() + i * job.pieces.row_bytes,
               job.image->row(job.pieces.Top(strip) + i));
  }
  return true;
}

// Decodes one piece into the picture; false when libtiff fails it. A tile is
// read as TIFFReadTile reads it for the one-thread route (whole, its byte
// count honoured), then turned into the picture.
bool DecodePiece(TIFF* tif, const PieceJob& job, uint32_t piece, std::vector<uint8_t>* buffer) {
  const TiffLayout& layout = job.source.layout;
  const Pieces& pieces = job.pieces;
  const uint32_t left = pieces.Left(piece), top = pieces.Top(piece);
  const uint32_t rows = std::min(pieces.height, layout.height - top);
  if (!pieces.tiled) {
    if (ReadsAsStored(tif, job, piece, rows, buffer)) return true;
    for (uint32_t y = top; y < top + rows; ++y) {
      if (!ReadRow(tif, layout, y, buffer->data(), job.image)) return false;
    }
    return true;
  }
  const auto size = static_cast<tmsize_t>(buffer->size());
  if (TIFFReadEncodedTile(tif, piece, buffer->data(), tmsize_t{-1}) != size) return false;
  const uint32_t columns = std::min(pieces.width, layout.width - left);
  const unsigned pixel_bytes = BytesPerPixel(layout.format);
  for (uint32_t i = 0; i < rows; ++i) {
    ConvertRow(layout, columns, buffer->data() + i * pieces.row_bytes,
               job.image->row(top + i) + size_t{left} * pixel_bytes);
  }
  return true;
}

// A whole tile's buffer, or a strip's within the limit (else a row's); false
// when there is no room for it.
bool MakeBuffer(const Pieces& pieces, std::vector<uint8_t>* buffer) {
  const bool whole = pieces.tiled || pieces.row_bytes * pieces.height <= kMaxParallelPieceBytes;
  try {
    buffer->resize(pieces.row_bytes * (whole ? pieces.height : 1));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// One thread's share: a handle of its own over the same file, since a handle
// holds the codec's state. Anything libtiff says on it, even a warning, stops
// every thread; the file then goes the one-thread way and is told as ever.
void DecodePieces(PieceJob* job, unsigned thread) {
  const TiffLayout& layout = job->source.layout;
  TiffInput input = job->input->Again();
  TiffMessages messages(job->source.messages->name());
  TiffPtr tif = OpenTiffForReading(&input, &messages);
  std::vector<uint8_t> buffer;
  if (!tif || messages.failed() || !MakeBuffer(job->pieces, &buffer)) {
    job->queue.Stop();
  }
  const uint64_t said = messages.said();
  uint32_t piece = 0;
  while (job->queue.Next(&piece)) {
    if (!DecodePiece(tif.get(), *job, piece, &buffer) || messages.said() != said) {
      job->queue.Stop();
      break;
    }
    const uint32_t done = job->done.fetch_add(1) + 1;
    // Only the calling thread may talk to the progress display.
    const uint64_t rows_done = uint64_t{done / job->pieces.across} * job->pieces.height;
    if (thread == 0 && rows_done < layout.height) {
      ReportRows(job->source, rows_done, layout.height);
    }
  }
  if (input.failed()) {
    const std::lock_guard<std::mutex> hold(job->lock);
    job->input->NoteFailureOf(input);
  }
}

// Whether all pieces were decoded; if not, the picture holds some of them.
bool DecodePiecesInParallel(const TiffSource& source, const Pieces& pieces, unsigned threads,
                            Image* image) {
  auto* input = static_cast<TiffInput*>(TIFFClientdata(source.tif));
  PieceJob job{source, pieces, image, PieceQueue(pieces.count), {}, {}, input};
  RunOnThreads(threads, [&job](unsigned thread) { DecodePieces(&job, thread); });
  if (job.queue.stopped()) return false;
  ReportRows(source, source.layout.height, source.layout.height);
  return true;
}

unsigned ThreadsForPieces(const TiffSource& source, const Pieces& pieces) {
  return ThreadsFor(pieces.count,
                    uint64_t{source.layout.width} * source.layout.height * source.layout.samples);
}

}  // namespace

bool TiffInputFailed(TIFF* tif) { return InputOf(tif).failed(); }

bool FastRouteTakes(const TiffLayout& layout) { return !layout.tiled && EightBitGrayOrRgb(layout); }

std::optional<Image> DecodePiecesOnAllCores(const TiffSource& source) {
  const std::optional<Pieces> pieces = PiecesOf(source);
  if (!pieces) return std::nullopt;
  const unsigned threads = ThreadsForPieces(source, *pieces);
  if (threads <= 1) return std::nullopt;
  auto image = CreatePicture(source, 0, false);
  if (!image || !DecodePiecesInParallel(source, *pieces, threads, &image.value())) {
    return std::nullopt;
  }
  return std::move(image).value();
}

Result<Image> DecodeFast(const TiffSource& source) {
  const TiffLayout& layout = source.layout;
  const uint64_t row_bytes = uint64_t{layout.width} * layout.samples;
  auto image = CreatePicture(source, row_bytes, true);
  if (!image) return image.error();
  const std::optional<Pieces> pieces = PiecesOf(source);
  const unsigned threads = pieces ? ThreadsForPieces(source, *pieces) : 1;
  if (threads > 1 && DecodePiecesInParallel(source, *pieces, threads, &image.value())) {
    return image;
  }
  // The file itself failed a thread: reading it again cannot help.
  if (TiffInputFailed(source.tif)) return source.messages->Failure("cannot read the file");
  std::vector<uint8_t> scratch(row_bytes);
  for (uint32_t y = 0; y < layout.height; ++y) {
    if (!ReadRow(source.tif, layout, y, scratch.data(), &image.value())) {
      return source.messages->Failure("cannot read row " + std::to_string(y));
    }
    ReportRows(source, y + 1, layout.height);
  }
  return image;
}

}  // namespace zavo
