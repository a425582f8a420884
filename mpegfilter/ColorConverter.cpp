// Chroma interpolation and YCbCr to BGR conversion. The kernels sum to 256: output =
// (sum + 128) >> 8 through the clipping table (values -384..639).
#include "mpegfilter/ColorConverter.h"

#include <emmintrin.h>
#include <tmmintrin.h>

#include <cstring>

#include "mpegfilter/PxResult.h"
#include "pxkernel/PxKernel.h"

namespace {

struct ClipTable {
  uint8_t v[1024];
  constexpr ClipTable() : v() {
    for (int i = 0; i < 1024; ++i) {
      const int x = i - 384;
      v[i] = static_cast<uint8_t>(x < 0 ? 0 : (x > 255 ? 255 : x));
    }
  }
};
constexpr ClipTable kClip;
inline uint8_t Clip(int x) {
  return kClip.v[(x < -384 ? -384 : (x > 639 ? 639 : x)) + 384];
}
// The clipping table's result for every int, without the look-up, so loops can vectorise.
inline uint8_t Clamp(int x) {
  return static_cast<uint8_t>(x < 0 ? 0 : (x > 255 ? 255 : x));
}

// Cr->R, Cb->B, Cb->G, Cr->G in 1/65536 by matrix_coefficients (ISO/IEC 13818-2 Table 6-9).
constexpr int kMatrix[8][4] = {
    {117504, 138453, 13954, 34903}, {117504, 138453, 13954, 34903}, {104597, 132201, 25675, 53279},
    {104597, 132201, 25675, 53279}, {104448, 132798, 24759, 53109}, {104597, 132201, 25675, 53279},
    {104597, 132201, 25675, 53279}, {117579, 136230, 16907, 35559},
};

inline int At(const uint8_t* s, int i, int n) {
  return s[i < 0 ? 0 : (i >= n ? n - 1 : i)];
}

// out[x] = clamp((sum of k[i] * s[i][x] + 128) >> 8) for x < n: one output line of a 6-tap vertical
// kernel. Sixteen samples at a time in pmaddwd pairs (taps and samples fit 16 bits, sums 32).
void Tap6(const uint8_t* const* s, const int* k, int n, uint8_t* out) {
  int x = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128(), kRound = _mm_set1_epi32(128);
  __m128i kk[3];
  for (int p = 0; p < 3; ++p)
    kk[p] = _mm_set1_epi32(static_cast<int>((static_cast<uint32_t>(k[2 * p]) & 0xFFFF) |
                                            (static_cast<uint32_t>(k[2 * p + 1]) << 16)));
  for (; x + 16 <= n; x += 16) {
    __m128i acc[4] = {kRound, kRound, kRound, kRound};
    for (int p = 0; p < 3; ++p) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s[2 * p] + x));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s[2 * p + 1] + x));
      const __m128i al = _mm_unpacklo_epi8(a, zero), ah = _mm_unpackhi_epi8(a, zero);
      const __m128i bl = _mm_unpacklo_epi8(b, zero), bh = _mm_unpackhi_epi8(b, zero);
      acc[0] = _mm_add_epi32(acc[0], _mm_madd_epi16(_mm_unpacklo_epi16(al, bl), kk[p]));
      acc[1] = _mm_add_epi32(acc[1], _mm_madd_epi16(_mm_unpackhi_epi16(al, bl), kk[p]));
      acc[2] = _mm_add_epi32(acc[2], _mm_madd_epi16(_mm_unpacklo_epi16(ah, bh), kk[p]));
      acc[3] = _mm_add_epi32(acc[3], _mm_madd_epi16(_mm_unpackhi_epi16(ah, bh), kk[p]));
    }
    const __m128i lo = _mm_packs_epi32(_mm_srai_epi32(acc[0], 8), _mm_srai_epi32(acc[1], 8));
    const __m128i hi = _mm_packs_epi32(_mm_srai_epi32(acc[2], 8), _mm_srai_epi32(acc[3], 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(lo, hi));
  }
