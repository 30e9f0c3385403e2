#include "imaging/jpeg_codec.h"

#include <jerror.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "imaging/image_rows.h"
#include "imaging/jpeg_coefficients.h"
#include "imaging/jpeg_error_manager.h"
#include "imaging/jpeg_file_source.h"
#include "imaging/jpeg_limits.h"
#include "imaging/jpeg_metadata.h"
#include "imaging/parallel_rows.h"
#include "platform/file_io.h"

namespace zavo {
namespace {

// Rows handed to libjpeg per call: a whole row of blocks for the usual
// subsamplings, so each call decodes or encodes one stripe in one go. A
// multiple of rec_outbuf_height (at most 4), as libjpeg asks.
constexpr JDIMENSION kRowsPerCall = 16;
constexpr JDIMENSION kProfiledCmykRows = 16 * kRowsPerCall;

// Encoded bytes collected before each write to the file.
constexpr size_t kOutputChunk = 256 * 1024;

// ---------------------------------------------------------------- decoding

struct JpegDecoder {
  jpeg_decompress_struct cinfo;
  JpegErrorManager err;
  JpegWorkBudget budget;
  JpegFileSource file;  // the input when decoding from a file
};

// Owns the decompressor. jpeg_destroy_decompress is harmless on a struct that
// was zeroed but never created, so it is always called.
class DecoderHandle {
 public:
  explicit DecoderHandle(Warnings* warnings) { d_.cinfo.err = InitJpegErrors(&d_.err, warnings); }
  ~DecoderHandle() { jpeg_destroy_decompress(&d_.cinfo); }
  DecoderHandle(const DecoderHandle&) = delete;
  DecoderHandle& operator=(const DecoderHandle&) = delete;

  JpegDecoder* get() { return &d_; }

 private:
  JpegDecoder d_{};
};

// `use_source` points the decoder at the data, which is `bytes` long; an
// earlier decode of the same file spent `spent` of its budget.
template <typename UseSource>
void ReadHeader(JpegDecoder* d, uint64_t bytes, const UseSource& use_source, uint64_t spent = 0) {
  d->err.step = "header";
  jpeg_create_decompress(&d->cinfo);
  LimitJpegDecoder(&d->cinfo, &d->budget, bytes, spent);
  use_source(d);
  KeepMetadataMarkers(&d->cinfo);
  jpeg_read_header(&d->cinfo, TRUE);
}

// libjpeg turns YCbCr, RGB and gray into what a BMP holds; CMYK and YCCK come
// out as CMYK, which we turn into BGR ourselves.
Result<PixelFormat> ChooseOutputColours(jpeg_decompress_struct* cinfo, const std::string& name) {
  switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
      cinfo->out_color_space = JCS_GRAYSCALE;
      return PixelFormat::Gray8;
    case JCS_YCbCr:
    case JCS_RGB:
      cinfo->out_color_space = JCS_EXT_BGR;
      return PixelFormat::Bgr24;
    case JCS_CMYK:
    case JCS_YCCK:
      cinfo->out_color_space = JCS_CMYK;
      return PixelFormat::Bgr24;
    default:
      return Error(ErrorKind::Unsupported, "JPEG: pictures of " +
                                               std::to_string(cinfo->num_components) +
                                               " colour components are not supported: " + name);
  }
}

// Huffman-coded data spends at least one bit on every block (its DC code), so
// a file far smaller than that holds almost none of the picture its header
// claims: a few hundred bytes could otherwise make us decode hundreds of
// megapixels of gray fill. Arithmetic coding can go below a bit a block.
Result<void> CheckDataCanHoldThePicture(const jpeg_decompress_struct& cinfo, size_t file_bytes,
                                        const std::string& name) {
  if (cinfo.arith_code) return {};
  uint64_t blocks = 0;
  for (int i = 0; i < cinfo.num_components; ++i) {
    blocks += uint64_t{cinfo.comp_info[i].width_in_blocks} * cinfo.comp_info[i].height_in_blocks;
  }
  const uint64_t least_bytes = blocks / 8;
  // A cut-off file still imports what it holds; one with under 1% is no picture.
  if (uint64_t{file_bytes} * 100 >= least_bytes) return {};
  return Error(ErrorKind::Truncated,
               "JPEG: " + std::to_string(file_bytes) + " bytes cannot hold the " +
                   std::to_string(cinfo.image_width) + " x " + std::to_string(cinfo.image_height) +
                   " picture the header claims (it needs at least " + std::to_string(least_bytes) +
                   "): " + name);
}

// round(a * b / 255) without a division; exact for a and b in 0..255.
inline uint8_t MulDiv255(unsigned a, unsigned b) {
  const unsigned v = a * b + 128;
  return static_cast<uint8_t>((v + (v >> 8)) >> 8);
}

// Adobe's CMYK JPEGs (the ones with an APP14 marker) store the ink inverted,
// 255 meaning none, so there red = c * k / 255; plain CMYK files store the ink
// itself and red = (255 - c) * (255 - k) / 255.
void CmykRowToBgr(const JSAMPLE* cmyk, uint8_t* bgr, JDIMENSION width, bool inverted) {
  const unsigned flip = inverted ? 0 : 255;  // v ^ 255 == 255 - v for a byte
  for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
    const unsigned k = cmyk[3] ^ flip;
    bgr[0] = MulDiv255(cmyk[2] ^ flip, k);
    bgr[1] = MulDiv255(cmyk[1] ^ flip, k);
    bgr[2] = MulDiv255(cmyk[0] ^ flip, k);
  }
}

