// Integer Chen-Wang inverse DCT (8x8, separable). Weights are 2048 * sqrt(2) * cos(k * pi / 16):
// W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565. The row pass keeps 8 extra
// fraction bits (<< 11 in, >> 8 out), the column pass removes them (>> 14) with rounding.
// Multiplications replace left shifts of signed values, and the 181/256 (1/sqrt 2) products run in
// 64 bits: hostile coefficient blocks can push them past 32 bits, valid ones never do.
#include "mpegfilter/Idct.h"

#include <emmintrin.h>
#include <immintrin.h>

#include <cstdint>

namespace {

constexpr int kW1 = 2841;
constexpr int kW2 = 2676;
constexpr int kW3 = 2408;
constexpr int kW5 = 1609;
constexpr int kW6 = 1108;
constexpr int kW7 = 565;

inline short Clip256(int v) {
  return static_cast<short>(v < -256 ? -256 : (v > 255 ? 255 : v));
}

void IdctRow(short* blk) {
  int x1 = blk[4] * 2048;
  int x2 = blk[6];
  int x3 = blk[2];
  int x4 = blk[1];
  int x5 = blk[7];
  int x6 = blk[5];
  int x7 = blk[3];
  if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
    const short dc = static_cast<short>(blk[0] * 8);
    for (int i = 0; i < 8; ++i) blk[i] = dc;
    return;
  }
  int x0 = blk[0] * 2048 + 128;

  int x8 = kW7 * (x4 + x5);
  x4 = x8 + (kW1 - kW7) * x4;
  x5 = x8 - (kW1 + kW7) * x5;
  x8 = kW3 * (x6 + x7);
  x6 = x8 - (kW3 - kW5) * x6;
  x7 = x8 - (kW3 + kW5) * x7;

  x8 = x0 + x1;
  x0 -= x1;
  x1 = kW6 * (x3 + x2);
  x2 = x1 - (kW2 + kW6) * x2;
  x3 = x1 + (kW2 - kW6) * x3;
  x1 = x4 + x6;
  x4 -= x6;
  x6 = x5 + x7;
  x5 -= x7;

  x7 = x8 + x3;
  x8 -= x3;
  x3 = x0 + x2;
  x0 -= x2;
  x2 = static_cast<int>((181 * (int64_t{x4} + x5) + 128) >> 8);
  x4 = static_cast<int>((181 * (int64_t{x4} - x5) + 128) >> 8);

  blk[0] = static_cast<short>((x7 + x1) >> 8);
  blk[1] = static_cast<short>((x3 + x2) >> 8);
  blk[2] = static_cast<short>((x0 + x4) >> 8);
  blk[3] = static_cast<short>((x8 + x6) >> 8);
  blk[4] = static_cast<short>((x8 - x6) >> 8);
  blk[5] = static_cast<short>((x0 - x4) >> 8);
  blk[6] = static_cast<short>((x3 - x2) >> 8);
  blk[7] = static_cast<short>((x7 - x1) >> 8);
}

void IdctColumn(short* blk) {
  int x1 = blk[8 * 4] * 256;
  int x2 = blk[8 * 6];
  int x3 = blk[8 * 2];
  int x4 = blk[8 * 1];
  int x5 = blk[8 * 7];
  int x6 = blk[8 * 5];
  int x7 = blk[8 * 3];
  if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
    const short v = Clip256((blk[0] + 32) >> 6);
    for (int i = 0; i < 8; ++i) blk[8 * i] = v;
    return;
  }
  int x0 = blk[0] * 256 + 8192;

  int x8 = kW7 * (x4 + x5) + 4;
  x4 = (x8 + (kW1 - kW7) * x4) >> 3;
  x5 = (x8 - (kW1 + kW7) * x5) >> 3;
  x8 = kW3 * (x6 + x7) + 4;
  x6 = (x8 - (kW3 - kW5) * x6) >> 3;
  x7 = (x8 - (kW3 + kW5) * x7) >> 3;

  x8 = x0 + x1;
  x0 -= x1;
  x1 = kW6 * (x3 + x2) + 4;
  x2 = (x1 - (kW2 + kW6) * x2) >> 3;
  x3 = (x1 + (kW2 - kW6) * x3) >> 3;
  x1 = x4 + x6;
  x4 -= x6;
  x6 = x5 + x7;
  x5 -= x7;

  x7 = x8 + x3;
  x8 -= x3;
  x3 = x0 + x2;
  x0 -= x2;
  x2 = static_cast<int>((181 * (int64_t{x4} + x5) + 128) >> 8);
  x4 = static_cast<int>((181 * (int64_t{x4} - x5) + 128) >> 8);

  blk[8 * 0] = Clip256((x7 + x1) >> 14);
  blk[8 * 1] = Clip256((x3 + x2) >> 14);
  blk[8 * 2] = Clip256((x0 + x4) >> 14);
  blk[8 * 3] = Clip256((x8 + x6) >> 14);
  blk[8 * 4] = Clip256((x8 - x6) >> 14);
  blk[8 * 5] = Clip256((x0 - x4) >> 14);
  blk[8 * 6] = Clip256((x3 - x2) >> 14);
  blk[8 * 7] = Clip256((x7 - x1) >> 14);
}

