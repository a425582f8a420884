// The chroma kernels' line filter. Plain code: the 32-bit sum as written; SSE2: pmaddwd on
// sample pairs; AVX2 and AVX-512: the 16-bit form (see NarrowKernel) with pmaddubsw.
#include "mpegfilter/ChromaKernel.h"

#include <immintrin.h>

namespace {

inline uint8_t Clamp(int x) {
  return static_cast<uint8_t>(x < 0 ? 0 : (x > 255 ? 255 : x));
}

// Thirty-two samples at a time of the narrowed kernel. With the middle pair as base,
// 128 * (a + b) = 256 * avg_up(a, b) - 128 * ((a ^ b) & 1), so the rounding term loses 128 when a
// and b differ in parity. Lines of 32 samples or more end with an overlapping step (out must not
// overlap the inputs). Returns the samples done.
// kBase: index of the base sample, or -1 for the middle pair. The correction (D + 128) >> 8 (one
// pmulhrsw by 128) lies within -128..127 for every usable kernel (|D| < 32767 - 128 and
// D / 256 < 128), so it is added to the base bytes moved to -128..127 with signed saturation,
// which is the clamp to 0..255.
template <int kBase>
__attribute__((target("avx2"))) int Tap6Avx2(const uint8_t* const* ps, const NarrowKernel& nk, int n,
                                             uint8_t* out) {
  if (n < 32) return 0;
  __m256i kk[3];
  for (int p = 0; p < 3; ++p)
    kk[p] = _mm256_set1_epi16(static_cast<int16_t>((static_cast<uint32_t>(nk.n[2 * p]) & 0xFF) |
                                                   ((static_cast<uint32_t>(nk.n[2 * p + 1]) & 0xFF) << 8)));
  const __m256i zero = _mm256_setzero_si256(), k128 = _mm256_set1_epi16(128), one = _mm256_set1_epi8(1);
  const __m256i bias = _mm256_set1_epi8(static_cast<char>(0x80));
  const uint8_t* s0 = ps[0];
  const uint8_t* s1 = ps[1];
  const uint8_t* s2 = ps[2];
  const uint8_t* s3 = ps[3];
  const uint8_t* s4 = ps[4];
  const uint8_t* s5 = ps[5];
  int x = 0;
  for (;;) {
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s0 + x));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s1 + x));
    const __m256i v2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s2 + x));
    const __m256i v3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s3 + x));
    const __m256i v4 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s4 + x));
    const __m256i v5 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s5 + x));
    __m256i dl = _mm256_add_epi16(_mm256_add_epi16(_mm256_maddubs_epi16(_mm256_unpacklo_epi8(v0, v1), kk[0]),
                                                   _mm256_maddubs_epi16(_mm256_unpacklo_epi8(v2, v3), kk[1])),
                                  _mm256_maddubs_epi16(_mm256_unpacklo_epi8(v4, v5), kk[2]));
    __m256i dh = _mm256_add_epi16(_mm256_add_epi16(_mm256_maddubs_epi16(_mm256_unpackhi_epi8(v0, v1), kk[0]),
                                                   _mm256_maddubs_epi16(_mm256_unpackhi_epi8(v2, v3), kk[1])),
                                  _mm256_maddubs_epi16(_mm256_unpackhi_epi8(v4, v5), kk[2]));
    __m256i base;
    if constexpr (kBase < 0) {
      base = _mm256_avg_epu8(v2, v3);
      const __m256i odd = _mm256_and_si256(_mm256_xor_si256(v2, v3), one);
      dl = _mm256_sub_epi16(dl, _mm256_slli_epi16(_mm256_unpacklo_epi8(odd, zero), 7));
      dh = _mm256_sub_epi16(dh, _mm256_slli_epi16(_mm256_unpackhi_epi8(odd, zero), 7));
    } else {
      const __m256i v[6] = {v0, v1, v2, v3, v4, v5};
      base = v[kBase];
    }
    // (D + 128) >> 8 as pmulhrsw by 128; base + delta clamped to 0..255 as a signed saturating
    // add on the base moved to -128..127.
    const __m256i delta = _mm256_packs_epi16(_mm256_mulhrs_epi16(dl, k128), _mm256_mulhrs_epi16(dh, k128));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                        _mm256_xor_si256(_mm256_adds_epi8(_mm256_xor_si256(base, bias), delta), bias));
    if (x + 32 == n) break;
    x = x + 64 <= n ? x + 32 : n - 32;
  }
  return n;
}

int Tap6Avx2(const uint8_t* const* s, const NarrowKernel& nk, int n, uint8_t* out) {
  if (nk.bMiddlePair) return Tap6Avx2<-1>(s, nk, n, out);
  switch (nk.nBase) {
    case 0:
      return Tap6Avx2<0>(s, nk, n, out);
    case 1:
      return Tap6Avx2<1>(s, nk, n, out);
    case 2:
      return Tap6Avx2<2>(s, nk, n, out);
    case 3:
      return Tap6Avx2<3>(s, nk, n, out);
    case 4:
      return Tap6Avx2<4>(s, nk, n, out);
    default:
      return Tap6Avx2<5>(s, nk, n, out);
  }
}

