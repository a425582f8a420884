// Picture, slice and macroblock layers; see PictureCoder.h.
#include "mpegfilter/encoder/PictureCoder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "mpegfilter/VlcTables.h"
#include "mpegfilter/encoder/VlcEncoder.h"

namespace pxenc {
namespace {

// Intra must beat the best prediction's cost by this many bits (times lambda): near zero, as the
// prediction's cost already counts its vector bits; on noisy material intra is often the better
// choice (384 SAD units, the former fixed bias, cost 0.3 dB there).
constexpr int kIntraBias = 8;

// Lambda of the coded trials in squared error per bit, times q squared: the usual 0.85 of the
// squared half step (the step of non-intra levels is about 2q); 0.5 to 1.7 measured within 0.05 dB.
constexpr double kRdLambda = 0.85;

// Lambda in SAD units per bit (times 16) for quantiser_scale_code q: about the square root of the
// usual squared-error lambda for a quantiser step of 2q (0.75 q); 0.5 q to q measured within
// 0.1 dB on clean, fractal and noisy material.
int LambdaFor(int q) {
  return 12 * q;
}

inline uint8_t Clip255(int v) {
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

Mv ChromaMv(Mv mv, const Geometry& g) {
  // ISO/IEC 13818-2 7.6.3.7: division truncating toward zero.
  return Mv{g.nChromaShiftX ? mv.x / 2 : mv.x, g.nChromaShiftY ? mv.y / 2 : mv.y};
}

// 8x8 samples as 16-bit values.
inline void LoadSamples(const uint8_t* s, int ss, short* out) {
#if defined(__SSE2__)
  const __m128i z = _mm_setzero_si128();
  for (int r = 0; r < 8; ++r) {
    const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + r * ss));
    _mm_store_si128(reinterpret_cast<__m128i*>(out + 8 * r), _mm_unpacklo_epi8(a, z));
  }
#else
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) out[8 * r + c] = s[r * ss + c];
#endif
}

// out = s - p over 8x8; returns the sum of |s - p|.
inline int LoadResidual(const uint8_t* s, int ss, const uint8_t* p, int ps, short* out) {
#if defined(__SSE2__)
  const __m128i z = _mm_setzero_si128();
  __m128i sad = z;
  for (int r = 0; r < 8; ++r) {
    const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + r * ss));
    const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + r * ps));
    sad = _mm_add_epi32(sad, _mm_sad_epu8(a, b));
    _mm_store_si128(reinterpret_cast<__m128i*>(out + 8 * r),
                    _mm_sub_epi16(_mm_unpacklo_epi8(a, z), _mm_unpacklo_epi8(b, z)));
  }
  return _mm_cvtsi128_si32(sad);
#else
  int n = 0;
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) {
      const int v = s[r * ss + c] - p[r * ps + c];
      out[8 * r + c] = static_cast<short>(v);
      n += std::abs(v);
    }
  return n;
#endif
}

// o = clamp(p + res) (p null: clamp(res)) over 8x8.
inline void AddClamp(const uint8_t* p, int ps, const short* res, uint8_t* o, int os) {
#if defined(__SSE2__)
  const __m128i z = _mm_setzero_si128();
  for (int r = 0; r < 8; ++r) {
    __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(res + 8 * r));
    if (p)
      v = _mm_adds_epi16(v,
                         _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + r * ps)), z));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(o + r * os), _mm_packus_epi16(v, v));
  }
#else
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) o[r * os + c] = Clip255((p ? p[r * ps + c] : 0) + res[r * 8 + c]);
#endif
}

// Sum of |sample - mean| over the 16x16 block: the cost of coding it without prediction.
int IntraCost(const uint8_t* p, int nStride) {
#if defined(__SSE2__)
  const __m128i z = _mm_setzero_si128();
  __m128i acc = z;
  for (int r = 0; r < 16; ++r)
    acc = _mm_add_epi64(acc,
                        _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + r * nStride)), z));
  const int nSum = _mm_cvtsi128_si32(acc) + _mm_extract_epi16(acc, 4);
  const __m128i mean = _mm_set1_epi8(static_cast<char>((nSum + 128) >> 8));
  acc = z;
  for (int r = 0; r < 16; ++r)
    acc = _mm_add_epi64(
        acc, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + r * nStride)), mean));
  return _mm_cvtsi128_si32(acc) + _mm_extract_epi16(acc, 4);
#else
  int nSum = 0;
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 16; ++c) nSum += p[r * nStride + c];
  const int nMean = (nSum + 128) >> 8;
  int nCost = 0;
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 16; ++c) nCost += std::abs(p[r * nStride + c] - nMean);
  return nCost;
#endif
}

}  // namespace

bool PictureCoder::Motion::operator==(const Motion& o) const {
  if (nType != o.nType) return false;
  for (int r = 0; r < 2; ++r)
    for (int s = 0; s < 2; ++s)
      if (!(mv[r][s] == o.mv[r][s]) || sel[r][s] != o.sel[r][s]) return false;
  return true;
}

void PictureCoder::Init(const SequenceSetup& seq) {
  m_seq = seq;
  m_block.Init(seq.bMpeg2, seq.nDcPrecision, seq.bMpeg2);
  m_cw = 16 >> seq.g.nChromaShiftX;
  m_ch = 16 >> seq.g.nChromaShiftY;
  m_nChromaBlocks = (m_cw / 8) * (m_ch / 8);
}

bool PictureCoder::AlternateScan(const PictureSetup& pic) const {
  // Interlaced pictures: vertical frequencies matter as much as horizontal ones.
  return m_seq.bMpeg2 && !pic.bProgressiveFrame;
}