#endif
  for (; x < n; ++x) {
    int v = 128;
    for (int i = 0; i < 6; ++i) v += k[i] * s[i][x];
    out[x] = Clamp(v >> 8);
  }
}

// d[2x] = a[x], d[2x + 1] = b[x] for x < n.
void Interleave(const uint8_t* a, const uint8_t* b, int n, uint8_t* d) {
  int x = 0;
#if defined(__SSE2__)
  for (; x + 16 <= n; x += 16) {
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 2 * x), _mm_unpacklo_epi8(va, vb));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 2 * x + 16), _mm_unpackhi_epi8(va, vb));
  }
#endif
  for (; x < n; ++x) {
    d[2 * x] = a[x];
    d[2 * x + 1] = b[x];
  }
}

constexpr int kChunk = 256;  // interior samples filtered per pass (stack buffers)

// Sixteen pixels of the colour formula at a time, exact: each coefficient K is split into
// K_hi * 256 + K_lo so that pmaddwd's 16-bit factors hold it, and (hi << 8) + lo rebuilds the same
// 32-bit sum; packing with saturation is the clamp; pshufb interleaves blue, green and red.
// Returns the pixels done (0 without SSSE3).
__attribute__((target("ssse3"))) int ConvertRowSsse3(const uint8_t* py, const uint8_t* pb, const uint8_t* pr,
                                                     int w, const int* c, uint8_t* o) {
  auto pair = [](int a, int b) {
    return _mm_set1_epi32(
        static_cast<int>((static_cast<uint32_t>(a) & 0xFFFF) | (static_cast<uint32_t>(b) << 16)));
  };
  auto hi = [](int k) { return k >= 0 ? k >> 8 : -((-k) >> 8); };
  auto lo = [&](int k) { return k - hi(k) * 256; };
  const int ky = 76309;
  const __m128i rH = pair(hi(ky), hi(c[0])), rL = pair(lo(ky), lo(c[0]));
  const __m128i bH = pair(hi(ky), hi(c[1])), bL = pair(lo(ky), lo(c[1]));
  const __m128i gH = pair(hi(ky), hi(-c[2])), gL = pair(lo(ky), lo(-c[2]));
  const __m128i vH = pair(hi(-c[3]), 0), vL = pair(lo(-c[3]), 0);
  const __m128i k16 = _mm_set1_epi16(16), k128 = _mm_set1_epi16(128), zero = _mm_setzero_si128();
  const __m128i kRound = _mm_set1_epi32(32768);
  auto sum = [&](__m128i p, __m128i h, __m128i l) {
    return _mm_add_epi32(_mm_slli_epi32(_mm_madd_epi16(p, h), 8), _mm_madd_epi16(p, l));
  };
  // Output byte j of each 16-byte block takes byte m[j] of blue (0..15), green or red.
  auto mask = [](int nBlock, int nChannel) {
    alignas(16) int8_t m[16];
    for (int j = 0; j < 16; ++j) {
      const int n = 16 * nBlock + j;
      m[j] = static_cast<int8_t>(n % 3 == nChannel ? n / 3 : -1);
    }
    return _mm_load_si128(reinterpret_cast<const __m128i*>(m));
  };
  __m128i sh[3][3];
  for (int blk = 0; blk < 3; ++blk)
    for (int k = 0; k < 3; ++k) sh[blk][k] = mask(blk, k);
  int x = 0;
  for (; x + 16 <= w; x += 16) {
    const __m128i vy = _mm_loadu_si128(reinterpret_cast<const __m128i*>(py + x));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pb + x));
    const __m128i vr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pr + x));
    __m128i res[3][2];
    for (int half = 0; half < 2; ++half) {
      const __m128i y8 = half ? _mm_unpackhi_epi8(vy, zero) : _mm_unpacklo_epi8(vy, zero);
      const __m128i u8 = half ? _mm_unpackhi_epi8(vb, zero) : _mm_unpacklo_epi8(vb, zero);
      const __m128i v8 = half ? _mm_unpackhi_epi8(vr, zero) : _mm_unpacklo_epi8(vr, zero);
      const __m128i y16 = _mm_sub_epi16(y8, k16), u16 = _mm_sub_epi16(u8, k128),
                    v16 = _mm_sub_epi16(v8, k128);
      __m128i ch[3][2];
      for (int q = 0; q < 2; ++q) {
        const __m128i yv = q ? _mm_unpackhi_epi16(y16, v16) : _mm_unpacklo_epi16(y16, v16);
        const __m128i yu = q ? _mm_unpackhi_epi16(y16, u16) : _mm_unpacklo_epi16(y16, u16);
        const __m128i v0 = q ? _mm_unpackhi_epi16(v16, zero) : _mm_unpacklo_epi16(v16, zero);
        ch[0][q] = _mm_srai_epi32(_mm_add_epi32(sum(yu, bH, bL), kRound), 16);
        ch[1][q] = _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(sum(yu, gH, gL), sum(v0, vH, vL)), kRound), 16);
        ch[2][q] = _mm_srai_epi32(_mm_add_epi32(sum(yv, rH, rL), kRound), 16);
      }
      for (int k = 0; k < 3; ++k) res[k][half] = _mm_packs_epi32(ch[k][0], ch[k][1]);
    }
    __m128i bgr[3];
    for (int k = 0; k < 3; ++k) bgr[k] = _mm_packus_epi16(res[k][0], res[k][1]);
    for (int blk = 0; blk < 3; ++blk) {
      const __m128i v = _mm_or_si128(
          _mm_or_si128(_mm_shuffle_epi8(bgr[0], sh[blk][0]), _mm_shuffle_epi8(bgr[1], sh[blk][1])),
          _mm_shuffle_epi8(bgr[2], sh[blk][2]));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 3 * x + 16 * blk), v);
    }
  }
  return x;
}