// The same sixty-four samples at a time (AVX-512 BW).
template <int kBase>
__attribute__((target("avx512bw"))) int Tap6Avx512(const uint8_t* const* ps, const NarrowKernel& nk, int n,
                                                   uint8_t* out) {
  if (n < 64) return 0;
  __m512i kk[3];
  for (int p = 0; p < 3; ++p)
    kk[p] = _mm512_set1_epi16(static_cast<int16_t>((static_cast<uint32_t>(nk.n[2 * p]) & 0xFF) |
                                                   ((static_cast<uint32_t>(nk.n[2 * p + 1]) & 0xFF) << 8)));
  const __m512i zero = _mm512_setzero_si512(), k128 = _mm512_set1_epi16(128), one = _mm512_set1_epi8(1);
  const __m512i bias = _mm512_set1_epi8(static_cast<char>(0x80));
  const uint8_t* s0 = ps[0];
  const uint8_t* s1 = ps[1];
  const uint8_t* s2 = ps[2];
  const uint8_t* s3 = ps[3];
  const uint8_t* s4 = ps[4];
  const uint8_t* s5 = ps[5];
  int x = 0;
  for (;;) {
    const __m512i v0 = _mm512_loadu_si512((s0 + x));
    const __m512i v1 = _mm512_loadu_si512((s1 + x));
    const __m512i v2 = _mm512_loadu_si512((s2 + x));
    const __m512i v3 = _mm512_loadu_si512((s3 + x));
    const __m512i v4 = _mm512_loadu_si512((s4 + x));
    const __m512i v5 = _mm512_loadu_si512((s5 + x));
    __m512i dl = _mm512_add_epi16(_mm512_add_epi16(_mm512_maddubs_epi16(_mm512_unpacklo_epi8(v0, v1), kk[0]),
                                                   _mm512_maddubs_epi16(_mm512_unpacklo_epi8(v2, v3), kk[1])),
                                  _mm512_maddubs_epi16(_mm512_unpacklo_epi8(v4, v5), kk[2]));
    __m512i dh = _mm512_add_epi16(_mm512_add_epi16(_mm512_maddubs_epi16(_mm512_unpackhi_epi8(v0, v1), kk[0]),
                                                   _mm512_maddubs_epi16(_mm512_unpackhi_epi8(v2, v3), kk[1])),
                                  _mm512_maddubs_epi16(_mm512_unpackhi_epi8(v4, v5), kk[2]));
    __m512i base;
    if constexpr (kBase < 0) {
      base = _mm512_avg_epu8(v2, v3);
      const __m512i odd = _mm512_and_si512(_mm512_xor_si512(v2, v3), one);
      dl = _mm512_sub_epi16(dl, _mm512_slli_epi16(_mm512_unpacklo_epi8(odd, zero), 7));
      dh = _mm512_sub_epi16(dh, _mm512_slli_epi16(_mm512_unpackhi_epi8(odd, zero), 7));
    } else {
      const __m512i v[6] = {v0, v1, v2, v3, v4, v5};
      base = v[kBase];
    }
    const __m512i delta = _mm512_packs_epi16(_mm512_mulhrs_epi16(dl, k128), _mm512_mulhrs_epi16(dh, k128));
    _mm512_storeu_si512(out + x,
                        _mm512_xor_si512(_mm512_adds_epi8(_mm512_xor_si512(base, bias), delta), bias));
    if (x + 64 == n) break;
    x = x + 128 <= n ? x + 64 : n - 64;
  }
  return n;
}

int Tap6Avx512(const uint8_t* const* s, const NarrowKernel& nk, int n, uint8_t* out) {
  if (nk.bMiddlePair) return Tap6Avx512<-1>(s, nk, n, out);
  switch (nk.nBase) {
    case 0:
      return Tap6Avx512<0>(s, nk, n, out);
    case 1:
      return Tap6Avx512<1>(s, nk, n, out);
    case 2:
      return Tap6Avx512<2>(s, nk, n, out);
    case 3:
      return Tap6Avx512<3>(s, nk, n, out);
    case 4:
      return Tap6Avx512<4>(s, nk, n, out);
    default:
      return Tap6Avx512<5>(s, nk, n, out);
  }
}

}  // namespace

// One output line: the widest allowed step over as much of the line as it can take, then the
// narrower ones, then the plain formula.
void ChromaKernel::Apply(const uint8_t* const* s, int n, uint8_t* out, ColorConverter::Simd simd) const {
  int x = 0;
  if (simd >= ColorConverter::Simd::kAvx512 && nk.bUsable) x = Tap6Avx512(s, nk, n, out);
  if (x == 0 && simd >= ColorConverter::Simd::kAvx2 && nk.bUsable) x = Tap6Avx2(s, nk, n, out);
#if defined(__SSE2__)
  if (simd >= ColorConverter::Simd::kSse) {
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
  }
#endif
  for (; x < n; ++x) {
    int v = 128;
    for (int i = 0; i < 6; ++i) v += k[i] * s[i][x];
    out[x] = Clamp(v >> 8);
  }
}