void PictureCoder::WritePictureHeader(const PictureSetup& pic, BitSink& s) const {
  // ISO/IEC 13818-2 6.2.3 picture_header (ISO/IEC 11172-2 2.4.2.5).
  s.StartCode(pxstart::kPicture);
  s.Put(static_cast<uint32_t>(pic.nTemporalReference) & 1023, 10);
  s.Put(static_cast<uint32_t>(pic.nType), 3);
  s.Put(static_cast<uint32_t>(pic.nVbvDelay), 16);
  if (pic.nType == kPictureP || pic.nType == kPictureB) {
    s.Put(0, 1);
    s.Put(m_seq.bMpeg2 ? 7 : static_cast<uint32_t>(pic.fwd.nFCode), 3);
  }
  if (pic.nType == kPictureB) {
    s.Put(0, 1);
    s.Put(m_seq.bMpeg2 ? 7 : static_cast<uint32_t>(pic.bwd.nFCode), 3);
  }
  s.Put(0, 1);  // extra_bit_picture
  if (!m_seq.bMpeg2) return;
  // ISO/IEC 13818-2 6.2.3.1 picture_coding_extension.
  s.StartCode(pxstart::kExtension);
  s.Put(8, 4);
  const uint32_t ff = pic.nType != kPictureI ? static_cast<uint32_t>(pic.fwd.nFCode) : 15;
  const uint32_t bf = pic.nType == kPictureB ? static_cast<uint32_t>(pic.bwd.nFCode) : 15;
  s.Put(ff, 4);
  s.Put(ff, 4);
  s.Put(bf, 4);
  s.Put(bf, 4);
  s.Put(static_cast<uint32_t>(m_seq.nDcPrecision), 2);
  s.Put(static_cast<uint32_t>(pic.nStructure), 2);
  const bool bFrame = pic.nStructure == kFramePicture;
  s.Put(bFrame && !pic.bProgressiveFrame ? 1 : 0, 1);  // top_field_first (0 in field pictures)
  s.Put(bFrame && pic.bProgressiveFrame ? 1 : 0, 1);   // frame_pred_frame_dct
  s.Put(0, 1);                                         // concealment_motion_vectors
  s.Put(0, 1);                                         // q_scale_type
  s.Put(1, 1);                                         // intra_vlc_format
  s.Put(AlternateScan(pic) ? 1 : 0, 1);                // alternate_scan
  s.Put(0, 1);                                         // repeat_first_field
  s.Put(m_seq.g.nChromaFormat == 1 && pic.bProgressiveFrame ? 1 : 0, 1);  // chroma_420_type
  s.Put(pic.bProgressiveFrame ? 1 : 0, 1);                                // progressive_frame
  s.Put(0, 1);                                                            // composite_display_flag
}

Plane PictureCoder::RefPlane(int nComp, int nDir, int nSelect) const {
  const PictureSetup& pic = *m_pic;
  auto comp = [nComp](const Frame& f) -> const Plane& {
    return nComp == 0 ? f.y : (nComp == 1 ? f.cb : f.cr);
  };
  if (!m_bFieldPic) return comp(nDir == 0 ? pic.past : pic.future);
  // ISO/IEC 13818-2 7.6.2.1: the second field of a P frame may refer to the first field of its own
  // frame (the opposite parity).
  if (nDir == 0 && pic.nType == kPictureP && pic.bSecondField && nSelect != m_nParity)
    return FieldOf(comp(pic.recon), nSelect);
  return FieldOf(comp(nDir == 0 ? pic.past : pic.future), nSelect);
}

PictureCoder::DirectionResult PictureCoder::SearchDirection(int nDir, int mbx, int mby) {
  const SearchWindow& w = nDir == 0 ? m_pic->fwd : m_pic->bwd;
  const int x = mbx * 16, y = mby * 16;
  const uint8_t* cur = m_src.y.p + static_cast<ptrdiff_t>(y) * m_src.y.nStride + x;
  Mv pred[2] = {m_left[nDir], m_above[nDir][mbx]};
  const int lam = m_nLambda16;
  DirectionResult out;
  if (!m_bFieldPic) {
    const Plane ref = RefPlane(0, nDir, 0);
    // The coarse look further out only where this macroblock predicts far worse than its left
    // neighbour (and above 2 per sample): new or fast motion, not noise, which is poor everywhere.
    const int nWide = std::max(2 * 256, m_nLastSad[nDir] * 3 / 2 + 256);
    const SearchResult r =
        SearchBlock(cur, m_src.y.nStride, ref, x, y, 16, w, pred, 2, m_pmv[0][nDir], lam, nWide);
    m_nLastSad[nDir] = r.nSad;
    out.frame.m.nType = 2;
    out.frame.m.mv[0][nDir] = out.frame.m.mv[1][nDir] = r.mv;
    out.frame.nSad = r.nSad;
    out.frame.nCost = r.nCost;
    if (m_bFrameFieldModes) {
      SearchWindow wf = w;
      wf.nRangeY = std::max(1, w.nRangeY / 2);
      Mv fpred[2] = {Mv{pred[0].x, pred[0].y / 2}, Mv{pred[1].x, pred[1].y / 2}};
      out.field.m.nType = 1;
      out.field.nSad = 0;
      out.field.nCost = (2 * lam) >> 4;  // the two field selects
      for (int p = 0; p < 2; ++p) {
        const Mv costPred{m_pmv[p][nDir].x, m_pmv[p][nDir].y >> 1};
        SearchResult best;
        best.nCost = 1 << 30;
        for (int sel = 0; sel < 2; ++sel) {
          const SearchResult r2 = SearchBlock(cur + p * m_src.y.nStride, 2 * m_src.y.nStride,
                                              FieldOf(ref, sel), x, y / 2, 8, wf, fpred, 2, costPred, lam);
          if (r2.nCost < best.nCost) {
            best = r2;
            out.field.m.sel[p][nDir] = sel;
          }
        }
        out.field.m.mv[p][nDir] = best.mv;
        out.field.nSad += best.nSad;
        out.field.nCost += best.nCost;
      }
    }
  } else {
    out.frame.m.nType = 1;
    int nBestSad = 1 << 30;
    for (int sel = 0; sel < 2; ++sel) {
      if (m_pic->bOwnFrameOnly && sel == m_nParity) continue;
      const SearchResult r =
          SearchBlock(cur, m_src.y.nStride, RefPlane(0, nDir, sel), x, y, 16, w, pred, 2, m_pmv[0][nDir], lam,
                      std::max(2 * 256, m_nLastSad[nDir] * 3 / 2 + 256));
      nBestSad = std::min(nBestSad, r.nSad);
      // The same parity is the nearer field in time for the first field; prefer it on ties.
      Candidate c;
      c.m.nType = 1;
      c.nSad = r.nSad;
      c.nCost = r.nCost + (sel == m_nParity ? 0 : 16);
      c.m.mv[0][nDir] = c.m.mv[1][nDir] = r.mv;
      c.m.sel[0][nDir] = c.m.sel[1][nDir] = sel;
      if (c.nCost < out.frame.nCost) std::swap(c, out.frame);
      out.other = c;
    }
    m_nLastSad[nDir] = nBestSad;
    // 16x8 prediction (ISO/IEC 13818-2 7.6.3.1): each half its own vector and field, searched
    // around the whole macroblock's vector; one more field select to pay for.
    out.field.m.nType = 2;
    out.field.nSad = 0;
    out.field.nCost = lam >> 4;
    const Mv halfPred[3] = {out.frame.m.mv[0][nDir], pred[0], pred[1]};
    for (int r = 0; r < 2; ++r) {
      int nBest = 1 << 30, nBestHalfSad = 0;
      for (int sel = 0; sel < 2; ++sel) {
        if (m_pic->bOwnFrameOnly && sel == m_nParity) continue;
        const SearchResult h =
            SearchBlock(cur + 8 * r * m_src.y.nStride, m_src.y.nStride, RefPlane(0, nDir, sel), x, y + 8 * r,
                        8, w, halfPred, 3, m_pmv[r][nDir], lam);
        const int nCost = h.nCost + (sel == m_nParity ? 0 : 16);
        if (nCost < nBest) {
          nBest = nCost;
          nBestHalfSad = h.nSad;
          out.field.m.mv[r][nDir] = h.mv;
          out.field.m.sel[r][nDir] = sel;
        }
      }
      out.field.nSad += nBestHalfSad;
      out.field.nCost += nBest;
    }
  }
  return out;
}

