// Picture sequencing: ISO/IEC 13818-2 6.1.1.11 (frame reordering) and 7.6 (which frames predict).
#include "mpegfilter/MpegDecoder.h"

#include <cstring>
#include <utility>

#include "mpegfilter/PxResult.h"
#include "mpegfilter/StartCodes.h"

namespace {
using pxstart::IsSlice;
using pxstart::kExtension;
using pxstart::kSequenceEnd;
using pxstart::kSequenceHeader;
using pxstart::kUserData;
constexpr uint32_t kPictureStart = pxstart::kPicture;
}  // namespace

MpegDecoder::~MpegDecoder() {
  Free();
}

void MpegDecoder::Free() {
  const PxKernelImports& k = PxKernel();
  for (FrameStore& f : m_stores) {
    if (f.pY) k.pfnFree(f.pY);
    f = FrameStore{};
  }
}

int32_t MpegDecoder::FindFirstPicture() {
  // fltInfo steps 3 to 5: the first sequence header, then extensions, then the first picture.
  for (;;) {
    const uint32_t code = m_r.NextStartCode();
    if (code == kSequenceEnd) return PX_END_OF_STREAM;
    if (code == kPictureStart) return m_bHaveSequence ? PX_OK : PX_ERR_BAD_DATA;
    m_r.SkipStartCode();
    if (code == kSequenceHeader) {
      const int32_t rc = HeaderParser::SequenceHeader(m_r, m_seq);
      if (rc != PX_OK) return rc;
      m_bHaveSequence = true;
    } else if (code == kExtension && m_bHaveSequence) {
      const int32_t rc = HeaderParser::Extension(m_r, m_seq, nullptr);
      if (rc != PX_OK) return rc;
    }
    if (m_r.ReadFailed()) return PX_ERR_READ;
  }
}

int32_t MpegDecoder::CountFrames(int* pFrames) {
  // Counts like the decoder: a field picture toggles the second-field flag and a frame is counted
  // when the flag is clear afterwards.
  int nFrames = 0;
  bool bToggle = false;
  uint32_t code = m_r.NextStartCode();
  while (code != kSequenceEnd) {
    m_r.SkipStartCode();
    if (code == kPictureStart) {
      PictureParams pic;
      const SequenceParams seq = m_seq;
      if (HeaderParser::PictureHeader(m_r, seq, pic) == PX_OK) {
        code = m_r.NextStartCode();
        if (code == kExtension) {
          m_r.SkipStartCode();
          SequenceParams scratch = m_seq;
          if (m_r.Peek(4) == 8) HeaderParser::Extension(m_r, scratch, &pic);
          code = m_r.NextStartCode();
        }
        if (pic.nStructure != kFramePicture)
          bToggle = !bToggle;
        else
          bToggle = false;
        if (!bToggle) ++nFrames;
        continue;
      }
    }
    code = m_r.NextStartCode();
  }
  *pFrames = nFrames;
  return m_r.ReadFailed() ? PX_ERR_READ : PX_OK;
}

int32_t MpegDecoder::Allocate() {
  Free();
  if (m_seq.nWidth <= 0 || m_seq.nHeight <= 0 || m_seq.nWidth > m_limits.nMaxWidth ||
      m_seq.nHeight > m_limits.nMaxHeight)
    return PX_ERR_BAD_DATA;
  m_geo.nChromaShiftX = m_seq.nChromaFormat == kChroma444 ? 0 : 1;
  m_geo.nChromaShiftY = m_seq.nChromaFormat == kChroma420 ? 1 : 0;
  m_geo.nLumaStride = m_seq.nMbWidth * 16;
  m_geo.nLumaHeight = m_seq.nMbHeight * 16;
  m_geo.nChromaStride = m_geo.nLumaStride >> m_geo.nChromaShiftX;
  m_geo.nChromaHeight = m_geo.nLumaHeight >> m_geo.nChromaShiftY;
  const int64_t luma = int64_t{m_geo.nLumaStride} * m_geo.nLumaHeight;
  const int64_t chroma = int64_t{m_geo.nChromaStride} * m_geo.nChromaHeight;
  const int64_t frame = luma + 2 * chroma;
  if (frame * 3 > m_limits.nMaxMemory) return PX_ERR_NO_MEMORY;
  const PxKernelImports& k = PxKernel();
  for (FrameStore& f : m_stores) {
    f.pY = static_cast<uint8_t*>(k.pfnAlloc(static_cast<size_t>(frame)));
    if (!f.pY) {
      Free();
      return PX_ERR_NO_MEMORY;
    }
    f.pCb = f.pY + luma;
    f.pCr = f.pCb + chroma;
    // Mid grey until a picture covers it: damaged or missing references stay neutral.
    std::memset(f.pY, 128, static_cast<size_t>(frame));
  }
  m_nAllocW = m_seq.nWidth;
  m_nAllocH = m_seq.nHeight;
  m_nAllocChroma = m_seq.nChromaFormat;
  return PX_OK;
}

