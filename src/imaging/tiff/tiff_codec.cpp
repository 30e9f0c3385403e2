#include "imaging/tiff/tiff_codec.h"

#include <fcntl.h>
#include <unistd.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

#include "imaging/channel_swap.h"
#include "imaging/image_rows.h"
#include "imaging/orientation.h"
#include "imaging/tiff/tiff_colour.h"
#include "imaging/tiff/tiff_decode.h"
#include "imaging/tiff/tiff_handle.h"
#include "platform/file_io.h"

namespace zavo {
namespace {

// Fax and Zstd reach a few thousand to one on blank pages; a file claiming
// more than this many decoded bytes for each byte it holds is lying about its size.
constexpr uint64_t kMaxCompressionRatio = uint64_t{1} << 16;
constexpr uint64_t kStripBytes = 64 * 1024;
constexpr double kMetresPerInch = 0.0254;

uint16_t GuessPhotometric(TIFF* tif, unsigned colour_channels) {
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  const bool fax = compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTFAX3 ||
                   compression == COMPRESSION_CCITTFAX4 || compression == COMPRESSION_CCITTRLEW;
  if (colour_channels == 3) return PHOTOMETRIC_RGB;
  return fax ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK;
}

void ReadSampleFields(TIFF* tif, TiffLayout* layout) {
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &layout->samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &layout->bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &layout->sample_format);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &layout->planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &layout->compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &layout->orientation);
  uint16_t* kinds = nullptr;
  TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &layout->extra_samples, &kinds);
  if (layout->extra_samples > 0 && kinds != nullptr) layout->alpha = kinds[0];
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &layout->photometric)) {
    layout->photometric = GuessPhotometric(tif, layout->samples - layout->extra_samples);
  }
  const unsigned colours = ColourChannels(tif, layout->photometric);
  if (colours > 0 && layout->samples == colours + 1 && layout->alpha == EXTRASAMPLE_UNSPECIFIED) {
    layout->extra_samples = 1;
    layout->alpha = EXTRASAMPLE_UNASSALPHA;
    layout->alpha_guessed = true;
  }
}

// SMinSampleValue..SMaxSampleValue (libtiff gives the least minimum and the
// greatest maximum of the samples) for signed and floating-point samples,
// whose range TIFF cannot tell otherwise. A range that is none is a warning.
void ReadSampleRange(TIFF* tif, TiffLayout* layout, TiffMessages* messages) {
  if (layout->sample_format != SAMPLEFORMAT_INT && layout->sample_format != SAMPLEFORMAT_IEEEFP) {
    return;
  }
  const bool floating = layout->sample_format == SAMPLEFORMAT_IEEEFP;
  const double half = std::ldexp(1.0, std::min<int>(layout->bits, 64) - 1);
  double low = floating ? 0.0 : -half, high = floating ? 1.0 : half - 1;
  const bool has_low = TIFFGetField(tif, TIFFTAG_SMINSAMPLEVALUE, &low) != 0;
  const bool has_high = TIFFGetField(tif, TIFFTAG_SMAXSAMPLEVALUE, &high) != 0;
  if (!has_low && !has_high) return;
  if (!(std::isfinite(low) && std::isfinite(high) && low < high)) {
    messages->Warn("SMinSampleValue " + std::to_string(low) + " and SMaxSampleValue " +
                   std::to_string(high) + " are no range; the samples are scaled as usual");
    return;
  }
  layout->range = std::pair(low, high);
}

void ReadBandHeight(TIFF* tif, TiffLayout* layout) {
  layout->tiled = TIFFIsTiled(tif) != 0;
  uint32_t rows = layout->height;
  if (layout->tiled) {
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &rows);
  } else {
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
  }
  layout->rows_per_strip = std::clamp<uint32_t>(rows, 1, layout->height);
}

