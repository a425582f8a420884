// JPEG (JFIF) through libjpeg-turbo: loads greyscale, colour, CMYK/YCCK and progressive files (grey
// as 8 bits, others as 24), saves 8- and 24-bit pages (1-bit pages are saved as grey). Corrupt data,
// including a truncated file, is an error rather than a grey-filled page.
#pragma once

#include <string>
#include <vector>

#include "toolkit/file/FileCommon.h"

namespace pxfile {

int JpegInfo(const uint8_t* data, size_t size, PxFileInfo* info);
int JpegLoad(const uint8_t* data, size_t size, PxPage** out);
// Encodes the page into `jpeg` (quality 1..100); the page must be 8 or 24 bits.
int JpegEncode(const PxPage* page, int quality, std::vector<uint8_t>& jpeg);
int JpegSave(const PxPage* page, const std::string& path, int factor);

}  // namespace pxfile