// libjpeg writes straight into the picture's rows, up to row `end`: no copy,
// no pixel pass.
JDIMENSION ReadRowsInPlace(j_decompress_ptr cinfo, Image* image, JDIMENSION end) {
  JSAMPROW rows[kRowsPerCall];
  const JDIMENSION first = cinfo->output_scanline;
  const JDIMENSION count = std::min(kRowsPerCall, end - first);
  for (JDIMENSION i = 0; i < count; ++i) rows[i] = image->row(first + i);
  return jpeg_read_scanlines(cinfo, rows, count);
}

JDIMENSION ReadCmykRows(j_decompress_ptr cinfo, JSAMPARRAY buffer, Image* image) {
  const JDIMENSION first = cinfo->output_scanline;
  const JDIMENSION count = jpeg_read_scanlines(cinfo, buffer, kRowsPerCall);
  for (JDIMENSION i = 0; i < count; ++i) {
    CmykRowToBgr(buffer[i], image->row(first + i), cinfo->output_width, cinfo->saw_Adobe_marker);
  }
  return count;
}

// Through a profile, CMYK goes a band of rows at a time, each band converted on
// all cores: the conversion costs more than the decoding.
JDIMENSION ReadProfiledCmykRows(j_decompress_ptr cinfo, JSAMPARRAY buffer,
                                const ColourTransform& colours, Image* image) {
  const JDIMENSION first = cinfo->output_scanline;
  JDIMENSION filled = 0;
  while (filled < kProfiledCmykRows && cinfo->output_scanline < cinfo->output_height) {
    const JDIMENSION read = jpeg_read_scanlines(cinfo, buffer + filled, kProfiledCmykRows - filled);
    if (read == 0) break;
    filled += read;
  }
  colours.ConvertRows(buffer, filled, image, first);
  return filled;
}

// Progress comes from libjpeg's hook (see JpegWorkBudget), from the first
// scan on, in rows of the picture.
void ReadPixels(JpegDecoder* d, Image* image, const ColourTransform* colours, Progress* progress) {
  j_decompress_ptr cinfo = &d->cinfo;
  d->err.step = "scan";
  d->budget.progress = progress;
  d->budget.units = cinfo->image_height;
  jpeg_start_decompress(cinfo);
  JSAMPARRAY cmyk = nullptr;
  const bool profiled_cmyk = colours != nullptr && cinfo->out_color_space == JCS_CMYK;
  if (cinfo->out_color_space == JCS_CMYK) {
    // From libjpeg's pool: freed with the decompressor, whatever happens.
    cmyk = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                       cinfo->output_width * 4,
                                       profiled_cmyk ? kProfiledCmykRows : kRowsPerCall);
  }
  while (cinfo->output_scanline < cinfo->output_height) {
    const JDIMENSION read = profiled_cmyk ? ReadProfiledCmykRows(cinfo, cmyk, *colours, image)
                            : cmyk        ? ReadCmykRows(cinfo, cmyk, image)
                                          : ReadRowsInPlace(cinfo, image, cinfo->output_height);
    // Only a suspending source returns no rows; jpeg_finish_decompress then
    // fails with "too few scanlines" rather than us looping.
    if (read == 0) break;
  }
  d->err.step = "finish";
  jpeg_finish_decompress(cinfo);
  if (d->budget.progress != nullptr)
    ReportProgress(progress, cinfo->image_height, cinfo->image_height);
}