Result<TiffLayout> ReadLayout(TIFF* tif, TiffMessages* messages) {
  TiffLayout layout;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &layout.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &layout.height);
  ZAVO_TRY(CheckImageSize(layout.width, layout.height, "TIFF: " + messages->name()));
  ReadSampleFields(tif, &layout);
  if (layout.bits == 0 || layout.bits > 64 || layout.samples <= layout.extra_samples) {
    return messages->Refusal(ErrorKind::Malformed, std::to_string(layout.samples) + " samples of " +
                                                       std::to_string(layout.bits) + " bits with " +
                                                       std::to_string(layout.extra_samples) +
                                                       " extra samples");
  }
  // Its ranges of L*, a* and b* come from a Decode tag that is rarely right.
  if (layout.photometric == PHOTOMETRIC_ITULAB) {
    return messages->Refusal(ErrorKind::Unsupported, "ITU Lab pictures are not supported");
  }
  ReadSampleRange(tif, &layout, messages);
  ReadBandHeight(tif, &layout);
  const bool gray = layout.photometric == PHOTOMETRIC_MINISBLACK ||
                    layout.photometric == PHOTOMETRIC_MINISWHITE ||
                    layout.photometric == PHOTOMETRIC_LOGL;
  layout.format = gray ? PixelFormat::Gray8 : PixelFormat::Bgr24;
  return layout;
}

// A few hundred bytes can claim 2^28 pixels: compare what the strips or tiles
// decode to with the size of the file before allocating the picture.
Result<void> CheckClaimedSize(TIFF* tif, const TiffLayout& layout, uint64_t file_size,
                              const TiffMessages& messages) {
  const uint64_t units = layout.tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  const uint64_t unit_bytes = layout.tiled ? TIFFTileSize64(tif) : TIFFStripSize64(tif);
  if (units == 0 || unit_bytes == 0) return messages.Failure("no strips or tiles to read");
  if (unit_bytes > UINT64_MAX / units || units * unit_bytes / kMaxCompressionRatio > file_size) {
    return messages.Refusal(ErrorKind::Malformed, std::to_string(units) + " strips or tiles of " +
                                                      std::to_string(unit_bytes) +
                                                      " bytes cannot come from a file of " +
                                                      std::to_string(file_size) + " bytes");
  }
  return {};
}

uint32_t PixelsPerMetre(float resolution, uint16_t unit) {
  if (!std::isfinite(resolution) || resolution <= 0) return 0;
  double ppm = 0;
  if (unit == RESUNIT_INCH) ppm = resolution / kMetresPerInch;
  if (unit == RESUNIT_CENTIMETER) ppm = resolution * 100.0;
  // BMP keeps the resolution in a signed 32-bit field.
  return static_cast<uint32_t>(std::lround(std::min(ppm, double{INT32_MAX})));
}

// What libtiff refused in the directory costs only what the tag would have
// said: one warning each, and the picture as it would be without the tag.
// False when the resolution cannot be trusted.
bool WarnOfRefusedTags(TiffMessages* messages) {
  bool resolution = true;
  for (const auto& [tag, value] : messages->refused_tags()) {
    if (tag == "ICC Profile") {
      messages->Warn("the ICC profile is empty; colours are left as they are");
    } else if (tag == "Orientation") {
      messages->Warn("the Orientation " + value +
                     " is not one of 1 to 8; the picture is taken as upright");
    } else {
      messages->Warn("the " + tag + " " + value +
                     " is not one TIFF allows; the picture has no resolution");
      resolution = false;
    }
  }
  return resolution;
}