bool PictureCoder::SkipMotion(const Decision& prev, Motion* pOut) const {
  // ISO/IEC 13818-2 7.6.6.3/7.6.6.4: the previous macroblock's directions and vectors (the
  // predictors), frame-based in frame pictures, field-based from the same-parity field in field
  // pictures. Only a one-vector prediction leaves its vectors as the predictors.
  if (!prev.nFlags || (prev.nFlags & vlc::kMbIntra)) return false;
  if (prev.m.nType != (m_bFieldPic ? 1 : 2)) return false;
  Motion m;
  m.nType = prev.m.nType;
  for (int s = 0; s < 2; ++s) {
    if (!(prev.nFlags & (s == 0 ? vlc::kMbForward : vlc::kMbBackward))) continue;
    m.mv[0][s] = prev.m.mv[0][s];
    m.sel[0][s] = m_bFieldPic ? m_nParity : 0;
  }
  *pOut = m;
  return true;
}

bool PictureCoder::SameMotion(const Motion& a, const Motion& b, int nFlags) const {
  if (a.nType != b.nType) return false;
  const int nVectors = TwoVectors(a) ? 2 : 1;
  for (int s = 0; s < 2; ++s) {
    if (!(nFlags & (s == 0 ? vlc::kMbForward : vlc::kMbBackward))) continue;
    for (int r = 0; r < nVectors; ++r)
      if (!(a.mv[r][s] == b.mv[r][s]) || a.sel[r][s] != b.sel[r][s]) return false;
  }
  return true;
}

bool PictureCoder::Fits(const Motion& m, int nFlags, int mbx, int mby) const {
  // A vector found for another macroblock may reach outside the reference here
  // (ISO/IEC 13818-2 7.6.4 forbids that).
  const int x = mbx * 16, y = mby * 16;
  for (int s = 0; s < 2; ++s) {
    if (!(nFlags & (s == 0 ? vlc::kMbForward : vlc::kMbBackward))) continue;
    const bool bFieldMv = !m_bFieldPic && m.nType == 1, bTwo = TwoVectors(m);
    for (int r = 0; r < (bTwo ? 2 : 1); ++r) {
      const Plane ref = RefPlane(0, s, m.sel[r][s]);
      const int nH = bFieldMv ? ref.nHeight / 2 : ref.nHeight, nRows = bTwo ? 8 : 16;
      const int by = bFieldMv ? y / 2 : (bTwo ? y + 8 * r : y);
      const Mv mv = m.mv[r][s];
      const int ix = x + (mv.x >> 1), iy = by + (mv.y >> 1);
      if (ix < 0 || iy < 0 || ix + 16 + (mv.x & 1) > ref.nWidth || iy + nRows + (mv.y & 1) > nH) return false;
    }
  }
  return true;
}

void PictureCoder::PredictOne(const Motion& m, int s, int mbx, int mby, uint8_t* pY, uint8_t* pCb,
                              uint8_t* pCr) {
  const Geometry& g = m_seq.g;
  const int x = mbx * 16, y = mby * 16;
  const int cx = x >> g.nChromaShiftX, cy = y >> g.nChromaShiftY;
  if (!TwoVectors(m)) {
    const int sel = m.sel[0][s];
    const Mv mv = m.mv[0][s], mc = ChromaMv(mv, g);
    PredictBlock(RefPlane(0, s, sel), x, y, mv, 16, 16, pY, 16);
    if (!pCb) return;  // luma only (mode decision)
    PredictBlock(RefPlane(1, s, sel), cx, cy, mc, m_cw, m_ch, pCb, m_cw);
    PredictBlock(RefPlane(2, s, sel), cx, cy, mc, m_cw, m_ch, pCr, m_cw);
    return;
  }
  if (m_bFieldPic) {  // 16x8: each half of the macroblock from a chosen field
    for (int r = 0; r < 2; ++r) {
      const int sel = m.sel[r][s];
      const Mv mv = m.mv[r][s], mc = ChromaMv(mv, g);
      PredictBlock(RefPlane(0, s, sel), x, y + 8 * r, mv, 16, 8, pY + r * 8 * 16, 16);
      if (!pCb) continue;
      const int ch = m_ch / 2;
      PredictBlock(RefPlane(1, s, sel), cx, cy + r * ch, mc, m_cw, ch, pCb + r * ch * m_cw, m_cw);
      PredictBlock(RefPlane(2, s, sel), cx, cy + r * ch, mc, m_cw, ch, pCr + r * ch * m_cw, m_cw);
    }
    return;
  }
  // Field prediction in a frame picture: each field of the macroblock from a chosen field.
  for (int r = 0; r < 2; ++r) {
    const int sel = m.sel[r][s];
    const Mv mv = m.mv[r][s], mc = ChromaMv(mv, g);
    PredictBlock(FieldOf(RefPlane(0, s, 0), sel), x, y / 2, mv, 16, 8, pY + r * 16, 32);
    if (!pCb) continue;
    PredictBlock(FieldOf(RefPlane(1, s, 0), sel), cx, cy / 2, mc, m_cw, m_ch / 2, pCb + r * m_cw, 2 * m_cw);
    PredictBlock(FieldOf(RefPlane(2, s, 0), sel), cx, cy / 2, mc, m_cw, m_ch / 2, pCr + r * m_cw, 2 * m_cw);
  }
}