// SSE2 form of the same arithmetic. Each weighted pair W_a * p + W_b * q is one pmaddwd (exact in
// 32 bits), so the products equal the scalar ones term by term. The 181/256 product, which the scalar
// code forms in 64 bits, is split as s = 256 * hi + lo: (181 * s + 128) >> 8 = 181 * hi +
// ((181 * lo + 128) >> 8), exact in 32 bits. Row outputs are narrowed to 16 bits by truncation like
// the scalar cast to short.
[[gnu::always_inline]] inline void Transpose(__m128i* r) {
  const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
  const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
  const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
  const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  r[0] = _mm_unpacklo_epi64(b0, b4);
  r[1] = _mm_unpackhi_epi64(b0, b4);
  r[2] = _mm_unpacklo_epi64(b1, b5);
  r[3] = _mm_unpackhi_epi64(b1, b5);
  r[4] = _mm_unpacklo_epi64(b2, b6);
  r[5] = _mm_unpackhi_epi64(b2, b6);
  r[6] = _mm_unpacklo_epi64(b3, b7);
  r[7] = _mm_unpackhi_epi64(b3, b7);
}

inline __m128i Pair(short a, short b) {
  return _mm_set_epi16(b, a, b, a, b, a, b, a);
}

[[gnu::always_inline]] inline __m128i Mul181Round(__m128i s) {
  const __m128i hi = _mm_srai_epi32(s, 8);
  const __m128i lo = _mm_and_si128(s, _mm_set1_epi32(255));
  auto m181 = [](__m128i x) {
    return _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(x, 7), _mm_slli_epi32(x, 5)),
                         _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(x, 4), _mm_slli_epi32(x, 2)), x));
  };
  return _mm_add_epi32(m181(hi), _mm_srai_epi32(_mm_add_epi32(m181(lo), _mm_set1_epi32(128)), 8));
}

