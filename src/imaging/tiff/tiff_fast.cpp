// The common case at full speed: libtiff decodes each row of an 8-bit gray or
// RGB strip straight into the picture's own row, which is then turned around in
// place (RGB to BGR, min-is-white to min-is-black). No RGBA raster, no copy.
// Large files of many strips or tiles in the common compressions are decoded
// on all cores, each thread with a handle of its own that reads the pieces
// through the file descriptor.
#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "imaging/channel_swap.h"
#include "imaging/parallel_rows.h"
#include "imaging/tiff/tiff_decode.h"

namespace zavo {
namespace {

void InvertRow(uint8_t* row, uint32_t width) {
  for (uint32_t x = 0; x < width; ++x) row[x] = static_cast<uint8_t>(255 - row[x]);
}

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

// A thread's strip or tile is decoded whole into a buffer of its own; beyond
// this the file stays with the one-thread path, so the buffers cost little.
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
// tags describe them, unusual codecs, pieces too large for a thread's buffer.
std::optional<Pieces> PiecesOf(const TiffSource& source) {
  const TiffLayout& layout = source.layout;
  if (!EightBitGrayOrRgb(layout) || !PiecesDecodeApart(layout) ||
      TIFFClientdata(source.tif) == nullptr) {
    return std::nullopt;
  }
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
  const uint64_t piece_bytes = layout.tiled ? TIFFTileSize64(source.tif) : 0;
  if (count != down * pieces.across || pieces.row_bytes * pieces.height > kMaxParallelPieceBytes ||
      (layout.tiled && piece_bytes != pieces.row_bytes * pieces.height)) {
    return std::nullopt;
  }
  pieces.count = static_cast<uint32_t>(count);
  return pieces;
}

struct PieceJob {
  const TiffSource& source;
  const TiffMemory& memory;
  const Pieces& pieces;
  Image* image;
  PieceQueue queue;
  std::atomic<uint32_t> done{0};
};

// Decodes one piece into the thread's buffer; null when libtiff fails it.
// Read through the file, a stored strip comes in with one pread.
const uint8_t* DecodePiece(TIFF* tif, const PieceJob& job, uint32_t piece, uint32_t rows,
                           std::vector<uint8_t>* buffer) {
  if (job.pieces.tiled) {
    const auto size = static_cast<tmsize_t>(buffer->size());
    return TIFFReadEncodedTile(tif, piece, buffer->data(), size) == size ? buffer->data() : nullptr;
  }
  const auto size = static_cast<tmsize_t>(job.pieces.row_bytes * rows);
  return TIFFReadEncodedStrip(tif, piece, buffer->data(), size) == size ? buffer->data() : nullptr;
}

// One thread's share: a handle of its own over the same bytes, since a handle
// holds the codec's state. Anything libtiff says on it, even a warning, stops
// every thread; the file then goes the one-thread way and is told as ever.
void DecodePieces(PieceJob* job, unsigned thread) {
  const TiffLayout& layout = job->source.layout;
  const Pieces& pieces = job->pieces;
  TiffMemory memory{job->memory.bytes, 0, job->memory.file_mapping, job->memory.fd,
                    job->memory.fd >= 0};
  TiffMessages messages(job->source.messages->name());
  TiffPtr tif = OpenTiffInMemory(&memory, &messages);
  std::vector<uint8_t> buffer;
  try {
    buffer.resize(pieces.row_bytes * pieces.height);
  } catch (const std::bad_alloc&) {
    tif.reset();
  }
  if (!tif || messages.failed()) return job->queue.Stop();
  const uint64_t said = messages.said();
  const unsigned pixel_bytes = BytesPerPixel(layout.format);
  uint32_t piece = 0;
  while (job->queue.Next(&piece)) {
    const uint32_t left = pieces.Left(piece), top = pieces.Top(piece);
    const uint32_t rows = std::min(pieces.height, layout.height - top);
    const uint32_t columns = std::min(pieces.width, layout.width - left);
    const uint8_t* data = DecodePiece(tif.get(), *job, piece, rows, &buffer);
    if (data == nullptr || messages.said() != said) return job->queue.Stop();
    for (uint32_t i = 0; i < rows; ++i) {
      ConvertRow(layout, columns, data + i * pieces.row_bytes,
                 job->image->row(top + i) + size_t{left} * pixel_bytes);
    }
    ReleaseDecodedStrip(tif.get(), piece);  // a tile is a strile too
    const uint32_t done = job->done.fetch_add(1) + 1;
    // Only the calling thread may talk to the progress display.
    const uint64_t rows_done = uint64_t{done / pieces.across} * pieces.height;
    if (thread == 0 && rows_done < layout.height) {
      ReportRows(job->source, rows_done, layout.height);
    }
  }
}

// Whether all pieces were decoded; if not, the picture holds some of them.
bool DecodePiecesInParallel(const TiffSource& source, const Pieces& pieces, unsigned threads,
                            Image* image) {
  const auto* memory = static_cast<const TiffMemory*>(TIFFClientdata(source.tif));
  PieceJob job{source, *memory, pieces, image, PieceQueue(pieces.count)};
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
  // Four samples do not fit a three-byte-a-pixel row: those go through a buffer.
  std::vector<uint8_t> rgba(layout.samples == 4 ? row_bytes : 0);
  for (uint32_t y = 0; y < layout.height; ++y) {
    uint8_t* row = image->row(y);
    if (TIFFReadScanline(source.tif, rgba.empty() ? row : rgba.data(), y, 0) < 0) {
      return source.messages->Failure("cannot read row " + std::to_string(y));
    }
    if (layout.photometric == PHOTOMETRIC_MINISWHITE) {
      InvertRow(row, layout.width);
    } else if (!rgba.empty()) {
      CopyRgbaAsBgr(rgba.data(), row, layout.width, layout.alpha);
    } else if (!layout.gray()) {
      SwapFirstAndThird(row, row, layout.width);
    }
    if ((y + 1) % layout.rows_per_strip == 0 || y + 1 == layout.height) {
      ReleaseDecodedStrip(source.tif, y / layout.rows_per_strip);
    }
    ReportRows(source, y + 1, layout.height);
  }
  return image;
}

}  // namespace zavo