void PictureCoder::BuildPrediction(const Decision& d, int mbx, int mby, uint8_t* pY, uint8_t* pCb,
                                   uint8_t* pCr) {
  const bool f = d.nFlags & vlc::kMbForward, b = d.nFlags & vlc::kMbBackward;
  if (m_pic->nType == kPictureP && !f) {
    // No motion compensation: zero vector, frame prediction (or the same-parity field).
    Motion zero;
    zero.nType = m_bFieldPic ? 1 : 2;
    zero.sel[0][0] = zero.sel[1][0] = m_nParity;
    PredictOne(zero, 0, mbx, mby, pY, pCb, pCr);
    return;
  }
  if (f) PredictOne(d.m, 0, mbx, mby, pY, pCb, pCr);
  if (b) {
    if (!f) {
      PredictOne(d.m, 1, mbx, mby, pY, pCb, pCr);
    } else {
      uint8_t y2[256], cb2[256], cr2[256];
      PredictOne(d.m, 1, mbx, mby, y2, pCb ? cb2 : nullptr, cr2);
      AverageInto(pY, y2, 256);
      if (!pCb) return;
      AverageInto(pCb, cb2, m_cw * m_ch);
      AverageInto(pCr, cr2, m_cw * m_ch);
    }
  }
}

bool PictureCoder::ChooseFieldDct(const uint8_t* pSrc, int nStride, const uint8_t* pPred) const {
  int r[16][16];
  for (int i = 0; i < 16; ++i)
    for (int j = 0; j < 16; ++j) r[i][j] = pSrc[i * nStride + j] - (pPred ? pPred[i * 16 + j] : 0);
  int nFrame = 0, nField = 0;
  for (int i = 0; i < 15; ++i)
    for (int j = 0; j < 16; ++j) nFrame += std::abs(r[i][j] - r[i + 1][j]);
  for (int i = 0; i < 14; ++i)
    for (int j = 0; j < 16; ++j) nField += std::abs(r[i][j] - r[i + 2][j]);
  // Field DCT only where the lines of one field are far smoother than adjacent lines (strong
  // combing). Chosen on the plain comparison, it lost 0.4 dB on a woven zoom at 8 Mbit/s and 0.7
  // on woven testsrc2 at 5 Mbit/s: a motion-compensated residual is rarely combed, and the frame
  // DCT keeps the vertical correlation between the fields.
  return nField * 3 < nFrame;
}

void PictureCoder::KeepTrial(int nFlags, const Motion& m, int nCost) {
  // The few cheapest candidates by SAD, each once, cheapest first.
  if (nCost >= 1 << 30) return;  // not searched
  for (int i = 0; i < m_nTrials; ++i)
    if (m_trials[i].nFlags == nFlags && (nFlags == vlc::kMbIntra || SameMotion(m_trials[i].m, m, nFlags)))
      return;
  int i = std::min(m_nTrials, kMaxTrials - 1);
  if (i == kMaxTrials - 1 && m_nTrials == kMaxTrials && m_trials[i].nCost <= nCost) return;
  for (; i > 0 && m_trials[i - 1].nCost > nCost; --i) m_trials[i] = m_trials[i - 1];
  m_trials[i].nFlags = nFlags;
  m_trials[i].m = m;
  m_trials[i].nCost = nCost;
  m_trials[i].bFieldDct = false;
  m_nTrials = std::min(m_nTrials + 1, kMaxTrials);
}

PictureCoder::Decision PictureCoder::Decide(int mbx, int mby, const Decision* pPrev) {
  m_nTrials = 0;
  Decision d;
  const int x = mbx * 16, y = mby * 16;
  const uint8_t* cur = m_src.y.p + static_cast<ptrdiff_t>(y) * m_src.y.nStride + x;
  if (m_pic->nType == kPictureI) {
    d.nFlags = vlc::kMbIntra;
    d.bFieldDct = m_bFrameFieldModes && ChooseFieldDct(cur, m_src.y.nStride, nullptr);
    KeepTrial(d.nFlags, d.m, 0);
    return d;
  }
  const int lam = m_nLambda16;
  auto bits = [lam](int n) { return (lam * n) >> 4; };
  const DirectionResult fw = SearchDirection(0, mbx, mby);
  const bool bTwoVectorModes = m_bFrameFieldModes || m_bFieldPic;
  // Costs are SAD plus lambda times the bits of the vectors and of macroblock_type.
  const int nFwdType = m_pic->nType == kPictureP ? 1 : 4, nBwdType = 3, nBiType = 2;
  Candidate best = fw.frame;
  best.nCost += bits(nFwdType);
  d.nFlags = vlc::kMbForward;
  KeepTrial(d.nFlags, best.m, best.nCost);
  if (bTwoVectorModes) KeepTrial(vlc::kMbForward, fw.field.m, fw.field.nCost + bits(nFwdType));
  if (m_bFieldPic) KeepTrial(vlc::kMbForward, fw.other.m, fw.other.nCost + bits(nFwdType));
  if (bTwoVectorModes && fw.field.nCost + bits(nFwdType) < best.nCost) {
    best = fw.field;
    best.nCost += bits(nFwdType);
  }
  auto consider = [&](const Candidate& c, int nExtra, int nFlags) {
    KeepTrial(nFlags, c.m, c.nCost + nExtra);
    if (c.nCost + nExtra < best.nCost) {
      best = c;
      best.nCost += nExtra;
      d.nFlags = nFlags;
    }
  };
  uint8_t py[256];
  if (m_pic->nType == kPictureP) {
    // The zero vector costs no vector bits and allows skipping.
    Motion zero;
    zero.nType = m_bFieldPic ? 1 : 2;
    zero.sel[0][0] = zero.sel[1][0] = m_nParity;
    // (Not in the second field of an I frame: it may refer to the first field only.)
    if (!m_pic->bOwnFrameOnly && !(best.m == zero)) {
      PredictOne(zero, 0, mbx, mby, py, nullptr, nullptr);
      Candidate c;
      c.m = zero;
      c.nSad = Sad16(cur, m_src.y.nStride, py, 16, 16);
      c.nCost = c.nSad;
      consider(c, 0, vlc::kMbForward);
    }
  } else {
    const DirectionResult bw = SearchDirection(1, mbx, mby);
    consider(bw.frame, bits(nBwdType), vlc::kMbBackward);
    if (bTwoVectorModes) consider(bw.field, bits(nBwdType), vlc::kMbBackward);
    if (m_bFieldPic) KeepTrial(vlc::kMbBackward, bw.other.m, bw.other.nCost + bits(nBwdType));
    // Both directions with the same motion type; in field pictures also with the other field in
    // one direction.
    const int nTypes = m_bFieldPic ? 5 : (bTwoVectorModes ? 2 : 1);
    for (int t = 0; t < nTypes; ++t) {
      const Candidate& cf = t == 1 ? fw.field : (t == 2 || t == 4 ? fw.other : fw.frame);
      const Candidate& cb = t == 1 ? bw.field : (t >= 3 ? bw.other : bw.frame);
      if (cf.nCost >= 1 << 30 || cb.nCost >= 1 << 30) continue;
      Candidate both;
      both.m = cf.m;
      for (int r = 0; r < 2; ++r) {
        both.m.mv[r][1] = cb.m.mv[r][1];
        both.m.sel[r][1] = cb.m.sel[r][1];
      }
      Decision tmp;
      tmp.nFlags = vlc::kMbForward | vlc::kMbBackward;
      tmp.m = both.m;
      BuildPrediction(tmp, mbx, mby, py, nullptr, nullptr);
      both.nSad = Sad16(cur, m_src.y.nStride, py, 16, 16);
      both.nCost = both.nSad + (cf.nCost - cf.nSad) + (cb.nCost - cb.nSad);
      consider(both, bits(nBiType), tmp.nFlags);
    }
    // The previous macroblock's prediction again: no vector bits, and skipped when nothing is
    // left to code.
    Decision again;
    again.nFlags = pPrev ? pPrev->nFlags & (vlc::kMbForward | vlc::kMbBackward) : 0;
    if (pPrev && SkipMotion(*pPrev, &again.m) && Fits(again.m, again.nFlags, mbx, mby) &&
        !(again.nFlags == d.nFlags && SameMotion(again.m, best.m, d.nFlags))) {
      BuildPrediction(again, mbx, mby, py, nullptr, nullptr);
      Candidate c;
      c.m = again.m;
      c.nSad = Sad16(cur, m_src.y.nStride, py, 16, 16);
      c.nCost = c.nSad;
      consider(c, bits(2), again.nFlags);
    }
  }
  d.m = best.m;
  d.nCost = best.nCost;
  const int nIntraCost = IntraCost(cur, m_src.y.nStride) + ((kIntraBias * lam) >> 4);
  KeepTrial(vlc::kMbIntra, Motion{}, nIntraCost);
  if (nIntraCost < best.nCost) {
    d.nFlags = vlc::kMbIntra;
    d.m = Motion{};
    d.bFieldDct = m_bFrameFieldModes && ChooseFieldDct(cur, m_src.y.nStride, nullptr);
  }
  return d;
}

