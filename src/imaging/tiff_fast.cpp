// The common case at full speed: libtiff decodes each row of an 8-bit gray or
// RGB strip straight into the picture's own row, which is then turned around in
// place (RGB to BGR, min-is-white to min-is-black). No RGBA raster, no copy.
// Files of many strips in the common compressions are decoded on all cores,
// each thread with its own handle and strips.
#include <atomic>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "imaging/parallel_rows.h"
#include "imaging/tiff_decode.h"

namespace zavo {
namespace {

void InvertRow(uint8_t* row, uint32_t width) {
  for (uint32_t x = 0; x < width; ++x) row[x] = static_cast<uint8_t>(255 - row[x]);
}

void SwapRedAndBlue(uint8_t* row, uint32_t width) {
  for (uint32_t x = 0; x < width; ++x, row += 3) std::swap(row[0], row[2]);
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

// The same turn as the in-place functions above, from a decoded strip's row
// into the picture's.
void ConvertRow(const TiffLayout& layout, const uint8_t* in, uint8_t* out) {
  const uint32_t width = layout.width;
  if (layout.photometric == PHOTOMETRIC_MINISWHITE) {
    for (uint32_t x = 0; x < width; ++x) out[x] = static_cast<uint8_t>(255 - in[x]);
  } else if (layout.samples == 4) {
    CopyRgbaAsBgr(in, out, width, layout.alpha);
  } else if (layout.gray()) {
    std::memcpy(out, in, width);
  } else {
    for (uint32_t x = 0; x < width; ++x, in += 3, out += 3) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
    }
  }
}

// A thread's strip is decoded whole into a buffer of its own; beyond this a
// strip stays with the one-thread path, so the buffers never cost much memory.
constexpr uint64_t kMaxParallelStripBytes = uint64_t{4} << 20;

// Strips that a second handle decodes just as the first would: codecs whose
// state lives in the handle and starts afresh at each strip.
bool StripsDecodeApart(const TiffLayout& layout) {
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

// The threads for this file's strips, 1 for the one-thread path.
unsigned StripThreads(const TiffSource& source, uint64_t row_bytes) {
  const TiffLayout& layout = source.layout;
  const uint64_t strips = TIFFNumberOfStrips(source.tif);
  const uint64_t expected =
      (uint64_t{layout.height} + layout.rows_per_strip - 1) / layout.rows_per_strip;
  if (!StripsDecodeApart(layout) || strips != expected ||
      row_bytes * layout.rows_per_strip > kMaxParallelStripBytes ||
      TIFFClientdata(source.tif) == nullptr) {
    return 1;
  }
  return ThreadsFor(strips, row_bytes * layout.height);
}

// An uncompressed strip of 8-bit samples is its rows as they lie in the
// file: read in place, without libtiff's copy. Null when it is not whole
// there; libtiff then reads it and says what is wrong.
const uint8_t* StoredStrip(TIFF* tif, std::span<const uint8_t> bytes, uint32_t strip,
                           uint64_t wanted) {
  uint16_t compression = COMPRESSION_NONE, fill_order = FILLORDER_MSB2LSB;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fill_order);
  // libtiff reverses the bits of strips stored least significant bit first.
  if (compression != COMPRESSION_NONE || fill_order != FILLORDER_MSB2LSB) return nullptr;
  const uint64_t offset = TIFFGetStrileOffset(tif, strip);
  const uint64_t count = TIFFGetStrileByteCount(tif, strip);
  if (count < wanted || offset > bytes.size() || wanted > bytes.size() - offset) return nullptr;
  return bytes.data() + offset;
}

struct StripJob {
  const TiffSource& source;
  const TiffMemory& memory;
  uint64_t row_bytes;
  Image* image;
  PieceQueue queue;
  std::atomic<uint64_t> rows_done{0};
};

// One thread's share: a handle of its own over the same bytes, since a handle
// holds the codec's state. Anything libtiff says on it, even a warning, stops
// every thread; the one-thread path then decodes again and says it as ever.
void DecodeStrips(StripJob* job, unsigned thread) {
  const TiffLayout& layout = job->source.layout;
  TiffMemory memory{job->memory.bytes, 0, job->memory.file_mapping};
  TiffMessages messages(job->source.messages->name());
  TiffPtr tif = OpenTiffInMemory(&memory, &messages);
  std::vector<uint8_t> buffer;
  try {
    buffer.resize(job->row_bytes * layout.rows_per_strip);
  } catch (const std::bad_alloc&) {
    tif.reset();
  }
  if (!tif || messages.failed()) return job->queue.Stop();
  const uint64_t said = messages.said();
  uint32_t strip = 0;
  while (job->queue.Next(&strip)) {
    const uint32_t first = strip * layout.rows_per_strip;
    const uint32_t rows = std::min(layout.rows_per_strip, layout.height - first);
    const uint64_t wanted = job->row_bytes * rows;
    const uint8_t* data = StoredStrip(tif.get(), memory.bytes, strip, wanted);
    if (data == nullptr) {
      const auto size = static_cast<tmsize_t>(wanted);
      if (TIFFReadEncodedStrip(tif.get(), strip, buffer.data(), size) != size) {
        return job->queue.Stop();
      }
      data = buffer.data();
    }
    if (messages.said() != said) return job->queue.Stop();
    for (uint32_t i = 0; i < rows; ++i) {
      ConvertRow(layout, data + i * job->row_bytes, job->image->row(first + i));
    }
    ReleaseDecodedStrip(tif.get(), strip);
    const uint64_t done = job->rows_done.fetch_add(rows) + rows;
    // Only the calling thread may talk to the progress display.
    if (thread == 0 && done < layout.height) ReportRows(job->source, done, layout.height);
  }
}

// Whether all strips were decoded; if not, the picture holds some of them.
bool DecodeStripsInParallel(const TiffSource& source, uint64_t row_bytes, unsigned threads,
                            Image* image) {
  const auto* memory = static_cast<const TiffMemory*>(TIFFClientdata(source.tif));
  StripJob job{source, *memory, row_bytes, image, PieceQueue(TIFFNumberOfStrips(source.tif))};
  RunOnThreads(threads, [&job](unsigned thread) { DecodeStrips(&job, thread); });
  if (job.queue.stopped()) return false;
  ReportRows(source, source.layout.height, source.layout.height);
  return true;
}

}  // namespace

bool FastRouteTakes(const TiffLayout& layout) {
  if (layout.tiled || layout.bits != 8) return false;
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

Result<Image> DecodeFast(const TiffSource& source) {
  const TiffLayout& layout = source.layout;
  const uint64_t row_bytes = uint64_t{layout.width} * layout.samples;
  auto image = CreatePicture(source, row_bytes, true);
  if (!image) return image.error();
  const unsigned threads = StripThreads(source, row_bytes);
  if (threads > 1 && DecodeStripsInParallel(source, row_bytes, threads, &image.value())) {
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
      SwapRedAndBlue(row, layout.width);
    }
    if ((y + 1) % layout.rows_per_strip == 0 || y + 1 == layout.height) {
      ReleaseDecodedStrip(source.tif, y / layout.rows_per_strip);
    }
    ReportRows(source, y + 1, layout.height);
  }
  return image;
}

}  // namespace zavo