int32_t MpegDecoder::ReadPictureHeaders(PictureParams& pic) {
  // Picture header, then its extensions and user data up to the first slice.
  int32_t rc = HeaderParser::PictureHeader(m_r, m_seq, pic);
  for (;;) {
    const uint32_t code = m_r.NextStartCode();
    if (code != kExtension && code != kUserData) break;
    m_r.SkipStartCode();
    if (code == kExtension) {
      const int32_t e = HeaderParser::Extension(m_r, m_seq, &pic);
      if (e != PX_OK) rc = e;
    }
  }
  if (m_seq.nWidth != m_nAllocW || m_seq.nHeight != m_nAllocH || m_seq.nChromaFormat != m_nAllocChroma)
    return PX_ERR_BAD_DATA;
  return rc;
}

int32_t MpegDecoder::NextPicture() {
  for (;;) {
    const uint32_t code = m_r.NextStartCode();
    if (code == kPictureStart) return PX_OK;
    if (code == kSequenceEnd) return m_r.ReadFailed() ? PX_ERR_READ : PX_END_OF_STREAM;
    m_r.SkipStartCode();
    if (code == kSequenceHeader) {
      SequenceParams seq = m_seq;
      if (HeaderParser::SequenceHeader(m_r, seq) != PX_OK) return PX_ERR_BAD_DATA;
      if (seq.nWidth != m_nAllocW || seq.nHeight != m_nAllocH) return PX_ERR_BAD_DATA;
      m_seq = seq;
    } else if (code == kExtension) {
      SequenceParams seq = m_seq;
      if (HeaderParser::Extension(m_r, seq, nullptr) != PX_OK) continue;
      if (seq.nWidth != m_nAllocW || seq.nHeight != m_nAllocH || seq.nChromaFormat != m_nAllocChroma)
        return PX_ERR_BAD_DATA;
      m_seq = seq;
    }
  }
}

void MpegDecoder::DecodeSlices(FrameStore& cur, const FrameStore* pFwd, const FrameStore* pBwd) {
  SliceDecoder::Picture p;
  p.pSeq = &m_seq;
  p.pPic = &m_pic;
  p.geo = m_geo;
  p.pCur = &cur;
  p.pFwd = pFwd;
  p.pBwd = pBwd;
  m_slices.BeginPicture(p);
  for (;;) {
    const uint32_t code = m_r.NextStartCode();
    if (!IsSlice(code)) break;
    m_r.SkipStartCode();
    if (!m_slices.DecodeSlice(m_r, static_cast<int>(code & 0xFF))) ++m_nDamaged;
  }
  cur.nPictureType = m_pic.nType;
  cur.bProgressive = !m_seq.bMpeg2 || m_pic.bProgressiveFrame;
  ++m_nPictures;
}

int32_t MpegDecoder::DecodeToPage(int nPage, const FrameStore** ppFrame) {
  // Display order (6.1.1.11): a B frame is shown as soon as it is complete; a reference frame is
  // shown when the next reference frame starts. Page P is the P-th frame shown.
  int nShown = 0;
  bool bHaveRef = false;
  for (;;) {
    if (m_r.NextStartCode() != kPictureStart) {
      const int32_t rc = NextPicture();
      if (rc != PX_OK) return rc;
    }
    m_r.SkipStartCode();
    const int32_t rc = ReadPictureHeaders(m_pic);
    if (rc == PX_ERR_BAD_DATA && (m_seq.nWidth != m_nAllocW || m_seq.nHeight != m_nAllocH)) return rc;
    if (rc != PX_OK) {
      const int32_t n = NextPicture();
      if (n != PX_OK) return n;
      continue;
    }
    if (m_pic.nStructure != kFramePicture) {
      m_pic.bSecondField = m_bFieldToggle;
      m_bFieldToggle = !m_bFieldToggle;
    } else {
      m_bFieldToggle = false;
    }
    const bool bFirstPart = m_pic.nStructure == kFramePicture || !m_pic.bSecondField;
    if (m_pic.nType != kPicB) {
      if (bFirstPart) {
        if (bHaveRef && ++nShown == nPage) {
          *ppFrame = &m_stores[m_nBwd];
          return PX_OK;
        }
        std::swap(m_nFwd, m_nBwd);
        bHaveRef = true;
      }
      DecodeSlices(m_stores[m_nBwd], &m_stores[m_nFwd], nullptr);
    } else {
      DecodeSlices(m_stores[m_nB], &m_stores[m_nFwd], &m_stores[m_nBwd]);
      if (!bFirstPart || m_pic.nStructure == kFramePicture) {
        if (++nShown == nPage) {
          *ppFrame = &m_stores[m_nB];
          return PX_OK;
        }
      }
    }
    if (m_r.ReadFailed()) return PX_ERR_READ;
  }
}
