// PDF input: page count and page images. A page that is one image drawn over the page (as every
// PDF written by this toolkit and most scanned PDFs are) is decoded straight from the image stream
// (DCT, CCITT, Flate or none; found with qpdf), so it comes back at its own size, depth and
// resolution without loss. Any other page is rendered with poppler at the resolution of its largest
// image (150 dpi when it has none). Decoded sizes are checked against the pixel budget first.
#pragma once

#include <cstddef>

#include "toolkit/file/FileCommon.h"

namespace pxfile {

int PdfInfo(const uint8_t* bytes, size_t count, PxFileInfo* info);
int PdfLoad(const uint8_t* bytes, size_t count, int page, PxPage** out);

}  // namespace pxfile
