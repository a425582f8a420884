// Block matching for the encoder: SAD of 16-wide blocks (SSE2), half-sample prediction exactly as
// ISO/IEC 13818-2 7.6.4 forms it, and a predictor-seeded diamond search with half-sample refinement
// inside a window that keeps every vector within the picture, the search range and the f code's
// range (ISO/IEC 13818-2 7.6.3.1). Vectors are in half samples of the reference plane given (a
// frame, or a field seen with twice the stride).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "mpegfilter/encoder/EncoderTypes.h"

namespace pxenc {

struct Mv {
  int x = 0, y = 0;
  bool operator==(const Mv& o) const { return x == o.x && y == o.y; }
};

// SAD of 16-wide blocks of nRows rows.
inline int Sad16(const uint8_t* a, int sa, const uint8_t* b, int sb, int nRows) {
#if defined(__SSE2__)
  __m128i acc = _mm_setzero_si128();
  for (int i = 0; i < nRows; ++i) {
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i * sa));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i * sb));
    acc = _mm_add_epi64(acc, _mm_sad_epu8(va, vb));
  }
  return _mm_cvtsi128_si32(acc) + _mm_extract_epi16(acc, 4);
#else
  int s = 0;
  for (int i = 0; i < nRows; ++i)
    for (int j = 0; j < 16; ++j) s += std::abs(a[i * sa + j] - b[i * sb + j]);
  return s;
#endif
}
// SAD of the 16-wide block cur against the half-sample prediction from ref (the integer position;
// nHalf bit 0 horizontal, bit 1 vertical half sample).
int SadHalf16(const uint8_t* cur, int nCurStride, const uint8_t* ref, int nRefStride, int nHalf, int nRows);

// Prediction of a nW x nH block at (x, y) of ref displaced by mv (half samples), into dst.
void PredictBlock(const Plane& ref, int x, int y, Mv mv, int nW, int nH, uint8_t* dst, int nDstStride);
// dst = (dst + other + 1) >> 1, nCount bytes (bidirectional prediction).
void AverageInto(uint8_t* dst, const uint8_t* other, int nCount);

struct SearchWindow {
  int nRangeX = 0, nRangeY = 0;  // samples
  int nFCode = 1;
};

struct SearchResult {
  Mv mv;
  int nSad = 0;   // of the half-sample prediction
  int nCost = 0;  // nSad plus the vector's bits weighted by lambda
};

// Bits of one motion vector component difference (motion_code, sign and motion_residual) with
// the given f code (ISO/IEC 13818-2 Table B.10).
int MotionDeltaBits(int nDelta, int nFCode);

// Searches the 16 x nRows block cur (stride nCurStride) at (x, y) of the reference plane,
// minimising SAD + lambda * bits of (vector - costPred); nLambda16 is lambda in 1/16 SAD per bit.
// pPred: candidate vectors (half samples), tried first. When the best of those costs more than
// nWideAbove, positions further out are tried too (0: never).
SearchResult SearchBlock(const uint8_t* cur, int nCurStride, const Plane& ref, int x, int y, int nRows,
                         const SearchWindow& w, const Mv* pPred, int nPred, Mv costPred, int nLambda16,
                         int nWideAbove = 0);

}  // namespace pxenc