// ---------------------------------------------------------------- decoding in bands

// The rows of a large picture are shared between decompressors, one a thread,
// each over the same data with a source of its own. libjpeg cannot start in
// the middle of the data, so a decompressor reaches its band with
// jpeg_skip_scanlines, which still decodes the Huffman data of the rows above
// (the cost of about this fraction of decoding them in full) but spends no
// inverse DCT, upsampling or colour conversion on them. Lower bands are made
// shorter by that, so that all finish together.
constexpr double kSkipCost = 0.65;

struct Band {
  JDIMENSION first;
  JDIMENSION end;  // one past its last row
};

// Rows of one row of MCUs: bands start on them, so no decompressor upsamples
// a row of blocks twice.
JDIMENSION RowsPerMcuRow(const jpeg_decompress_struct& cinfo) {
  return static_cast<JDIMENSION>(cinfo.max_v_samp_factor) * DCTSIZE;
}

// Several bands only for a single-scan Huffman-coded picture that libjpeg
// turns into our pixels itself: a progressive or multi-scan file decodes all
// its scans before the first row comes out, and CMYK has its own path. One
// band a usable core, each a megabyte of pixels at least; `forced` (tests)
// sets the count instead.
unsigned BandCount(const jpeg_decompress_struct& cinfo, unsigned forced) {
  if (cinfo.progressive_mode || cinfo.arith_code || cinfo.comps_in_scan < cinfo.num_components ||
      cinfo.out_color_space == JCS_CMYK) {
    return 1;
  }
  const uint64_t mcu_rows = (cinfo.image_height + RowsPerMcuRow(cinfo) - 1) / RowsPerMcuRow(cinfo);
  const uint64_t bytes =
      uint64_t{cinfo.image_width} * cinfo.image_height * (cinfo.num_components == 1 ? 1 : 3);
  const uint64_t wanted =
      forced != 0 ? forced : std::min<uint64_t>(UsableCores(), bytes / kParallelMinBytes);
  return static_cast<unsigned>(std::clamp<uint64_t>(wanted, 1, mcu_rows));
}

// Band k starting at row s(k) costs s(k) * r + s(k + 1) - s(k), the same T
// for every band: s(k + 1) = s(k) * (1 - r) + T, so s(k) = T * (1 - (1 - r)^k) / r,
// and s(count) is the height.
std::vector<Band> SplitRows(const jpeg_decompress_struct& cinfo, unsigned count) {
  const double height = cinfo.image_height;
  const double share = height * kSkipCost / (1 - std::pow(1 - kSkipCost, count));
  const JDIMENSION unit = RowsPerMcuRow(cinfo);
  std::vector<Band> bands;
  double start = 0;
  JDIMENSION first = 0;
  for (unsigned k = 1; k <= count && first < cinfo.image_height; ++k) {
    start = start * (1 - kSkipCost) + share;
    const auto rounded = static_cast<JDIMENSION>(std::lround(start / unit)) * unit;
    const JDIMENSION end = k == count
                               ? cinfo.image_height
                               : std::min(std::max(rounded, first + unit), cinfo.image_height);
    bands.push_back({first, end});
    first = end;
  }
  return bands;
}

uint64_t SkippedRows(const std::vector<Band>& bands) {
  uint64_t rows = 0;
  for (const Band& band : bands) rows += band.first;
  return rows;
}

