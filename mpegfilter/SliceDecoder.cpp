// Slice, macroblock and block layers. Clause numbers refer to ISO/IEC 13818-2 unless stated;
// ISO/IEC 11172-2 streams take the same paths with MPEG-1 rules where they differ (escape format,
// oddification instead of mismatch control, full-pel vectors, D pictures).
#include "mpegfilter/SliceDecoder.h"

#include <cstring>

#include "mpegfilter/DctVlc.h"
#include "mpegfilter/Idct.h"
#include "mpegfilter/ScanTables.h"
#include "mpegfilter/VlcTables.h"

namespace {

// 7.4.2.2 Table 7-6: quantiser_scale for q_scale_type 1.
constexpr uint8_t kNonLinearScale[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10, 12, 14, 16, 18, 20,  22,
                                         24, 28, 32, 36, 40, 44, 48, 52, 56, 64, 72, 80, 88, 96, 104, 112};

struct Lookups {
  vlc::VlcLookup mba, mbI, mbP, mbB, cbp, motion, dct0, dct1;
  Lookups() {
    mba.Build(vlc::kMacroblockAddressIncrement, 11);
    mbI.Build(vlc::kMacroblockTypeI, 2);
    mbP.Build(vlc::kMacroblockTypeP, 6);
    mbB.Build(vlc::kMacroblockTypeB, 6);
    cbp.Build(vlc::kCodedBlockPattern, 9);
    motion.Build(vlc::kMotionCode, 11);
    dct0.Build(vlc::kDctTableZero, 10);
    dct1.Build(vlc::kDctTableOne, 10);
  }
};

[[gnu::always_inline]] inline const Lookups& Tables() {
  static const Lookups s_tables;
  return s_tables;
}

// dct_dc_size_luma/chroma (Tables B.12, B.13, codes of at most 10 bits) resolved by one look-up
// of the next 10 bits: size and code length; length 0 marks a bit pattern that is no code.
struct DcSizes {
  struct Entry {
    uint8_t nSize;
    uint8_t nLength;
  };
  Entry e[2][1024] = {};
  DcSizes() {
    for (int c = 0; c < 2; ++c) {
      const vlc::Table<vlc::Code>& t = c == 0 ? vlc::kDctDcSizeLuma : vlc::kDctDcSizeChroma;
      for (size_t i = 0; i < t.nCount; ++i) {
        const vlc::Code& k = t.pEntries[i];
        const uint32_t nFirst = k.nCode << (10 - k.nLength);
        for (uint32_t j = 0; j < (1u << (10 - k.nLength)); ++j)
          e[c][nFirst + j] = Entry{static_cast<uint8_t>(k.nValue), k.nLength};
      }
    }
  }
};

[[gnu::always_inline]] inline const DcSizes& DcTable() {
  static const DcSizes s_dc;
  return s_dc;
}

inline int Decode(const vlc::VlcLookup& t, const vlc::Table<vlc::Code>& codes, StreamReader& r) {
  int len = 0;
  const int idx = t.Decode(r.Peek32(), &len);
  if (idx < 0) return -1000;
  r.Skip(len);
  return codes.pEntries[idx].nValue;
}

inline uint8_t Clip255(int v) {
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// x // 2 of 7.6.3.6: halves rounded away from zero.
inline int HalfRound(int x) {
  return (x + (x > 0 ? 1 : 0)) >> 1;
}

// 7.2.2 to 7.4: run/level codes of one block after its first coefficient, with inverse
// quantisation and saturation; specialised so the per-coefficient work has no mode tests. wq[i]
// is W[scan[i]] * quantiser_scale. The bit cache stays in registers; each code, escapes included
// (at most 28 bits), reads from the 32 bits topped up before it.
template <bool kIntra, bool kMpeg2>
bool Coefficients(StreamReader& r, const DctVlc& fast, const vlc::VlcLookup& general,
                  const vlc::DctCode* pCodes, const int* wq, const uint8_t* scan, short* blk, int i,
                  int* pSum, int* pLast) {
  int sum = *pSum;
  const int iFirst = i;
  bool ok = true;
  StreamReader::Bits b = r.Take();
  for (;;) {
    r.Ensure32(b);
    const uint32_t w = b.Peek(32);
    const DctVlc::Entry& e = fast.Look(w);
    int run, level;
    bool neg;
    if (e.nKind == DctVlc::kRunLevel) {
      run = e.nRun;
      neg = e.nLevel < 0;
      level = neg ? -e.nLevel : e.nLevel;
      b.Skip(e.nLength);
    } else if (e.nKind == DctVlc::kEndOfBlock) {
      b.Skip(e.nLength);
      break;
    } else if (e.nKind == DctVlc::kEscape) {
      b.Skip(6);
      run = static_cast<int>(b.Get(6));
      if (kMpeg2) {
        int v = static_cast<int>(b.Get(12));
        if (v & 0x800) v -= 4096;
        if (v == 0 || v == -2048) {
          ok = false;
          break;
        }
        neg = v < 0;
        level = neg ? -v : v;
      } else {
        int v = static_cast<int>(b.Get(8));
        if (v == 0) {
          v = static_cast<int>(b.Get(8));
          if (v < 128) {
            ok = false;
            break;
          }
        } else if (v == 128) {
          v = static_cast<int>(b.Get(8)) - 256;
          if (v > -128) {
            ok = false;
            break;
          }
        } else if (v > 128) {
          v -= 256;
        }
        neg = v < 0;
        level = neg ? -v : v;
      }
    } else if (const DctVlc::Entry& l = fast.LookLong(w); l.nKind == DctVlc::kRunLevel) {
      run = l.nRun;
      neg = l.nLevel < 0;
      level = neg ? -l.nLevel : l.nLevel;
      b.Skip(l.nLength);
    } else {
      // Whatever the long table does not hold (invalid codes): the general two-level look-up.
      int len = 0;
      const int idx = general.Decode(w, &len);
      if (idx < 0) {
        ok = false;
        break;
      }
      const vlc::DctCode& c = pCodes[idx];
      if (c.nRun == vlc::kDctEob || c.nRun == vlc::kDctEscape) {  // short codes: not here
        ok = false;
        break;
      }
      run = c.nRun;
      level = c.nLevel;
      neg = (w >> (31 - len)) & 1;
      b.Skip(len + 1);
    }
    i += run;
    if (i > 63) {
      ok = false;
      break;
    }
    const int pos = scan[i];
    int val = kIntra ? (level * wq[i]) >> 4 : ((2 * level + 1) * wq[i]) >> 5;
    if (!kMpeg2 && !(val & 1) && val) --val;  // ISO/IEC 11172-2 oddification
    if (neg) {
      if (val > 2048) val = 2048;
      val = -val;
    } else if (val > 2047) {
      val = 2047;
    }
    blk[pos] = static_cast<short>(val);
    sum += val;
    ++i;
  }
  r.Give(b);
  *pSum = sum;
  // Scan positions only grow, so the last one written is i - 1; position 0 is the DC term in
  // either scan, which is all PutBlock needs to know.
  if (i > iFirst && i - 1 > *pLast) *pLast = i - 1;
  return ok;
}

}  // namespace

SliceDecoder::SliceDecoder() {
  Tables();
  DcTable();
}

void SliceDecoder::BeginPicture(const Picture& pic) {
  m_pic = pic;
  const SequenceParams& seq = *pic.pSeq;
  const PictureParams& pp = *pic.pPic;
  m_bMpeg2 = seq.bMpeg2;
  m_bField = pp.nStructure != kFramePicture;
  m_nParity = pp.nStructure == kBottomField ? 1 : 0;
  m_nMbWidth = seq.nMbWidth;
  m_nMbRows = m_bField ? seq.nMbHeight / 2 : seq.nMbHeight;
  // The stores must hold every macroblock the sequence may address; otherwise no slice is taken.
  if (seq.nMbWidth * 16 > pic.geo.nLumaStride || seq.nMbHeight * 16 > pic.geo.nLumaHeight) m_nMbRows = 0;
  m_nBlocks = seq.nChromaFormat == kChroma444 ? 12 : (seq.nChromaFormat == kChroma422 ? 8 : 6);
  m_scan = pp.bAlternateScan ? pxscan::kAlternate : pxscan::kZigzag;
  m_last = Motion{};
  std::memset(m_block, 0, sizeof(m_block));
  for (int& q : m_wqScale) q = -1;  // matrices and scan may change between pictures
}

bool SliceDecoder::DecodeSlice(StreamReader& r, int nSliceCode) {
  const SequenceParams& seq = *m_pic.pSeq;
  const PictureParams& pp = *m_pic.pPic;
  int nRow = nSliceCode - 1;
  // 6.2.4: slice_vertical_position_extension for pictures taller than 2800 lines.
  if (m_bMpeg2 && seq.nHeight > 2800) nRow += static_cast<int>(r.Get(3)) << 7;
  if (nRow < 0 || nRow >= m_nMbRows) return false;
  const int nCode = static_cast<int>(r.Get(5));
  if (m_bMpeg2)
    m_nQScale = pp.bQScaleType ? kNonLinearScale[nCode] : nCode * 2;
  else
    m_nQScale = nCode * 2;
  if (m_bMpeg2 && r.Peek(1)) r.Skip(9);  // intra_slice_flag, intra_slice, reserved_bits
  int nExtra = 0;
  while (r.Get1()) {  // extra_bit_slice + extra_information_slice
    r.Skip(8);
    if (++nExtra > 4096) return false;
  }
  const int dcReset = 1 << (7 + pp.nIntraDcPrecision);
  m_dcPred[0] = m_dcPred[1] = m_dcPred[2] = dcReset;
  std::memset(m_pmv, 0, sizeof(m_pmv));
  m_last = Motion{};

  const int nTotal = m_nMbWidth * m_nMbRows;
  int nMbAddr = nRow * m_nMbWidth - 1;
  bool bFirst = true;
  const Lookups& t = Tables();
  do {
    // 6.2.5 macroblock_address_increment with escapes (and MPEG-1 stuffing).
    int nInc = 0;
    for (;;) {
      const int v = Decode(t.mba, vlc::kMacroblockAddressIncrement, r);
      if (v < 0) return false;
      if (v == vlc::kMbaStuffing) continue;
      if (v == vlc::kMbaEscape) {
        nInc += 33;
        if (nInc > nTotal) return false;
        continue;
      }
      nInc += v;
      break;
    }
    if (bFirst) {
      nMbAddr += nInc;
      bFirst = false;
    } else {
      if (nMbAddr + nInc >= nTotal) return false;
      // 7.6.6: skipped macroblocks.
      for (int i = 1; i < nInc; ++i) SkipMacroblock(nMbAddr + i);
      nMbAddr += nInc;
    }
    if (nMbAddr < 0 || nMbAddr >= nTotal) return false;
    if (!DecodeMacroblock(r, nMbAddr)) return false;
  } while (r.Peek(23) != 0);
  return true;
}

void SliceDecoder::SkipMacroblock(int nMbAddr) {
  const PictureParams& pp = *m_pic.pPic;
  const int dcReset = 1 << (7 + pp.nIntraDcPrecision);
  m_dcPred[0] = m_dcPred[1] = m_dcPred[2] = dcReset;
  const int mbx = nMbAddr % m_nMbWidth;
  const int mby = nMbAddr / m_nMbWidth;
  if (pp.nType == kPicP) {
    std::memset(m_pmv, 0, sizeof(m_pmv));
    Motion m;
    m.nFlags = vlc::kMbForward;
    m.nType = m_bField ? 1 : 2;
    m.sel[0][0] = m_nParity;
    FormPrediction(mbx, mby, m);
    m_last = m;
  } else if (pp.nType == kPicB) {
    // 7.6.6.3/7.6.6.4: the previous macroblock's directions, vectors from the predictors,
    // frame-based prediction in frame pictures; field-based in field pictures and from the field
    // of the same parity, whatever field the previous macroblock chose.
    Motion m;
    m.nFlags = m_last.nFlags & (vlc::kMbForward | vlc::kMbBackward);
    if (!m.nFlags) m.nFlags = vlc::kMbForward;  // cannot follow an intra macroblock in a valid stream
    m.nType = m_bField ? 1 : 2;
    for (int s = 0; s < 2; ++s) {
      const bool bFull = !m_bMpeg2 && (s == 0 ? pp.bFullPelForward : pp.bFullPelBackward);
      m.vec[0][s][0] = m_pmv[0][s][0] * (bFull ? 2 : 1);
      m.vec[0][s][1] = m_pmv[0][s][1] * (bFull ? 2 : 1);
      m.sel[0][s] = m_bField ? m_nParity : 0;
    }
    FormPrediction(mbx, mby, m);
  }
  // I and D pictures cannot skip; the area keeps its previous content.
}

bool SliceDecoder::DecodeMacroblock(StreamReader& r, int nMbAddr) {
  const SequenceParams& seq = *m_pic.pSeq;
  const PictureParams& pp = *m_pic.pPic;
  const Lookups& t = Tables();
  const int mbx = nMbAddr % m_nMbWidth;
  const int mby = nMbAddr / m_nMbWidth;

  // 6.2.5.1 macroblock_modes
  int nFlags;
  switch (pp.nType) {
    case kPicI:
      nFlags = Decode(t.mbI, vlc::kMacroblockTypeI, r);
      break;
    case kPicP:
      nFlags = Decode(t.mbP, vlc::kMacroblockTypeP, r);
      break;
    case kPicB:
      nFlags = Decode(t.mbB, vlc::kMacroblockTypeB, r);
      break;
    default:
      if (!r.Get1()) return false;  // ISO/IEC 11172-2 D picture: "1"
      nFlags = vlc::kMbIntra;
      break;
  }
  if (nFlags < 0) return false;
  const bool bIntra = nFlags & vlc::kMbIntra;
  Motion m;
  m.nFlags = nFlags & (vlc::kMbForward | vlc::kMbBackward);
  m.nType = m_bField ? 1 : 2;
  if (m_bMpeg2 && m.nFlags) {
    if (m_bField || !pp.bFramePredFrameDct) {
      m.nType = static_cast<int>(r.Get(2));
      if (m.nType == 0) return false;
    }
  }
  bool bFieldDct = false;
  if (m_bMpeg2 && !m_bField && !pp.bFramePredFrameDct && (bIntra || (nFlags & vlc::kMbPattern)))
    bFieldDct = r.Get1();
  if (nFlags & vlc::kMbQuant) {
    const int nCode = static_cast<int>(r.Get(5));
    m_nQScale = (m_bMpeg2 && pp.bQScaleType) ? kNonLinearScale[nCode] : nCode * 2;
  }

  // Motion vector format (6.3.17.1, Tables 6-17 and 6-18).
  int nCount = 1;
  bool bFieldFormat = m_bField;
  bool bDual = false;
  if (!m_bField) {
    if (m.nType == 1) {
      nCount = 2;
      bFieldFormat = true;
    } else if (m.nType == 3) {
      bFieldFormat = true;
      bDual = true;
    }
  } else {
    if (m.nType == 2)
      nCount = 2;
    else if (m.nType == 3)
      bDual = true;
  }
  const bool bConceal = bIntra && pp.bConcealmentVectors;
  if ((m.nFlags & vlc::kMbForward) || bConceal) {
    if (bConceal) {
      nCount = 1;
      bFieldFormat = m_bField;
      bDual = false;
    }
    if (!DecodeMotionVectors(r, 0, nCount, bFieldFormat, bDual, m)) return false;
  }
  if (m.nFlags & vlc::kMbBackward)
    if (!DecodeMotionVectors(r, 1, nCount, bFieldFormat, bDual, m)) return false;
  if (bConceal) r.Skip(1);  // marker_bit

  // 6.2.5.3 coded_block_pattern
  int nPattern = 0;
  if (bIntra) {
    nPattern = (1 << m_nBlocks) - 1;
  } else if (nFlags & vlc::kMbPattern) {
    const int v = Decode(t.cbp, vlc::kCodedBlockPattern, r);
    if (v < 0) return false;
    nPattern = v;
    if (seq.nChromaFormat == kChroma422)
      nPattern = (nPattern << 2) | static_cast<int>(r.Get(2));
    else if (seq.nChromaFormat == kChroma444)
      nPattern = (nPattern << 6) | static_cast<int>(r.Get(6));
  }

  if (bIntra) {
    if (!pp.bConcealmentVectors) std::memset(m_pmv, 0, sizeof(m_pmv));
    m_last = Motion{};
  } else {
    const int dcReset = 1 << (7 + pp.nIntraDcPrecision);
    m_dcPred[0] = m_dcPred[1] = m_dcPred[2] = dcReset;
    if (pp.nType == kPicP && !(m.nFlags & vlc::kMbForward)) {
      // 7.6.3.5: P macroblock without motion compensation: zero vector, same-parity field.
      std::memset(m_pmv, 0, sizeof(m_pmv));
      m = Motion{};
      m.nFlags = vlc::kMbForward;
      m.nType = m_bField ? 1 : 2;
      m.sel[0][0] = m_nParity;
    }
    FormPrediction(mbx, mby, m);
    m_last = m;
  }

  for (int b = 0; b < m_nBlocks; ++b) {
    if (!(nPattern & (1 << (m_nBlocks - 1 - b)))) continue;
    int nLast = 0;
    if (!DecodeBlock(r, b, bIntra, &nLast)) {
      std::memset(m_block, 0, sizeof(m_block));  // a damaged block must not leak into the next
      return false;
    }
    PutBlock(mbx, mby, b, bFieldDct, bIntra, nLast);
  }
  if (pp.nType == kPicD && !r.Get1()) return false;  // end_of_macroblock
  return true;
}

bool SliceDecoder::DecodeMotionVectors(StreamReader& r, int s, int nCount, bool bFieldFormat, bool bDualPrime,
                                       Motion& m) {
  // 6.2.5.2 motion_vectors(s)
  if (nCount == 1) {
    if (bFieldFormat && !bDualPrime) m.sel[0][s] = static_cast<int>(r.Get1());
    if (!DecodeVector(r, 0, s, bFieldFormat, bDualPrime, m)) return false;
    // 7.6.3.1: with one vector the second predictor follows the first.
    m_pmv[1][s][0] = m_pmv[0][s][0];
    m_pmv[1][s][1] = m_pmv[0][s][1];
  } else {
    m.sel[0][s] = static_cast<int>(r.Get1());
    if (!DecodeVector(r, 0, s, bFieldFormat, false, m)) return false;
    m.sel[1][s] = static_cast<int>(r.Get1());
    if (!DecodeVector(r, 1, s, bFieldFormat, false, m)) return false;
  }
  return true;
}

int SliceDecoder::DecodeMotionComponent(StreamReader& r, int nFCode, int nPred, bool* pOk) {
  // 7.6.3.1: motion_code, motion_residual and the wrap into [low, high].
  const Lookups& t = Tables();
  int code = Decode(t.motion, vlc::kMotionCode, r);
  if (code < 0) {
    *pOk = false;
    return 0;
  }
  if (code && r.Get1()) code = -code;
  const int rSize = nFCode - 1;
  const int f = 1 << rSize;
  int delta;
  if (f == 1 || code == 0) {
    delta = code;
  } else {
    const int residual = static_cast<int>(r.Get(rSize));
    delta = ((code < 0 ? -code : code) - 1) * f + residual + 1;
    if (code < 0) delta = -delta;
  }
  int v = nPred + delta;
  const int low = -16 * f;
  const int high = 16 * f - 1;
  const int range = 32 * f;
  if (v < low) v += range;
  if (v > high) v -= range;
  return v;
}

bool SliceDecoder::DecodeVector(StreamReader& r, int nR, int s, bool bFieldFormat, bool bDualPrime,
                                Motion& m) {
  const PictureParams& pp = *m_pic.pPic;
  bool ok = true;
  for (int tComp = 0; tComp < 2; ++tComp) {
    int fCode;
    if (m_bMpeg2) {
      fCode = pp.fCode[s][tComp];
    } else {
      fCode = pp.fCode[s][0];  // ISO/IEC 11172-2: one f_code per direction
    }
    if (fCode < 1 || fCode > 9) return false;
    const bool bHalve = bFieldFormat && tComp == 1 && !m_bField;
    const int pred = bHalve ? (m_pmv[nR][s][tComp] >> 1) : m_pmv[nR][s][tComp];
    const int v = DecodeMotionComponent(r, fCode, pred, &ok);
    if (!ok) return false;
    m_pmv[nR][s][tComp] = bHalve ? v * 2 : v;
    // ISO/IEC 11172-2 2.4.4.2: full-pel vectors count whole samples.
    const bool bFull = !m_bMpeg2 && (s == 0 ? pp.bFullPelForward : pp.bFullPelBackward);
    m.vec[nR][s][tComp] = bFull ? v * 2 : v;
    if (bDualPrime) {
      const uint32_t w = r.Peek(2);
      if (w & 2) {
        m.dmv[tComp] = (w & 1) ? -1 : 1;
        r.Skip(2);
      } else {
        m.dmv[tComp] = 0;
        r.Skip(1);
      }
    }
  }
  return true;
}

// The next macroblocks mostly read just right of this area in the same reference: start fetching
// those lines now (reference reads were the decoder's main stall). Coordinates are clamped to the
// plane; a prefetch never faults.
inline void SliceDecoder::Prefetch(const PlaneView& v, int x, int y, int nLines) {
  if (x < 0) x = 0;
  if (x >= v.nWidth) x = v.nWidth - 1;
  if (y < 0) y = 0;
  if (y + nLines > v.nHeight) y = v.nHeight - nLines;
  if (x < 0 || y < 0) return;
  const uint8_t* p = v.p + static_cast<long>(y) * v.nStride + x;
  for (int j = 0; j < nLines; ++j, p += v.nStride) __builtin_prefetch(p);
}

void SliceDecoder::PredictArea(const FrameStore& ref, int nRefParity, int x, int y, int vx, int vy,
                               int nDstParity, int nLine, int nW, int nH, bool bAverage) {
  // Luma and both chroma planes of one prediction area. Views: the whole frame (parity -1) or one
  // field (0 top, 1 bottom) with doubled line distance.
  const PlaneGeometry& g = m_pic.geo;
  const int sx = g.nChromaShiftX;
  const int sy = g.nChromaShiftY;
  const int fieldRef = nRefParity >= 0;
  const int fieldDst = nDstParity >= 0;
  PlaneView src;
  src.p = ref.pY + (fieldRef ? nRefParity * g.nLumaStride : 0);
  src.nStride = g.nLumaStride << fieldRef;
  src.nWidth = g.nLumaStride;
  src.nHeight = g.nLumaHeight >> fieldRef;
  const int dstStride = g.nLumaStride << fieldDst;
  uint8_t* pDst = m_pic.pCur->pY + (fieldDst ? nDstParity * g.nLumaStride : 0) +
                  static_cast<long>(y + nLine) * dstStride + x;
  MotionCompensator::Predict(src, x, y + nLine, vx, vy, pDst, dstStride, nW, nH, bAverage);
  Prefetch(src, x + (vx >> 1) + 32, y + nLine + (vy >> 1), nH);

  const int cvx = sx ? vx / 2 : vx;  // 7.6.3.7: "/" truncates towards zero
  const int cvy = sy ? vy / 2 : vy;
  const int cx = x >> sx;
  const int cy = (y + nLine) >> sy;
  const int cw = nW >> sx;
  const int ch = nH >> sy;
  const int cDstStride = g.nChromaStride << fieldDst;
  PlaneView csrc;
  csrc.nStride = g.nChromaStride << fieldRef;
  csrc.nWidth = g.nChromaStride;
  csrc.nHeight = g.nChromaHeight >> fieldRef;
  const long cRefOff = fieldRef ? nRefParity * g.nChromaStride : 0;
  const long cDstOff =
      (fieldDst ? nDstParity * g.nChromaStride : 0) + static_cast<long>(cy) * cDstStride + cx;
  csrc.p = ref.pCb + cRefOff;
  if (cw == 8) {  // 4:2:0 and 4:2:2: both chroma planes at once
    MotionCompensator::PredictPair(csrc, ref.pCr + cRefOff, cx, cy, cvx, cvy, m_pic.pCur->pCb + cDstOff,
                                   m_pic.pCur->pCr + cDstOff, cDstStride, ch, bAverage);
    const int cNextX = cx + (cvx >> 1) + (32 >> sx), cNextY = cy + (cvy >> 1);
    Prefetch(csrc, cNextX, cNextY, ch);
    csrc.p = ref.pCr + cRefOff;
    Prefetch(csrc, cNextX, cNextY, ch);
    return;
  }
  MotionCompensator::Predict(csrc, cx, cy, cvx, cvy, m_pic.pCur->pCb + cDstOff, cDstStride, cw, ch, bAverage);
  const int cNextX = cx + (cvx >> 1) + (32 >> sx), cNextY = cy + (cvy >> 1);
  Prefetch(csrc, cNextX, cNextY, ch);
  csrc.p = ref.pCr + cRefOff;
  MotionCompensator::Predict(csrc, cx, cy, cvx, cvy, m_pic.pCur->pCr + cDstOff, cDstStride, cw, ch, bAverage);
  Prefetch(csrc, cNextX, cNextY, ch);
}

void SliceDecoder::PredictDirection(int mbx, int mby, const Motion& m, int s, bool bAverage) {
  const PictureParams& pp = *m_pic.pPic;
  const FrameStore* pRef = s == 0 ? m_pic.pFwd : m_pic.pBwd;
  if (!pRef || !pRef->pY) pRef = m_pic.pFwd ? m_pic.pFwd : m_pic.pBwd;
  if (!pRef || !pRef->pY) return;
  const int x = mbx * 16;
  if (!m_bField) {
    if (m.nType == 2) {  // frame prediction
      PredictArea(*pRef, -1, x, mby * 16, m.vec[0][s][0], m.vec[0][s][1], -1, 0, 16, 16, bAverage);
    } else {  // field prediction in a frame picture: each field of the macroblock on its own
      for (int p = 0; p < 2; ++p)
        PredictArea(*pRef, m.sel[p][s], x, mby * 8, m.vec[p][s][0], m.vec[p][s][1], p, 0, 16, 8, bAverage);
    }
    return;
  }
  // Field pictures (7.6.4): the second field of a P frame predicts from the first field of the same frame
  // when the opposite parity is selected.
  auto refFor = [&](int sel) -> const FrameStore& {
    if (s == 0 && pp.nType == kPicP && pp.bSecondField && sel != m_nParity) return *m_pic.pCur;
    return *pRef;
  };
  if (m.nType == 1) {
    PredictArea(refFor(m.sel[0][s]), m.sel[0][s], x, mby * 16, m.vec[0][s][0], m.vec[0][s][1], m_nParity, 0,
                16, 16, bAverage);
  } else {  // 16x8
    for (int r = 0; r < 2; ++r)
      PredictArea(refFor(m.sel[r][s]), m.sel[r][s], x, mby * 16, m.vec[r][s][0], m.vec[r][s][1], m_nParity,
                  r * 8, 16, 8, bAverage);
  }
}

void SliceDecoder::PredictDualPrime(int mbx, int mby, const Motion& m) {
  // 7.6.3.6: same-parity prediction averaged with the opposite-parity one whose vector is scaled
  // by m/2 (rounded away from zero), corrected by e and dmvector.
  const PictureParams& pp = *m_pic.pPic;
  if (!m_pic.pFwd || !m_pic.pFwd->pY) return;
  const FrameStore& fwd = *m_pic.pFwd;
  const int vx = m.vec[0][0][0];
  const int vy = m.vec[0][0][1];
  const int x = mbx * 16;
  if (!m_bField) {
    for (int p = 0; p < 2; ++p) {
      const int mult = (p == 0) == pp.bTopFieldFirst ? 1 : 3;
      const int e = p == 0 ? -1 : 1;
      const int dx = HalfRound(vx * mult) + m.dmv[0];
      const int dy = HalfRound(vy * mult) + e + m.dmv[1];
      PredictArea(fwd, p, x, mby * 8, vx, vy, p, 0, 16, 8, false);
      PredictArea(fwd, 1 - p, x, mby * 8, dx, dy, p, 0, 16, 8, true);
    }
    return;
  }
  const int e = m_nParity == 0 ? -1 : 1;
  const int dx = HalfRound(vx) + m.dmv[0];
  const int dy = HalfRound(vy) + e + m.dmv[1];
  const FrameStore& opposite = pp.bSecondField ? *m_pic.pCur : fwd;
  PredictArea(fwd, m_nParity, x, mby * 16, vx, vy, m_nParity, 0, 16, 16, false);
  PredictArea(opposite, 1 - m_nParity, x, mby * 16, dx, dy, m_nParity, 0, 16, 16, true);
}

void SliceDecoder::FormPrediction(int mbx, int mby, const Motion& m) {
  if (m.nType == 3 && (m.nFlags & vlc::kMbForward) && m_pic.pPic->nType == kPicP) {
    PredictDualPrime(mbx, mby, m);
    return;
  }
  const bool bFwd = m.nFlags & vlc::kMbForward;
  const bool bBwd = m.nFlags & vlc::kMbBackward;
  if (bFwd) PredictDirection(mbx, mby, m, 0, false);
  if (bBwd) PredictDirection(mbx, mby, m, 1, bFwd);
}

bool SliceDecoder::DecodeBlock(StreamReader& r, int nBlock, bool bIntra, int* pLast) {
  // 7.2 (VLC), 7.3 (scan), 7.4 (inverse quantisation); ISO/IEC 11172-2 2.4.4.
  const SequenceParams& seq = *m_pic.pSeq;
  const PictureParams& pp = *m_pic.pPic;
  const Lookups& t = Tables();
  short* blk = m_block;
  const int comp = nBlock < 4 ? 0 : ((nBlock & 1) ? 2 : 1);
  const uint8_t* W = comp == 0 || seq.nChromaFormat == kChroma420
                         ? (bIntra ? seq.intraMatrix : seq.nonIntraMatrix)
                         : (bIntra ? seq.chromaIntraMatrix : seq.chromaNonIntraMatrix);
  const int qs = m_nQScale;
  // W[scan[i]] * quantiser_scale, kept per matrix until the scale changes.
  const int k = (bIntra ? 0 : 1) + (W == seq.intraMatrix || W == seq.nonIntraMatrix ? 0 : 2);
  int* wq = m_wq[k];
  if (m_wqScale[k] != qs) {
    for (int j = 0; j < 64; ++j) wq[j] = W[m_scan[j]] * qs;
    m_wqScale[k] = qs;
  }
  int sum = 0;
  int nLast = 0;
  int i = 0;
  const vlc::VlcLookup* pTab = &t.dct0;
  const vlc::DctCode* pCodes = vlc::kDctTableZero.pEntries;
  if (bIntra) {
    // 7.2.1 DC coefficient
    // Size code (at most 10 bits) and differential (at most 11) from one top-up.
    StreamReader::Bits bits = r.Take();
    r.Ensure32(bits);
    const DcSizes::Entry d = DcTable().e[comp == 0 ? 0 : 1][bits.Peek(10)];
    if (d.nLength == 0) {
      r.Give(bits);
      return false;
    }
    bits.Skip(d.nLength);
    const int size = d.nSize;
    int diff = 0;
    if (size) {
      diff = static_cast<int>(bits.Get(size));
      if (!(diff & (1 << (size - 1)))) diff = diff - (1 << size) + 1;
    }
    r.Give(bits);
    m_dcPred[comp] += diff;
    // Keep the predictor within what the precision allows so damaged data cannot overflow.
    const int limit = (1 << (8 + pp.nIntraDcPrecision)) - 1;
    if (m_dcPred[comp] < 0) m_dcPred[comp] = 0;
    if (m_dcPred[comp] > limit) m_dcPred[comp] = limit;
    const int dc = m_dcPred[comp] << (3 - pp.nIntraDcPrecision);
    blk[0] = static_cast<short>(dc);
    sum = dc;
    if (pp.nType == kPicD) {
      *pLast = 0;
      return true;
    }
    if (pp.bIntraVlcFormat && m_bMpeg2) {
      pTab = &t.dct1;
      pCodes = vlc::kDctTableOne.pEntries;
    }
    i = 1;
  } else {
    // First coefficient of a non-intra block: "1s" is run 0, level 1.
    if (r.Peek(1)) {
      const int sgn = static_cast<int>(r.Peek(2) & 1);
      r.Skip(2);
      int val = (3 * wq[0]) >> 5;
      if (!m_bMpeg2 && val && !(val & 1)) --val;
      // 7.4.3 saturation (3 x 255 x 112 / 32 exceeds the range).
      if (sgn)
        val = -(val > 2048 ? 2048 : val);
      else if (val > 2047)
        val = 2047;
      blk[m_scan[0]] = static_cast<short>(val);
      sum += val;
      i = 1;
    }
  }
  const DctVlc& fast = DctVlc::Get(pTab == &t.dct1);
  bool ok;
  if (bIntra)
    ok = m_bMpeg2 ? Coefficients<true, true>(r, fast, *pTab, pCodes, wq, m_scan, blk, i, &sum, &nLast)
                  : Coefficients<true, false>(r, fast, *pTab, pCodes, wq, m_scan, blk, i, &sum, &nLast);
  else
    ok = m_bMpeg2 ? Coefficients<false, true>(r, fast, *pTab, pCodes, wq, m_scan, blk, i, &sum, &nLast)
                  : Coefficients<false, false>(r, fast, *pTab, pCodes, wq, m_scan, blk, i, &sum, &nLast);
  if (!ok) return false;
  if (m_bMpeg2 && !(sum & 1)) {  // 7.4.4 mismatch control
    blk[63] ^= 1;
    nLast = 63;
  }
  *pLast = nLast;
  return true;
}

void SliceDecoder::PutBlock(int mbx, int mby, int nBlock, bool bFieldDct, bool bIntra, int nLast) {
  const PlaneGeometry& g = m_pic.geo;
  const int fieldPic = m_bField ? 1 : 0;
  uint8_t* pDst;
  int stride;
  if (nBlock < 4) {
    const int ls = g.nLumaStride;
    stride = ls << fieldPic;
    uint8_t* base =
        m_pic.pCur->pY + (fieldPic ? m_nParity * ls : 0) + static_cast<long>(mby) * 16 * stride + mbx * 16;
    if (bFieldDct) {
      pDst = base + (nBlock >> 1) * ls + (nBlock & 1) * 8;
      stride = ls * 2;
    } else {
      pDst = base + (nBlock >> 1) * 8 * stride + (nBlock & 1) * 8;
    }
  } else {
    const int cs = g.nChromaStride;
    const int cw = 16 >> g.nChromaShiftX;
    const int ch = 16 >> g.nChromaShiftY;
    const int k = (nBlock - 4) >> 1;
    stride = cs << fieldPic;
    uint8_t* plane = (nBlock & 1) ? m_pic.pCur->pCr : m_pic.pCur->pCb;
    uint8_t* base = plane + (fieldPic ? m_nParity * cs : 0) + static_cast<long>(mby) * ch * stride + mbx * cw;
    // 6.1.3 Figure 6-10/6-11: chroma blocks 4, 6 (4:2:2) and 4 8 / 6 10 (4:4:4).
    const int bx = (k >> 1) * 8;
    if (bFieldDct && g.nChromaShiftY == 0) {
      pDst = base + (k & 1) * cs + bx;
      stride = cs * 2;
    } else {
      pDst = base + (k & 1) * 8 * stride + bx;
    }
  }
  short* blk = m_block;
  if (nLast == 0) {
    const int v = IdctDcOnlyValue(blk[0]);
    blk[0] = 0;
    if (bIntra) {
      const uint8_t c = Clip255(v);
      for (int y = 0; y < 8; ++y, pDst += stride) std::memset(pDst, c, 8);
    } else {
      IdctAddConstant(v, pDst, stride);
    }
    return;
  }
  if (bIntra)
    IdctPut(blk, pDst, stride);
  else
    IdctAdd(blk, pDst, stride);
}