// A resolution of 0 (a zero denominator, say) or less is none: one warning
// (none more when libtiff warned of the tag), and neither direction is kept,
// as for a unit TIFF does not allow.
void ReadResolution(TIFF* tif, Image* image, TiffMessages* messages) {
  uint16_t unit = RESUNIT_INCH;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  float x = 0, y = 0;
  const bool has_x = TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) != 0;
  const bool has_y = TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y) != 0;
  for (const auto& [present, value, name] :
       {std::tuple(has_x, x, "XResolution"), std::tuple(has_y, y, "YResolution")}) {
    if (present && !(std::isfinite(value) && value > 0)) {
      if (messages->Warned(std::string("\"") + name + "\"")) return;
      messages->Warn(std::string("the ") + name + " " + std::to_string(value) +
                     " is no resolution; the picture has no resolution");
      return;
    }
  }
  if (has_x) image->x_pixels_per_metre = PixelsPerMetre(x, unit);
  if (has_y) image->y_pixels_per_metre = PixelsPerMetre(y, unit);
}

// TIFFRGBAImageOK passes some files its readers then refuse (16-bit CMYK);
// only TIFFRGBAImageBegin knows for sure.
bool RgbaRouteTakes(TIFF* tif) {
  char reason[1024] = "";
  TIFFRGBAImage state{};
  if (!TIFFRGBAImageOK(tif, reason) || !TIFFRGBAImageBegin(&state, tif, 1, reason)) return false;
  TIFFRGBAImageEnd(&state);
  return true;
}

Result<Image> DecodeBest(const TiffSource& source) {
  const TiffLayout& layout = source.layout;
  if (source.colours != nullptr) return DecodeSamples(source);
  if (IsLab(layout.photometric)) {
    const auto refusal = SamplesRouteRefuses(source.tif, layout);
    return source.messages->Refusal(ErrorKind::Unsupported,
                                    refusal ? *refusal : "the Lab picture cannot be converted");
  }
  if (FastRouteTakes(layout)) return DecodeFast(source);
  if (auto tiles = DecodePiecesOnAllCores(source)) return std::move(*tiles);
  if (TiffInputFailed(source.tif)) return source.messages->Failure("cannot read the file");
  const auto samples_refusal = SamplesRouteRefuses(source.tif, layout);
  // libtiff's RGBA interface reads signed samples as unsigned (-1 comes out
  // white), drops the alpha of CMYK and knows no alpha it was not told of.
  const bool misread = layout.sample_format == SAMPLEFORMAT_INT || layout.alpha_guessed ||
                       (layout.photometric == PHOTOMETRIC_SEPARATED && layout.extra_samples > 0);
  if (!samples_refusal && misread) return DecodeSamples(source);
  if (RgbaRouteTakes(source.tif)) return DecodeRgba(source);
  if (!samples_refusal) return DecodeSamples(source);
  return source.messages->Refusal(ErrorKind::Unsupported, *samples_refusal);
}

Result<Image> DecodeThrough(TiffRoute route, const TiffSource& source) {
  switch (route) {
    case TiffRoute::Best:
      return DecodeBest(source);
    case TiffRoute::Fast:
      if (!FastRouteTakes(source.layout)) {
        return source.messages->Refusal(ErrorKind::Unsupported, "not an 8-bit gray or RGB strip");
      }
      return DecodeFast(source);
    case TiffRoute::Rgba:
      return DecodeRgba(source);
    case TiffRoute::Samples:
      if (auto refusal = SamplesRouteRefuses(source.tif, source.layout)) {
        return source.messages->Refusal(ErrorKind::Unsupported, *refusal);
      }
      return DecodeSamples(source);
    case TiffRoute::Pieces:
      if (auto image = DecodePiecesOnAllCores(source)) return std::move(*image);
      return source.messages->Refusal(ErrorKind::Unsupported, "not for the threads");
  }
  return source.messages->Refusal(ErrorKind::Internal, "unknown route");
}

