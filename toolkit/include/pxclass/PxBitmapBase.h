// One page in memory, at 1, 8 or 24 bits per pixel (layout in PxPage.h), with the operations the
// scan and conversion layers use: load a page of a file at its own depth, save it in any toolkit type,
// resize, trim, copy, and read a pixel. Loading, saving and resizing are done by the file library
// (PX_FIL); without it they return PX_ERR_NO_LIBRARY. Results: 1 success, negative PxError.
#pragma once

#include "pxclass/PxBase.h"
#include "pxclass/PxError.h"
#include "pxclass/PxFileInfo.h"
#include "pxclass/PxPage.h"
#include "pxclass/PxPageAlloc.h"
#include "pxclass/PxSaveOptions.h"
#include "pxocr/PxOcrApi.h"

// The only colour order the toolkit hands out: 24-bit pixels as red, green, blue bytes.
inline constexpr int PX_COLOUR_ORDER_RGB = 4;

class PxBitmapBase : public PxBase {
 public:
  PxBitmapBase() = default;
  ~PxBitmapBase() override;
  PxBitmapBase(const PxBitmapBase&) = delete;
  PxBitmapBase& operator=(const PxBitmapBase&) = delete;

  int IsAllocated() const { return m_pPage != nullptr; }
  int GetWidth() const { return m_pPage ? m_pPage->width : 0; }
  int GetHeight() const { return m_pPage ? m_pPage->height : 0; }
  int GetBitsPerPixel() const { return m_pPage ? m_pPage->bitsPerPixel : 0; }
  int GetXResolution() const { return m_pPage ? m_pPage->xDpi : 0; }
  int GetYResolution() const { return m_pPage ? m_pPage->yDpi : 0; }
  // Sets the page's dots per inch (kept through save and load).
  int SetResolution(int xDpi, int yDpi);

  // Makes this bitmap a deep copy of `other` (which must hold a page).
  int Copy(const PxBitmapBase& other);
  // Releases the page; freeing an empty bitmap is not an error.
  int Free();

  // Saves the page as `name` of file type `type` (PxFileTypes.h). bitsPerPixel 0 keeps the page's
  // depth, 1/8/24 converts first. quality: JPEG 2..255 (2 best), PNG 1..9 (compression level); other
  // types ignore it. flags: reserved (callers pass 1 or 3). options: page number (PxSaveOptions.h);
  // null means page 1. Returns 1 or a negative PxError (below 1 is failure).
  int Save(const char* name, int type, int bitsPerPixel, int quality, int flags,
           const PxSaveOptions* options);
  // The same with the words recognised on the page (PxOcrRecognize on this page), laid over a PDF page
  // as invisible text; other types ignore them, and null saves as Save does.
  int Save(const char* name, int type, int bitsPerPixel, int quality, int flags, const PxSaveOptions* options,
           const PxOcrText* text);

  // Loads page `page` (1-based) of the named file. bitsPerPixel 0 keeps the file's depth (1, 8 or
  // 24); colourOrder must be PX_COLOUR_ORDER_RGB. `info` (may be null) is the file's GetInfo record.
  int Load(const char* name, int bitsPerPixel, int colourOrder, int page, const PxFileInfo* info = nullptr);

  // The pixel at (row, column): 1 bit 0 black/1 white, 8 bits grey 0..255, 24 bits 0xRRGGBB.
  // -1 outside the page or with no page.
  int GetPixel(int row, int column) const;

  // Resamples to width x height (area average when shrinking, bilinear when enlarging).
  int Resize(int width, int height);
  // Keeps the rectangle (left, top, width, height), which must lie inside the page.
  int Trim(int left, int top, int width, int height);

  // Takes ownership of a page produced by a library (freeing the one held). Null frees.
  int AttachPage(PxPage* page);
  // Gives up ownership of the page (the caller frees it with PxPageFree); null when empty.
  PxPage* DetachPage();
  const PxPage* Page() const { return m_pPage; }

 private:
  PxPage* m_pPage = nullptr;
};
