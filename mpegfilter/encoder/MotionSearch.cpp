// Diamond search seeded by neighbouring vectors, then the eight half-sample neighbours.
// A full search of the P window (23 x 23 positions) cost about 20 times as much for a gain below
// 0.1 dB on camera-like material, so the seeded search is used throughout.
#include "mpegfilter/encoder/MotionSearch.h"

#include <algorithm>
#include <cstdlib>

#include "mpegfilter/encoder/VlcEncoder.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pxenc {

#if defined(__SSE2__)
namespace {

template <bool kWide>
inline __m128i LoadRow(const uint8_t* p) {
  return kWide ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(p))
               : _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

// One predicted row of 16 (or 8) samples (ISO/IEC 13818-2 7.6.4): (a + b + 1) >> 1 is pavgb; the
// four-sample mean is formed in 16 bits to stay exact. kHalf bit 0: horizontal, bit 1: vertical.
template <bool kWide, int kHalf>
inline __m128i PredRow(const uint8_t* a, int st) {
  const __m128i va = LoadRow<kWide>(a);
  if (kHalf == 0) return va;
  if (kHalf == 1) return _mm_avg_epu8(va, LoadRow<kWide>(a + 1));
  if (kHalf == 2) return _mm_avg_epu8(va, LoadRow<kWide>(a + st));
  const __m128i z = _mm_setzero_si128(), two = _mm_set1_epi16(2);
  const __m128i vb = LoadRow<kWide>(a + 1), vc = LoadRow<kWide>(a + st), vd = LoadRow<kWide>(a + st + 1);
  __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(va, z), _mm_unpacklo_epi8(vb, z)),
                             _mm_add_epi16(_mm_unpacklo_epi8(vc, z), _mm_unpacklo_epi8(vd, z)));
  lo = _mm_srli_epi16(_mm_add_epi16(lo, two), 2);
  if (!kWide) return _mm_packus_epi16(lo, lo);
  __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(va, z), _mm_unpackhi_epi8(vb, z)),
                             _mm_add_epi16(_mm_unpackhi_epi8(vc, z), _mm_unpackhi_epi8(vd, z)));
  hi = _mm_srli_epi16(_mm_add_epi16(hi, two), 2);
  return _mm_packus_epi16(lo, hi);
}

template <bool kWide, int kHalf>
void PredictRows(const uint8_t* s, int st, int nH, uint8_t* dst, int nDstStride) {
  for (int r = 0; r < nH; ++r) {
    const __m128i o = PredRow<kWide, kHalf>(s + r * st, st);
    if (kWide)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + r * nDstStride), o);
    else
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + r * nDstStride), o);
  }
}

template <bool kWide>
void PredictRowsAny(const uint8_t* s, int st, int nHalf, int nH, uint8_t* dst, int nDstStride) {
  switch (nHalf) {
    case 0:
      return PredictRows<kWide, 0>(s, st, nH, dst, nDstStride);
    case 1:
      return PredictRows<kWide, 1>(s, st, nH, dst, nDstStride);
    case 2:
      return PredictRows<kWide, 2>(s, st, nH, dst, nDstStride);
    default:
      return PredictRows<kWide, 3>(s, st, nH, dst, nDstStride);
  }
}

template <int kHalf>
int SadHalfRows(const uint8_t* cur, int nCurStride, const uint8_t* ref, int nRefStride, int nRows) {
  __m128i acc = _mm_setzero_si128();
  for (int i = 0; i < nRows; ++i) {
    const __m128i p = PredRow<true, kHalf>(ref + i * nRefStride, nRefStride);
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + i * nCurStride));
    acc = _mm_add_epi64(acc, _mm_sad_epu8(c, p));
  }
  return _mm_cvtsi128_si32(acc) + _mm_extract_epi16(acc, 4);
}

}  // namespace
#endif