void PictureCoder::BlockGeometry(int b, bool bFieldDct, int* pComp, int* pX, int* pY, int* pStep) const {
  if (b < 4) {
    *pComp = 0;
    *pX = (b & 1) * 8;
    *pY = bFieldDct ? (b >> 1) : (b >> 1) * 8;
    *pStep = bFieldDct ? 2 : 1;
    return;
  }
  // ISO/IEC 13818-2 6.1.3.4: Cb, Cr alternate; within a component top-left, bottom-left, then the
  // right column (4:4:4).
  const int j = (b - 4) >> 1;
  *pComp = 1 + ((b - 4) & 1);
  *pX = (j >> 1) * 8;
  const bool bField = bFieldDct && m_ch == 16;
  *pY = bField ? (j & 1) : (j & 1) * 8;
  *pStep = bField ? 2 : 1;
}

int PictureCoder::TransformBlocks(const Decision& d, int mbx, int mby, const uint8_t* pY, const uint8_t* pCb,
                                  const uint8_t* pCr, int q) {
  const Geometry& g = m_seq.g;
  const bool bIntra = d.nFlags & vlc::kMbIntra;
  int nCbp = 0;
  for (int b = 0; b < g.nBlocks; ++b) {
    int comp, bx, by, step;
    BlockGeometry(b, d.bFieldDct, &comp, &bx, &by, &step);
    const Plane& src = comp == 0 ? m_src.y : (comp == 1 ? m_src.cb : m_src.cr);
    const int ox = comp == 0 ? mbx * 16 : mbx * m_cw, oy = comp == 0 ? mby * 16 : mby * m_ch;
    const uint8_t* s = src.p + static_cast<ptrdiff_t>(oy + by) * src.nStride + ox + bx;
    const int nPredStride = comp == 0 ? 16 : m_cw;
    const uint8_t* p = (comp == 0 ? pY : (comp == 1 ? pCb : pCr)) + by * nPredStride + bx;
    alignas(16) short blk[64];
    if (bIntra) {
      LoadSamples(s, step * src.nStride, blk);
      m_block.QuantIntra(blk, m_levels[b], q);
      nCbp |= 1 << (g.nBlocks - 1 - b);
    } else {
      const int nAbs = LoadResidual(s, step * src.nStride, p, step * nPredStride, blk);
      if (m_block.QuantInter(blk, m_levels[b], q, nAbs, &m_scanMask[b])) nCbp |= 1 << (g.nBlocks - 1 - b);
    }
  }
  return nCbp;
}

void PictureCoder::ReconstructBlocks(const Decision& d, int mbx, int mby, const uint8_t* pY,
                                     const uint8_t* pCb, const uint8_t* pCr, int nCbp, int q) {
  const Geometry& g = m_seq.g;
  const bool bIntra = d.nFlags & vlc::kMbIntra;
  for (int b = 0; b < g.nBlocks; ++b) {
    int comp, bx, by, step;
    BlockGeometry(b, d.bFieldDct, &comp, &bx, &by, &step);
    const Plane& dst = comp == 0 ? m_rec.y : (comp == 1 ? m_rec.cb : m_rec.cr);
    const int ox = comp == 0 ? mbx * 16 : mbx * m_cw, oy = comp == 0 ? mby * 16 : mby * m_ch;
    uint8_t* o = dst.p + static_cast<ptrdiff_t>(oy + by) * dst.nStride + ox + bx;
    const int nPredStride = comp == 0 ? 16 : m_cw;
    const uint8_t* p = (comp == 0 ? pY : (comp == 1 ? pCb : pCr)) + by * nPredStride + bx;
    const bool bCoded = nCbp & (1 << (g.nBlocks - 1 - b));
    if (!bCoded) {
      for (int r = 0; r < 8; ++r) std::memcpy(o + r * step * dst.nStride, p + r * step * nPredStride, 8);
      continue;
    }
    alignas(16) short res[64];
    m_block.Reconstruct(m_levels[b], res, q, bIntra);
    AddClamp(bIntra ? nullptr : p, step * nPredStride, res, o, step * dst.nStride);
  }
}

