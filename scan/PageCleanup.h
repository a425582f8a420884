// PageCleanup: the Quick Set's page cleanup, run by TwainScan on each page between acquisition and
// saving: leave out blank pages, cut dark borders, turn pages upright, straighten skew (in that
// order). The work is done by the toolkit's cleanup library ("pxclean.dll"), loaded on the first page
// that asks; turning upright uses the OCR library's orientation finder ("pxocr.dll") when it is
// installed and otherwise keeps pages as scanned. Every step is off unless its Quick Set value is set.
#pragma once

#include "pxclass/PxBitmapBase.h"

class DebugTrace;

struct PageCleanupOptions {
  bool bSkipBlank = false;   // "SkipBlank"
  bool bCropBorder = false;  // "CropBorder"
  bool bUpright = false;     // "Upright"
  bool bDeskew = false;      // "Deskew"
  bool Any() const { return bSkipBlank || bCropBorder || bUpright || bDeskew; }
};

enum class PageVerdict {
  kKeep,    // cleaned as asked (or untouched), to be saved
  kBlank,   // a blank page to leave out
  kFailed,  // the cleanup library is missing or a step ran out of memory: the log says which
};

// `page` is the page's number in the scan (1 for the first acquired) for the log.
PageVerdict CleanPage(PxBitmapBase& bitmap, const PageCleanupOptions& options, int page, DebugTrace& trace);
