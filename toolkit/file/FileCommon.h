// Shared helpers of the file library's codecs: whole-file reads with a size cap, the pixel budget a
// decoder may allocate, and the page checks every loader makes before allocating.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "pxclass/PxError.h"
#include "pxclass/PxFileInfo.h"
#include "pxclass/PxFileTypes.h"
#include "pxclass/PxPageAlloc.h"

namespace pxfile {

// Largest input file read into memory whole (PNG, BMP, GIF, PDF, raw fax).
inline constexpr int64_t kMaxFileBytes = 512LL * 1024 * 1024;

// Pixels one decoded page may have; tests and fuzzers lower it (PxfSetPixelLimit).
int64_t PixelLimit();
void SetPixelLimit(int64_t pixels);

// PX_OK when a page of these sizes may be allocated, else PX_ERR_TOO_LARGE / PX_ERR_CORRUPT.
int CheckPageSize(int64_t width, int64_t height);

// Opens a file for reading only when it is a regular file: a FIFO or device would block the open or
// never end. Null with PX_ERR_OPEN in error otherwise.
FILE* OpenRegularFile(const std::string& path, int& error);

// Reads a whole file (at most kMaxFileBytes). PX_ERR_OPEN, PX_ERR_READ or PX_ERR_TOO_LARGE.
int ReadFile(const std::string& path, std::vector<uint8_t>& data);
// Opens a file a writer fills: never through a link, only a regular file of this user's with a single
// name (a FIFO or device in its place is refused and never blocks the open), created 0600; emptied when
// truncate is set. accessFlags is O_WRONLY or O_RDWR, O_APPEND allowed. -1 when refused or failed.
int OpenForWriting(const std::string& path, int accessFlags, bool truncate);
// Writes a whole file (replacing it). PX_ERR_WRITE on any failure; a failed write removes the file
// (appending: cuts it back to its old length), so no partial page passes for a whole one.
int WriteFile(const std::string& path, const uint8_t* data, size_t size, bool append);

// A page of the given sizes, or null (the caller answers PX_ERR_NO_MEMORY). Unfilled pages are for
// loaders that write every byte of every row, padding included.
inline PxPage* NewPage(int32_t width, int32_t height, int32_t bpp, int32_t xDpi, int32_t yDpi,
                       bool filled = true) {
  PxPage* page = PxPageAlloc(width, height, bpp, filled);
  if (page) {
    page->xDpi = (xDpi > 0 && xDpi <= PX_MAX_DPI) ? xDpi : 0;
    page->yDpi = (yDpi > 0 && yDpi <= PX_MAX_DPI) ? yDpi : 0;
  }
  return page;
}

inline int GetBit(const uint8_t* row, int x) {
  return (row[x >> 3] >> (7 - (x & 7))) & 1;
}
inline void SetBit(uint8_t* row, int x, int v) {
  if (v)
    row[x >> 3] |= uint8_t(0x80 >> (x & 7));
  else
    row[x >> 3] &= uint8_t(~(0x80 >> (x & 7)));
}

// Owns a page until released; frees it on early returns.
class PageHolder {
 public:
  explicit PageHolder(PxPage* page = nullptr) : m_pPage(page) {}
  ~PageHolder() { PxPageFree(m_pPage); }
  PageHolder(const PageHolder&) = delete;
  PageHolder& operator=(const PageHolder&) = delete;
  PxPage* get() const { return m_pPage; }
  PxPage* operator->() const { return m_pPage; }
  void reset(PxPage* page) {
    PxPageFree(m_pPage);
    m_pPage = page;
  }
  PxPage* release() {
    PxPage* page = m_pPage;
    m_pPage = nullptr;
    return page;
  }

 private:
  PxPage* m_pPage;
};

// JPEG quality (1..100) for the toolkit's factor 2..255 (2 best); see docs/toolkit.md.
int JpegQualityFor(int factor);

}  // namespace pxfile
