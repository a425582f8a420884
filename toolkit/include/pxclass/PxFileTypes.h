// The file type codes the toolkit reads and writes. The first seven are the output types of the
// program's file-type table (app/FileTypeTable.h); 149..152 are the PDF variants the scan and
// conversion layers choose by page depth (see docs/toolkit.md). Callers: the class library, the file
// library, TwainScan and FileConvert.
#pragma once

enum PxFileType : int {
  PX_TYPE_UNKNOWN = 0,
  PX_TYPE_GIF = 2,             // GIF, 8-bit palette (colour pages are quantised)
  PX_TYPE_TIFF = 3,            // TIFF, uncompressed, several pages
  PX_TYPE_BMP = 6,             // BMP (Windows bitmap)
  PX_TYPE_JPEG = 10,           // JPEG (JFIF)
  PX_TYPE_TIFF_PACKED = 17,    // TIFF, Group 4 for 1-bit pages, Deflate otherwise, several pages
  PX_TYPE_PNG = 75,            // PNG
  PX_TYPE_PDF = 146,           // PDF, one page per image: Group 4 below 8 bits, JPEG otherwise
  PX_TYPE_PDF_BILEVEL = 149,   // PDF, every page stored 1 bit Group 4 (deeper pages are thresholded)
  PX_TYPE_PDF_GREY = 150,      // PDF, every page stored 8-bit grey JPEG
  PX_TYPE_PDF_LOSSLESS = 151,  // PDF, every page at its own depth, lossless (Group 4 or Flate)
  PX_TYPE_PDF_COLOUR = 152,    // PDF, pages of 8 bits and more as JPEG at their depth, 1 bit as Group 4
};

// Raw-load format: CCITT fax data with no file header (see PxLoadInfo in PxFile.h).
inline constexpr int PX_RAW_FAX = 68;

inline constexpr bool PxIsMultiPageType(int type) {
  return type == PX_TYPE_TIFF || type == PX_TYPE_TIFF_PACKED || type == PX_TYPE_PDF ||
         (type >= PX_TYPE_PDF_BILEVEL && type <= PX_TYPE_PDF_COLOUR);
}

inline constexpr bool PxIsPdfType(int type) {
  return type == PX_TYPE_PDF || (type >= PX_TYPE_PDF_BILEVEL && type <= PX_TYPE_PDF_COLOUR);
}
