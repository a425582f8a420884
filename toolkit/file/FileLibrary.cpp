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
#include "toolkit/file/JpegStream.h"
#include "toolkit/file/PdfReaderModule.h"
#include "toolkit/file/PdfWriter.h"
#include "toolkit/file/PngCodec.h"
#include "toolkit/file/Resampler.h"
#include "toolkit/file/TiffCodec.h"

using namespace pxfile;

namespace {

// What a reader gets: the file's name, and its bytes unless the format reads the file itself.
struct Source {
  const char* name;
  const std::vector<uint8_t>& data;
};

// One row per format the library reads and writes. Every entry point takes its format from here:
// detection by content, reading, which type code GetInfo reports, and whether a file holds pages
// after the first.
struct FileFormat {
  int type;  // the PxFileType GetInfo reports for any file of the format
  bool (*matches)(const uint8_t* head, size_t size);
  bool readsByName;   // the reader opens the file itself (libtiff); the others get it whole
  bool severalPages;  // a file may hold pages after the first
  int (*info)(const Source& file, PxFileInfo* info);
  int (*load)(const Source& file, int32_t page, PxPage** out);
};

bool IsTiff(const uint8_t* d, size_t n) {
  return n >= 4 && ((d[0] == 'I' && d[1] == 'I' && (d[2] == 42 || d[2] == 43) && d[3] == 0) ||
                    (d[0] == 'M' && d[1] == 'M' && d[2] == 0 && (d[3] == 42 || d[3] == 43)));
}

// PDF allows bytes before the header; readers look in the first 1024.
bool IsPdf(const uint8_t* d, size_t n) {
  const size_t window = n < 1024 ? n : 1024;
  for (size_t i = 0; i + 5 <= window; ++i)
    if (std::memcmp(d + i, "%PDF-", 5) == 0) return true;
  return false;
}

constexpr FileFormat kJpeg{
    PX_TYPE_JPEG,
    [](const uint8_t* d, size_t n) { return n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF; },
    false,
    false,
    [](const Source& f, PxFileInfo* i) { return JpegInfo(f.data.data(), f.data.size(), i); },
    [](const Source& f, int32_t, PxPage** out) { return JpegLoad(f.data.data(), f.data.size(), out); }};
constexpr FileFormat kTiff{
    PX_TYPE_TIFF,
    IsTiff,
    true,
    true,
    [](const Source& f, PxFileInfo* i) { return TiffInfo(f.name, i); },
    [](const Source& f, int32_t page, PxPage** out) { return TiffLoad(f.name, page, out); }};
constexpr FileFormat kPng{
    PX_TYPE_PNG,
    [](const uint8_t* d, size_t n) { return n >= 8 && std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) == 0; },
    false,
    false,
    [](const Source& f, PxFileInfo* i) { return PngInfo(f.data.data(), f.data.size(), i); },
    [](const Source& f, int32_t, PxPage** out) { return PngLoad(f.data.data(), f.data.size(), out); }};
constexpr FileFormat kGif{
    PX_TYPE_GIF,
    [](const uint8_t* d, size_t n) {
      return n >= 6 && (std::memcmp(d, "GIF87a", 6) == 0 || std::memcmp(d, "GIF89a", 6) == 0);
    },
    false,
    true,
    [](const Source& f, PxFileInfo* i) { return GifInfo(f.data.data(), f.data.size(), i); },
    [](const Source& f, int32_t page, PxPage** out) {
      return GifLoad(f.data.data(), f.data.size(), page, out);
    }};
constexpr FileFormat kBmp{
    PX_TYPE_BMP,
    [](const uint8_t* d, size_t n) { return n >= 14 && d[0] == 'B' && d[1] == 'M'; },
    false,
    false,
    [](const Source& f, PxFileInfo* i) { return BmpInfo(f.data.data(), f.data.size(), i); },
    [](const Source& f, int32_t, PxPage** out) { return BmpLoad(f.data.data(), f.data.size(), out); }};
constexpr FileFormat kPdf{PX_TYPE_PDF,
                          IsPdf,
                          false,
                          true,
                          [](const Source& f, PxFileInfo* i) {
                            return PdfReaderModule::Instance().GetInfo(f.data.data(), f.data.size(), i);
                          },
                          [](const Source& f, int32_t page, PxPage** out) {
                            return PdfReaderModule::Instance().LoadPage(f.data.data(), f.data.size(), page,
                                                                        out);
                          }};

// In the order detection tries them: PDF last, as its header may follow other bytes.
constexpr const FileFormat* kFormats[] = {&kJpeg, &kTiff, &kPng, &kGif, &kBmp, &kPdf};

// The depth a type stores a page at.
enum class StoredDepth {
  Own,             // the page's own
  GreyForBilevel,  // 1-bit pages as 8-bit grey, others at their own
  Bilevel,         // every page 1 bit (deeper pages thresholded)
  Grey,            // every page 8-bit grey
};

struct SaveRequest {
  const std::string& name;
  int quality;
  bool append;  // the page goes after those already in the file
  const PxOcrText* text;
};

// One row per type code a page may be saved as: the format it is stored in, at which depth, by which
// writer, and whether a later page is added to the file.
struct SaveType {
  int type;
  const FileFormat* format;
  StoredDepth depth;
  bool appends;
  int (*save)(const PxPage* page, const SaveRequest& request);
};