Result<Image> DecodeOpened(TiffRoute route, TIFF* tif, TiffMessages* messages, uint64_t file_size,
                           Progress* progress) {
  if (messages->failed()) return messages->Failure("cannot read the directory");
  uint16_t photometric = 0, compression = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  // libjpeg then converts YCbCr to RGB and undoes the subsampling itself.
  if (compression == COMPRESSION_JPEG && TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) &&
      photometric == PHOTOMETRIC_YCBCR) {
    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  }
  ZAVO_TRY_ASSIGN(const auto layout, ReadLayout(tif, messages));
  ZAVO_TRY(CheckClaimedSize(tif, layout, file_size, *messages));
  const TiffColours colours = ReadTiffColours(tif, layout, messages);
  ZAVO_TRY_ASSIGN(Image image, DecodeThrough(route, TiffSource{tif, messages, layout, progress,
                                                               colours.samples.get()}));
  if (messages->failed()) return messages->Failure("cannot decode the picture");
  if (colours.picture) colours.picture->ConvertPicture(&image);
  image.orientation = SaneOrientation(layout.orientation);
  if (WarnOfRefusedTags(messages)) ReadResolution(tif, &image, messages);
  return image;
}

// --- Writing ---

// libtiff says which write failed, the system why ("File too large").
Error WriteFailure(const TiffMessages& messages, const std::string& action, int error_number) {
  std::string what = messages.failed() ? messages.first_error() : action;
  if (error_number != 0) what += std::string(" (") + std::strerror(error_number) + ")";
  return messages.Refusal(ErrorKind::Io, what);
}

bool SetTags(TIFF* tif, const Image& image, bool packbits) {
  const bool gray = image.format() == PixelFormat::Gray8;
  const uint64_t row_bytes = uint64_t{image.width()} * BytesPerPixel(image.format());
  const uint32_t rows = static_cast<uint32_t>(std::max<uint64_t>(1, kStripBytes / row_bytes));
  bool ok =
      TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, image.width()) &&      // ImageWidth
      TIFFSetField(tif, TIFFTAG_IMAGELENGTH, image.height()) &&    // ImageLength
      TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) &&               // BitsPerSample
      TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, gray ? 1 : 3) &&  // SamplesPerPixel
      TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,                       // Photometric
                   gray ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB) &&
      TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&  // PlanarConfig
      TIFFSetField(tif, TIFFTAG_COMPRESSION,                           // Compression
                   packbits ? COMPRESSION_PACKBITS : COMPRESSION_NONE) &&
      TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&             // Orientation
      TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, rows));  // RowsPerStrip
  // A resolution of 0 means "not known"; TIFF has no way to say that but silence.
  if (ok && image.x_pixels_per_metre != 0 && image.y_pixels_per_metre != 0) {
    ok = TIFFSetField(tif, TIFFTAG_XRESOLUTION, image.x_pixels_per_metre * kMetresPerInch) &&
         TIFFSetField(tif, TIFFTAG_YRESOLUTION, image.y_pixels_per_metre * kMetresPerInch) &&
         TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  }
  return ok;
}

void CopyRowAsTiff(const Image& image, const uint8_t* in, uint8_t* out) {
  if (image.format() == PixelFormat::Gray8) {
    std::memcpy(out, in, image.width());
    return;
  }
  SwapFirstAndThird(in, out, image.width());
}

// Where the literal bytes from `i` end: at the first run of three equal
// bytes, the end of the row, or 128 bytes after `start`. Sixteen places are
// tried at once while all of them have two bytes after them; a photograph's
// rows are almost all literals.
size_t LiteralEnd(const uint8_t* in, size_t size, size_t start, size_t i) {
#ifdef __SSE2__
  while (i - start + 16 <= 128 && i + 18 <= size) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 1));
    const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 2));
    const __m128i runs = _mm_and_si128(_mm_cmpeq_epi8(here, next), _mm_cmpeq_epi8(here, after));
    const auto starts = static_cast<unsigned>(_mm_movemask_epi8(runs));
    if (starts != 0) return i + static_cast<size_t>(__builtin_ctz(starts));
    i += 16;
  }
#endif
  while (i < size && i - start < 128 &&
         !(i + 2 < size && in[i] == in[i + 1] && in[i] == in[i + 2])) {
    ++i;
  }
  return i;
}