int SadHalf16(const uint8_t* cur, int nCurStride, const uint8_t* ref, int nRefStride, int nHalf, int nRows) {
#if defined(__SSE2__)
  switch (nHalf) {
    case 0:
      return Sad16(cur, nCurStride, ref, nRefStride, nRows);
    case 1:
      return SadHalfRows<1>(cur, nCurStride, ref, nRefStride, nRows);
    case 2:
      return SadHalfRows<2>(cur, nCurStride, ref, nRefStride, nRows);
    default:
      return SadHalfRows<3>(cur, nCurStride, ref, nRefStride, nRows);
  }
#else
  uint8_t tmp[16 * 16];
  Plane pl{const_cast<uint8_t*>(ref), nRefStride, 32767, 32767};
  PredictBlock(pl, 0, 0, Mv{nHalf & 1, nHalf >> 1}, 16, nRows, tmp, 16);
  return Sad16(cur, nCurStride, tmp, 16, nRows);
#endif
}

void PredictBlock(const Plane& ref, int x, int y, Mv mv, int nW, int nH, uint8_t* dst, int nDstStride) {
  // ISO/IEC 13818-2 7.6.4: integer part by floor, half flag by the low bit.
  const int ix = x + (mv.x >> 1), iy = y + (mv.y >> 1);
  const bool hx = mv.x & 1, hy = mv.y & 1;
  const uint8_t* s = ref.p + static_cast<ptrdiff_t>(iy) * ref.nStride + ix;
  const int st = ref.nStride;
#if defined(__SSE2__)
  if (nW == 16 || nW == 8) {
    const int nHalf = (hx ? 1 : 0) | (hy ? 2 : 0);
    if (nW == 16)
      PredictRowsAny<true>(s, st, nHalf, nH, dst, nDstStride);
    else
      PredictRowsAny<false>(s, st, nHalf, nH, dst, nDstStride);
    return;
  }
#endif
  if (!hx && !hy) {
    for (int r = 0; r < nH; ++r) std::copy_n(s + r * st, nW, dst + r * nDstStride);
  } else if (hx && !hy) {
    for (int r = 0; r < nH; ++r)
      for (int c = 0; c < nW; ++c)
        dst[r * nDstStride + c] = static_cast<uint8_t>((s[r * st + c] + s[r * st + c + 1] + 1) >> 1);
  } else if (!hx && hy) {
    for (int r = 0; r < nH; ++r)
      for (int c = 0; c < nW; ++c)
        dst[r * nDstStride + c] = static_cast<uint8_t>((s[r * st + c] + s[(r + 1) * st + c] + 1) >> 1);
  } else {
    for (int r = 0; r < nH; ++r)
      for (int c = 0; c < nW; ++c)
        dst[r * nDstStride + c] = static_cast<uint8_t>(
            (s[r * st + c] + s[r * st + c + 1] + s[(r + 1) * st + c] + s[(r + 1) * st + c + 1] + 2) >> 2);
  }
}

void AverageInto(uint8_t* dst, const uint8_t* other, int nCount) {
  int i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= nCount; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(other + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_avg_epu8(a, b));
  }
#endif
  for (; i < nCount; ++i) dst[i] = static_cast<uint8_t>((dst[i] + other[i] + 1) >> 1);
}

int MotionDeltaBits(int nDelta, int nFCode) {
  if (nDelta == 0) return 1;
  const int nRSize = nFCode - 1;
  const int nAbs = nDelta < 0 ? -nDelta : nDelta;
  const int nCode = std::min(16, ((nAbs - 1) >> nRSize) + 1);
  return VlcEncoder::Get().motion[nCode].nLength + 1 + nRSize;
}

namespace {

struct Bounds {
  int x0, x1, y0, y1;  // half samples, inclusive
};

class Searcher {
 public:
  Searcher(const uint8_t* cur, int nCurStride, const Plane& ref, int x, int y, int nRows, const Bounds& b,
           Mv pred, int nFCode, int nLambda16)
      : m_cur(cur),
        m_nCurStride(nCurStride),
        m_ref(ref),
        m_x(x),
        m_y(y),
        m_nRows(nRows),
        m_b(b),
        m_pred(pred),
        m_nFCode(nFCode),
        m_nLambda16(nLambda16) {}

