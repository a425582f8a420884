// A page in memory and its operations (see PxBitmapBase.h). Copy, trim and pixel reads are done
// here; loading, saving, resizing and depth conversion by the file library.
#include "pxclass/PxBitmapBase.h"

#include <cstring>

#include "pxclass/PxLimits.h"
#include "toolkit/class/PxFileLibrary.h"

using pxclass::FileProc;

PxBitmapBase::~PxBitmapBase() {
  Free();
}

int PxBitmapBase::SetResolution(int xDpi, int yDpi) {
  if (!m_pPage) return PX_ERR_NO_BITMAP;
  if (xDpi < 0 || yDpi < 0 || xDpi > PX_MAX_DPI || yDpi > PX_MAX_DPI) return PX_ERR_PARAMETER;
  m_pPage->xDpi = xDpi;
  m_pPage->yDpi = yDpi;
  return PX_OK;
}

int PxBitmapBase::Copy(const PxBitmapBase& other) {
  if (&other == this) return m_pPage ? PX_OK : PX_ERR_NO_BITMAP;
  const PxPage* source = other.m_pPage;
  if (!source) return PX_ERR_NO_BITMAP;
  PxPage* copy = PxPageAlloc(source->width, source->height, source->bitsPerPixel);
  if (!copy) return PX_ERR_NO_MEMORY;
  if (copy->stride != source->stride) {
    PxPageFree(copy);
    return PX_ERR_INTERNAL;
  }
  std::memcpy(copy->pixels, source->pixels, size_t(source->stride) * size_t(source->height));
  copy->xDpi = source->xDpi;
  copy->yDpi = source->yDpi;
  return AttachPage(copy);
}

int PxBitmapBase::Free() {
  PxPageFree(m_pPage);
  m_pPage = nullptr;
  return PX_OK;
}

int PxBitmapBase::AttachPage(PxPage* page) {
  if (page == m_pPage) return PX_OK;
  Free();
  m_pPage = page;
  return PX_OK;
}

PxPage* PxBitmapBase::DetachPage() {
  PxPage* page = m_pPage;
  m_pPage = nullptr;
  return page;
}

int PxBitmapBase::GetPixel(int row, int column) const {
  if (!m_pPage || row < 0 || column < 0 || row >= m_pPage->height || column >= m_pPage->width) return -1;
  const uint8_t* line = PxPageRow(m_pPage, row);
  switch (m_pPage->bitsPerPixel) {
    case 1:
      return (line[column >> 3] >> (7 - (column & 7))) & 1;
    case 8:
      return line[column];
    case 24: {
      const uint8_t* p = line + size_t(column) * 3;
      return (p[0] << 16) | (p[1] << 8) | p[2];
    }
    default:
      return -1;
  }
}

int PxBitmapBase::Trim(int left, int top, int width, int height) {
  if (!m_pPage) return PX_ERR_NO_BITMAP;
  if (left < 0 || top < 0 || width <= 0 || height <= 0 || left > m_pPage->width - width ||
      top > m_pPage->height - height)
    return PX_ERR_PARAMETER;
  const int bpp = m_pPage->bitsPerPixel;
  PxPage* out = PxPageAlloc(width, height, bpp);
  if (!out) return PX_ERR_NO_MEMORY;
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = PxPageRow(m_pPage, top + y);
    uint8_t* dst = PxPageRow(out, y);
    if (bpp == 1) {
      std::memset(dst, 0, size_t(out->stride));
      for (int x = 0; x < width; ++x) {
        const int sx = left + x;
        if ((src[sx >> 3] >> (7 - (sx & 7))) & 1) dst[x >> 3] |= uint8_t(0x80 >> (x & 7));
      }
    } else {
      const size_t bytes = size_t(bpp / 8);
      std::memcpy(dst, src + size_t(left) * bytes, size_t(width) * bytes);
    }
  }
  out->xDpi = m_pPage->xDpi;
  out->yDpi = m_pPage->yDpi;
  return AttachPage(out);
}

int PxBitmapBase::Resize(int width, int height) {
  if (!m_pPage) return PX_ERR_NO_BITMAP;
  auto resize = FileProc<PxfResizeFn>("PxfResize");
  if (!resize) return PX_ERR_NO_LIBRARY;
  PxPage* out = nullptr;
  const int result = resize(m_pPage, width, height, &out);
  if (result < 1) return result;
  return AttachPage(out);
}

int PxBitmapBase::Save(const char* name, int type, int bitsPerPixel, int quality, int flags,
                       const PxSaveOptions* options) {
  return Save(name, type, bitsPerPixel, quality, flags, options, nullptr);
}

int PxBitmapBase::Save(const char* name, int type, int bitsPerPixel, int quality, int flags,
                       const PxSaveOptions* options, const PxOcrText* text) {
  if (!m_pPage) return PX_ERR_NO_BITMAP;
  if (!name || !*name) return PX_ERR_PARAMETER;
  // Without text the older entry point: a file library without the text layer still saves.
  auto save = FileProc<PxfSavePageFn>("PxfSavePage");
  auto saveText = text ? FileProc<PxfSavePageTextFn>("PxfSavePageText") : nullptr;
  auto convert = FileProc<PxfConvertDepthFn>("PxfConvertDepth");
  if (!save || !convert || (text && !saveText)) return PX_ERR_NO_LIBRARY;
  int page = 1;
  if (options && (options->nFlags & PX_SAVE_OPT_PAGE)) page = options->nPageNumber;
  auto write = [&](const PxPage* p) {
    return text ? saveText(p, name, type, quality, flags, page, text)
                : save(p, name, type, quality, flags, page);
  };
  if (bitsPerPixel != 0 && bitsPerPixel != m_pPage->bitsPerPixel) {
    PxPage* converted = nullptr;
    int result = convert(m_pPage, bitsPerPixel, &converted);
    if (result < 1) return result;
    result = write(converted);
    PxPageFree(converted);
    return result;
  }
  return write(m_pPage);
}

int PxBitmapBase::Load(const char* name, int bitsPerPixel, int colourOrder, int page,
                       const PxFileInfo* /*info*/) {
  if (!name || !*name || page < 1) return PX_ERR_PARAMETER;
  if (colourOrder != PX_COLOUR_ORDER_RGB) return PX_ERR_PARAMETER;
  auto load = FileProc<PxfLoadPageFn>("PxfLoadPage");
  auto convert = FileProc<PxfConvertDepthFn>("PxfConvertDepth");
  if (!load || !convert) return PX_ERR_NO_LIBRARY;
  PxPage* loaded = nullptr;
  int result = load(name, page, &loaded);
  if (result < 1) return result;
  if (bitsPerPixel != 0 && bitsPerPixel != loaded->bitsPerPixel) {
    PxPage* converted = nullptr;
    result = convert(loaded, bitsPerPixel, &converted);
    PxPageFree(loaded);
    if (result < 1) return result;
    loaded = converted;
  }
  return AttachPage(loaded);
}