// One 1-D pass over four lanes. p[k] holds the interleaved pairs the weights need; kRow selects the
// row pass (input << 11, rounding 128, output >> 8) or the column pass (<< 8, 8192, +4 >> 3, >> 14).
template <bool kRow>
[[gnu::always_inline]] inline void Pass4(__m128i c04, __m128i c17, __m128i c53, __m128i c26, __m128i* out) {
  const int nIn = kRow ? 2048 : 256;
  const __m128i round0 = _mm_set1_epi32(kRow ? 128 : 8192);
  const __m128i a = _mm_add_epi32(_mm_madd_epi16(c04, Pair(nIn, nIn)), round0);
  const __m128i b = _mm_add_epi32(_mm_madd_epi16(c04, Pair(nIn, -nIn)), round0);
  __m128i x4 = _mm_madd_epi16(c17, Pair(kW1, kW7));
  __m128i x5 = _mm_madd_epi16(c17, Pair(kW7, -kW1));
  __m128i x6 = _mm_madd_epi16(c53, Pair(kW5, kW3));
  __m128i x7 = _mm_madd_epi16(c53, Pair(kW3, -kW5));
  __m128i x2 = _mm_madd_epi16(c26, Pair(kW6, -kW2));
  __m128i x3 = _mm_madd_epi16(c26, Pair(kW2, kW6));
  if (!kRow) {
    const __m128i four = _mm_set1_epi32(4);
    x4 = _mm_srai_epi32(_mm_add_epi32(x4, four), 3);
    x5 = _mm_srai_epi32(_mm_add_epi32(x5, four), 3);
    x6 = _mm_srai_epi32(_mm_add_epi32(x6, four), 3);
    x7 = _mm_srai_epi32(_mm_add_epi32(x7, four), 3);
    x2 = _mm_srai_epi32(_mm_add_epi32(x2, four), 3);
    x3 = _mm_srai_epi32(_mm_add_epi32(x3, four), 3);
  }
  const __m128i x1 = _mm_add_epi32(x4, x6);
  x4 = _mm_sub_epi32(x4, x6);
  x6 = _mm_add_epi32(x5, x7);
  x5 = _mm_sub_epi32(x5, x7);
  const __m128i y7 = _mm_add_epi32(a, x3);
  const __m128i y8 = _mm_sub_epi32(a, x3);
  const __m128i y3 = _mm_add_epi32(b, x2);
  const __m128i y0 = _mm_sub_epi32(b, x2);
  const __m128i z2 = Mul181Round(_mm_add_epi32(x4, x5));
  const __m128i z4 = Mul181Round(_mm_sub_epi32(x4, x5));
  const int nShift = kRow ? 8 : 14;
  out[0] = _mm_srai_epi32(_mm_add_epi32(y7, x1), nShift);
  out[1] = _mm_srai_epi32(_mm_add_epi32(y3, z2), nShift);
  out[2] = _mm_srai_epi32(_mm_add_epi32(y0, z4), nShift);
  out[3] = _mm_srai_epi32(_mm_add_epi32(y8, x6), nShift);
  out[4] = _mm_srai_epi32(_mm_sub_epi32(y8, x6), nShift);
  out[5] = _mm_srai_epi32(_mm_sub_epi32(y0, z4), nShift);
  out[6] = _mm_srai_epi32(_mm_sub_epi32(y3, z2), nShift);
  out[7] = _mm_srai_epi32(_mm_sub_epi32(y7, x1), nShift);
}

[[gnu::always_inline]] inline __m128i Truncate16(__m128i lo, __m128i hi) {
  lo = _mm_srai_epi32(_mm_slli_epi32(lo, 16), 16);
  hi = _mm_srai_epi32(_mm_slli_epi32(hi, 16), 16);
  return _mm_packs_epi32(lo, hi);
}

// r[k]: element k of eight lanes (16 bits). Result: eight output elements of eight lanes.
template <bool kRow>
[[gnu::always_inline]] inline void Pass8(__m128i* r) {
  __m128i lo[8], hi[8];
  Pass4<kRow>(_mm_unpacklo_epi16(r[0], r[4]), _mm_unpacklo_epi16(r[1], r[7]), _mm_unpacklo_epi16(r[5], r[3]),
              _mm_unpacklo_epi16(r[2], r[6]), lo);
  Pass4<kRow>(_mm_unpackhi_epi16(r[0], r[4]), _mm_unpackhi_epi16(r[1], r[7]), _mm_unpackhi_epi16(r[5], r[3]),
              _mm_unpackhi_epi16(r[2], r[6]), hi);
  if (kRow) {
    for (int k = 0; k < 8; ++k) r[k] = Truncate16(lo[k], hi[k]);
  } else {
    const __m128i vmin = _mm_set1_epi16(-256), vmax = _mm_set1_epi16(255);
    for (int k = 0; k < 8; ++k)
      r[k] = _mm_min_epi16(_mm_max_epi16(_mm_packs_epi32(lo[k], hi[k]), vmin), vmax);
  }
}

[[gnu::always_inline]] inline void Transform(const short* block, __m128i* r) {
  for (int k = 0; k < 8; ++k) r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k));
  Transpose(r);
  Pass8<true>(r);
  Transpose(r);
  Pass8<false>(r);
}

// AVX2: the same pass over all eight lanes at once, 32-bit intermediates in one register.
#define PX_AVX2 __attribute__((target("avx2")))

PX_AVX2 inline __m256i Pair8(short a, short b) {
  return _mm256_set1_epi32(
      static_cast<int>((static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16) | static_cast<uint16_t>(a)));
}

