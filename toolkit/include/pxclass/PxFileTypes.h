// The file type codes the toolkit reads and writes, and the one place their meaning is written down:
// which hold several pages, which are PDF, each one's usual extension. The first seven are the output
// types of the program's file-type table (app/FileTypeTable.h); 149..152 are the PDF variants the scan
// and conversion layers choose by page depth (see docs/toolkit.md). The codes are stored in Quick Sets
// and sent to devices: never renumber them. Callers: the class library, the file library, the program's
// file-type services, TwainScan, FileConvert and the wizard.
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

inline constexpr bool PxIsPdfType(int type) {
  return type == PX_TYPE_PDF || (type >= PX_TYPE_PDF_BILEVEL && type <= PX_TYPE_PDF_COLOUR);
}

inline constexpr bool PxIsMultiPageType(int type) {
  return type == PX_TYPE_TIFF || type == PX_TYPE_TIFF_PACKED || PxIsPdfType(type);
}

// The type the user picks a variant under: every PDF variant counts as PX_TYPE_PDF.
inline constexpr int PxBaseFileType(int type) {
  return PxIsPdfType(type) ? int(PX_TYPE_PDF) : type;
}

// PX_TYPE_PDF stands for "decide by the page": the bilevel variant for pages below 8 bits, else the
// colour one. Every other type, a PDF variant included, is kept.
inline constexpr int PxPdfTypeForDepth(int type, int bitsPerPixel) {
  if (type != PX_TYPE_PDF) return type;
  return bitsPerPixel < 8 ? PX_TYPE_PDF_BILEVEL : PX_TYPE_PDF_COLOUR;
}

// The quality a save uses when the caller gives none: PNG's is a compression level (1 to 9), the
// others' a scale factor (100: the codec's own default).
inline constexpr int PxDefaultQuality(int type) {
  return type == PX_TYPE_PNG ? 7 : 100;
}

// The extension (without the dot) files of the type carry; null for a code that is no file type. The
// program's own extension strings (resource library) must agree with these.
inline constexpr const char* PxFileTypeExtension(int type) {
  switch (PxBaseFileType(type)) {
    case PX_TYPE_GIF:
      return "gif";
    case PX_TYPE_TIFF:
    case PX_TYPE_TIFF_PACKED:
      return "tif";
    case PX_TYPE_BMP:
      return "bmp";
    case PX_TYPE_JPEG:
      return "jpg";
    case PX_TYPE_PNG:
      return "png";
    case PX_TYPE_PDF:
      return "pdf";
    default:
      return nullptr;
  }
}
