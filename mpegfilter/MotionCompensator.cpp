// Half-sample interpolation (ISO/IEC 13818-2 7.6.4): averages round upwards,
// (a + b + 1) >> 1 and (a + b + c + d + 2) >> 2. The plain C++ loops ran at half of the whole
// decoder's time (measured); SSE2 (baseline on x86-64) forms a whole line per step.
#include "mpegfilter/MotionCompensator.h"

#include <emmintrin.h>

namespace {

// SSE2: pavgb computes (a + b + 1) >> 1 exactly; the four-sample average is formed in 16 bits.
template <int W>
inline __m128i Load(const uint8_t* p) {
  if constexpr (W == 16)
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  else
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}
template <int W>
inline void Store(uint8_t* p, __m128i v) {
  if constexpr (W == 16)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
  else
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}

// The four-sample average from pavgb alone: with ab = avg(a, b) and cd = avg(c, d),
// avg(ab, cd) exceeds (a + b + c + d + 2) >> 2 by one exactly when a + b or c + d is odd and
// ab + cd is odd (the cases of a + b and c + d being even or odd, worked through).
template <int W>
inline __m128i Average4(__m128i a, __m128i b, __m128i c, __m128i d) {
  const __m128i ab = _mm_avg_epu8(a, b);
  const __m128i cd = _mm_avg_epu8(c, d);
  const __m128i odd =
      _mm_and_si128(_mm_or_si128(_mm_xor_si128(a, b), _mm_xor_si128(c, d)), _mm_xor_si128(ab, cd));
  return _mm_sub_epi8(_mm_avg_epu8(ab, cd), _mm_and_si128(odd, _mm_set1_epi8(1)));
}

// One case per half-sample phase, so the line loop has no tests; the next line's loads are the
// current line's second row.
template <int W, bool AVG, bool HX, bool HY>
void Form(const uint8_t* s, int ss, uint8_t* d, int ds, int h) {
  __m128i a = Load<W>(s), b = HX ? Load<W>(s + 1) : a;
  for (int j = 0; j < h; ++j, s += ss, d += ds) {
    __m128i v;
    if (!HX && !HY) {
      v = Load<W>(s);
    } else if (HX && !HY) {
      v = _mm_avg_epu8(Load<W>(s), Load<W>(s + 1));
    } else {
      const __m128i c = Load<W>(s + ss);
      if (!HX) {
        v = _mm_avg_epu8(a, c);
        a = c;
      } else {
        const __m128i e = Load<W>(s + ss + 1);
        v = Average4<W>(a, b, c, e);
        a = c;
        b = e;
      }
    }
    if (AVG) v = _mm_avg_epu8(v, Load<W>(d));
    Store<W>(d, v);
  }
}

// Two 8-sample blocks at the same place of two planes (the chroma pair) in one register: the
// first plane's line in the low half, the second's in the high half.
inline __m128i LoadPair(const uint8_t* a, const uint8_t* b) {
  return _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a))),
                                       reinterpret_cast<const double*>(b)));
}
inline void StorePair(uint8_t* a, uint8_t* b, __m128i v) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(a), v);
  _mm_storeh_pd(reinterpret_cast<double*>(b), _mm_castsi128_pd(v));
}

template <bool AVG, bool HX, bool HY>
void FormPair(const uint8_t* sa, const uint8_t* sb, int ss, uint8_t* da, uint8_t* db, int ds, int h) {
  __m128i a = LoadPair(sa, sb), b = HX ? LoadPair(sa + 1, sb + 1) : a;
  for (int j = 0; j < h; ++j, sa += ss, sb += ss, da += ds, db += ds) {
    __m128i v;
    if (!HX && !HY) {
      v = LoadPair(sa, sb);
    } else if (HX && !HY) {
      v = _mm_avg_epu8(LoadPair(sa, sb), LoadPair(sa + 1, sb + 1));
    } else {
      const __m128i c = LoadPair(sa + ss, sb + ss);
      if (!HX) {
        v = _mm_avg_epu8(a, c);
        a = c;
      } else {
        const __m128i e = LoadPair(sa + ss + 1, sb + ss + 1);
        v = Average4<16>(a, b, c, e);
        a = c;
        b = e;
      }
    }
    if (AVG) v = _mm_avg_epu8(v, LoadPair(da, db));
    StorePair(da, db, v);
  }
}

