// PDF 1.4 output, one page per image, written by the toolkit itself: each page is an image XObject
// drawn over the whole page at the page's resolution (72 dpi assumed when unknown). Appending a page
// writes an incremental update (ISO 32000-1 7.5.6): the new objects, a new page tree and a new
// cross-reference section, so the file is complete after every page and a write that stops half
// way leaves the earlier pages readable. Only files written here can take another page.
#pragma once

#include <string>

#include "pxocr/PxOcrApi.h"
#include "toolkit/file/FileCommon.h"

namespace pxfile {

// How the page's image is stored (chosen from the type code by the caller).
enum class PdfCoding { Group4, Jpeg, Flate };

// text: recognised words laid over the image as invisible text (searchable, copyable), or null. The
// image is written exactly as without it.
int PdfSave(const PxPage* page, const std::string& path, PdfCoding coding, int jpegQuality, bool append,
            const PxOcrText* text = nullptr);

}  // namespace pxfile
