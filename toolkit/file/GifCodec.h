// GIF through giflib: every image of a file is a page (as the screen shows it after that image), an
// image covering the whole screen without transparency as 1 bit (a black and white palette), 8 bits
// (grey palette) or 24 bits, any other at 24 bits; saves 1- and 8-bit pages with exact palettes and
// colour pages quantised to 256 colours with dithering by libimagequant. GIF has no resolution
// field; the page's resolution is kept in a comment extension "dpi=X,Y" that loading reads back.
#pragma once

#include <string>

#include "toolkit/file/FileCommon.h"

namespace pxfile {

int GifInfo(const uint8_t* data, size_t size, PxFileInfo* info);
int GifLoad(const uint8_t* data, size_t size, int page, PxPage** out);
int GifSave(const PxPage* page, const std::string& path);

}  // namespace pxfile