// (181 lo + 128) >> 8 for lo in 0..255 is pmulhrsw by 181 x 128: (lo x 23168 + 16384) >> 15. lo
// sits in the low 16 bits of each 32-bit lane; the high half (0) stays 0.
PX_AVX2 inline __m256i Mul181Round8(__m256i s) {
  const __m256i hi = _mm256_srai_epi32(s, 8);
  const __m256i lo = _mm256_and_si256(s, _mm256_set1_epi32(255));
  return _mm256_add_epi32(_mm256_mullo_epi32(hi, _mm256_set1_epi32(181)),
                          _mm256_mulhrs_epi16(lo, _mm256_set1_epi32(181 * 128)));
}

PX_AVX2 inline __m256i Both(__m128i lo, __m128i hi) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

// One pass over eight lanes: cAB holds, in each 32-bit lane, elements A and B of that lane; out[k]
// is element k of each lane, 32 bits, before narrowing.
template <bool kRow>
[[gnu::always_inline]] PX_AVX2 inline void PassCoreAvx2(__m256i c04, __m256i c17, __m256i c53, __m256i c26,
                                                        __m256i* out) {
  const int nIn = kRow ? 2048 : 256;
  const __m256i round0 = _mm256_set1_epi32(kRow ? 128 : 8192);
  const __m256i a = _mm256_add_epi32(_mm256_madd_epi16(c04, Pair8(nIn, nIn)), round0);
  const __m256i b = _mm256_add_epi32(_mm256_madd_epi16(c04, Pair8(nIn, -nIn)), round0);
  __m256i x4 = _mm256_madd_epi16(c17, Pair8(kW1, kW7));
  __m256i x5 = _mm256_madd_epi16(c17, Pair8(kW7, -kW1));
  __m256i x6 = _mm256_madd_epi16(c53, Pair8(kW5, kW3));
  __m256i x7 = _mm256_madd_epi16(c53, Pair8(kW3, -kW5));
  __m256i x2 = _mm256_madd_epi16(c26, Pair8(kW6, -kW2));
  __m256i x3 = _mm256_madd_epi16(c26, Pair8(kW2, kW6));
  if (!kRow) {
    const __m256i four = _mm256_set1_epi32(4);
    x4 = _mm256_srai_epi32(_mm256_add_epi32(x4, four), 3);
    x5 = _mm256_srai_epi32(_mm256_add_epi32(x5, four), 3);
    x6 = _mm256_srai_epi32(_mm256_add_epi32(x6, four), 3);
    x7 = _mm256_srai_epi32(_mm256_add_epi32(x7, four), 3);
    x2 = _mm256_srai_epi32(_mm256_add_epi32(x2, four), 3);
    x3 = _mm256_srai_epi32(_mm256_add_epi32(x3, four), 3);
  }
  const __m256i x1 = _mm256_add_epi32(x4, x6);
  x4 = _mm256_sub_epi32(x4, x6);
  x6 = _mm256_add_epi32(x5, x7);
  x5 = _mm256_sub_epi32(x5, x7);
  const __m256i y7 = _mm256_add_epi32(a, x3);
  const __m256i y8 = _mm256_sub_epi32(a, x3);
  const __m256i y3 = _mm256_add_epi32(b, x2);
  const __m256i y0 = _mm256_sub_epi32(b, x2);
  const __m256i z2 = Mul181Round8(_mm256_add_epi32(x4, x5));
  const __m256i z4 = Mul181Round8(_mm256_sub_epi32(x4, x5));
  const int nShift = kRow ? 8 : 14;
  out[0] = _mm256_srai_epi32(_mm256_add_epi32(y7, x1), nShift);
  out[1] = _mm256_srai_epi32(_mm256_add_epi32(y3, z2), nShift);
  out[2] = _mm256_srai_epi32(_mm256_add_epi32(y0, z4), nShift);
  out[3] = _mm256_srai_epi32(_mm256_add_epi32(y8, x6), nShift);
  out[4] = _mm256_srai_epi32(_mm256_sub_epi32(y8, x6), nShift);
  out[5] = _mm256_srai_epi32(_mm256_sub_epi32(y0, z4), nShift);
  out[6] = _mm256_srai_epi32(_mm256_sub_epi32(y3, z2), nShift);
  out[7] = _mm256_srai_epi32(_mm256_sub_epi32(y7, x1), nShift);
}

