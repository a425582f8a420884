// The imaging toolkit's records shared by the kernel, the file filters and the encoders.
// PxFileInfo is what a filter's info entry fills, PxLoadInfo drives a load (requested depth, page,
// target geometry and the row callback), PxBitmap describes pixels handed to an encoder.
// Guarantees: plain C layout (no constructors, no virtuals), every field a fixed-width integer or a
// pointer, so a zeroed record is valid and the records cross the C boundary between libpxkernel,
// libpxmpeg and the toolkit unchanged. Sizes and counts are signed 32-bit as the toolkit hands them;
// callees must range-check them. Colour order of 24/32-bit rows is blue, green, red (PX_ORDER_BGR).
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

enum PxColorOrder : int32_t {
  PX_ORDER_BGR = 0,  // blue, green, red in memory (the toolkit's native order)
  PX_ORDER_RGB = 1,
  PX_ORDER_GRAY = 2,
};

// Format codes the toolkit assigns to file types.
enum PxFormatCode : int32_t {
  PX_FORMAT_MPEG1 = 243,
  PX_FORMAT_MPEG2 = 246,
};

// Flags of PxFileInfo::nFlags.
enum : uint32_t {
  PX_INFO_MULTIPAGE = 0x0001,      // more than one page can be loaded
  PX_INFO_SYSTEM_STREAM = 0x0002,  // the video is inside a pack/packet system stream
  PX_INFO_INTERLACED = 0x0004,
};

// File information record: filled by a filter's info entry point.
struct PxFileInfo {
  int32_t nFormat;          // format code (PxFormatCode)
  char szFormatName[32];    // "MPEG-1", "MPEG-2", NUL-terminated
  int32_t nWidth;           // pixels
  int32_t nHeight;          // rows
  int32_t nBitsPerPixel;    // depth the filter delivers (24 for MPEG)
  int32_t nBytesPerRow;     // ((width * bpp + 31) / 32) * 4
  int32_t nColorOrder;      // PxColorOrder of delivered rows
  int32_t nPageCount;       // pages the filter can load
  int32_t nCurrentPage;     // the page the caller asked for, clamped to 1..nPageCount
  int32_t nFilterAccepted;  // set to 1 by the filter that recognised the file
  uint32_t nFlags;          // PX_INFO_*
  int64_t nImageSize;       // nBytesPerRow * nHeight
  int32_t nXResolution;     // dots per inch, 0 when unknown
  int32_t nYResolution;
  int32_t nFrameRateCode;  // format-specific extras (MPEG: frame_rate_code, aspect, bit rate)
  int32_t nAspectCode;
  int64_t nBitRate;  // bits per second, 0 when unknown
};

struct PxLoadInfo;

// Row callback flags.
enum : int32_t {
  PX_ROW_VALID = 0x01,
  PX_ROW_COLOR = 0x02,
  PX_ROW_FIRST = 0x04,  // first row of the picture
  PX_ROW_LAST = 0x08,   // row index + 1 == target row count
};

// Called once per delivered row. Returns 1 to go on; any other value stops the load and becomes the
// load's result. pRow holds one row of nWidth pixels (blue, green, red for 24 bits).
typedef int (*PxRowCallback)(void* pUser, PxLoadInfo* pLoad, uint8_t* pRow, int32_t nFlags, int32_t nRow,
                             int32_t nRowCount, intptr_t nPassThrough);

// Load record: the caller fills the request fields; the filter sets nLoadFlagA = 0 and
// nLoadFlagB = 1 once its buffers are allocated (the toolkit reads them as "load under way").
struct PxLoadInfo {
  int32_t nBitsPerPixel;  // requested depth: 1, 4, 8, 16, 24 or 32
  int32_t nPage;          // 1-based page to load
  int32_t nBytesPerRow;   // of the target (the delivered row buffer has this many bytes)
  int32_t nRows;          // target's row count
  PxRowCallback pfnRow;   // row callback
  void* pUser;            // handed to pfnRow as its first argument
  intptr_t nPassThrough;  // handed to pfnRow as its last argument
  int32_t nLoadFlagA;     // set to 0 by the filter
  int32_t nLoadFlagB;     // set to 1 by the filter
  int32_t nWidth;         // filled by the filter: delivered width and height
  int32_t nHeight;
};

// Bitmap flags.
enum : uint32_t {
  PX_BITMAP_NEEDS_PREPARE = 0x0001,  // call kernel service 221 before row access
  PX_BITMAP_OWNS_PIXELS = 0x0002,    // release (125) frees pPixels through kernel free (283)
};

// Bitmap record: pixels handed to an encoder by its frame callback.
struct PxBitmap {
  int32_t nWidth;
  int32_t nHeight;
  int32_t nBitsPerPixel;  // 24 (blue, green, red) or 32 (blue, green, red, unused)
  int32_t nBytesPerRow;   // distance between rows of pPixels, at least width * bpp / 8
  int32_t nColorOrder;    // PxColorOrder
  uint32_t nFlags;        // PX_BITMAP_*
  uint8_t* pPixels;       // row 0 first
  int32_t nAccessCount;   // kernel bookkeeping of begin/end row access
  int32_t nPrepared;      // kernel bookkeeping: 1 after service 221
};

}  // extern "C"
