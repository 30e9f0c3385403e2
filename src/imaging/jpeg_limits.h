// What one JPEG may cost to decode, bounded by what its bytes can hold.
//
// A JPEG's header may claim any size up to our pixel limit, and libjpeg fills
// whatever the data does not cover with gray; progressive files may repeat
// scans, each a pass over every block. So a few hundred bytes could take
// seconds and gigabytes. The budget counts the work in block visits: every
// 8 x 8 block of every component once per scan that codes it, plus the
// output pass (inverse DCT, colour conversion, the picture's own memory),
// weighted as a few visits a block. A file pays for a fixed allowance and
// a number of visits for each byte it has. Huffman coding spends at least a
// bit or two on every block it codes, so complete files stay well inside;
// files that claim far more than their bytes hold are refused before the work.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

// jpeglib.h needs size_t and FILE declared first.
// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include "imaging/progress.h"
#include "platform/error.h"

namespace zavo {

// Visits every file may spend, however small: a flat picture of 10 to 20
// megapixels in a few hundred bytes still decodes.
inline constexpr uint64_t kJpegFreeWork = uint64_t{1} << 22;
// Visits each byte of the file pays for.
inline constexpr uint64_t kJpegWorkPerByte = 64;
// The output pass, in visits a block.
inline constexpr uint64_t kJpegOutputWork = 8;

// A damaged progressive file can hold thousands of scans; real files have a
// dozen or so; libjpeg-turbo's own TurboJPEG API stops at the same count.
inline constexpr int kJpegMaxScans = 500;

// libjpeg's working memory beyond the picture: the whole-picture coefficient
// store of a progressive or multi-scan file (two bytes a sample), and row
// buffers. Beyond it the decode fails as too large.
inline constexpr long kJpegMaxMemory = 1L << 30;

// Watches one decompression through libjpeg's progress hook: charges each
// scan as it begins, before its data is decoded, and stops the decode once
// the scans are too many or the work is over the budget. With `progress`
// set it also reports how far libjpeg is through all its passes, so a
// progressive or multi-scan file's bar moves while its scans are read, long
// before the first row comes out.
struct JpegWorkBudget {
  jpeg_progress_mgr pub;      // first, so libjpeg's progress pointer is a pointer to us
  uint64_t file_bytes;        // the size of the whole file
  uint64_t allowed;           // visits the file's bytes pay for
  uint64_t spent;             // visits charged so far
  int charged_scans;          // scans charged so far
  Progress* progress;         // told of the passes, or null
  uint64_t units;             // the whole decode, in the units told to `progress`
  uint64_t reported;          // units told so far
  std::exception_ptr thrown;  // what `progress` threw inside libjpeg, to throw again outside
};

// Sets the limits on `cinfo` (created, header not yet read) for a file of
// `file_bytes` bytes, of whose budget an earlier decode of it spent `spent`.
void LimitJpegDecoder(j_decompress_ptr cinfo, JpegWorkBudget* budget, uint64_t file_bytes,
                      uint64_t spent = 0);

// Charges the output pass; call after jpeg_read_header and before anything is
// allocated for the picture. Fails, naming `name`, when over the budget.
Result<void> ChargeJpegOutput(j_decompress_ptr cinfo, JpegWorkBudget* budget,
                              const std::string& name);

// Charges the work that decoding in bands adds: the Huffman data of the
// `skipped_rows` rows that the band decompressors decode once more to reach
// their bands (the bands' own work is the decode's, charged already). Made
// only when the budget could still pay for decoding the picture once more in
// one piece, as damage in any band makes us do: the file keeps one budget
// across the bands and that retry, and the retry fares exactly as a decode in
// one piece from the start. False, with nothing charged, otherwise.
bool ChargeJpegBands(j_decompress_ptr cinfo, JpegWorkBudget* budget, uint64_t skipped_rows);

// For a band's own decompressor, its header read: its work was paid from the
// file's budget beforehand, so its own budget has nothing left, and anything
// beyond the one scan paid for fails the band (and so sends the file to the
// decode in one piece).
void PrepayJpegBand(j_decompress_ptr cinfo, JpegWorkBudget* budget);

}  // namespace zavo