  // Integer position (samples); 1 << 30 outside the window or when it cannot beat nBest.
  int CostFull(int dx, int dy, int nBest) {
    if (2 * dx < m_b.x0 || 2 * dx > m_b.x1 || 2 * dy < m_b.y0 || 2 * dy > m_b.y1) return 1 << 30;
    // Each position once: the diamond steps revisit their neighbours.
    const unsigned ux = static_cast<unsigned>(dx + 32), uy = static_cast<unsigned>(dy + 32);
    if (ux < 64 && uy < 64) {
      const uint64_t bit = uint64_t{1} << ux;
      if (m_visited[uy] & bit) return 1 << 30;
      m_visited[uy] |= bit;
    }
    const int nPenalty = Penalty(2 * dx, 2 * dy);
    const uint8_t* r = m_ref.p + static_cast<ptrdiff_t>(m_y + dy) * m_ref.nStride + m_x + dx;
    // Half the rows first: most candidates are already worse than the best there.
    const int nHalfRows = m_nRows / 2;
    const int nTop = Sad16(m_cur, m_nCurStride, r, m_ref.nStride, nHalfRows) + nPenalty;
    if (nTop >= nBest) return 1 << 30;
    return nTop + Sad16(m_cur + nHalfRows * m_nCurStride, m_nCurStride, r + nHalfRows * m_ref.nStride,
                        m_ref.nStride, m_nRows - nHalfRows);
  }
  int SadHalf(Mv mv) const {
    const uint8_t* r =
        m_ref.p + static_cast<ptrdiff_t>(m_y + (mv.y >> 1)) * m_ref.nStride + m_x + (mv.x >> 1);
    return SadHalf16(m_cur, m_nCurStride, r, m_ref.nStride, (mv.x & 1) | ((mv.y & 1) << 1), m_nRows);
  }
  bool InHalf(Mv mv) const { return mv.x >= m_b.x0 && mv.x <= m_b.x1 && mv.y >= m_b.y0 && mv.y <= m_b.y1; }
  // The vector's bits (against the predictor it is coded from) in SAD units.
  int Penalty(int hx, int hy) const {
    return (m_nLambda16 * (Bits(hx - m_pred.x) + Bits(hy - m_pred.y))) >> 4;
  }

 private:
  // Bits of one component difference, asked for every candidate: small ones from a table per f code.
  int Bits(int nDelta) const {
    const unsigned a = static_cast<unsigned>(nDelta < 0 ? -nDelta : nDelta);
    return a < kTableSize ? m_pBits[a] : MotionDeltaBits(nDelta, m_nFCode);
  }
  static constexpr unsigned kTableSize = 256;
  struct Table {
    uint8_t bits[10][kTableSize];
    Table() {
      for (int f = 1; f < 10; ++f)
        for (unsigned a = 0; a < kTableSize; ++a)
          bits[f][a] = static_cast<uint8_t>(MotionDeltaBits(static_cast<int>(a), f));
    }
  };
  static const uint8_t* BitsFor(int nFCode) {
    static const Table t;
    return t.bits[std::clamp(nFCode, 1, 9)];
  }

  const uint8_t* m_cur;
  int m_nCurStride;
  const Plane& m_ref;
  int m_x, m_y, m_nRows;
  Bounds m_b;
  Mv m_pred;
  int m_nFCode, m_nLambda16;
  const uint8_t* m_pBits = BitsFor(m_nFCode);
  uint64_t m_visited[64] = {};  // integer positions -32..31 tried
};

int FloorDiv2(int v) {
  return v >> 1;
}

}  // namespace

