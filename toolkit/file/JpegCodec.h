// JPEG (JFIF) through libjpeg-turbo: loads greyscale, colour, CMYK/YCCK and progressive files (grey
// as 8 bits, others as 24), saves 8- and 24-bit pages (1-bit pages are saved as grey). Corrupt data,
// including a truncated file, is an error rather than a grey-filled page. A page written while its
// rows arrive: JpegStream.h.
#pragma once

#include <string>
#include <vector>

#include "toolkit/file/FileCommon.h"

namespace pxfile {

// A file's EXIF orientation is honoured (the page comes upright, its sizes as shown); a JPEG stream
// inside another format (PDF) passes exif false, as that format places the image itself.
int JpegInfo(const uint8_t* data, size_t size, PxFileInfo* info);
int JpegLoad(const uint8_t* data, size_t size, PxPage** out, bool exif = true);
// Encodes the page into `jpeg` (quality 1..100); the page must be 8 or 24 bits.
int JpegEncode(const PxPage* page, int quality, std::vector<uint8_t>& jpeg);
int JpegSave(const PxPage* page, const std::string& path, int factor);

}  // namespace pxfile