// Reads the rows of `band` with a started decompressor, stopping early when
// another band has failed.
void ReadBand(j_decompress_ptr cinfo, Band band, Image* image, const std::atomic<bool>& stop,
              Progress* progress) {
  while (cinfo->output_scanline < band.end && !stop.load(std::memory_order_relaxed)) {
    if (ReadRowsInPlace(cinfo, image, band.end) == 0) break;
    ReportProgress(progress, cinfo->output_scanline, band.end);
  }
}

// A band below the first, on a decompressor of its own. True when it came out
// whole and without a warning past the header (whose warnings the first
// decompressor has given already).
template <typename UseSource>
bool DecodeLowerBand(JpegDecoder* d, uint64_t bytes, const UseSource& use_source,
                     J_COLOR_SPACE out_colours, Band band, bool last, Image* image,
                     const std::atomic<bool>& stop) {
  j_decompress_ptr cinfo = &d->cinfo;
  long header_warnings = 0;
  const bool ran = RunJpegStep(&d->err, [&] {
    ReadHeader(d, bytes, use_source);
    PrepayJpegBand(cinfo, &d->budget);
    header_warnings = d->err.pub.num_warnings;
    cinfo->out_color_space = out_colours;
    jpeg_start_decompress(cinfo);
    jpeg_skip_scanlines(cinfo, band.first);
    ReadBand(cinfo, band, image, stop, nullptr);
    // What follows the last row (the end marker, or damage) is read as the
    // decode in one piece reads it, so it warns as that one would.
    if (last && cinfo->output_scanline == cinfo->output_height) jpeg_finish_decompress(cinfo);
  });
  return ran && d->err.pub.num_warnings == header_warnings && cinfo->output_scanline >= band.end;
}

// Decodes `bands` on as many threads; the calling thread takes the first band
// on `d`, whose header is read, and reports the progress. False when any band
// warned or failed, or a thread could not be had: the caller then decodes the
// file again in one piece, so that damaged data gives exactly the warnings,
// gray fill and errors it gives there.
template <typename UseSource>
bool ReadPixelsInBands(JpegDecoder* d, uint64_t bytes, const UseSource& use_source,
                       const std::vector<Band>& bands, Image* image, Progress* progress) {
  std::atomic<bool> stop{false};
  std::vector<std::unique_ptr<DecoderHandle>> decoders;
  std::vector<std::thread> threads;
  const J_COLOR_SPACE out_colours = d->cinfo.out_color_space;
  try {
    decoders.reserve(bands.size() - 1);
    threads.reserve(bands.size() - 1);
    for (size_t k = 1; k < bands.size(); ++k) {
      decoders.push_back(std::make_unique<DecoderHandle>(nullptr));
      threads.emplace_back([&, k, decoder = decoders.back()->get()] {
        const bool last = k + 1 == bands.size();
        if (!DecodeLowerBand(decoder, bytes, use_source, out_colours, bands[k], last, image,
                             stop)) {
          stop = true;
        }
      });
    }
  } catch (const std::exception&) {
    stop = true;
  }
  j_decompress_ptr cinfo = &d->cinfo;
  const long warnings_before = d->err.pub.num_warnings;
  const bool ran = RunJpegStep(&d->err, [&] {
    d->err.step = "scan";
    jpeg_start_decompress(cinfo);
    ReadBand(cinfo, bands[0], image, stop, progress);
  });
  if (!ran || d->err.pub.num_warnings != warnings_before || cinfo->output_scanline < bands[0].end) {
    stop = true;
  }
  for (std::thread& thread : threads) thread.join();
  return threads.size() + 1 == bands.size() && !stop;
}

// JFIF gives dots per inch (unit 1) or per centimetre (unit 2); unit 0 gives
// only the aspect ratio, which a BMP cannot hold.
uint32_t PixelsPerMetre(uint8_t unit, uint16_t density) {
  if (unit == 1) return static_cast<uint32_t>(std::lround(density / 0.0254));
  if (unit == 2) return uint32_t{density} * 100;
  return 0;
}

void ReportWarnings(const Warnings& seen, const std::string& name, Warnings* warnings) {
  if (warnings == nullptr) return;
  for (const std::string& text : seen) warnings->push_back("JPEG: " + text + ": " + name);
}

// ---------------------------------------------------------------- encoding