// Appends one row in PackBits: a run of three or more equal bytes as a
// repeat, everything else as literals, at most 128 bytes a piece. Rows are
// packed separately, as TIFF requires. Our own because libtiff's encoder
// walks every byte through a state machine and is the slowest part of a save.
uint8_t* PackBitsRow(const uint8_t* in, size_t size, uint8_t* out) {
  size_t i = 0;
  while (i < size) {
    size_t run = 1;
    while (i + run < size && run < 128 && in[i + run] == in[i]) ++run;
    if (run >= 3) {
      *out++ = static_cast<uint8_t>(257 - run);  // -(run - 1)
      *out++ = in[i];
      i += run;
      continue;
    }
    const size_t start = i;
    i = LiteralEnd(in, size, start, i);
    *out++ = static_cast<uint8_t>(i - start - 1);
    std::memcpy(out, in + start, i - start);
    out += i - start;
  }
  return out;
}

// Every so many bytes written the system is asked to start putting them on
// the disk, so the flush at the end finds little left to wait for.
constexpr uint64_t kWritebackBytes = uint64_t{8} << 20;

// Strips are made here, in file order and byte order, and handed to libtiff
// whole: no copy through its buffers, one write a strip. On one thread:
// making strips on others while this one wrote was measured no faster, as
// the writes into the page cache and the flush cost more than the making,
// and a strip made on another core costs more to write.
Result<void> WriteStrips(TIFF* tif, const Image& image, bool packbits, const TiffMessages& messages,
                         Progress* progress) {
  uint32_t rows_per_strip = 1;
  TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
  rows_per_strip = std::min(rows_per_strip, image.height());
  const size_t row_bytes = size_t{image.width()} * BytesPerPixel(image.format());
  std::vector<uint8_t> rows(row_bytes * rows_per_strip);
  std::vector<uint8_t> packed(packbits ? (row_bytes + row_bytes / 128 + 1) * rows_per_strip : 0);
  uint64_t unsent = 0;
  ImageRows source(image);
  RowBand band;
  for (uint32_t first = 0, strip = 0; first < image.height(); first += rows_per_strip, ++strip) {
    const uint32_t count = std::min(rows_per_strip, image.height() - first);
    uint8_t* end = packed.data();
    for (uint32_t y = 0; y < count; ++y) {
      uint8_t* row = rows.data() + y * row_bytes;
      ZAVO_TRY_ASSIGN(band, source.From(first + y, band));
      CopyRowAsTiff(image, band.row(first + y), row);
      if (packbits) end = PackBitsRow(row, row_bytes, end);
    }
    const uint8_t* data = packbits ? packed.data() : rows.data();
    const size_t size = packbits ? static_cast<size_t>(end - packed.data()) : count * row_bytes;
    errno = 0;
    if (TIFFWriteRawStrip(tif, strip, const_cast<uint8_t*>(data), static_cast<tmsize_t>(size)) <
            0 ||
        messages.failed()) {
      return WriteFailure(messages, "cannot write strip " + std::to_string(strip), errno);
    }
    unsent += size;
    if (unsent >= kWritebackBytes) {
      // Only a hint: the flush at the end says whether the data reached the disk.
      ::sync_file_range(TIFFFileno(tif), 0, 0, SYNC_FILE_RANGE_WRITE);
      unsent = 0;
    }
    ReportProgress(progress, first + count, image.height());
  }
  return {};
}

// libtiff closes the descriptor it is given, so it gets a duplicate and the
// AtomicFile keeps its own for the flush and rename.
Result<void> WriteTiff(const AtomicFile& file, const Image& image, bool packbits,
                       Progress* progress) {
  TiffMessages messages(file.target());
  const int fd = ::dup(file.fd());
  if (fd < 0) return file.WriteError(errno);
  TiffPtr tif = OpenTiffForWriting(fd, &messages);
  if (!tif) {
    ::close(fd);
    return WriteFailure(messages, "cannot start the file", 0);
  }
  if (!SetTags(tif.get(), image, packbits)) return WriteFailure(messages, "cannot set the tags", 0);
  ZAVO_TRY(WriteStrips(tif.get(), image, packbits, messages, progress));
  errno = 0;
  const bool flushed = TIFFFlush(tif.get()) != 0;
  const int flush_errno = errno;
  tif.reset();
  if (!flushed || messages.failed()) {
    return WriteFailure(messages, "cannot write the directory", flush_errno);
  }
  return {};
}

}  // namespace

