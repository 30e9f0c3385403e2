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
#include <string>

// jpeglib.h needs size_t and FILE declared first.
// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
// clang-format on

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
// the scans are too many or the work is over the budget.
struct JpegWorkBudget {
  jpeg_progress_mgr pub;  // first, so libjpeg's progress pointer is a pointer to us
  uint64_t file_bytes;    // the size of the whole file
  uint64_t allowed;       // visits the file's bytes pay for
  uint64_t spent;         // visits charged so far
  int charged_scans;      // scans charged so far
};

// Sets the limits on `cinfo` (created, header not yet read) for a file of
// `file_bytes` bytes.
void LimitJpegDecoder(j_decompress_ptr cinfo, JpegWorkBudget* budget, uint64_t file_bytes);

// Charges the output pass; call after jpeg_read_header and before anything is
// allocated for the picture. Fails, naming `name`, when over the budget.
Result<void> ChargeJpegOutput(j_decompress_ptr cinfo, JpegWorkBudget* budget,
                              const std::string& name);

// Charges the Huffman decoding of the first `rows` rows done once more, by a
// decompressor that skips them to reach its share of the rows; false when the
// budget cannot pay for it. A file thus gets one budget however many
// decompressors share its rows.
bool ChargeJpegSkippedRows(j_decompress_ptr cinfo, JpegWorkBudget* budget, uint64_t rows);

}  // namespace zavo
