// The records of file information and of raw loading, shared by the class library and the file
// library (plain C layout: they cross the library boundary).
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// GetInfo's answer about a file (page 1 for size and depth).
typedef struct PxFileInfo {
  int32_t nFileType; /* PxFileType of the file's format (3 for any TIFF, 146 for any PDF) */
  int32_t nWidth;
  int32_t nHeight;
  int32_t nBitsPerPixel; /* depth the toolkit loads the first page at: 1, 8 or 24 */
  int32_t nPages;        /* number of pages */
  int32_t nXDpi;         /* dots per inch, 0 when the file does not say */
  int32_t nYDpi;
  int32_t nReserved[4];
} PxFileInfo;

/* Codings for raw fax data (PxLoadInfo.nFlags, format PX_RAW_FAX = 68). */
enum {
  PX_FAX_G3_1D = 0x01,      /* Group 3 one-dimensional (Modified Huffman); EOL codes detected */
  PX_FAX_G3_2D = 0x02,      /* Group 3 two-dimensional (Modified READ, EOL + tag bit) */
  PX_FAX_G4 = 0x04,         /* Group 4 (MMR) */
  PX_FAX_LSB_FIRST = 0x10,  /* bits within a byte least significant first */
  PX_FAX_BLACK_IS_1 = 0x20, /* inverted: 1 is black */
};

// Filled by LoadInfoCallBack for data of no known format.
typedef struct PxLoadInfo {
  int32_t nFormat;       /* 68: raw CCITT fax */
  int32_t nWidth;        /* pixels per row */
  int32_t nHeight;       /* rows; 0 = as many as the data holds */
  int32_t nBitsPerPixel; /* 1 */
  int32_t nXDpi;
  int32_t nYDpi;
  int32_t nOffset; /* bytes to skip before the fax data */
  int32_t nFlags;  /* PX_FAX_* */
} PxLoadInfo;

#ifdef __cplusplus
}
#endif