SearchResult SearchBlock(const uint8_t* cur, int nCurStride, const Plane& ref, int x, int y, int nRows,
                         const SearchWindow& w, const Mv* pPred, int nPred, Mv costPred, int nLambda16,
                         int nWideAbove) {
  const int f = 1 << (w.nFCode - 1);
  Bounds b;
  b.x0 = std::max({-2 * w.nRangeX, -2 * x, -16 * f + 1});
  b.x1 = std::min({2 * w.nRangeX, 2 * (ref.nWidth - 16 - x), 16 * f - 2});
  b.y0 = std::max({-2 * w.nRangeY, -2 * y, -16 * f + 1});
  b.y1 = std::min({2 * w.nRangeY, 2 * (ref.nHeight - nRows - y), 16 * f - 2});
  Searcher s(cur, nCurStride, ref, x, y, nRows, b, costPred, w.nFCode, nLambda16);

  int bx = 0, by = 0;
  int best = s.CostFull(0, 0, 1 << 30);
  for (int i = 0; i < nPred; ++i) {
    const int px = FloorDiv2(pPred[i].x + 1), py = FloorDiv2(pPred[i].y + 1);
    if (px == bx && py == by) continue;
    const int c = s.CostFull(px, py, best);
    if (c < best) best = c, bx = px, by = py;
  }
  // An exact match (still areas) cannot be beaten on SAD: no further search.
  if (best == s.Penalty(2 * bx, 2 * by)) return SearchResult{Mv{2 * bx, 2 * by}, 0, best};
  // Where the predictors fail (new or fast motion), a coarse look further out: eight directions at
  // falling distances.
  constexpr int kWideStart = 16;
  if (nWideAbove > 0 && best > nWideAbove) {
    static constexpr int kDirs[8][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}, {-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
    for (int nStep = kWideStart; nStep >= 2; nStep >>= 1) {
      const int cx = bx, cy = by;
      for (const auto& d : kDirs) {
        const int c = s.CostFull(cx + d[0] * nStep, cy + d[1] * nStep, best);
        if (c < best) best = c, bx = cx + d[0] * nStep, by = cy + d[1] * nStep;
      }
    }
  }
  // Small diamond steps until no neighbour is better (the vectors of camera-like material change
  // little from their predictors, so larger patterns mostly test positions that lose).
  static constexpr int kSmall[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
  for (int it = 0; it < 32; ++it) {
    int nx = bx, ny = by;
    for (const auto& d : kSmall) {
      const int c = s.CostFull(bx + d[0], by + d[1], best);
      if (c < best) best = c, nx = bx + d[0], ny = by + d[1];
    }
    if (nx == bx && ny == by) break;
    bx = nx, by = ny;
  }
  // Half-sample refinement: the better horizontal and vertical neighbour, then the diagonal
  // between them.
  Mv bestMv{2 * bx, 2 * by};
  int bestSad = best - s.Penalty(2 * bx, 2 * by);
  int bestCost = best;
  const Mv center = bestMv;
  auto sadAt = [&](int dx, int dy) {
    const Mv m{center.x + dx, center.y + dy};
    return s.InHalf(m) ? s.SadHalf(m) + s.Penalty(m.x, m.y) : 1 << 30;
  };
  auto consider = [&](int nCost, int dx, int dy) {
    if (nCost < bestCost) {
      bestCost = nCost, bestMv = Mv{center.x + dx, center.y + dy};
      bestSad = nCost - s.Penalty(bestMv.x, bestMv.y);
    }
  };
  const int nCenter = bestCost;
  const int l = sadAt(-1, 0), r = sadAt(1, 0), u = sadAt(0, -1), d = sadAt(0, 1);
  const int hx = l < r ? (l < nCenter ? -1 : 0) : (r < nCenter ? 1 : 0);
  const int hy = u < d ? (u < nCenter ? -1 : 0) : (d < nCenter ? 1 : 0);
  consider(l, -1, 0);
  consider(r, 1, 0);
  consider(u, 0, -1);
  consider(d, 0, 1);
  if (hx && hy) consider(sadAt(hx, hy), hx, hy);
  return SearchResult{bestMv, bestSad, bestCost};
}

}  // namespace pxenc