void PictureCoder::WriteMotion(BitSink& s, const Decision& d, int nDir) {
  // ISO/IEC 13818-2 6.2.5.2 motion_vectors(s) with 7.6.3 prediction.
  const VlcEncoder& v = VlcEncoder::Get();
  const int nF = (nDir == 0 ? m_pic->fwd : m_pic->bwd).nFCode;
  const int f = 1 << (nF - 1);
  auto code = [&](int nValue, int nPred) {
    int nDelta = nValue - nPred;
    if (nDelta < -16 * f) nDelta += 32 * f;
    if (nDelta > 16 * f - 1) nDelta -= 32 * f;
    v.PutMotionDelta(s, nDelta, nF);
  };
  if (m_bFieldPic && d.m.nType == 2) {  // 16x8: a predictor per half, vectors in field units
    for (int r = 0; r < 2; ++r) {
      s.Put(static_cast<uint32_t>(d.m.sel[r][nDir]), 1);
      const Mv mv = d.m.mv[r][nDir];
      code(mv.x, m_pmv[r][nDir].x);
      code(mv.y, m_pmv[r][nDir].y);
      m_pmv[r][nDir] = mv;
    }
    return;
  }
  const bool bFrameFieldMv = !m_bFieldPic && d.m.nType == 1;
  if (!bFrameFieldMv) {
    if (m_bFieldPic) s.Put(static_cast<uint32_t>(d.m.sel[0][nDir]), 1);
    const Mv mv = d.m.mv[0][nDir];
    code(mv.x, m_pmv[0][nDir].x);
    code(mv.y, m_pmv[0][nDir].y);
    m_pmv[0][nDir] = m_pmv[1][nDir] = mv;
    return;
  }
  for (int r = 0; r < 2; ++r) {
    s.Put(static_cast<uint32_t>(d.m.sel[r][nDir]), 1);
    const Mv mv = d.m.mv[r][nDir];
    code(mv.x, m_pmv[r][nDir].x);
    code(mv.y, m_pmv[r][nDir].y >> 1);
    m_pmv[r][nDir] = Mv{mv.x, mv.y * 2};
  }
}

int PictureCoder::Prepare(Decision* pD, int mbx, int mby, int q, uint8_t* pY, uint8_t* pCb, uint8_t* pCr) {
  const uint8_t* cur = m_src.y.p + static_cast<ptrdiff_t>(mby) * 16 * m_src.y.nStride + mbx * 16;
  if (pD->nFlags & vlc::kMbIntra) {
    pD->bFieldDct = m_bFrameFieldModes && ChooseFieldDct(cur, m_src.y.nStride, nullptr);
  } else {
    BuildPrediction(*pD, mbx, mby, pY, pCb, pCr);
    pD->bFieldDct = m_bFrameFieldModes && ChooseFieldDct(cur, m_src.y.nStride, pY);
  }
  return TransformBlocks(*pD, mbx, mby, pY, pCb, pCr, q);
}

bool PictureCoder::CanSkip(const Decision& d, int nCbp, bool bEdge, const Decision* pPrev) const {
  // ISO/IEC 13818-2 7.6.6; never the first or last macroblock of a slice.
  if ((d.nFlags & vlc::kMbIntra) || nCbp != 0 || bEdge) return false;
  if (m_pic->nType == kPictureP) return ZeroMotion(d.m);
  const int nDirs = d.nFlags & (vlc::kMbForward | vlc::kMbBackward);
  Motion skipped;
  return pPrev && SkipMotion(*pPrev, &skipped) &&
         nDirs == (pPrev->nFlags & (vlc::kMbForward | vlc::kMbBackward)) && SameMotion(d.m, skipped, nDirs);
}

bool PictureCoder::ZeroMotion(const Motion& m) const {
  // The zero frame vector (same-parity field in field pictures): what "No MC" and a skipped P
  // macroblock predict with.
  return m.mv[0][0] == Mv{} && m.nType == (m_bFieldPic ? 1 : 2) && (!m_bFieldPic || m.sel[0][0] == m_nParity);
}

int PictureCoder::FlagsFor(Decision* pD, int nCbp, int q, int nQ) const {
  if (pD->nFlags & vlc::kMbIntra) return vlc::kMbIntra | (q != nQ ? vlc::kMbQuant : 0);
  // A zero vector in a P picture needs no motion: "No MC".
  if (m_pic->nType == kPictureP && nCbp != 0 && ZeroMotion(pD->m)) pD->nFlags = 0;
  int nFlags = pD->nFlags;
  if (nCbp) nFlags |= vlc::kMbPattern | (q != nQ ? vlc::kMbQuant : 0);
  return nFlags;
}

void PictureCoder::PutMacroblock(BitSink& s, const Decision& d, int nFlags, int nCbp, int nQ, int* dcPred) {
  // ISO/IEC 13818-2 6.2.5 macroblock() after the address increment.
  const VlcEncoder& v = VlcEncoder::Get();
  const Geometry& g = m_seq.g;
  const PictureSetup& pic = *m_pic;
  const VlcCode* mbTypes =
      pic.nType == kPictureI ? v.mbTypeI : (pic.nType == kPictureP ? v.mbTypeP : v.mbTypeB);
  const bool bIntra = nFlags & vlc::kMbIntra;
  s.Put(mbTypes[nFlags].nCode, mbTypes[nFlags].nLength);
  // frame_pred_frame_dct 0 or a field picture: motion types; interlaced frames: the DCT type.
  if (!pic.bProgressiveFrame && (nFlags & (vlc::kMbForward | vlc::kMbBackward)))
    s.Put(static_cast<uint32_t>(d.m.nType), 2);
  if (m_bFrameFieldModes && (nFlags & (vlc::kMbIntra | vlc::kMbPattern))) s.Put(d.bFieldDct ? 1 : 0, 1);
  if (nFlags & vlc::kMbQuant) s.Put(static_cast<uint32_t>(nQ), 5);
  if (nFlags & vlc::kMbForward) WriteMotion(s, d, 0);
  if (nFlags & vlc::kMbBackward) WriteMotion(s, d, 1);
  if (nFlags & vlc::kMbPattern) {
    const int nExtra = g.nBlocks - 6;
    const int c6 = nCbp >> nExtra;
    s.Put(v.cbp[c6].nCode, v.cbp[c6].nLength);
    if (nExtra) s.Put(static_cast<uint32_t>(nCbp) & ((1u << nExtra) - 1), nExtra);
  }
  for (int b = 0; b < g.nBlocks; ++b) {
    if (bIntra) {
      const int comp = b < 4 ? 0 : 1 + ((b - 4) & 1);
      m_block.WriteIntra(s, m_levels[b], comp == 0, &dcPred[comp]);
    } else if (nCbp & (1 << (g.nBlocks - 1 - b))) {
      m_block.WriteInter(s, m_levels[b], m_scanMask[b]);
    }
  }
  // ISO/IEC 13818-2 7.2.1 and 7.6.3.4 predictor resets.
  if (!bIntra) dcPred[0] = dcPred[1] = dcPred[2] = m_block.DcReset();
  if (bIntra || (pic.nType == kPictureP && !(nFlags & vlc::kMbForward)))
    m_pmv[0][0] = m_pmv[0][1] = m_pmv[1][0] = m_pmv[1][1] = Mv{};
}