int ConvertRowFast(const uint8_t* py, const uint8_t* pb, const uint8_t* pr, int w, const int* c, uint8_t* o) {
  static const bool s_bSsse3 = __builtin_cpu_supports("ssse3");
  return s_bSsse3 ? ConvertRowSsse3(py, pb, pr, w, c, o) : 0;
}

}  // namespace

void ColorConverter::DoubleVertical(const uint8_t* pSrc, int nStride, int nWidth, int nSrcLines,
                                    bool bProgressive, uint8_t* pDst) {
  auto line = [&](int i) {
    return pSrc + static_cast<long>(i < 0 ? 0 : (i >= nSrcLines ? nSrcLines - 1 : i)) * nStride;
  };
  if (bProgressive) {
    static const int k0[6] = {3, -16, 67, 227, -32, 7}, k1[6] = {7, -32, 227, 67, -16, 3};
    for (int i = 0; i < nSrcLines; ++i) {
      const uint8_t* t[7] = {line(i - 3), line(i - 2), line(i - 1), line(i),
                             line(i + 1), line(i + 2), line(i + 3)};
      uint8_t* o0 = pDst + static_cast<long>(2 * i) * nStride;
      Tap6(t, k0, nWidth, o0);
      Tap6(t + 1, k1, nWidth, o0 + nStride);
    }
    return;
  }
  // Interlaced: each field from its own lines; field f holds source lines f, f + 2, ...
  static const int kField[2][2][6] = {{{1, -7, 30, 248, -21, 5}, {7, -35, 194, 110, -24, 4}},
                                      {{4, -24, 110, 194, -35, 7}, {5, -21, 248, 30, -7, 1}}};
  for (int f = 0; f < 2; ++f) {
    const int n = (nSrcLines - f + 1) / 2;
    if (n <= 0) continue;
    auto fl = [&](int k) {
      return pSrc + static_cast<long>(2 * (k < 0 ? 0 : (k >= n ? n - 1 : k)) + f) * nStride;
    };
    for (int k = 0; k < n; ++k) {
      const uint8_t* t[7] = {fl(k - 3), fl(k - 2), fl(k - 1), fl(k), fl(k + 1), fl(k + 2), fl(k + 3)};
      uint8_t* o0 = pDst + static_cast<long>(4 * k + f) * nStride;  // line 2j or 2j+1
      Tap6(t, kField[f][0], nWidth, o0);
      if (4 * k + f + 2 < 2 * nSrcLines)
        Tap6(t + 1, kField[f][1], nWidth, o0 + 2 * static_cast<long>(nStride));
    }
  }
}