struct JpegDestination {
  jpeg_destination_mgr pub;  // first: libjpeg's dest pointer is a pointer to us
  JOCTET* buffer;
  AtomicFile* file;
  Result<void>* write_result;  // the failed write, for a message naming the reason
};

struct JpegEncoder {
  jpeg_compress_struct cinfo;
  JpegErrorManager err;
  JpegDestination dest;
  JpegCoefficients coefficients;
};

JpegDestination* DestinationOf(j_compress_ptr cinfo) {
  return reinterpret_cast<JpegDestination*>(cinfo->dest);
}

void StartOutput(j_compress_ptr cinfo) {
  JpegDestination* dest = DestinationOf(cinfo);
  dest->buffer = static_cast<JOCTET*>(
      (*cinfo->mem->alloc_large)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, kOutputChunk));
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kOutputChunk;
}

// Returns before the caller takes the error exit, so `written` is destroyed.
// Called from inside libjpeg (C): no exception may leave it. A failure whose
// reason cannot be kept (no memory for its text) still fails the write.
bool WriteOutput(JpegDestination* dest, size_t count) noexcept {
  try {
    Result<void> written = dest->file->Write(dest->buffer, count);
    if (!written) *dest->write_result = written;
    return written.ok();
  } catch (...) {
    return false;
  }
}

boolean EmptyOutput(j_compress_ptr cinfo) {
  JpegDestination* dest = DestinationOf(cinfo);
  if (!WriteOutput(dest, kOutputChunk)) ERREXIT(cinfo, JERR_FILE_WRITE);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kOutputChunk;
  return TRUE;
}

void FinishOutput(j_compress_ptr cinfo) {
  JpegDestination* dest = DestinationOf(cinfo);
  if (!WriteOutput(dest, kOutputChunk - dest->pub.free_in_buffer)) ERREXIT(cinfo, JERR_FILE_WRITE);
}

class EncoderHandle {
 public:
  EncoderHandle(AtomicFile* file, Result<void>* write_result) {
    e_.cinfo.err = InitJpegErrors(&e_.err, nullptr);
    e_.dest.pub.init_destination = StartOutput;
    e_.dest.pub.empty_output_buffer = EmptyOutput;
    e_.dest.pub.term_destination = FinishOutput;
    e_.dest.file = file;
    e_.dest.write_result = write_result;
  }
  ~EncoderHandle() {
    jpeg_destroy_compress(&e_.cinfo);
    ReleaseJpegCoefficients(&e_.coefficients);
  }
  EncoderHandle(const EncoderHandle&) = delete;
  EncoderHandle& operator=(const EncoderHandle&) = delete;

  JpegEncoder* get() { return &e_; }

 private:
  JpegEncoder e_{};
};

UINT16 DotsPerInch(uint32_t pixels_per_metre) {
  return static_cast<UINT16>(std::clamp(std::round(pixels_per_metre * 0.0254), 1.0, 65535.0));
}

void SetDensity(j_compress_ptr cinfo, const Image& image) {
  if (image.x_pixels_per_metre == 0 || image.y_pixels_per_metre == 0) {
    cinfo->density_unit = 0;  // unknown size, square pixels
    cinfo->X_density = 1;
    cinfo->Y_density = 1;
    return;
  }
  cinfo->density_unit = 1;  // dots per inch, as most programs show it
  cinfo->X_density = DotsPerInch(image.x_pixels_per_metre);
  cinfo->Y_density = DotsPerInch(image.y_pixels_per_metre);
}

void SetParameters(j_compress_ptr cinfo, const Image& image, int quality, bool grayscale) {
  const bool gray_input = image.format() == PixelFormat::Gray8;
  cinfo->image_width = image.width();
  cinfo->image_height = image.height();
  cinfo->input_components = gray_input ? 1 : 3;
  cinfo->in_color_space = gray_input ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_set_defaults(cinfo);
  // A one-channel JPEG; libjpeg converts BGR input on the way.
  if (grayscale) jpeg_set_colorspace(cinfo, JCS_GRAYSCALE);
  // Baseline tables (entries clamped to 8 bits) so every decoder reads the file.
  jpeg_set_quality(cinfo, std::clamp(quality, 1, 100), TRUE);
  // Huffman tables made for this picture: the same pixels in about a tenth
  // fewer bytes, for a second pass over the coefficients libjpeg keeps.
  cinfo->optimize_coding = TRUE;
  SetDensity(cinfo, image);
}