template <bool kRow>
PX_AVX2 inline void Pass8Avx2(__m128i* r) {
  const __m256i c04 = Both(_mm_unpacklo_epi16(r[0], r[4]), _mm_unpackhi_epi16(r[0], r[4]));
  const __m256i c17 = Both(_mm_unpacklo_epi16(r[1], r[7]), _mm_unpackhi_epi16(r[1], r[7]));
  const __m256i c53 = Both(_mm_unpacklo_epi16(r[5], r[3]), _mm_unpackhi_epi16(r[5], r[3]));
  const __m256i c26 = Both(_mm_unpacklo_epi16(r[2], r[6]), _mm_unpackhi_epi16(r[2], r[6]));
  __m256i out[8];
  PassCoreAvx2<kRow>(c04, c17, c53, c26, out);
  for (int k = 0; k < 8; ++k) {
    __m256i v = out[k];
    if (kRow) v = _mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16);  // truncate like the scalar cast
    __m128i p = _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    if (!kRow) p = _mm_min_epi16(_mm_max_epi16(p, _mm_set1_epi16(-256)), _mm_set1_epi16(255));
    r[k] = p;
  }
}

PX_AVX2 void TransformAvx2(const short* block, __m128i* r) {
  for (int k = 0; k < 8; ++k) r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k));
  Transpose(r);
  Pass8Avx2<true>(r);
  Transpose(r);
  Pass8Avx2<false>(r);
}

// AVX-512: the block is two registers, and every transposition (in, between the passes) is a
// word permutation of them: T[8i + k] = element k of lane i in both passes, so the pairs of lane i
// are words 8i + a and 8i + b. The row results are narrowed by taking their low 16 bits (the same
// truncation as the scalar cast).
#define PX_AVX512 __attribute__((target("avx512bw,avx2")))
// GCC 12's 512-bit extract and cast intrinsics start from an undefined vector and warn about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

struct PairIndex {
  alignas(64) int16_t a[32];     // c04 | c17
  alignas(64) int16_t b[32];     // c53 | c26
  alignas(64) int16_t pack[32];  // low words of four 8-lane results, element-major
  constexpr PairIndex() : a(), b(), pack() {
    for (int i = 0; i < 8; ++i) {
      a[2 * i] = static_cast<int16_t>(8 * i);
      a[2 * i + 1] = static_cast<int16_t>(8 * i + 4);
      a[16 + 2 * i] = static_cast<int16_t>(8 * i + 1);
      a[16 + 2 * i + 1] = static_cast<int16_t>(8 * i + 7);
      b[2 * i] = static_cast<int16_t>(8 * i + 5);
      b[2 * i + 1] = static_cast<int16_t>(8 * i + 3);
      b[16 + 2 * i] = static_cast<int16_t>(8 * i + 2);
      b[16 + 2 * i + 1] = static_cast<int16_t>(8 * i + 6);
      for (int k = 0; k < 4; ++k) pack[8 * k + i] = static_cast<int16_t>(16 * k + 2 * i);
    }
  }
};
constexpr PairIndex kPairIndex;

template <bool kRow>
[[gnu::always_inline]] PX_AVX512 inline void Pass8Avx512(__m512i lo, __m512i hi, __m256i* out) {
  const __m512i p = _mm512_permutex2var_epi16(lo, _mm512_load_si512(kPairIndex.a), hi);
  const __m512i q = _mm512_permutex2var_epi16(lo, _mm512_load_si512(kPairIndex.b), hi);
  PassCoreAvx2<kRow>(_mm512_castsi512_si256(p), _mm512_extracti64x4_epi64(p, 1), _mm512_castsi512_si256(q),
                     _mm512_extracti64x4_epi64(q, 1), out);
}

[[gnu::always_inline]] PX_AVX512 inline __m512i Two(__m256i a, __m256i b) {
  return _mm512_inserti64x4(_mm512_zextsi256_si512(a), b, 1);
}

