// The picture's trips between the host and the add-in: the import writes the
// host's BMP transfer file from a JPEG or TIFF file, the exports write the
// host's BMP as JPEG or TIFF. Each run is load, save, free, through ImgKit.
#pragma once

#include <cstdint>
#include <string>

#include "host/format_code.h"
#include "imaging/imgkit.h"
#include "platform/message_box.h"

namespace zavo {

// Each run refuses, through `boxes`, to write over the very file it reads
// (the same file by any path or link) before anything is loaded.

// Loads `target_file` as JPEG (format 2) or TIFF (format 3) and writes it to
// `transfer_file`. True when the transfer file was written; on failure the
// user has already been told why.
bool ImportForHost(ImgKit& imgkit, MessageBoxes& boxes, int16_t format_code,
                   const std::string& target_file, const std::string& transfer_file);

// JPEG quality is the scroll bar's value; any non-zero check box value
// (ticked or greyed) asks for grayscale.
void ExportJpeg(ImgKit& imgkit, MessageBoxes& boxes, const std::string& transfer_file,
                const std::string& target_file, int16_t quality, int16_t grayscale_box);

// Any non-zero flag asks for PackBits.
void ExportTiff(ImgKit& imgkit, MessageBoxes& boxes, const std::string& transfer_file,
                const std::string& target_file, int16_t tiff_compression);

}  // namespace zavo
