// Where the JPEG encoder keeps the whole picture's coefficients, which
// optimised Huffman tables need (two bytes a sample: 60 MB at 20 MP). libjpeg
// lets an application replace the methods of its memory manager; ours give
// the coefficient arrays one block of memory in huge pages, about 30 page
// faults where malloc's 4 KiB pages cost 15,000, a large part of an export's
// time on a virtual machine. Plain data: it lives beside libjpeg's structs.
#pragma once

#include <cstddef>

// jpeglib.h needs size_t and FILE declared first.
// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

namespace zavo {

struct CoefficientArray;

struct JpegCoefficients {
  CoefficientArray* arrays;  // requested, in libjpeg's pool
  void (*realize_others)(j_common_ptr cinfo);
  void* block;  // all the arrays' coefficients, mapped
  size_t block_bytes;
};

// Call after jpeg_create_compress; `coefficients` must outlive the
// compressor, and ReleaseJpegCoefficients frees the block after it is destroyed.
void KeepJpegCoefficients(j_compress_ptr cinfo, JpegCoefficients* coefficients);
void ReleaseJpegCoefficients(JpegCoefficients* coefficients);

}  // namespace zavo