PX_AVX512 void TransformAvx512(const short* block, __m128i* r) {
  __m256i out[8];
  Pass8Avx512<true>(_mm512_loadu_si512(block), _mm512_loadu_si512(block + 32), out);
  const __m512i pack = _mm512_load_si512(kPairIndex.pack);
  const __m512i lo = _mm512_permutex2var_epi16(Two(out[0], out[1]), pack, Two(out[2], out[3]));
  const __m512i hi = _mm512_permutex2var_epi16(Two(out[4], out[5]), pack, Two(out[6], out[7]));
  Pass8Avx512<false>(lo, hi, out);
  // Clipped in 32 bits, then the low words of four rows per register, row-major.
  const __m512i vmin = _mm512_set1_epi32(-256), vmax = _mm512_set1_epi32(255);
  __m512i c[4];
  for (int k = 0; k < 4; ++k)
    c[k] = _mm512_min_epi32(_mm512_max_epi32(Two(out[2 * k], out[2 * k + 1]), vmin), vmax);
  const __m512i rows03 = _mm512_permutex2var_epi16(c[0], pack, c[1]);
  const __m512i rows47 = _mm512_permutex2var_epi16(c[2], pack, c[3]);
  r[0] = _mm512_castsi512_si128(rows03);
  r[1] = _mm512_extracti32x4_epi32(rows03, 1);
  r[2] = _mm512_extracti32x4_epi32(rows03, 2);
  r[3] = _mm512_extracti32x4_epi32(rows03, 3);
  r[4] = _mm512_castsi512_si128(rows47);
  r[5] = _mm512_extracti32x4_epi32(rows47, 1);
  r[6] = _mm512_extracti32x4_epi32(rows47, 2);
  r[7] = _mm512_extracti32x4_epi32(rows47, 3);
}

#pragma GCC diagnostic pop

const bool s_bAvx2 = [] {
  __builtin_cpu_init();  // may run before the library's own initialisation
  return __builtin_cpu_supports("avx2") != 0;
}();
const bool s_bAvx512 = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512bw") != 0;
}();

inline void TransformBest(const short* block, __m128i* r) {
  if (s_bAvx512)
    TransformAvx512(block, r);
  else if (s_bAvx2)
    TransformAvx2(block, r);
  else
    Transform(block, r);
}

}  // namespace

void IdctChenWangReference(short* block) {
  for (int i = 0; i < 8; ++i) IdctRow(block + 8 * i);
  for (int i = 0; i < 8; ++i) IdctColumn(block + i);
}

void IdctChenWangSse2(short* block) {
  __m128i r[8];
  Transform(block, r);
  for (int k = 0; k < 8; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * k), r[k]);
}

bool IdctChenWangAvx2(short* block) {
  if (!s_bAvx2) return false;
  __m128i r[8];
  TransformAvx2(block, r);
  for (int k = 0; k < 8; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * k), r[k]);
  return true;
}

void IdctChenWang(short* block) {
  __m128i r[8];
  TransformBest(block, r);
  for (int k = 0; k < 8; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * k), r[k]);
}

void IdctPut(short* block, uint8_t* pDst, ptrdiff_t nStride) {
  __m128i r[8];
  TransformBest(block, r);
  const __m128i zero = _mm_setzero_si128();
  for (int k = 0; k < 8; ++k, pDst += nStride) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pDst), _mm_packus_epi16(r[k], r[k]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * k), zero);
  }
}

void IdctAdd(short* block, uint8_t* pDst, ptrdiff_t nStride) {
  __m128i r[8];
  TransformBest(block, r);
  const __m128i zero = _mm_setzero_si128();
  for (int k = 0; k < 8; ++k, pDst += nStride) {
    const __m128i p = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pDst)), zero);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pDst), _mm_packus_epi16(_mm_add_epi16(p, r[k]), r[k]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * k), zero);
  }
}

void IdctAddConstant(int nValue, uint8_t* pDst, ptrdiff_t nStride) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i v = _mm_set1_epi16(static_cast<short>(nValue));
  for (int k = 0; k < 8; ++k, pDst += nStride) {
    const __m128i p = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pDst)), zero);
    const __m128i s = _mm_add_epi16(p, v);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pDst), _mm_packus_epi16(s, s));
  }
}
