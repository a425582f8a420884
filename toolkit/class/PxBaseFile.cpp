// File information and first-page loading, with raw data offered to LoadInfoCallBack (PxFile.h).
#include "pxclass/PxFile.h"
#include "toolkit/class/PxFileLibrary.h"

using pxclass::FileProc;

int PxBaseFile::GetInfo(PxFileInfo* info, int /*flags*/) {
  if (!info || m_strFileName.empty()) return PX_ERR_PARAMETER;
  auto getInfo = FileProc<PxfGetInfoFn>("PxfGetInfo");
  if (!getInfo) return PX_ERR_NO_LIBRARY;
  return getInfo(m_strFileName.c_str(), info);
}

int PxBaseFile::LoadFile(int bitsPerPixel, int colourOrder, int flags) {
  if (!m_pBitmap) return PX_ERR_NO_BITMAP;
  if (m_strFileName.empty() || colourOrder != PX_COLOUR_ORDER_RGB) return PX_ERR_PARAMETER;
  const int result = m_pBitmap->Load(m_strFileName.c_str(), bitsPerPixel, colourOrder, 1);
  if (result != PX_ERR_FORMAT || !(flags & 1) || !m_nLoadInfoCallBack) return result;

  PxLoadInfo record{};
  if (LoadInfoCallBack(&record) != 1) return PX_ERR_FORMAT;
  auto loadRaw = FileProc<PxfLoadRawFn>("PxfLoadRaw");
  auto convert = FileProc<PxfConvertDepthFn>("PxfConvertDepth");
  if (!loadRaw || !convert) return PX_ERR_NO_LIBRARY;
  PxPage* page = nullptr;
  int raw = loadRaw(m_strFileName.c_str(), &record, &page);
  if (raw < 1) return raw;
  if (bitsPerPixel != 0 && bitsPerPixel != page->bitsPerPixel) {
    PxPage* converted = nullptr;
    raw = convert(page, bitsPerPixel, &converted);
    PxPageFree(page);
    if (raw < 1) return raw;
    page = converted;
  }
  return m_pBitmap->AttachPage(page);
}