int64_t PictureCoder::SquaredError(int mbx, int mby) const {
  int64_t n = 0;
  auto add = [&n](const Plane& a, const Plane& b, int x, int y, int w, int h) {
    for (int r = 0; r < h; ++r) {
      const uint8_t* pa = a.p + static_cast<ptrdiff_t>(y + r) * a.nStride + x;
      const uint8_t* pb = b.p + static_cast<ptrdiff_t>(y + r) * b.nStride + x;
      int c = 0;
#if defined(__SSE2__)
      const __m128i z = _mm_setzero_si128();
      __m128i acc = z;
      for (; c + 8 <= w; c += 8) {
        const __m128i d =
            _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pa + c)), z),
                          _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pb + c)), z));
        acc = _mm_add_epi32(acc, _mm_madd_epi16(d, d));
      }
      acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0x4E));
      acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0xB1));
      n += _mm_cvtsi128_si32(acc);
#endif
      for (; c < w; ++c) n += (pa[c] - pb[c]) * (pa[c] - pb[c]);
    }
  };
  add(m_src.y, m_rec.y, mbx * 16, mby * 16, 16, 16);
  add(m_src.cb, m_rec.cb, mbx * m_cw, mby * m_ch, m_cw, m_ch);
  add(m_src.cr, m_rec.cr, mbx * m_cw, mby * m_ch, m_cw, m_ch);
  return n;
}

PictureCoder::Decision PictureCoder::BestTrial(int mbx, int mby, int* pQ, bool bFiner, bool bCoarser, int nQ,
                                               bool bEdge, const Decision* pPrev, const int* dcPred,
                                               uint8_t* pY, uint8_t* pCb, uint8_t* pCr, int* pCbp) {
  // The cheapest candidates by SAD coded for real: squared error of the reconstruction plus
  // lambda times the macroblock's bits. The trial reconstruction goes where the macroblock's own
  // will (nothing of this picture reads it before then).
  const int q = *pQ;
  const double dLambda = kRdLambda * q * q;
  const int nChroma = m_cw * m_ch;
  Mv savedPmv[2][2];
  std::memcpy(savedPmv, m_pmv, sizeof m_pmv);
  Decision best;
  double dBest = 0;
  bool bLastIsBest = false;
  // Codes t at nQuant; keeps it (and its prediction) when it is the cheapest so far.
  auto trial = [&](Decision t, int nQuant) {
    const int nCbp = Prepare(&t, mbx, mby, nQuant, pY, pCb, pCr);
    int64_t nBits = 0;
    if (!CanSkip(t, nCbp, bEdge, pPrev)) {
      Decision coded = t;
      const int nFlags = FlagsFor(&coded, nCbp, nQuant, nQ);
      int dc[3] = {dcPred[0], dcPred[1], dcPred[2]};
      m_scratch.Attach(nullptr);
      PutMacroblock(m_scratch, coded, nFlags, nCbp, (nFlags & vlc::kMbQuant) ? nQuant : nQ, dc);
      std::memcpy(m_pmv, savedPmv, sizeof m_pmv);
      nBits = m_scratch.BitCount() + 1;
    }
    ReconstructBlocks(t, mbx, mby, pY, pCb, pCr, nCbp, nQuant);
    const double dCost = static_cast<double>(SquaredError(mbx, mby)) + dLambda * static_cast<double>(nBits);
    bLastIsBest = best.nFlags == -1 || dCost < dBest;
    if (!bLastIsBest) return;
    dBest = dCost;
    best = t;
    *pQ = nQuant;
    std::memcpy(m_kept.y, pY, 256);
    std::memcpy(m_kept.cb, pCb, nChroma);
    std::memcpy(m_kept.cr, pCr, nChroma);
  };
  best.nFlags = -1;
  // Ranked on quick levels; the winner's are chosen by rate and distortion below.
  m_block.SetQuickLevels(true);
  const int nTrials = m_pic->bProgressiveFrame ? std::min(m_nTrials, kProgressiveTrials) : m_nTrials;
  for (int i = 0; i < nTrials; ++i) trial(m_trials[i], q);
  // The chosen prediction one quantiser step either side, at the same lambda (the rate control
  // answers for the budget): each macroblock where its bits buy the most. Not coarser where the
  // rate control is held at its floor (the budget does not bind there: without this, testsrc2
  // woven asked for 8 Mbit/s spent 5.2 instead of 5.7, 1 dB less), not finer close to the VBV cap.
  // Interlaced pictures only: on noisy progressive material it moved bits from textured to smooth
  // macroblocks, +0.05 dB but SSIM below ffmpeg's (0.6601 against 0.6615 at 5 Mbit/s).
  if (!m_pic->bProgressiveFrame) {
    const int nFloor =
        RateControl::MinQuant(m_pic->bOwnFrameOnly ? RateControl::kIntraSecondField : m_pic->nType);
    const Decision chosen = best;
    for (int nQuant : {q - 1, q + 1})
      if (nQuant >= nFloor && nQuant <= 31 && (nQuant > q ? bCoarser : bFiner)) trial(chosen, nQuant);
  }
  if (!bLastIsBest) {
    std::memcpy(pY, m_kept.y, 256);
    std::memcpy(pCb, m_kept.cb, nChroma);
    std::memcpy(pCr, m_kept.cr, nChroma);
  }
  m_block.SetQuickLevels(false);
  *pCbp = TransformBlocks(best, mbx, mby, pY, pCb, pCr, *pQ);  // the caller reconstructs it
  return best;
}

