// Picture sequencing: ISO/IEC 13818-2 6.1.1.11 (frame reordering) and 7.6 (which frames predict);
// sequence boundaries: 6.1.1.6 (a new sequence header may start a sequence of another shape).
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
constexpr int kSequenceExtensionId = 1;

bool SameShape(const SequenceParams& a, const SequenceParams& b) {
  return a.nWidth == b.nWidth && a.nHeight == b.nHeight && a.nChromaFormat == b.nChromaFormat &&
         a.bProgressiveSequence == b.bProgressiveSequence && a.bMpeg2 == b.bMpeg2;
}

int64_t StoreSize(const PlaneGeometry& g) {
  return int64_t{g.nLumaStride} * g.nLumaHeight + 2 * int64_t{g.nChromaStride} * g.nChromaHeight;
}
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

int64_t MpegDecoder::StoreBytes() const {
  return m_stores[0].nBytes + m_stores[1].nBytes + m_stores[2].nBytes;
}

PlaneGeometry MpegDecoder::GeometryOf(const SequenceParams& seq) {
  PlaneGeometry g;
  g.nChromaShiftX = seq.nChromaFormat == kChroma444 ? 0 : 1;
  g.nChromaShiftY = seq.nChromaFormat == kChroma420 ? 1 : 0;
  g.nLumaStride = seq.nMbWidth * 16;
  g.nLumaHeight = seq.nMbHeight * 16;
  g.nChromaStride = g.nLumaStride >> g.nChromaShiftX;
  g.nChromaHeight = g.nLumaHeight >> g.nChromaShiftY;
  return g;
}

int32_t MpegDecoder::CheckLimits(const SequenceParams& seq, const DecoderLimits& limits) {
  if (seq.nWidth <= 0 || seq.nHeight <= 0 || seq.nWidth > limits.nMaxWidth || seq.nHeight > limits.nMaxHeight)
    return PXM_ERR_BAD_DATA;
  if (DecodeMemory(int64_t{seq.nMbWidth} * 16, int64_t{seq.nMbHeight} * 16, seq.nChromaFormat) >
      limits.nMaxMemory)
    return PXM_ERR_NO_MEMORY;
  return PXM_OK;
}

int32_t MpegDecoder::SequenceLevel(uint32_t code, SequenceParams& seq, bool& bAfterHeader,
                                   bool* pDamaged) const {
  // A sequence header starts a sequence afresh (MPEG-1 until a sequence extension says otherwise);
  // only the extension right after it may set the shape.
  const bool bFollowsHeader = bAfterHeader;
  bAfterHeader = false;
  *pDamaged = false;
  if (code == kSequenceHeader) {
    SequenceParams fresh;
    const int32_t rc = HeaderParser::SequenceHeader(m_r, fresh);
    if (rc != PXM_OK) return rc;
    seq = fresh;
    bAfterHeader = true;
    return CheckLimits(seq, m_limits);
  }
  if (code != kExtension) return PXM_OK;
  const bool bSequenceExt = m_r.Peek(4) == kSequenceExtensionId;
  SequenceParams next = seq;
  const int32_t rc = HeaderParser::Extension(m_r, next, nullptr);
  if (rc != PXM_OK) {
    *pDamaged = true;  // the extension is ignored; seq stays as it was
    return rc;
  }
  if (bSequenceExt && !bFollowsHeader) return SameShape(next, seq) ? PXM_OK : PXM_ERR_BAD_DATA;
  seq = next;
  return bSequenceExt ? CheckLimits(seq, m_limits) : PXM_OK;
}

int32_t MpegDecoder::FindFirstPicture() {
  // fltInfo steps 3 to 5: the first sequence header, then extensions, then the first picture.
  bool bAfterHeader = false;
  for (;;) {
    const uint32_t code = m_r.NextStartCode();
    if (code == kSequenceEnd) return m_r.ReadFailed() ? PXM_ERR_READ : PXM_END_OF_STREAM;
    if (code == kPictureStart) return m_bHaveSequence ? PXM_OK : PXM_ERR_BAD_DATA;
    m_r.SkipStartCode();
    if (code == kSequenceHeader || (code == kExtension && m_bHaveSequence)) {
      bool bDamaged = false;
      const int32_t rc = SequenceLevel(code, m_seq, bAfterHeader, &bDamaged);
      if (rc != PXM_OK) return rc;
      if (code == kSequenceHeader) m_bHaveSequence = true;
    } else {
      bAfterHeader = false;
    }
    if (m_r.ReadFailed()) return PXM_ERR_READ;
  }
}

