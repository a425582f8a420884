// PNG through libpng: loads any bit depth, palette, grey or colour, with or without alpha (alpha is
// composited onto white); 1-bit grey loads as 1 bit, other grey as 8, the rest as 24. Saves 1-, 8-
// and 24-bit pages with the compression level 1..9 given as the quality. pHYs carries resolution.
#pragma once

#include <string>

#include "toolkit/file/FileCommon.h"

namespace pxfile {

int PngInfo(const uint8_t* data, size_t size, PxFileInfo* info);
int PngLoad(const uint8_t* data, size_t size, PxPage** out);
int PngSave(const PxPage* page, const std::string& path, int level);

}  // namespace pxfile