double PictureCoder::Code(const PictureSetup& pic, BitSink& s, RateControl& rc) {
  const Geometry& g = m_seq.g;
  const VlcEncoder& v = VlcEncoder::Get();
  m_pic = &pic;
  m_bFieldPic = pic.nStructure != kFramePicture;
  m_nParity = pic.nStructure == kBottomField ? 1 : 0;
  m_bFrameFieldModes = !m_bFieldPic && !pic.bProgressiveFrame;
  m_src = m_bFieldPic ? FieldOf(pic.source, m_nParity) : pic.source;
  m_rec = m_bFieldPic ? FieldOf(pic.recon, m_nParity) : pic.recon;
  m_nMbW = g.nMbWidth;
  m_nMbH = m_bFieldPic ? g.nMbHeight / 2 : g.nMbHeight;
  const bool bRecon = pic.nType != kPictureB || m_bReconB;

  WritePictureHeader(pic, s);
  m_block.SetAlternateScan(AlternateScan(pic));
  // The second field of an I frame predicts from the first only: budgeted against the P fields,
  // it wound their quantiser up (the next P fields of the GOP went to 5 to 7 and 2 dB below the
  // rest), so it has a type of its own.
  rc.StartPicture(pic.bOwnFrameOnly ? RateControl::kIntraSecondField : pic.nType);
  const int64_t nStart = s.BitCount();
  for (auto& a : m_above) std::fill(std::begin(a), std::end(a), Mv{});

  double dQSum = 0;
  int nQCount = 0;
  int nQ = 1;
  int nLastAddr = -1;
  int dcPred[3] = {0, 0, 0};
  Decision prev;
  bool bHavePrev = false;
  alignas(16) uint8_t py[256], pcb[256], pcr[256];
  for (int mby = 0; mby < m_nMbH; ++mby) {
    // ISO/IEC 11172-2 has slice_vertical_position 1..175; later rows continue the last slice.
    const bool bNewSlice = m_seq.bMpeg2 || mby < 175;
    const bool bSliceEnds = m_seq.bMpeg2 || mby + 1 == m_nMbH || mby + 1 < 175;
    if (bNewSlice) {
      const int q = rc.MbQuant(mby * m_nMbW, s.BitCount() - nStart);
      // ISO/IEC 13818-2 6.2.4 slice(); the extension carries rows beyond 2800 lines.
      s.StartCode(static_cast<uint32_t>((mby & 127) + 1));
      if (m_seq.bMpeg2 && g.nHeight > 2800) s.Put(static_cast<uint32_t>(mby >> 7), 3);
      s.Put(static_cast<uint32_t>(q), 5);
      s.Put(0, 1);  // extra_bit_slice
      nQ = q;
      nLastAddr = mby * m_nMbW - 1;
      dcPred[0] = dcPred[1] = dcPred[2] = m_block.DcReset();
      m_pmv[0][0] = m_pmv[0][1] = m_pmv[1][0] = m_pmv[1][1] = Mv{};
      bHavePrev = false;
    }
    m_left[0] = m_left[1] = Mv{};
    m_nLastSad[0] = m_nLastSad[1] = 0;
    for (int mbx = 0; mbx < m_nMbW; ++mbx) {
      const int nAddr = mby * m_nMbW + mbx;
      const bool bEdge = (bNewSlice && mbx == 0) || (bSliceEnds && mbx == m_nMbW - 1);
      int q = rc.MbQuant(nAddr, s.BitCount() - nStart);
      m_nLambda16 = LambdaFor(q);
      const Decision* pPrev = bHavePrev ? &prev : nullptr;
      Decision d = Decide(mbx, mby, pPrev);
      int nCbp = 0;
      if (m_nTrials > 0)
        d = BestTrial(mbx, mby, &q, !rc.HeldAtCap(), !rc.HeldAtFloor(), nQ, bEdge, pPrev, dcPred, py, pcb,
                      pcr, &nCbp);
      else
        nCbp = Prepare(&d, mbx, mby, q, py, pcb, pcr);
      const bool bIntra = d.nFlags & vlc::kMbIntra;
      if (CanSkip(d, nCbp, bEdge, pPrev)) {
        dcPred[0] = dcPred[1] = dcPred[2] = m_block.DcReset();
        if (pic.nType == kPictureP) m_pmv[0][0] = m_pmv[1][0] = Mv{};
        if (bRecon) ReconstructBlocks(d, mbx, mby, py, pcb, pcr, 0, nQ);
        m_left[0] = d.m.mv[0][0];
        m_left[1] = d.m.mv[0][1];
        m_above[0][mbx] = m_left[0];
        m_above[1][mbx] = m_left[1];
        dQSum += nQ;
        ++nQCount;
        continue;
      }
      const int nFlags = FlagsFor(&d, nCbp, q, nQ);
      if (nFlags & vlc::kMbQuant) nQ = q;
      v.PutAddressIncrement(s, nAddr - nLastAddr);
      nLastAddr = nAddr;
      if ((nFlags & (vlc::kMbForward | vlc::kMbBackward)) && TwoVectors(d.m))
        ++(m_bFieldPic ? m_counts.n16x8 : m_counts.nFieldInFrame);
      PutMacroblock(s, d, nFlags, nCbp, nQ, dcPred);
      if (bRecon) ReconstructBlocks(d, mbx, mby, py, pcb, pcr, nCbp, nQ);
      prev = d;
      prev.nFlags = bIntra ? vlc::kMbIntra : (d.nFlags & (vlc::kMbForward | vlc::kMbBackward));
      if (pic.nType == kPictureP && !(nFlags & vlc::kMbForward)) prev.nFlags = 0;
      bHavePrev = true;
      m_left[0] = bIntra ? Mv{} : d.m.mv[0][0];
      m_left[1] = bIntra ? Mv{} : d.m.mv[0][1];
      m_above[0][mbx] = m_left[0];
      m_above[1][mbx] = m_left[1];
      dQSum += nQ;
      ++nQCount;
    }
  }
  return nQCount ? dQSum / nQCount : 1.0;
}

}  // namespace pxenc