// Hands libjpeg the next rows of `band`, which holds the next scanline.
void WriteRows(j_compress_ptr cinfo, const RowBand& band) {
  JSAMPROW rows[kRowsPerCall];
  const JDIMENSION first = cinfo->next_scanline;
  const JDIMENSION count = std::min(kRowsPerCall, band.end() - first);
  // libjpeg only reads the rows; its API just lacks the const.
  for (JDIMENSION i = 0; i < count; ++i) rows[i] = const_cast<JSAMPROW>(band.row(first + i));
  jpeg_write_scanlines(cinfo, rows, count);
}

void StartCompress(JpegEncoder* e, const Image& image, int quality, bool grayscale) {
  j_compress_ptr cinfo = &e->cinfo;
  e->err.step = "write";
  jpeg_create_compress(cinfo);
  KeepJpegCoefficients(cinfo, &e->coefficients);
  cinfo->dest = &e->dest.pub;
  SetParameters(cinfo, image, quality, grayscale);
  jpeg_start_compress(cinfo, TRUE);
}

// The rows come a band at a time (see ImageRows), read between libjpeg's
// steps so that a failed read never jumps through libjpeg. Returns false
// when libjpeg failed.
Result<bool> Compress(JpegEncoder* e, const Image& image, int quality, bool grayscale,
                      Progress* progress) {
  j_compress_ptr cinfo = &e->cinfo;
  if (!RunJpegStep(&e->err, [&] { StartCompress(e, image, quality, grayscale); })) return false;
  ImageRows rows(image);
  RowBand band;
  while (cinfo->next_scanline < cinfo->image_height) {
    ZAVO_TRY_ASSIGN(band, rows.From(cinfo->next_scanline, band));
    if (!RunJpegStep(&e->err, [&] { WriteRows(cinfo, band); })) return false;
    ReportProgress(progress, cinfo->next_scanline, cinfo->image_height);
  }
  return RunJpegStep(&e->err, [&] { jpeg_finish_compress(cinfo); });
}

}  // namespace

namespace {

// How a decode came out: the picture or the error, or nothing when the bands
// met damage and the file is to be decoded again in one piece.
using DecodeOutcome = std::optional<Result<Image>>;

// `threads` 1 decodes in one piece, 0 lets the picture and the cores choose;
// `spent` is what an earlier decode of the file spent of its budget.
template <typename UseSource>
DecodeOutcome Decode(JpegDecoder* d, uint64_t bytes, const UseSource& use_source,
                     const std::string& name, Warnings* seen, Progress* progress, unsigned threads,
                     uint64_t spent, unsigned* bands_used) {
  if (!RunJpegStep(&d->err, [&] { ReadHeader(d, bytes, use_source, spent); })) {
    return JpegError(d->err, name);
  }
  ZAVO_TRY_ASSIGN(const PixelFormat format, ChooseOutputColours(&d->cinfo, name));
  const JpegMetadata metadata = ReadJpegMetadata(d->cinfo, seen);
  // Checked before jpeg_start_decompress allocates libjpeg's own buffers.
  ZAVO_TRY(CheckImageSize(d->cinfo.image_width, d->cinfo.image_height, "JPEG: " + name));
  ZAVO_TRY(CheckDataCanHoldThePicture(d->cinfo, bytes, name));
  ZAVO_TRY(ChargeJpegOutput(&d->cinfo, &d->budget, name));
  ZAVO_TRY_ASSIGN(Image image, Image::Create(d->cinfo.image_width, d->cinfo.image_height, format,
                                             "JPEG: " + name));
  const unsigned band_count = BandCount(d->cinfo, threads);
  const std::vector<Band> bands =
      band_count > 1 ? SplitRows(d->cinfo, band_count) : std::vector<Band>{};
  const ColourTransform* colours = metadata.colours.get();
  if (bands.size() > 1 && ChargeJpegBands(&d->cinfo, &d->budget, SkippedRows(bands))) {
    if (!ReadPixelsInBands(d, bytes, use_source, bands, &image, progress)) return std::nullopt;
  } else {
    const bool ran = RunJpegStep(&d->err, [&] { ReadPixels(d, &image, colours, progress); });
    if (d->budget.thrown) std::rethrow_exception(d->budget.thrown);
    if (!ran) return JpegError(d->err, name);
  }
  if (bands_used != nullptr) *bands_used = std::max<unsigned>(1, bands.size());
  if (colours != nullptr && colours->input() != DevicePixels::Cmyk8 &&
      colours->input() != DevicePixels::InvertedCmyk8) {
    colours->ConvertPicture(&image);
  }
  image.orientation = metadata.orientation;
  image.x_pixels_per_metre = PixelsPerMetre(d->cinfo.density_unit, d->cinfo.X_density);
  image.y_pixels_per_metre = PixelsPerMetre(d->cinfo.density_unit, d->cinfo.Y_density);
  return Result<Image>(std::move(image));
}

}  // namespace