void ColorConverter::DoubleHorizontal(const uint8_t* s, int n, bool bMpeg1, uint8_t* d) {
  // Edges repeat the nearest sample (At); the inside needs no bounds, so it runs without them.
  const int lo = n < 3 ? n : 3, hi = n - 3 > lo ? n - 3 : lo;
  if (bMpeg1) {
    static const int k0[6] = {5, -21, 70, 228, -37, 11}, k1[6] = {11, -37, 228, 70, -21, 5};
    for (int i0 = lo; i0 < hi; i0 += kChunk) {
      const int m = hi - i0 < kChunk ? hi - i0 : kChunk;
      uint8_t e0[kChunk], e1[kChunk];
      const uint8_t* t[7] = {s + i0 - 3, s + i0 - 2, s + i0 - 1, s + i0, s + i0 + 1, s + i0 + 2, s + i0 + 3};
      Tap6(t, k0, m, e0);
      Tap6(t + 1, k1, m, e1);
      Interleave(e0, e1, m, d + 2 * i0);
    }
    for (int i = 0; i < n; ++i) {
      if (i == lo && hi > lo) i = hi;
      d[2 * i] = Clip((5 * At(s, i - 3, n) - 21 * At(s, i - 2, n) + 70 * At(s, i - 1, n) + 228 * At(s, i, n) -
                       37 * At(s, i + 1, n) + 11 * At(s, i + 2, n) + 128) >>
                      8);
      d[2 * i + 1] = Clip((11 * At(s, i - 2, n) - 37 * At(s, i - 1, n) + 228 * At(s, i, n) +
                           70 * At(s, i + 1, n) - 21 * At(s, i + 2, n) + 5 * At(s, i + 3, n) + 128) >>
                          8);
    }
    return;
  }
  static const int k2[6] = {21, -52, 159, 159, -52, 21};
  for (int i0 = lo; i0 < hi; i0 += kChunk) {
    const int m = hi - i0 < kChunk ? hi - i0 : kChunk;
    uint8_t e1[kChunk];
    const uint8_t* t[6] = {s + i0 - 2, s + i0 - 1, s + i0, s + i0 + 1, s + i0 + 2, s + i0 + 3};
    Tap6(t, k2, m, e1);
    Interleave(s + i0, e1, m, d + 2 * i0);
  }
  for (int i = 0; i < n; ++i) {
    if (i == lo && hi > lo) i = hi;
    d[2 * i] = s[i];
    d[2 * i + 1] = Clip((21 * (At(s, i - 2, n) + At(s, i + 3, n)) - 52 * (At(s, i - 1, n) + At(s, i + 2, n)) +
                         159 * (At(s, i, n) + At(s, i + 1, n)) + 128) >>
                        8);
  }
}

void ColorConverter::ToBgr(int y, int cb, int cr, int nMatrix, uint8_t* p) {
  const int* c = kMatrix[nMatrix >= 0 && nMatrix <= 7 ? nMatrix : 5];
  const int yy = 76309 * (y - 16);
  const int u = cb - 128;
  const int v = cr - 128;
  p[2] = Clip((yy + c[0] * v + 32768) >> 16);
  p[1] = Clip((yy - c[2] * u - c[3] * v + 32768) >> 16);
  p[0] = Clip((yy + c[1] * u + 32768) >> 16);
}