int32_t MpegDecoder::CountFrames(int* pFrames) {
  // Counts like the decoder: a field picture toggles the second-field flag and a frame is counted
  // when the flag is clear afterwards. Later sequences must fit the limits too, so that fltInfo
  // promises no page that cannot load.
  int nFrames = 0;
  bool bToggle = false;
  bool bAfterHeader = false;
  SequenceParams seq = m_seq;
  uint32_t code = m_r.NextStartCode();
  while (code != kSequenceEnd) {
    m_r.SkipStartCode();
    if (code == kPictureStart) {
      bAfterHeader = false;
      PictureParams pic;
      if (HeaderParser::PictureHeader(m_r, seq, pic) == PXM_OK) {
        code = m_r.NextStartCode();
        if (code == kExtension) {
          m_r.SkipStartCode();
          SequenceParams scratch = seq;
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
    } else if (code == kSequenceHeader || code == kExtension) {
      bool bDamaged = false;
      const int32_t rc = SequenceLevel(code, seq, bAfterHeader, &bDamaged);
      if (rc != PXM_OK && !bDamaged) return rc;
    } else {
      bAfterHeader = false;
    }
    code = m_r.NextStartCode();
  }
  *pFrames = nFrames;
  return m_r.ReadFailed() ? PXM_ERR_READ : PXM_OK;
}

int32_t MpegDecoder::Allocate() {
  Free();
  const int32_t rc = CheckLimits(m_seq, m_limits);
  if (rc != PXM_OK) return rc;
  const PlaneGeometry geo = GeometryOf(m_seq);
  for (FrameStore& f : m_stores) {
    if (Reshape(f, geo) != PXM_OK) {
      Free();
      return PXM_ERR_NO_MEMORY;
    }
  }
  return PXM_OK;
}

int32_t MpegDecoder::Reshape(FrameStore& f, const PlaneGeometry& geo) {
  // Mid grey until a picture covers it: damaged or missing references stay neutral.
  const int64_t nBytes = StoreSize(geo);
  if (f.pY && f.geo == geo) return PXM_OK;
  const PxKernelImports& k = PxKernel();
  if (f.nBytes != nBytes) {
    if (f.pY) k.pfnFree(f.pY);
    f = FrameStore{};
    if (StoreBytes() + nBytes > m_limits.nMaxMemory) return PXM_ERR_NO_MEMORY;
    f.pY = static_cast<uint8_t*>(k.pfnAlloc(static_cast<size_t>(nBytes)));
    if (!f.pY) return PXM_ERR_NO_MEMORY;
    f.nBytes = nBytes;
  }
  const int64_t luma = int64_t{geo.nLumaStride} * geo.nLumaHeight;
  f.pCb = f.pY + luma;
  f.pCr = f.pCb + int64_t{geo.nChromaStride} * geo.nChromaHeight;
  f.geo = geo;
  f.seq = m_seq;
  f.nPictureType = 0;
  f.bProgressive = true;
  std::memset(f.pY, 128, static_cast<size_t>(nBytes));
  return PXM_OK;
}

int32_t MpegDecoder::ReadPictureHeaders(PictureParams& pic, bool* pRefused) {
  // Picture header, then its extensions and user data up to the first slice. A sequence
  // extension here belongs to no sequence header: harmless when it repeats the shape.
  *pRefused = false;
  int32_t rc = HeaderParser::PictureHeader(m_r, m_seq, pic);
  for (;;) {
    const uint32_t code = m_r.NextStartCode();
    if (code != kExtension && code != kUserData) break;
    m_r.SkipStartCode();
    if (code != kExtension) continue;
    if (m_r.Peek(4) == kSequenceExtensionId) {
      SequenceParams scratch = m_seq;
      if (HeaderParser::Extension(m_r, scratch, nullptr) == PXM_OK && !SameShape(scratch, m_seq)) {
        *pRefused = true;
        return PXM_ERR_BAD_DATA;
      }
      continue;
    }
    const int32_t e = HeaderParser::Extension(m_r, m_seq, &pic);
    if (e != PXM_OK) rc = e;
  }
  return rc;
}

int32_t MpegDecoder::NextPicture() {
  // Sequence-level headers up to the next picture take effect together when it is reached.
  SequenceParams seq = m_seq;
  bool bAfterHeader = false;
  for (;;) {
    const uint32_t code = m_r.NextStartCode();
    if (code == kPictureStart) {
      m_seq = seq;
      return PXM_OK;
    }
    if (code == kSequenceEnd) return m_r.ReadFailed() ? PXM_ERR_READ : PXM_END_OF_STREAM;
    m_r.SkipStartCode();
    if (code == kSequenceHeader || code == kExtension) {
      bool bDamaged = false;
      const int32_t rc = SequenceLevel(code, seq, bAfterHeader, &bDamaged);
      if (rc != PXM_OK && !bDamaged) return rc;
    } else {
      bAfterHeader = false;
    }
  }
}

int32_t MpegDecoder::DecodeSlices(FrameStore& cur, FrameStore* pFwd, FrameStore* pBwd) {
  // Every store this picture touches takes the current shape; a reference of another shape (only
  // in broken streams: prediction across a change of sequence) becomes grey instead.
  const PlaneGeometry geo = GeometryOf(m_seq);
  int32_t rc = Reshape(cur, geo);
  if (rc == PXM_OK && pFwd) rc = Reshape(*pFwd, geo);
  if (rc == PXM_OK && pBwd) rc = Reshape(*pBwd, geo);
  if (rc != PXM_OK) return rc;
  SliceDecoder::Picture p;
  p.pSeq = &m_seq;
  p.pPic = &m_pic;
  p.geo = geo;
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
  cur.seq = m_seq;
  ++m_nPictures;
  return PXM_OK;
}

int32_t MpegDecoder::DecodeToPage(int nPage, const FrameStore** ppFrame) {
  // Display order (6.1.1.11): a B frame is shown as soon as it is complete; a reference frame is
  // shown when the next reference frame starts. Page P is the P-th frame shown.
  if (nPage == m_nShown && m_pLastShown) {
    *ppFrame = m_pLastShown;
    return PXM_OK;
  }
  if (nPage <= m_nShown) return PXM_ERR_BAD_DATA;
  for (;;) {
    if (!m_bPending) {
      if (m_r.NextStartCode() != kPictureStart) {
        const int32_t rc = NextPicture();
        if (rc != PXM_OK) return rc;
      }
      m_r.SkipStartCode();
      bool bRefused = false;
      const int32_t rc = ReadPictureHeaders(m_pic, &bRefused);
      if (bRefused) return rc;
      if (rc != PXM_OK) {
        if (m_r.ReadFailed()) return PXM_ERR_READ;
        continue;  // the next start-code search skips the damaged picture
      }
      if (m_pic.nStructure != kFramePicture) {
        m_pic.bSecondField = m_bFieldToggle;
        m_bFieldToggle = !m_bFieldToggle;
      } else {
        m_bFieldToggle = false;
      }
      m_bPending = true;
      m_bShowDue = true;
    }
    const bool bFirstPart = m_pic.nStructure == kFramePicture || !m_pic.bSecondField;
    if (m_pic.nType != kPicB) {
      if (bFirstPart) {
        if (m_bShowDue) {
          m_bShowDue = false;
          if (m_bHaveRef && ++m_nShown == nPage) {
            *ppFrame = m_pLastShown = &m_stores[m_nBwd];
            return PXM_OK;
          }
        }
        std::swap(m_nFwd, m_nBwd);
        m_bHaveRef = true;
      }
      const int32_t rc = DecodeSlices(m_stores[m_nBwd], &m_stores[m_nFwd], nullptr);
      m_bPending = false;
      if (rc != PXM_OK) return rc;
    } else {
      const int32_t rc = DecodeSlices(m_stores[m_nB], &m_stores[m_nFwd], &m_stores[m_nBwd]);
      m_bPending = false;
      if (rc != PXM_OK) return rc;
      if (!bFirstPart || m_pic.nStructure == kFramePicture) {
        if (++m_nShown == nPage) {
          *ppFrame = m_pLastShown = &m_stores[m_nB];
          return PXM_OK;
        }
      }
    }
    if (m_r.ReadFailed()) return PXM_ERR_READ;
  }
}
