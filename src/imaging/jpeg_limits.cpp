#include "imaging/jpeg_limits.h"

#include <algorithm>
#include <cinttypes>

#include "imaging/jpeg_error_manager.h"

namespace zavo {
namespace {

JpegWorkBudget* BudgetOf(j_decompress_ptr cinfo) {
  return reinterpret_cast<JpegWorkBudget*>(cinfo->progress);
}

// The blocks the scan just begun codes: those of each of its components.
uint64_t BlocksInScan(j_decompress_ptr cinfo) {
  uint64_t blocks = 0;
  for (int i = 0; i < cinfo->comps_in_scan; ++i) {
    const jpeg_component_info* component = cinfo->cur_comp_info[i];
    blocks += uint64_t{component->width_in_blocks} * component->height_in_blocks;
  }
  return blocks;
}

uint64_t BlocksInPicture(j_decompress_ptr cinfo) {
  uint64_t blocks = 0;
  for (int i = 0; i < cinfo->num_components; ++i) {
    blocks += uint64_t{cinfo->comp_info[i].width_in_blocks} * cinfo->comp_info[i].height_in_blocks;
  }
  return blocks;
}

bool Charge(JpegWorkBudget* budget, uint64_t visits) {
  budget->spent += visits;
  return budget->spent <= budget->allowed;
}

// libjpeg's passes as a share of the whole decode: a multi-scan file's scans
// are read in the first of its passes, the rows come out in the last. Its
// estimate of a pass's length may grow, so only what is further is told.
void ReportPasses(JpegWorkBudget* budget) noexcept {
  const jpeg_progress_mgr& passes = budget->pub;
  if (budget->progress == nullptr || passes.total_passes <= 0 || passes.pass_limit <= 0) return;
  const double within =
      std::clamp(static_cast<double>(passes.pass_counter) / passes.pass_limit, 0.0, 1.0);
  const double share = std::min(1.0, (passes.completed_passes + within) / passes.total_passes);
  const auto done = static_cast<uint64_t>(share * static_cast<double>(budget->units));
  if (done <= budget->reported) return;
  budget->reported = done;
  try {
    budget->progress->Advance(done, budget->units);
  } catch (...) {
    budget->thrown = std::current_exception();
    budget->progress = nullptr;
  }
}

// libjpeg calls this before each piece of input it decodes and each call for
// rows; a new scan number means a scan header has just been read and none of
// its data yet.
void ChargeNewScans(j_common_ptr common) {
  if (!common->is_decompressor) return;
  auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
  JpegWorkBudget* budget = BudgetOf(cinfo);
  ReportPasses(budget);
  if (cinfo->input_scan_number <= budget->charged_scans) return;
  budget->charged_scans = cinfo->input_scan_number;
  char text[JMSG_LENGTH_MAX];
  if (budget->charged_scans > kJpegMaxScans) {
    std::snprintf(text, sizeof text, "more than %d scans", kJpegMaxScans);
    FailJpeg(common, kJpegTooManyScans, text);
  }
  if (!Charge(budget, BlocksInScan(cinfo))) {
    std::snprintf(text, sizeof text,
                  "%d scans over the %u x %u picture are more work than %" PRIu64 " bytes can hold",
                  budget->charged_scans, cinfo->image_width, cinfo->image_height,
                  budget->file_bytes);
    FailJpeg(common, kJpegOverBudget, text);
  }
}

}  // namespace

void LimitJpegDecoder(j_decompress_ptr cinfo, JpegWorkBudget* budget, uint64_t file_bytes,
                      uint64_t spent) {
  budget->pub.progress_monitor = ChargeNewScans;
  budget->file_bytes = file_bytes;
  budget->allowed = kJpegFreeWork + file_bytes * kJpegWorkPerByte;
  budget->spent = spent;
  budget->charged_scans = 0;
  budget->progress = nullptr;
  budget->reported = 0;
  cinfo->progress = &budget->pub;
  cinfo->mem->max_memory_to_use = kJpegMaxMemory;
}

// The header has been read up to the first scan's header: the picture's
// size and that scan are known, nothing is allocated yet.
Result<void> ChargeJpegOutput(j_decompress_ptr cinfo, JpegWorkBudget* budget,
                              const std::string& name) {
  budget->charged_scans = cinfo->input_scan_number;
  if (Charge(budget, BlocksInPicture(cinfo) * kJpegOutputWork + BlocksInScan(cinfo))) return {};
  return Error(ErrorKind::TooLarge,
               "JPEG: " + std::to_string(budget->file_bytes) + " bytes cannot hold the " +
                   std::to_string(cinfo->image_width) + " x " +
                   std::to_string(cinfo->image_height) + " picture the header claims: " + name);
}

// The decode in one piece charges its output pass and its one scan, as
// ChargeJpegOutput does.
bool ChargeJpegBands(j_decompress_ptr cinfo, JpegWorkBudget* budget, uint64_t skipped_rows) {
  const uint64_t height = cinfo->image_height;
  const uint64_t skipping = (BlocksInPicture(cinfo) * skipped_rows + height - 1) / height;
  const uint64_t retry = BlocksInPicture(cinfo) * kJpegOutputWork + BlocksInScan(cinfo);
  const uint64_t left = budget->allowed - std::min(budget->spent, budget->allowed);
  if (skipping > left || retry > left - skipping) return false;
  budget->spent += skipping;
  return true;
}

void PrepayJpegBand(j_decompress_ptr cinfo, JpegWorkBudget* budget) {
  budget->charged_scans = cinfo->input_scan_number;
  budget->allowed = budget->spent;
}

}  // namespace zavo