int32_t ColorConverter::Deliver(const FrameStore& frame, const SequenceParams& seq, const PlaneGeometry& geo,
                                PxLoadInfo* pLoad, const DecoderLimits& limits) {
  const PxKernelImports& k = PxKernel();
  const int w = seq.nWidth;
  const int h = seq.nHeight;
  const bool bMpeg1 = !seq.bMpeg2;
  // Chroma picture size (the coded planes are padded to whole macroblocks).
  const int cw = (w + (1 << geo.nChromaShiftX) - 1) >> geo.nChromaShiftX;
  const int ch = (h + (1 << geo.nChromaShiftY) - 1) >> geo.nChromaShiftY;
  const int fullW = cw << geo.nChromaShiftX;  // >= w
  const int fullH = ch << geo.nChromaShiftY;  // >= h
  const int64_t nRowBytes = pLoad->nBytesPerRow > int64_t{w} * 3 ? pLoad->nBytesPerRow : int64_t{w} * 3;
  const int64_t nPlane = int64_t{fullW} * fullH;
  const int64_t nVert = int64_t{cw} * fullH;
  const int64_t nTotal = 2 * nPlane + 2 * nVert + nRowBytes + 16;
  if (nTotal > limits.nMaxMemory) return PX_ERR_NO_MEMORY;
  uint8_t* pWork = static_cast<uint8_t*>(k.pfnAlloc(static_cast<size_t>(nTotal)));
  if (!pWork) return PX_ERR_NO_MEMORY;
  uint8_t* pFull[2] = {pWork, pWork + nPlane};
  uint8_t* pVert = pWork + 2 * nPlane;
  uint8_t* pRow = pVert + 2 * nVert;
  const uint8_t* pChroma[2] = {frame.pCb, frame.pCr};
  for (int c = 0; c < 2; ++c) {
    const uint8_t* src = pChroma[c];
    int srcStride = geo.nChromaStride;
    if (geo.nChromaShiftY) {
      // Vertical first, into a cw-wide buffer.
      uint8_t* tmp = pVert + nVert;  // compact copy of the source chroma (stride cw)
      for (int y = 0; y < ch; ++y)
        std::memcpy(tmp + static_cast<long>(y) * cw, src + static_cast<long>(y) * srcStride, cw);
      DoubleVertical(tmp, cw, cw, ch, frame.bProgressive, pVert);
      src = pVert;
      srcStride = cw;
    }
    for (int y = 0; y < fullH; ++y) {
      const uint8_t* line = src + static_cast<long>(y) * srcStride;
      uint8_t* out = pFull[c] + static_cast<long>(y) * fullW;
      if (geo.nChromaShiftX)
        DoubleHorizontal(line, cw, bMpeg1, out);
      else
        std::memcpy(out, line, static_cast<size_t>(cw));
    }
  }
  pLoad->nWidth = w;
  pLoad->nHeight = h;
  const int nMatrix = seq.nMatrixCoefficients;
  const int* c = kMatrix[nMatrix >= 0 && nMatrix <= 7 ? nMatrix : 5];
  int32_t rc = PX_OK;
  for (int y = 0; y < h; ++y) {
    const uint8_t* py = frame.pY + static_cast<long>(y) * geo.nLumaStride;
    const uint8_t* pb = pFull[0] + static_cast<long>(y) * fullW;
    const uint8_t* pr = pFull[1] + static_cast<long>(y) * fullW;
    const int x0 = ConvertRowFast(py, pb, pr, w, c, pRow);
    uint8_t* o = pRow + 3 * x0;
    for (int x = x0; x < w; ++x, o += 3) {
      const int yy = 76309 * (py[x] - 16);
      const int u = pb[x] - 128;
      const int v = pr[x] - 128;
      o[2] = Clamp((yy + c[0] * v + 32768) >> 16);
      o[1] = Clamp((yy - c[2] * u - c[3] * v + 32768) >> 16);
      o[0] = Clamp((yy + c[1] * u + 32768) >> 16);
    }
    int32_t nFlags = PX_ROW_VALID | PX_ROW_COLOR;
    if (y == 0) nFlags |= PX_ROW_FIRST;
    if (y + 1 == pLoad->nRows) nFlags |= PX_ROW_LAST;
    if (pLoad->pfnRow) {
      const int32_t r = pLoad->pfnRow(pLoad->pUser, pLoad, pRow, nFlags, y, 1, pLoad->nPassThrough);
      if (r != 1) {
        rc = r;
        break;
      }
    }
  }
  k.pfnFree(pWork);
  return rc;
}
