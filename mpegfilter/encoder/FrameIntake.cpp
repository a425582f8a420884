// Bitmap intake and colour conversion; see FrameIntake.h.
#include "mpegfilter/encoder/FrameIntake.h"

#include <cstring>

#include "mpegfilter/PxResult.h"
#include "pxkernel/PxKernel.h"

namespace pxenc {

FrameIntake::FrameIntake(const PxEncoderState& st, const Geometry& g, PxFrameSource pfn, void* pUser)
    : m_st(st), m_g(g), m_pfn(pfn), m_pUser(pUser) {
  // ISO/IEC 13818-2 Table 6-9 (kr, kb) of the matrix coefficients the sequence declares.
  switch (st.nMatrixCoefficients) {
    case 1:
      m_kr = 0.2126, m_kb = 0.0722;
      break;
    case 4:
      m_kr = 0.30, m_kb = 0.11;
      break;
    case 7:
      m_kr = 0.212, m_kb = 0.087;
      break;
    default:
      m_kr = 0.299, m_kb = 0.114;
      break;
  }
  const size_t nPlane = static_cast<size_t>(g.nLumaW) * g.nLumaH;
  m_pRow = static_cast<uint8_t*>(KernelAlloc(static_cast<size_t>(g.nWidth) * 4 + 64));
  m_pCb = static_cast<uint8_t*>(KernelAlloc(nPlane));
  m_pCr = static_cast<uint8_t*>(KernelAlloc(nPlane));
}

FrameIntake::~FrameIntake() {
  Done();
  KernelFree(m_pRow);
  KernelFree(m_pCb);
  KernelFree(m_pCr);
}

int32_t FrameIntake::Count(int32_t* pnCount) {
  if (!m_pRow || !m_pCb || !m_pCr) return PXM_ERR_NO_MEMORY;
  *pnCount = 0;
  return m_pfn(m_pUser, nullptr, 0, m_pUser, pnCount);
}

void FrameIntake::Done() {
  if (!m_bHave) return;
  m_bHave = false;
  PxKernel().pfnBitmapRelease(&m_bitmap);
}

int32_t FrameIntake::Fetch(int32_t nIndex, Frame& dst) {
  if (!m_pRow || !m_pCb || !m_pCr) return PXM_ERR_NO_MEMORY;
  Done();
  m_bitmap = PxBitmap{};
  const int32_t r = m_pfn(m_pUser, &m_bitmap, nIndex, m_pUser, nullptr);
  if (r != PXM_OK) return r;
  m_bHave = true;
  const int32_t c = Convert(dst);
  if (c != PXM_OK) Done();
  return c;
}

int32_t FrameIntake::Convert(Frame& dst) {
  const PxKernelImports& k = PxKernel();
  PxBitmap& bm = m_bitmap;
  if (bm.nBitsPerPixel != 24 && bm.nBitsPerPixel != 32) return PXM_ERR_BAD_DEPTH;
  // Every frame must have the size the sequence was set up for.
  if (bm.nWidth != m_g.nWidth || bm.nHeight != m_g.nHeight) return PXM_ERR_BAD_DATA;
  if (bm.nFlags & PX_BITMAP_NEEDS_PREPARE) {
    const int32_t r = k.pfnBitmapPrepare(&bm);
    if (r != PXM_OK) return r;
  }
  int32_t r = k.pfnBitmapBegin(&bm);
  if (r != PXM_OK) return r;
  const int nBpp = bm.nBitsPerPixel / 8;
  const int w = m_g.nWidth, h = m_g.nHeight;
  const bool bRgb = bm.nColorOrder == PX_ORDER_RGB;
  const double kr = m_kr, kb = m_kb, kg = 1.0 - kr - kb;
  const double sb = 0.5 / (1.0 - kb) * 0.875, sr = 0.5 / (1.0 - kr) * 0.875;
  for (int y = 0; y < h; ++y) {
    r = k.pfnBitmapGetRow(&bm, m_pRow, y, w * nBpp);
    if (r != PXM_OK) break;
    uint8_t* py = dst.y.p + static_cast<ptrdiff_t>(y) * dst.y.nStride;
    uint8_t* pcb = m_pCb + static_cast<ptrdiff_t>(y) * m_g.nLumaW;
    uint8_t* pcr = m_pCr + static_cast<ptrdiff_t>(y) * m_g.nLumaW;
    for (int x = 0; x < w; ++x) {
      const uint8_t* px = m_pRow + x * nBpp;
      const double B = bRgb ? px[2] : px[0], G = px[1], R = bRgb ? px[0] : px[2];
      const double y0 = kr * R + kg * G + kb * B;
      py[x] = static_cast<uint8_t>(y0 * 219.0 / 256.0 + 16.5);
      pcb[x] = static_cast<uint8_t>((B - y0) * sb + 128.5);
      pcr[x] = static_cast<uint8_t>((R - y0) * sr + 128.5);
    }
  }
  const int32_t e = k.pfnBitmapEnd(&bm);
  if (r != PXM_OK) return r;
  if (e != PXM_OK) return e;
  PadPlane(dst.y.p, dst.y.nStride, w, h, m_g.nLumaW, m_g.nLumaH);
  PadPlane(m_pCb, m_g.nLumaW, w, h, m_g.nLumaW, m_g.nLumaH);
  PadPlane(m_pCr, m_g.nLumaW, w, h, m_g.nLumaW, m_g.nLumaH);
  ReduceChroma(m_pCb, m_pCr, m_g, m_st.nMpeg2 != 0, m_st.nMpeg2 && m_st.nFieldCoding != 0, dst);
  return PXM_OK;
}

void FrameIntake::PadPlane(uint8_t* p, int nStride, int w, int h, int nPadW, int nPadH) {
  for (int y = 0; y < h; ++y) {
    uint8_t* row = p + static_cast<ptrdiff_t>(y) * nStride;
    std::memset(row + w, row[w - 1], static_cast<size_t>(nPadW - w));
  }
  for (int y = h; y < nPadH; ++y)
    std::memcpy(p + static_cast<ptrdiff_t>(y) * nStride, p + static_cast<ptrdiff_t>(h - 1) * nStride,
                static_cast<size_t>(nPadW));
}

void FrameIntake::ReduceChroma(const uint8_t* pCb, const uint8_t* pCr, const Geometry& g, bool bMpeg2,
                               bool bInterlaced, Frame& dst) {
  const int W = g.nLumaW, H = g.nLumaH;
  const uint8_t* src[2] = {pCb, pCr};
  Plane* out[2] = {&dst.cb, &dst.cr};
  for (int c = 0; c < 2; ++c) {
    const uint8_t* s = src[c];
    Plane& o = *out[c];
    if (g.nChromaFormat == 3) {
      for (int y = 0; y < H; ++y)
        std::memcpy(o.p + static_cast<ptrdiff_t>(y) * o.nStride, s + static_cast<ptrdiff_t>(y) * W, W);
      continue;
    }
    // Horizontal halving in place of the output rows first (4:2:2 siting: ISO/IEC 13818-2 places
    // chroma on the even luma columns, ISO/IEC 11172-2 between them).
    for (int y = 0; y < H; ++y) {
      const uint8_t* row = s + static_cast<ptrdiff_t>(y) * W;
      uint8_t* dstRow = (g.nChromaFormat == 2) ? o.p + static_cast<ptrdiff_t>(y) * o.nStride : nullptr;
      uint8_t tmp[8192];
      uint8_t* t = dstRow ? dstRow : tmp;
      for (int x = 0; x < W / 2; ++x) {
        if (bMpeg2) {
          const int l = row[x > 0 ? 2 * x - 1 : 0], m = row[2 * x], r = row[2 * x + 1];
          t[x] = static_cast<uint8_t>((l + 2 * m + r + 2) >> 2);
        } else {
          t[x] = static_cast<uint8_t>((row[2 * x] + row[2 * x + 1] + 1) >> 1);
        }
      }
      if (!dstRow) {
        // 4:2:0: keep the halved row in the source's own storage (row y, first W/2 bytes).
        std::memcpy(const_cast<uint8_t*>(row), tmp, static_cast<size_t>(W / 2));
      }
    }
    if (g.nChromaFormat == 2) continue;
    // Vertical halving; an interlaced frame halves each field on its own.
    for (int y = 0; y < H / 2; ++y) {
      int y0, y1;
      if (bInterlaced) {
        const int f = y & 1, j = y >> 1;
        y0 = 4 * j + f;
        y1 = 4 * j + 2 + f;
      } else {
        y0 = 2 * y;
        y1 = 2 * y + 1;
      }
      const uint8_t* a = s + static_cast<ptrdiff_t>(y0) * W;
      const uint8_t* b = s + static_cast<ptrdiff_t>(y1) * W;
      uint8_t* d = o.p + static_cast<ptrdiff_t>(y) * o.nStride;
      for (int x = 0; x < W / 2; ++x) d[x] = static_cast<uint8_t>((a[x] + b[x] + 1) >> 1);
    }
  }
}

}  // namespace pxenc