Result<Image> DecodeJpeg(std::span<const uint8_t> data, const std::string& name, Warnings* warnings,
                         Progress* progress) {
  const auto use_memory = [&](JpegDecoder* d) {
    jpeg_mem_src(&d->cinfo, data.data(), data.size());
  };
  uint64_t spent = 0;  // of the file's one budget, by the decode in bands
  const auto decode = [&](unsigned threads) -> DecodeOutcome {
    Warnings seen;
    DecoderHandle handle(&seen);
    DecodeOutcome image = Decode(handle.get(), data.size(), use_memory, name, &seen, progress,
                                 threads, spent, nullptr);
    spent = handle.get()->budget.spent;
    // Damaged data that libjpeg got past: the picture stands, with a warning.
    if (image && *image) ReportWarnings(seen, name, warnings);
    return image;
  };
  DecodeOutcome image = decode(0);
  if (!image) image = decode(1);
  return std::move(*image);
}

Result<Image> LoadJpegFile(const std::string& path, Warnings* warnings, Progress* progress) {
  return LoadJpegFileInBands(path, 0, warnings, progress, nullptr);
}

// Read in pieces rather than mapped: only the bytes libjpeg asks for are
// read, and a file cut short under us is an error, not a signal.
Result<Image> LoadJpegFileInBands(const std::string& path, unsigned threads, Warnings* warnings,
                                  Progress* progress, unsigned* bands_used) {
  ZAVO_TRY_ASSIGN(const OpenedFile file, OpenForReading(path));
  const ClosingFile closing(file.fd);
  const auto use_file = [&](JpegDecoder* d) {
    UseJpegFileSource(&d->cinfo, &d->file, file.fd, file.size);
  };
  uint64_t spent = 0;  // of the file's one budget, by the decode in bands
  const auto decode = [&](unsigned count) -> DecodeOutcome {
    Warnings seen;
    DecoderHandle handle(&seen);
    JpegDecoder* d = handle.get();
    DecodeOutcome image =
        Decode(d, file.size, use_file, path, &seen, progress, count, spent, bands_used);
    spent = d->budget.spent;
    if (image && !*image) {
      std::optional<Error> failure = JpegFileSourceFailure(d->file, path);
      if (failure) return Result<Image>(*failure);
    }
    if (image && *image) ReportWarnings(seen, path, warnings);
    return image;
  };
  DecodeOutcome image = decode(threads);
  if (!image) image = decode(1);
  return std::move(*image);
}

Result<void> SaveJpegFile(const std::string& path, const Image& image, int quality, bool grayscale,
                          Progress* progress) {
  ZAVO_TRY_ASSIGN(AtomicFile file, AtomicFile::Create(path));
  Result<void> write_result;
  EncoderHandle handle(&file, &write_result);
  JpegEncoder* e = handle.get();
  // Returning early destroys the AtomicFile, which removes the scratch file.
  ZAVO_TRY_ASSIGN(const bool compressed, Compress(e, image, quality, grayscale, progress));
  if (!compressed) return write_result ? JpegError(e->err, path) : write_result.error();
  return file.Commit(Durability::Flushed);
}

}  // namespace zavo
