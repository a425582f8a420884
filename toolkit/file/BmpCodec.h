// Windows BMP: loads uncompressed 1, 4, 8, 16, 24 and 32 bits per pixel (info headers of 12, 40,
// 52, 56, 108 and 124 bytes; top-down and bottom-up); palette pages load as 1 bit (black and white
// palette), 8 bits (grey palette) or 24 bits; run-length (BI_RLE8, BI_RLE4) files load the same way.
// Saves 1, 8 and 24 bits with the resolution in pixels per metre.
#pragma once

#include <string>

#include "toolkit/file/FileCommon.h"

namespace pxfile {

int BmpInfo(const uint8_t* data, size_t size, PxFileInfo* info);
int BmpLoad(const uint8_t* data, size_t size, PxPage** out);
int BmpSave(const PxPage* page, const std::string& path);

}  // namespace pxfile
