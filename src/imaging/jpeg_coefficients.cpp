#include "imaging/jpeg_coefficients.h"

#include <jerror.h>
#include <sys/mman.h>

#include "imaging/image.h"

namespace zavo {

// One array of block rows, handed to libjpeg as its opaque jvirt_barray_ptr.
struct CoefficientArray {
  JBLOCKARRAY rows;
  JDIMENSION blocks_per_row;
  JDIMENSION row_count;
  CoefficientArray* next;
};

namespace {

// Under AddressSanitizer libjpeg keeps its own arrays, whose bounds it guards.
#ifdef ZAVO_SANITIZED
constexpr bool kOwnArrays = false;
#else
constexpr bool kOwnArrays = true;
#endif

JpegCoefficients* CoefficientsOf(j_common_ptr cinfo) {
  return static_cast<JpegCoefficients*>(cinfo->client_data);
}

jvirt_barray_ptr RequestArray(j_common_ptr cinfo, int pool_id, boolean /*pre_zero*/,
                              JDIMENSION blocks_per_row, JDIMENSION row_count,
                              JDIMENSION /*max_access*/) {
  if (pool_id != JPOOL_IMAGE) ERREXIT1(cinfo, JERR_BAD_POOL_ID, pool_id);
  auto* array = static_cast<CoefficientArray*>(
      (*cinfo->mem->alloc_small)(cinfo, JPOOL_IMAGE, sizeof(CoefficientArray)));
  JpegCoefficients* coefficients = CoefficientsOf(cinfo);
  *array = {nullptr, blocks_per_row, row_count, coefficients->arrays};
  coefficients->arrays = array;
  return reinterpret_cast<jvirt_barray_ptr>(array);
}

size_t ArrayBytes(const CoefficientArray& array) {
  return size_t{array.blocks_per_row} * array.row_count * sizeof(JBLOCK);
}

// Every array is kept whole in memory, as libjpeg itself does when memory
// suffices; fresh anonymous memory is zero, so pre_zero is met as well.
void RealizeArrays(j_common_ptr cinfo) {
  JpegCoefficients* coefficients = CoefficientsOf(cinfo);
  (*coefficients->realize_others)(cinfo);
  size_t total = 0;
  for (const CoefficientArray* a = coefficients->arrays; a != nullptr; a = a->next) {
    total += ArrayBytes(*a);
  }
  if (total == 0 || coefficients->block != nullptr) return;
  auto* memory = MapInHugePages(total, &coefficients->block_bytes);
  if (memory == nullptr) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 10);
  coefficients->block = memory;
  for (CoefficientArray* a = coefficients->arrays; a != nullptr; a = a->next) {
    a->rows = static_cast<JBLOCKARRAY>(
        (*cinfo->mem->alloc_large)(cinfo, JPOOL_IMAGE, size_t{a->row_count} * sizeof(JBLOCKROW)));
    for (JDIMENSION row = 0; row < a->row_count; ++row) {
      a->rows[row] = reinterpret_cast<JBLOCKROW>(memory) + size_t{row} * a->blocks_per_row;
    }
    memory += ArrayBytes(*a);
  }
}

JBLOCKARRAY AccessArray(j_common_ptr cinfo, jvirt_barray_ptr handle, JDIMENSION first,
                        JDIMENSION count, boolean /*writable*/) {
  const auto* array = reinterpret_cast<const CoefficientArray*>(handle);
  if (array->rows == nullptr || first > array->row_count || count > array->row_count - first) {
    ERREXIT(cinfo, JERR_BAD_VIRTUAL_ACCESS);
  }
  return array->rows + first;
}

}  // namespace

void KeepJpegCoefficients(j_compress_ptr cinfo, JpegCoefficients* coefficients) {
  *coefficients = {nullptr, cinfo->mem->realize_virt_arrays, nullptr, 0};
  if (!kOwnArrays) return;
  cinfo->client_data = coefficients;
  cinfo->mem->request_virt_barray = RequestArray;
  cinfo->mem->realize_virt_arrays = RealizeArrays;
  cinfo->mem->access_virt_barray = AccessArray;
}

void ReleaseJpegCoefficients(JpegCoefficients* coefficients) {
  if (coefficients->block != nullptr) ::munmap(coefficients->block, coefficients->block_bytes);
  coefficients->block = nullptr;
}

}  // namespace zavo