Result<Image> CreatePicture(const TiffSource& source, uint64_t row_bytes, bool check_rows) {
  const TiffLayout& layout = source.layout;
  const auto scanline = static_cast<uint64_t>(TIFFScanlineSize64(source.tif));
  if (check_rows && scanline != row_bytes) {
    return source.messages->Failure("rows of " + std::to_string(scanline) + " bytes do not hold " +
                                    std::to_string(layout.width) + " pixels");
  }
  return Image::Create(layout.width, layout.height, layout.format,
                       "TIFF: " + source.messages->name());
}

// A strip's rows come one by one, so a file of one huge strip (as many
// writers make them) moves the bar as steadily as one of many: a report every
// 256th of the picture at least, never more than one a row.
void ReportRows(const TiffSource& source, uint64_t rows_done, uint64_t total_rows) {
  const uint64_t step =
      std::max<uint64_t>(1, std::min<uint64_t>(source.layout.rows_per_strip, total_rows / 256));
  if (rows_done == total_rows || rows_done % step == 0) {
    ReportProgress(source.progress, rows_done, total_rows);
  }
}

namespace {

// A failed read of the file outweighs what libtiff made of it ("Read error"):
// the message says what happened to the file.
Result<Image> DecodeInput(TiffRoute route, TiffInput* input, const std::string& name,
                          Warnings* warnings, Progress* progress) {
  TiffMessages messages(name);
  TiffPtr tif = OpenTiffForReading(input, &messages);
  Result<Image> image = tif ? DecodeOpened(route, tif.get(), &messages, input->size, progress)
                            : Result<Image>(messages.Failure("not a TIFF file"));
  messages.MoveWarningsTo(warnings);
  if (input->failed()) return input->Failure(name);
  return image;
}

}  // namespace

Result<Image> DecodeTiffVia(TiffRoute route, std::span<const uint8_t> data, const std::string& name,
                            Warnings* warnings, Progress* progress) {
  TiffInput input = TiffInput::Memory(data);
  return DecodeInput(route, &input, name, warnings, progress);
}

Result<Image> DecodeTiff(std::span<const uint8_t> data, const std::string& name, Warnings* warnings,
                         Progress* progress) {
  return DecodeTiffVia(TiffRoute::Best, data, name, warnings, progress);
}

Result<Image> LoadTiffFileVia(TiffRoute route, const std::string& path, Warnings* warnings,
                              Progress* progress, TiffInput::ReadAt read_at) {
  ZAVO_TRY_ASSIGN(const OpenedFile file, OpenForReading(path));
  const ClosingFile closing(file.fd);
  TiffInput input = TiffInput::File(file.fd, file.size, read_at);
  return DecodeInput(route, &input, path, warnings, progress);
}

Result<Image> LoadTiffFile(const std::string& path, Warnings* warnings, Progress* progress) {
  return LoadTiffFileVia(TiffRoute::Best, path, warnings, progress);
}

Result<void> SaveTiffFile(const std::string& path, const Image& image, bool packbits,
                          Progress* progress) {
  if (image.width() == 0 || image.height() == 0) {
    return Error(ErrorKind::InvalidValue, "TIFF: the picture has no pixels to save: " + path);
  }
  ZAVO_TRY_ASSIGN(AtomicFile file, AtomicFile::Create(path));
  ZAVO_TRY(WriteTiff(file, image, packbits, progress));
  return file.Commit(Durability::Flushed);
}

}  // namespace zavo