template <bool AVG>
inline void FormPairPhase(const uint8_t* sa, const uint8_t* sb, int ss, int hx, int hy, uint8_t* da,
                          uint8_t* db, int ds, int h) {
  switch (hx + 2 * hy) {
    case 0:
      FormPair<AVG, false, false>(sa, sb, ss, da, db, ds, h);
      break;
    case 1:
      FormPair<AVG, true, false>(sa, sb, ss, da, db, ds, h);
      break;
    case 2:
      FormPair<AVG, false, true>(sa, sb, ss, da, db, ds, h);
      break;
    default:
      FormPair<AVG, true, true>(sa, sb, ss, da, db, ds, h);
      break;
  }
}

template <int W, bool AVG>
inline void FormPhase(const uint8_t* s, int ss, int hx, int hy, uint8_t* d, int ds, int h) {
  switch (hx + 2 * hy) {
    case 0:
      Form<W, AVG, false, false>(s, ss, d, ds, h);
      break;
    case 1:
      Form<W, AVG, true, false>(s, ss, d, ds, h);
      break;
    case 2:
      Form<W, AVG, false, true>(s, ss, d, ds, h);
      break;
    default:
      Form<W, AVG, true, true>(s, ss, d, ds, h);
      break;
  }
}

inline int Clamp(int v, int lo, int hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

}  // namespace

void MotionCompensator::Predict(const PlaneView& src, int x, int y, int vx, int vy, uint8_t* pDst,
                                int nDstStride, int nW, int nH, bool bAverage) {
  const int hx = vx & 1;
  const int hy = vy & 1;
  const int sx = x + (vx >> 1);
  const int sy = y + (vy >> 1);
  const uint8_t* s;
  int ss;
  // One spare line and column for the interpolation; a 17 x 17 scratch block at most.
  uint8_t scratch[17 * 17];
  if (sx >= 0 && sy >= 0 && sx + nW + hx <= src.nWidth && sy + nH + hy <= src.nHeight) {
    s = src.p + static_cast<long>(sy) * src.nStride + sx;
    ss = src.nStride;
  } else {
    if (src.nWidth <= 0 || src.nHeight <= 0) return;
    for (int j = 0; j <= nH; ++j) {
      const uint8_t* line = src.p + static_cast<long>(Clamp(sy + j, 0, src.nHeight - 1)) * src.nStride;
      for (int i = 0; i <= nW; ++i) scratch[j * 17 + i] = line[Clamp(sx + i, 0, src.nWidth - 1)];
    }
    s = scratch;
    ss = 17;
  }
  if (nW == 16) {
    if (bAverage)
      FormPhase<16, true>(s, ss, hx, hy, pDst, nDstStride, nH);
    else
      FormPhase<16, false>(s, ss, hx, hy, pDst, nDstStride, nH);
  } else {
    if (bAverage)
      FormPhase<8, true>(s, ss, hx, hy, pDst, nDstStride, nH);
    else
      FormPhase<8, false>(s, ss, hx, hy, pDst, nDstStride, nH);
  }
}

void MotionCompensator::PredictPair(const PlaneView& a, const uint8_t* pSecond, int x, int y, int vx, int vy,
                                    uint8_t* pDstA, uint8_t* pDstB, int nDstStride, int nH, bool bAverage) {
  const int hx = vx & 1;
  const int hy = vy & 1;
  const int sx = x + (vx >> 1);
  const int sy = y + (vy >> 1);
  if (sx < 0 || sy < 0 || sx + 8 + hx > a.nWidth || sy + nH + hy > a.nHeight) {
    // Outside the plane (damaged streams): each plane through the edge-repeating copy.
    PlaneView b = a;
    b.p = pSecond;
    Predict(a, x, y, vx, vy, pDstA, nDstStride, 8, nH, bAverage);
    Predict(b, x, y, vx, vy, pDstB, nDstStride, 8, nH, bAverage);
    return;
  }
  const long off = static_cast<long>(sy) * a.nStride + sx;
  if (bAverage)
    FormPairPhase<true>(a.p + off, pSecond + off, a.nStride, hx, hy, pDstA, pDstB, nDstStride, nH);
  else
    FormPairPhase<false>(a.p + off, pSecond + off, a.nStride, hx, hy, pDstA, pDstB, nDstStride, nH);
}
