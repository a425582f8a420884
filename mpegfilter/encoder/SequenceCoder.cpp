// Sequence layer and picture order; see SequenceCoder.h.
#include "mpegfilter/encoder/SequenceCoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "mpegfilter/PxResult.h"
#include "mpegfilter/encoder/EncodeParams.h"
#include "pxkernel/PxKernel.h"

namespace pxenc {

int32_t SequenceCoder::Init(const PxEncoderState& st) {
  Free();
  Geometry g;
  g.nWidth = st.nWidth;
  g.nHeight = st.nHeight;
  g.nMbWidth = (st.nWidth + 15) / 16;
  // ISO/IEC 13818-2 6.3.3: an interlaced sequence has an even number of macroblock rows.
  const bool bInterlaced = st.nMpeg2 && st.nFieldCoding != 0;
  g.nMbHeight = bInterlaced ? 2 * ((st.nHeight + 31) / 32) : (st.nHeight + 15) / 16;
  g.nLumaW = 16 * g.nMbWidth;
  g.nLumaH = 16 * g.nMbHeight;
  g.nChromaFormat = st.nChromaFormat;
  g.nChromaShiftX = st.nChromaFormat == 3 ? 0 : 1;
  g.nChromaShiftY = st.nChromaFormat == 1 ? 1 : 0;
  g.nChromaW = g.nLumaW >> g.nChromaShiftX;
  g.nChromaH = g.nLumaH >> g.nChromaShiftY;
  g.nBlocks = st.nChromaFormat == 1 ? 6 : (st.nChromaFormat == 2 ? 8 : 12);
  if (g.nMbWidth <= 0 || g.nMbHeight <= 0 || g.nMbWidth > 1024 || g.nMbHeight > 1024) return PX_ENC_ERR_WIDTH;
  m_g = g;
  bool bOk = AllocFrame(&m_source, g) && AllocFrame(&m_refs[0], g) && AllocFrame(&m_refs[1], g) &&
             AllocFrame(&m_bFrame, g);
  if (!bOk) {
    Free();
    return PXM_ERR_NO_MEMORY;
  }
  // A sequence that starts with a P picture (it never does) would predict from mid-grey.
  for (Frame* f : {&m_refs[0], &m_refs[1]}) {
    std::memset(f->y.p, 128, static_cast<size_t>(g.nLumaW) * g.nLumaH);
    std::memset(f->cb.p, 128, static_cast<size_t>(g.nChromaW) * g.nChromaH * 2);
  }
  SequenceSetup seq;
  seq.bMpeg2 = st.nMpeg2 != 0;
  seq.nDcPrecision = st.nIntraDcPrecision;
  seq.g = g;
  m_picture.Init(seq);
  return PXM_OK;
}

void SequenceCoder::Free() {
  FreeFrame(&m_source);
  FreeFrame(&m_refs[0]);
  FreeFrame(&m_refs[1]);
  FreeFrame(&m_bFrame);
}

void SequenceCoder::SetReconHook(ReconHook pfn, void* pUser) {
  m_pfnHook = pfn;
  m_pHookUser = pUser;
  m_picture.SetReconstructB(pfn != nullptr);
}

void SequenceCoder::WriteSequenceHeader(const PxEncoderState& st, const char* pszUserData) {
  BitSink& s = m_sink;
  // ISO/IEC 13818-2 6.2.2.1 sequence_header (ISO/IEC 11172-2 2.4.2.3); bit rate in units of 400.
  const uint32_t nRate = static_cast<uint32_t>((static_cast<int64_t>(st.nBitRate) + 399) / 400);
  s.StartCode(pxstart::kSequenceHeader);
  s.Put(static_cast<uint32_t>(st.nWidth) & 0xFFF, 12);
  s.Put(static_cast<uint32_t>(st.nHeight) & 0xFFF, 12);
  s.Put(static_cast<uint32_t>(st.nAspectRatio), 4);
  s.Put(static_cast<uint32_t>(st.nFrameRateCode), 4);
  s.Put(nRate & 0x3FFFF, 18);
  s.Put(1, 1);
  s.Put(static_cast<uint32_t>(st.nVbvBufferSize) & 0x3FF, 10);
  s.Put(static_cast<uint32_t>(st.nConstrained), 1);
  s.Put(0, 1);  // load_intra_quantiser_matrix
  s.Put(0, 1);  // load_non_intra_quantiser_matrix
  if (st.nMpeg2) {
    // 6.2.2.3 sequence_extension
    s.StartCode(pxstart::kExtension);
    s.Put(1, 4);
    s.Put(static_cast<uint32_t>(((st.nProfile & 15) << 4) | (st.nLevel & 15)), 8);
    s.Put(st.nFieldCoding == 0 ? 1 : 0, 1);  // progressive_sequence
    s.Put(static_cast<uint32_t>(st.nChromaFormat), 2);
    s.Put(static_cast<uint32_t>(st.nWidth >> 12) & 3, 2);
    s.Put(static_cast<uint32_t>(st.nHeight >> 12) & 3, 2);
    s.Put((nRate >> 18) & 0xFFF, 12);
    s.Put(1, 1);
    s.Put(static_cast<uint32_t>(st.nVbvBufferSize >> 10) & 0xFF, 8);
    s.Put(0, 1);  // low_delay
    s.Put(0, 2);  // frame_rate_extension_n
    s.Put(0, 5);  // frame_rate_extension_d
    // 6.2.2.4 sequence_display_extension
    s.StartCode(pxstart::kExtension);
    s.Put(2, 4);
    s.Put(static_cast<uint32_t>(st.nVideoFormat), 3);
    s.Put(1, 1);
    s.Put(static_cast<uint32_t>(st.nColourPrimaries), 8);
    s.Put(static_cast<uint32_t>(st.nTransferCharacteristics), 8);
    s.Put(static_cast<uint32_t>(st.nMatrixCoefficients), 8);
    s.Put(static_cast<uint32_t>(st.nDisplayWidth), 14);
    s.Put(1, 1);
    s.Put(static_cast<uint32_t>(st.nDisplayHeight), 14);
  }
  if (pszUserData && *pszUserData) {
    // 6.2.2.2.2 user_data: a C text holds no zero byte, so no start code prefix can occur in it.
    s.StartCode(pxstart::kUserData);
    for (const char* p = pszUserData; *p; ++p) s.Put(static_cast<uint8_t>(*p), 8);
  }
}

void SequenceCoder::WriteGopHeader(const PxEncoderState& st, int nDisplayIndex, bool bClosed) {
  // ISO/IEC 13818-2 6.2.2.6 group_of_pictures_header; time_code of the first displayed picture.
  const int nFps = std::max(1, (st.nFrameRateNum + st.nFrameRateDen / 2) / st.nFrameRateDen);
  const int nPictures = nDisplayIndex % nFps;
  const int nSeconds = nDisplayIndex / nFps;
  BitSink& s = m_sink;
  s.StartCode(pxstart::kGroup);
  s.Put(0, 1);  // drop_frame_flag
  s.Put(static_cast<uint32_t>((nSeconds / 3600) % 24), 5);
  s.Put(static_cast<uint32_t>((nSeconds / 60) % 60), 6);
  s.Put(1, 1);
  s.Put(static_cast<uint32_t>(nSeconds % 60), 6);
  s.Put(static_cast<uint32_t>(nPictures), 6);
  s.Put(bClosed ? 1 : 0, 1);
  s.Put(0, 1);  // broken_link
}

namespace {

// The motion table's windows (1 to 11 samples, f codes 1 and 2) miss motion faster than about
// 8 samples per picture, which then costs intra or badly predicted macroblocks; a window of 31
// samples (f code 3) halved the bits of B pictures on moving test patterns. f code 3 stays within
// every level's limit and MPEG-1's constrained parameters.
constexpr int kMinFCode = 3, kMinRange = 31;

void Widen(SearchWindow* w) {
  w->nRangeX = std::max(w->nRangeX, kMinRange);
  w->nRangeY = std::max(w->nRangeY, kMinRange);
  w->nFCode = std::max(w->nFCode, kMinFCode);
}

}  // namespace

int32_t SequenceCoder::CodeFrame(const PxEncoderState& st, PictureType t, int nPosition, int nTemporalRef,
                                 Frame& recon) {
  const PxEncoderState::MotionSetting& ms = st.pMotion[t == kPictureB ? std::clamp(nPosition, 1, 2) : 0];
  PictureSetup pic;
  pic.nType = t;
  pic.nTemporalReference = nTemporalRef;
  pic.fwd =
      SearchWindow{ms.nForwardRange[0], ms.nForwardRange[1], std::min(ms.nForwardF[0], ms.nForwardF[1])};
  pic.bwd =
      SearchWindow{ms.nBackwardRange[0], ms.nBackwardRange[1], std::min(ms.nBackwardF[0], ms.nBackwardF[1])};
  if (t != kPictureB) pic.bwd.nFCode = 1;
  Widen(&pic.fwd);
  if (t == kPictureB) Widen(&pic.bwd);
  pic.source = m_source;
  pic.recon = recon;
  pic.past = t == kPictureP ? m_refs[m_nNewestRef] : m_refs[1 - m_nNewestRef];
  pic.future = m_refs[m_nNewestRef];
  const bool bFields = st.nMpeg2 && st.nFieldCoding == 1;
  pic.bProgressiveFrame = !st.nMpeg2 || st.nFieldCoding == 0;
  for (int f = 0; f < (bFields ? 2 : 1); ++f) {
    pic.nStructure = bFields ? (f == 0 ? kTopField : kBottomField) : kFramePicture;
    pic.bSecondField = f == 1;
    if (t == kPictureI && f == 1) {
      // ISO/IEC 13818-2 6.1.1.6: the second field of an I frame may be a P picture. It predicts
      // from the first field only, so each GOP still decodes on its own, and costs far fewer bits
      // than a second intra field.
      const PxEncoderState::MotionSetting& mp = st.pMotion[0];
      pic.nType = kPictureP;
      pic.fwd =
          SearchWindow{mp.nForwardRange[0], mp.nForwardRange[1], std::min(mp.nForwardF[0], mp.nForwardF[1])};
      Widen(&pic.fwd);
      pic.bOwnFrameOnly = true;
    }
    const int64_t nBefore = m_sink.BitCount();
    const double dQ = m_picture.Code(pic, m_sink, m_rc);
    const int64_t nStuff = m_rc.EndPicture(m_sink.BitCount() - nBefore, dQ);
    // Zero bytes before the next start code keep the VBV buffer from overflowing (Annex C).
    for (int64_t i = 0; i < nStuff; ++i) m_sink.Put(0, 8);
    if (m_sink.Drain() != PXM_OK) return PXM_ERR_WRITE;
  }
  return PXM_OK;
}

int32_t SequenceCoder::Run(const PxEncoderState& st, const char* pszUserData, FrameSource& src,
                           PxBitWriter* pWriter) {
  m_sink.Attach(pWriter);
  WriteSequenceHeader(st, pszUserData);
  if (m_sink.Drain() != PXM_OK) return PXM_ERR_WRITE;

  int32_t nSource = 0;
  int32_t r = src.Count(&nSource);
  if (r != PXM_OK) return r;
  const int32_t nFirst = std::max(0, st.nFirstFrame);
  const int64_t nAvail = static_cast<int64_t>(nSource) - nFirst;
  const int64_t nFrames = st.nFrameCount > 0 ? std::min<int64_t>(st.nFrameCount, nAvail) : nAvail;
  if (nFrames <= 0) return PX_ENC_ERR_NO_FRAMES;

  const bool bFields = st.nMpeg2 && st.nFieldCoding == 1;
  const int nPerFrame = bFields ? 2 : 1;
  const int32_t nMbs = m_g.nMbWidth * m_g.nMbHeight / nPerFrame;
  m_rc.Init(st.nBitRate, st.nFrameRateNum * nPerFrame, st.nFrameRateDen, nMbs,
            static_cast<int64_t>(st.nVbvBufferSize) * 16384);
  m_rc.SetInterlaced(st.nMpeg2 && st.nFieldCoding != 0);

  // Reference pictures: every M-th frame and the last one.
  const int nM = std::max(1, st.nM), nN = std::max(nM, st.nGopLength);
  auto refAt = [&](int64_t k) -> int64_t { return std::min<int64_t>(k * nM, nFrames - 1); };
  const int64_t nRefs = (nFrames - 1 + nM - 1) / nM + 1;
  int64_t nGopStart = 0;
  for (int64_t k = 0; k < nRefs; ++k) {
    const int64_t nRef = refAt(k), nPrev = k ? refAt(k - 1) : -1;
    const bool bIntra = nRef % nN == 0;
    if (bIntra) {
      nGopStart = nPrev + 1;
      int nI = 0, nP = 0, nB = 0, nI2 = 0;
      for (int64_t j = k; j < nRefs; ++j) {
        const int64_t rj = refAt(j);
        if (j > k && rj % nN == 0) break;
        // The second field of an I frame (a P picture predicting from the first only) is budgeted
        // as a type of its own.
        if (rj % nN == 0) {
          ++nI;
          nI2 += nPerFrame - 1;
        } else
          nP += nPerFrame;
        nB += static_cast<int>(rj - (j ? refAt(j - 1) : -1) - 1) * nPerFrame;
      }
      WriteGopHeader(st, static_cast<int>(nGopStart), k == 0);
      m_rc.StartGop(nI, nP, nB, nI2);
    }
    // The reference picture, then the B pictures displayed before it.
    for (int64_t i = 0; i <= nRef - nPrev - 1; ++i) {
      const int64_t d = i == 0 ? nRef : nPrev + i;
      r = src.Fetch(static_cast<int32_t>(nFirst + d), m_source);
      if (r != PXM_OK) return r;
      const bool bB = i != 0;
      Frame& recon = bB ? m_bFrame : m_refs[1 - m_nNewestRef];
      r = CodeFrame(st, bB ? kPictureB : (bIntra ? kPictureI : kPictureP), static_cast<int>(d - nPrev),
                    static_cast<int>(d - nGopStart), recon);
      src.Done();
      if (r != PXM_OK) return r;
      if (!bB) m_nNewestRef = 1 - m_nNewestRef;
      if (m_pfnHook) m_pfnHook(m_pHookUser, static_cast<int32_t>(d), recon, m_g);
    }
  }
  m_sink.StartCode(pxstart::kSequenceEnd);  // ISO/IEC 13818-2 6.2.1 sequence_end_code
  if (m_sink.Drain() != PXM_OK) return PXM_ERR_WRITE;
  // The kernel buffers writes: only a flush shows whether the tail reached the disk. A position
  // query flushes and reports a failed flush (now or earlier) as a negative position.
  const PxSeekFn pfnSeek = PxKernel().pfnSeek;
  if (!pfnSeek || pfnSeek(pWriter->hFile, 0, PX_SEEK_CUR) < 0) return PXM_ERR_WRITE;
  return PXM_OK;
}

}  // namespace pxenc
