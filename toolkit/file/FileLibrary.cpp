// The file library's C entry points (toolkit/include/pxfile/PxFileApi.h): format detection by
// content, dispatch to the codecs, the type code's choices of depth and coding for saving. No
// exception leaves an entry point.
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "pxclass/PxFileTypes.h"
#include "pxfile/PxFileApi.h"
#include "toolkit/file/BmpCodec.h"
#include "toolkit/file/GifCodec.h"
#include "toolkit/file/JpegCodec.h"
#include "toolkit/file/PdfReaderModule.h"
#include "toolkit/file/PdfWriter.h"
#include "toolkit/file/PngCodec.h"
#include "toolkit/file/Resampler.h"
#include "toolkit/file/TiffCodec.h"

using namespace pxfile;

namespace {

enum class Format { Unknown, Jpeg, Tiff, Png, Gif, Bmp, Pdf };

Format Detect(const uint8_t* d, size_t n) {
  if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return Format::Jpeg;
  if (n >= 4 && ((d[0] == 'I' && d[1] == 'I' && (d[2] == 42 || d[2] == 43) && d[3] == 0) ||
                 (d[0] == 'M' && d[1] == 'M' && d[2] == 0 && (d[3] == 42 || d[3] == 43))))
    return Format::Tiff;
  if (n >= 8 && std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) == 0) return Format::Png;
  if (n >= 6 && (std::memcmp(d, "GIF87a", 6) == 0 || std::memcmp(d, "GIF89a", 6) == 0)) return Format::Gif;
  if (n >= 14 && d[0] == 'B' && d[1] == 'M') return Format::Bmp;
  // PDF allows bytes before the header; readers look in the first 1024.
  const size_t window = n < 1024 ? n : 1024;
  for (size_t i = 0; i + 5 <= window; ++i)
    if (std::memcmp(d + i, "%PDF-", 5) == 0) return Format::Pdf;
  return Format::Unknown;
}

// Reads the file whole unless it is TIFF (libtiff reads TIFF from the file itself).
int Open(const char* name, Format& format, std::vector<uint8_t>& data) {
  if (!name || !*name) return PX_ERR_PARAMETER;
  int opened = PX_OK;
  FILE* f = OpenRegularFile(name, opened);
  if (!f) return opened;
  uint8_t head[1024];
  const size_t n = std::fread(head, 1, sizeof(head), f);
  std::fclose(f);
  format = Detect(head, n);
  if (format == Format::Unknown) return n == 0 ? PX_ERR_READ : PX_ERR_FORMAT;
  if (format == Format::Tiff) return PX_OK;
  return ReadFile(name, data);
}

bool Exists(const char* name) {
  struct stat st {};
  return stat(name, &st) == 0 && S_ISREG(st.st_mode);
}

bool ValidPage(const PxPage* p) {
  return p && p->pixels && PxPageStride(p->width, p->bitsPerPixel) != 0 &&
         p->stride >= PxPageStride(p->width, p->bitsPerPixel) && p->height > 0 &&
         p->height <= PX_MAX_DIMENSION;
}

// The page at the depth a type stores; `holder` keeps a converted copy alive.
int AtDepth(const PxPage* page, int bpp, PageHolder& holder, const PxPage*& use) {
  use = page;
  if (page->bitsPerPixel == bpp) return PX_OK;
  PxPage* converted = nullptr;
  int result = ConvertDepth(page, bpp, &converted);
  if (result != PX_OK) return result;
  holder.reset(converted);
  use = converted;
  return PX_OK;
}