int SavePdf(const PxPage* page, const SaveRequest& r) {
  if (page->bitsPerPixel == 1) return PdfSave(page, r.name, PdfCoding::Group4, 0, r.append, r.text);
  return PdfSave(page, r.name, PdfCoding::Jpeg, JpegQualityFor(r.quality), r.append, r.text);
}

constexpr SaveType kSaveTypes[] = {
    {PX_TYPE_JPEG, &kJpeg, StoredDepth::GreyForBilevel, false,
     [](const PxPage* p, const SaveRequest& r) { return JpegSave(p, r.name, r.quality); }},
    {PX_TYPE_TIFF, &kTiff, StoredDepth::Own, true,
     [](const PxPage* p, const SaveRequest& r) { return TiffSave(p, r.name, false, r.append); }},
    {PX_TYPE_TIFF_PACKED, &kTiff, StoredDepth::Own, true,
     [](const PxPage* p, const SaveRequest& r) { return TiffSave(p, r.name, true, r.append); }},
    {PX_TYPE_BMP, &kBmp, StoredDepth::Own, false,
     [](const PxPage* p, const SaveRequest& r) { return BmpSave(p, r.name); }},
    {PX_TYPE_GIF, &kGif, StoredDepth::Own, false,
     [](const PxPage* p, const SaveRequest& r) { return GifSave(p, r.name); }},
    {PX_TYPE_PNG, &kPng, StoredDepth::Own, false,
     [](const PxPage* p, const SaveRequest& r) { return PngSave(p, r.name, r.quality); }},
    {PX_TYPE_PDF, &kPdf, StoredDepth::Own, true, SavePdf},
    {PX_TYPE_PDF_COLOUR, &kPdf, StoredDepth::Own, true, SavePdf},
    {PX_TYPE_PDF_BILEVEL, &kPdf, StoredDepth::Bilevel, true,
     [](const PxPage* p, const SaveRequest& r) {
       return PdfSave(p, r.name, PdfCoding::Group4, 0, r.append, r.text);
     }},
    {PX_TYPE_PDF_GREY, &kPdf, StoredDepth::Grey, true,
     [](const PxPage* p, const SaveRequest& r) {
       return PdfSave(p, r.name, PdfCoding::Jpeg, JpegQualityFor(r.quality), r.append, r.text);
     }},
    {PX_TYPE_PDF_LOSSLESS, &kPdf, StoredDepth::Own, true,
     [](const PxPage* p, const SaveRequest& r) {
       return PdfSave(p, r.name, PdfCoding::Flate, 0, r.append, r.text);
     }},
};

constexpr bool AppendsAsTheTypesSay() {
  for (const SaveType& t : kSaveTypes)
    if (t.appends != PxIsMultiPageType(t.type) || (t.appends && !t.format->severalPages)) return false;
  return true;
}
static_assert(AppendsAsTheTypesSay(),
              "a type that adds pages must be a multi-page type of a multi-page format");

const FileFormat* Detect(const uint8_t* head, size_t size) {
  for (const FileFormat* format : kFormats)
    if (format->matches(head, size)) return format;
  return nullptr;
}

const SaveType* FindSaveType(int type) {
  for (const SaveType& t : kSaveTypes)
    if (t.type == type) return &t;
  return nullptr;
}

// The file's format from its first bytes, and its bytes unless the format's reader opens it itself.
int Open(const char* name, const FileFormat*& format, std::vector<uint8_t>& data) {
  if (!name || !*name) return PX_ERR_PARAMETER;
  int opened = PX_OK;
  FILE* f = OpenRegularFile(name, opened);
  if (!f) return opened;
  uint8_t head[1024];
  const size_t n = std::fread(head, 1, sizeof(head), f);
  std::fclose(f);
  format = Detect(head, n);
  if (!format) return n == 0 ? PX_ERR_READ : PX_ERR_FORMAT;
  if (format->readsByName) return PX_OK;
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
int AtDepth(const PxPage* page, StoredDepth depth, PageHolder& holder, const PxPage*& use) {
  use = page;
  int bpp = page->bitsPerPixel;
  if (depth == StoredDepth::Bilevel) bpp = 1;
  if (depth == StoredDepth::Grey || (depth == StoredDepth::GreyForBilevel && bpp == 1)) bpp = 8;
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
  const SaveType* saveType = FindSaveType(type);
  if (!saveType) return PX_ERR_TYPE;
  const bool append = pageNumber > 1 && saveType->appends && Exists(name.c_str());
  PageHolder holder;
  const PxPage* use = page;
  const int result = AtDepth(page, saveType->depth, holder, use);
  if (result != PX_OK) return result;
  return saveType->save(use, SaveRequest{name, quality, append, text});
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t PxfGetInfo(const char* name, PxFileInfo* info) {
  if (!info) return PX_ERR_PARAMETER;
  try {
    std::memset(info, 0, sizeof(*info));
    const FileFormat* format = nullptr;
    std::vector<uint8_t> data;
    int result = Open(name, format, data);
    if (result != PX_OK) return result;
    result = format->info(Source{name, data}, info);
    if (result == PX_OK) info->nFileType = format->type;
    return result;
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
    const FileFormat* format = nullptr;
    std::vector<uint8_t> data;
    int result = Open(name, format, data);
    if (result != PX_OK) return result;
    if (page > 1 && !format->severalPages) return PX_ERR_PAGE;
    return format->load(Source{name, data}, page, out);
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
