// TIFF through libtiff (TIFF 6.0): loads any page of a file in any common compression (none, LZW,
// Deflate, PackBits, JPEG, CCITT Group 3 and 4), strips or tiles, at 1, 8 or 24 bits; saves pages
// uncompressed (type 3) or compressed (type 17: Group 4 for 1 bit, Deflate with a predictor
// otherwise), appending a new directory for page numbers above 1. Also hosts the in-memory TIFF
// used to decode raw fax data and to make Group 4 strips for PDF.
#pragma once

#include <string>
#include <vector>

#include "toolkit/file/FileCommon.h"

namespace pxfile {

int TiffInfo(const std::string& path, PxFileInfo* info);
int TiffLoad(const std::string& path, int page, PxPage** out);
int TiffSave(const PxPage* page, const std::string& path, bool compressed, bool append);

// Group 4 coding of a 1-bit page (0 black), for PDF's CCITTFaxDecode with K -1.
int EncodeG4(const PxPage* page, std::vector<uint8_t>& out);
// Decodes raw CCITT data (PX_FAX_* flags) of the given sizes; height 0 decodes until the data ends
// (bounded by the pixel limit).
int DecodeFax(const uint8_t* data, size_t size, int width, int height, int flags, int xDpi, int yDpi,
              PxPage** out);

}  // namespace pxfile