int Save(const PxPage* page, const std::string& name, int type, int quality, int pageNumber,
         const PxOcrText* text = nullptr) {
  const bool append = pageNumber > 1 && PxIsMultiPageType(type) && Exists(name.c_str());
  PageHolder holder;
  const PxPage* use = page;
  int result = PX_OK;
  switch (type) {
    case PX_TYPE_JPEG:
      if (page->bitsPerPixel == 1) result = AtDepth(page, 8, holder, use);
      return result != PX_OK ? result : JpegSave(use, name, quality);
    case PX_TYPE_TIFF:
    case PX_TYPE_TIFF_PACKED:
      return TiffSave(page, name, type == PX_TYPE_TIFF_PACKED, append);
    case PX_TYPE_BMP:
      return BmpSave(page, name);
    case PX_TYPE_GIF:
      return GifSave(page, name);
    case PX_TYPE_PNG:
      return PngSave(page, name, quality);
    case PX_TYPE_PDF:
    case PX_TYPE_PDF_COLOUR:
      if (page->bitsPerPixel == 1) return PdfSave(page, name, PdfCoding::Group4, 0, append, text);
      return PdfSave(page, name, PdfCoding::Jpeg, JpegQualityFor(quality), append, text);
    case PX_TYPE_PDF_BILEVEL:
      result = AtDepth(page, 1, holder, use);
      return result != PX_OK ? result : PdfSave(use, name, PdfCoding::Group4, 0, append, text);
    case PX_TYPE_PDF_GREY:
      result = AtDepth(page, 8, holder, use);
      return result != PX_OK ? result
                             : PdfSave(use, name, PdfCoding::Jpeg, JpegQualityFor(quality), append, text);
    case PX_TYPE_PDF_LOSSLESS:
      return PdfSave(page, name, PdfCoding::Flate, 0, append, text);
    default:
      return PX_ERR_TYPE;
  }
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t PxfGetInfo(const char* name, PxFileInfo* info) {
  if (!info) return PX_ERR_PARAMETER;
  try {
    std::memset(info, 0, sizeof(*info));
    Format format;
    std::vector<uint8_t> data;
    int result = Open(name, format, data);
    if (result != PX_OK) return result;
    switch (format) {
      case Format::Jpeg:
        return JpegInfo(data.data(), data.size(), info);
      case Format::Tiff:
        return TiffInfo(name, info);
      case Format::Png:
        return PngInfo(data.data(), data.size(), info);
      case Format::Gif:
        return GifInfo(data.data(), data.size(), info);
      case Format::Bmp:
        return BmpInfo(data.data(), data.size(), info);
      case Format::Pdf:
        return PdfReaderModule::Instance().GetInfo(data.data(), data.size(), info);
      default:
        return PX_ERR_FORMAT;
    }
  } catch (const std::bad_alloc&) {
    return PX_ERR_NO_MEMORY;
  } catch (...) {
    return PX_ERR_INTERNAL;
  }
}

__attribute__((visibility("default"))) int32_t PxfLoadPage(const char* name, int32_t page, PxPage** out) {
  if (!out || page < 1) return PX_ERR_PARAMETER;
  *out = nullptr;
  try {
    Format format;
    std::vector<uint8_t> data;
    int result = Open(name, format, data);
    if (result != PX_OK) return result;
    if (page > 1 && format != Format::Tiff && format != Format::Pdf && format != Format::Gif)
      return PX_ERR_PAGE;
    switch (format) {
      case Format::Jpeg:
        return JpegLoad(data.data(), data.size(), out);
      case Format::Tiff:
        return TiffLoad(name, page, out);
      case Format::Png:
        return PngLoad(data.data(), data.size(), out);
      case Format::Gif:
        return GifLoad(data.data(), data.size(), page, out);
      case Format::Bmp:
        return BmpLoad(data.data(), data.size(), out);
      case Format::Pdf:
        return PdfReaderModule::Instance().LoadPage(data.data(), data.size(), page, out);
      default:
        return PX_ERR_FORMAT;
    }
  } catch (const std::bad_alloc&) {
    return PX_ERR_NO_MEMORY;
  } catch (...) {
    return PX_ERR_INTERNAL;
  }
}

__attribute__((visibility("default"))) int32_t PxfLoadRaw(const char* name, const PxLoadInfo* raw,
                                                          PxPage** out) {
  if (!out || !raw || !name) return PX_ERR_PARAMETER;
  *out = nullptr;
  if (raw->nFormat != PX_RAW_FAX) return PX_ERR_UNSUPPORTED;
  if (raw->nBitsPerPixel != 1 && raw->nBitsPerPixel != 0) return PX_ERR_PARAMETER;
  if (raw->nOffset < 0 || raw->nWidth <= 0 || raw->nHeight < 0) return PX_ERR_PARAMETER;
  try {
    std::vector<uint8_t> data;
    int result = ReadFile(name, data);
    if (result != PX_OK) return result;
    if (size_t(raw->nOffset) >= data.size()) return PX_ERR_READ;
    return DecodeFax(data.data() + raw->nOffset, data.size() - size_t(raw->nOffset), raw->nWidth,
                     raw->nHeight, raw->nFlags, raw->nXDpi, raw->nYDpi, out);
  } catch (const std::bad_alloc&) {
    return PX_ERR_NO_MEMORY;
  } catch (...) {
    return PX_ERR_INTERNAL;
  }
}

__attribute__((visibility("default"))) int32_t PxfSavePage(const PxPage* page, const char* name, int32_t type,
                                                           int32_t quality, int32_t /*flags*/,
                                                           int32_t pageNumber) {
  if (!ValidPage(page)) return PX_ERR_NO_BITMAP;
  if (!name || !*name) return PX_ERR_PARAMETER;
  try {
    return Save(page, name, type, quality, pageNumber);
  } catch (const std::bad_alloc&) {
    return PX_ERR_NO_MEMORY;
  } catch (...) {
    return PX_ERR_INTERNAL;
  }
}

__attribute__((visibility("default"))) int32_t PxfSavePageText(const PxPage* page, const char* name,
                                                               int32_t type, int32_t quality,
                                                               int32_t /*flags*/, int32_t pageNumber,
                                                               const PxOcrText* text) {
  if (!ValidPage(page)) return PX_ERR_NO_BITMAP;
  if (!name || !*name) return PX_ERR_PARAMETER;
  if (text && (text->width != page->width || text->height != page->height)) return PX_ERR_PARAMETER;
  try {
    return Save(page, name, type, quality, pageNumber, text);
  } catch (const std::bad_alloc&) {
    return PX_ERR_NO_MEMORY;
  } catch (...) {
    return PX_ERR_INTERNAL;
  }
}

__attribute__((visibility("default"))) int32_t PxfResize(const PxPage* in, int32_t width, int32_t height,
                                                         PxPage** out) {
  if (!ValidPage(in) || !out) return PX_ERR_PARAMETER;
  *out = nullptr;
  try {
    return Resample(in, width, height, out);
  } catch (...) {
    return PX_ERR_NO_MEMORY;
  }
}

__attribute__((visibility("default"))) int32_t PxfConvertDepth(const PxPage* in, int32_t bpp, PxPage** out) {
  if (!ValidPage(in) || !out) return PX_ERR_PARAMETER;
  *out = nullptr;
  try {
    return ConvertDepth(in, bpp, out);
  } catch (...) {
    return PX_ERR_NO_MEMORY;
  }
}

__attribute__((visibility("default"))) void PxfFreePage(PxPage* page) {
  PxPageFree(page);
}

}  // extern "C"

struct PxfJpegStream {
  pxfile::JpegStream stream;
};

extern "C" {

__attribute__((visibility("default"))) int32_t PxfJpegStreamOpen(const char* name, int32_t width,
                                                                 int32_t height, int32_t bpp, int32_t xDpi,
                                                                 int32_t yDpi, int32_t quality,
                                                                 PxfJpegStream** out) {
  if (!name || !*name || !out) return PX_ERR_PARAMETER;
  *out = nullptr;
  try {
    auto stream = std::make_unique<PxfJpegStream>();
    const int result = stream->stream.Open(name, width, height, bpp, xDpi, yDpi, quality);
    if (result == PX_OK) *out = stream.release();
    return result;
  } catch (const std::bad_alloc&) {
    return PX_ERR_NO_MEMORY;
  } catch (...) {
    return PX_ERR_INTERNAL;
  }
}

__attribute__((visibility("default"))) int32_t PxfJpegStreamWrite(PxfJpegStream* stream, const uint8_t* rows,
                                                                  int32_t count, int32_t stride) {
  if (!stream || !rows || count < 0 || stride < 0) return PX_ERR_PARAMETER;
  try {
    return stream->stream.Write(rows, count, size_t(stride));
  } catch (...) {
    return PX_ERR_INTERNAL;
  }
}

__attribute__((visibility("default"))) int32_t PxfJpegStreamClose(PxfJpegStream* stream, int32_t keep) {
  if (!stream) return PX_ERR_PARAMETER;
  int32_t result = PX_ERR_INTERNAL;
  try {
    result = stream->stream.Close(keep != 0);
  } catch (...) {
  }
  delete stream;
  return result;
}

// The module layer's load and lookup, for the PDF reader module loaded on first use.
__attribute__((visibility("default"))) void PxfSetModuleLoader(PxfModuleLoadFn load, PxfModuleProcFn proc) {
  PdfReaderModule::Instance().SetLoader(load, proc);
}

// Test and fuzzing seam: the pixel budget of one decoded page (0 restores the default).
__attribute__((visibility("default"))) void PxfSetPixelLimit(int64_t pixels) {
  SetPixelLimit(pixels);
}

}  // extern "C"
