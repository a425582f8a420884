// Chroma interpolation and YCbCr to BGR conversion. The kernels sum to 256: output =
// (sum + 128) >> 8 through the clipping table (values -384..639).
#include "mpegfilter/ColorConverter.h"

#include <emmintrin.h>
#include <immintrin.h>
#include <tmmintrin.h>

#include <cstring>

#include "mpegfilter/ChromaKernel.h"
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

// Widest instruction set in use (LimitSimd); detected once at load.
ColorConverter::Simd DetectSimd() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi"))
    return __builtin_cpu_supports("avx512vnni") ? ColorConverter::Simd::kAvx512Vnni
                                                : ColorConverter::Simd::kAvx512;
  if (__builtin_cpu_supports("avx2")) return ColorConverter::Simd::kAvx2;
  return __builtin_cpu_supports("ssse3") ? ColorConverter::Simd::kSse : ColorConverter::Simd::kNone;
}
ColorConverter::Simd g_simd = DetectSimd();
const ColorConverter::Simd g_simdFound = g_simd;

// Vertical, progressive frame: line 2i and line 2i + 1.
constexpr ChromaKernel kProg[2] = {ChromaKernel(3, -16, 67, 227, -32, 7),
                                   ChromaKernel(7, -32, 227, 67, -16, 3)};
// Vertical, interlaced frame: [field][first or second line of the field's pair].
constexpr ChromaKernel kField[2][2] = {
    {ChromaKernel(1, -7, 30, 248, -21, 5), ChromaKernel(7, -35, 194, 110, -24, 4)},
    {ChromaKernel(4, -24, 110, 194, -35, 7), ChromaKernel(5, -21, 248, 30, -7, 1)}};
// Horizontal: MPEG-1 (both samples interpolated) and MPEG-2 (the new sample between two).
constexpr ChromaKernel kMpeg1[2] = {ChromaKernel(5, -21, 70, 228, -37, 11),
                                    ChromaKernel(11, -37, 228, 70, -21, 5)};
constexpr ChromaKernel kMpeg2 = ChromaKernel(21, -52, 159, 159, -52, 21);
static_assert(kProg[0].nk.bUsable && kProg[1].nk.bUsable && kField[0][0].nk.bUsable &&
                  kField[0][1].nk.bUsable && kField[1][0].nk.bUsable && kField[1][1].nk.bUsable &&
                  kMpeg1[0].nk.bUsable && kMpeg1[1].nk.bUsable && kMpeg2.nk.bUsable,
              "every kernel has a 16-bit form");

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

constexpr int kChunk = 1024;  // interior samples filtered per pass (stack buffers)

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

// Each coefficient K as M * 65536 + R with R in 16 bits: the sum of K * x + 32768 then shifts
// right by 16 to (sum of M * x) + ((sum of R * x + 32768) >> 16), the same integer, and the small
// M take 16-bit lanes while the R sums are pmaddwd pairs.
struct Split {
  int m, r;
};
constexpr Split SplitCoefficient(int k) {
  const int m = (k + 32768) >> 16;
  return {m, k - m * 65536};
}
constexpr int kLuma = 76309;
static_assert(SplitCoefficient(kLuma).m == 1, "the luma weight is 1 + R / 65536");

// Two 16-bit weights in every 32-bit lane, for pmaddwd.
__attribute__((target("avx2"))) inline __m256i PairAvx2(int a, int b) {
  return _mm256_set1_epi32(
      static_cast<int>((static_cast<uint32_t>(a) & 0xFFFF) | (static_cast<uint32_t>(b) << 16)));
}
// Sixteen bytes as sixteen 16-bit values.
__attribute__((target("avx2"))) inline __m256i WidenAvx2(const uint8_t* p) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
// The high halves of two sets of 32-bit sums as one set of 16-bit values (they are small).
__attribute__((target("avx2"))) inline __m256i HighHalvesAvx2(__m256i a0, __m256i a1) {
  return _mm256_packs_epi32(_mm256_srai_epi32(a0, 16), _mm256_srai_epi32(a1, 16));
}

// pshufb masks of ConvertRowAvx2 [block][channel], the same in both 128-bit halves: output byte j
// of block k (16 bytes) of a half is channel j % 3 of pixel p = (16k + j) / 3, which sits at byte
// p / 2 (even p) or 8 + p / 2 (odd p) of that channel's packed result.
struct BgrShuffle {
  alignas(32) int8_t m[9][32];
  constexpr BgrShuffle() : m() {
    for (int blk = 0; blk < 3; ++blk)
      for (int ch = 0; ch < 3; ++ch)
        for (int j = 0; j < 16; ++j) {
          const int n = 16 * blk + j, p = n / 3;
          m[3 * blk + ch][j] = m[3 * blk + ch][16 + j] =
              static_cast<int8_t>(n % 3 == ch ? (p & 1 ? 8 : 0) + p / 2 : -1);
        }
  }
};
constexpr BgrShuffle kBgrShuffle;

// The whole parts of the weights are the same in every row of kMatrix: red = y' + 2v, blue =
// y' + 2u, green = y' - v, each plus its part below 65536. The AVX2 path relies on that.
constexpr bool WholePartsFixed() {
  for (const auto& c : kMatrix)
    if (SplitCoefficient(c[0]).m != 2 || SplitCoefficient(c[1]).m != 2 || SplitCoefficient(-c[2]).m != 0 ||
        SplitCoefficient(-c[3]).m != -1)
      return false;
  return true;
}
static_assert(WholePartsFixed(), "ConvertRowAvx2 assumes these whole parts");

// Thirty-two pixels at a time, exact (see Split). The samples are taken raw (the offsets 16 and
// 128 and the whole parts' constants are folded into one 32-bit constant per channel), even and
// odd pixels apart (masking and shifting, which leaves the shuffle unit free), and the final byte
// shuffle, which puts blue, green and red in order, also restores the pixel order. Both 128-bit
// halves shuffle at once; each half is 16 pixels, 48 bytes. Rows of 32 pixels or more end with an
// overlapping step, so there is no remainder. Returns the pixels done.
// kHalf: chroma comes as half-width lines, pbe/pre for the even pixels and pbo/pro for the odd
// ones (horizontal doubling without interleaving); the last step then starts on an even pixel, so
// an odd width leaves its last pixel to the caller. Otherwise pbe/pre are full rows.
template <bool kHalf>
__attribute__((target("avx2"))) int ConvertRowAvx2(const uint8_t* py, const uint8_t* pbe, const uint8_t* pbo,
                                                   const uint8_t* pre, const uint8_t* pro, int w,
                                                   const int* c, uint8_t* o) {
  if (w < 32) return 0;
  const int xLast = kHalf ? ((w - 32) & ~1) : w - 32;
  const Split sy = SplitCoefficient(kLuma), sr = SplitCoefficient(c[0]), sb = SplitCoefficient(c[1]);
  const Split sgu = SplitCoefficient(-c[2]), sgv = SplitCoefficient(-c[3]);
  const __m256i kR = PairAvx2(sy.r, sr.r), kB = PairAvx2(sy.r, sb.r), kGu = PairAvx2(sy.r, sgu.r);
  const __m256i kGv = PairAvx2(0, sgv.r);
  // (K_y (Y - 16) + K (C - 128) + 32768) >> 16 with whole parts moved out: the constant carries
  // the rounding, the offsets times the parts below 65536, and the offsets times the whole parts
  // (shifted up by 16, so they survive the shift as whole numbers).
  const __m256i cR = _mm256_set1_epi32(32768 - 16 * sy.r - 128 * sr.r - (16 + 2 * 128) * 65536);
  const __m256i cB = _mm256_set1_epi32(32768 - 16 * sy.r - 128 * sb.r - (16 + 2 * 128) * 65536);
  const __m256i cG = _mm256_set1_epi32(32768 - 16 * sy.r - 128 * sgu.r - 128 * sgv.r - (16 - 128) * 65536);
  const __m256i lowByte = _mm256_set1_epi16(0x00FF);
  const __m256i* sh = reinterpret_cast<const __m256i*>(kBgrShuffle.m);
  int x = 0;
  for (;;) {
    const __m256i vy = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(py + x));
    __m256i vb, vr, hb[2], hr[2];
    if constexpr (kHalf) {
      hb[0] = WidenAvx2(pbe + x / 2);
      hb[1] = WidenAvx2(pbo + x / 2);
      hr[0] = WidenAvx2(pre + x / 2);
      hr[1] = WidenAvx2(pro + x / 2);
    } else {
      vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pbe + x));
      vr = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pre + x));
    }
    __m256i res[3][2];
    for (int odd = 0; odd < 2; ++odd) {
      const __m256i y = odd ? _mm256_srli_epi16(vy, 8) : _mm256_and_si256(vy, lowByte);
      __m256i u, v;
      if constexpr (kHalf) {
        u = hb[odd];
        v = hr[odd];
      } else {
        u = odd ? _mm256_srli_epi16(vb, 8) : _mm256_and_si256(vb, lowByte);
        v = odd ? _mm256_srli_epi16(vr, 8) : _mm256_and_si256(vr, lowByte);
      }
      const __m256i yv0 = _mm256_unpacklo_epi16(y, v), yv1 = _mm256_unpackhi_epi16(y, v);
      const __m256i yu0 = _mm256_unpacklo_epi16(y, u), yu1 = _mm256_unpackhi_epi16(y, u);
      const __m256i fr = HighHalvesAvx2(_mm256_add_epi32(_mm256_madd_epi16(yv0, kR), cR),
                                        _mm256_add_epi32(_mm256_madd_epi16(yv1, kR), cR));
      const __m256i fb = HighHalvesAvx2(_mm256_add_epi32(_mm256_madd_epi16(yu0, kB), cB),
                                        _mm256_add_epi32(_mm256_madd_epi16(yu1, kB), cB));
      const __m256i fg = HighHalvesAvx2(
          _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(yu0, kGu), _mm256_madd_epi16(yv0, kGv)), cG),
          _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(yu1, kGu), _mm256_madd_epi16(yv1, kGv)), cG));
      res[0][odd] = _mm256_add_epi16(_mm256_add_epi16(y, _mm256_add_epi16(u, u)), fb);
      res[1][odd] = _mm256_add_epi16(_mm256_sub_epi16(y, v), fg);
      res[2][odd] = _mm256_add_epi16(_mm256_add_epi16(y, _mm256_add_epi16(v, v)), fr);
    }
    const __m256i b = _mm256_packus_epi16(res[0][0], res[0][1]);
    const __m256i g = _mm256_packus_epi16(res[1][0], res[1][1]);
    const __m256i r = _mm256_packus_epi16(res[2][0], res[2][1]);
    uint8_t* dst = o + 3 * x;
    for (int blk = 0; blk < 3; ++blk) {
      const __m256i v =
          _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(b, _mm256_load_si256(sh + 3 * blk)),
                                          _mm256_shuffle_epi8(g, _mm256_load_si256(sh + 3 * blk + 1))),
                          _mm256_shuffle_epi8(r, _mm256_load_si256(sh + 3 * blk + 2)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16 * blk), _mm256_castsi256_si128(v));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 48 + 16 * blk), _mm256_extracti128_si256(v, 1));
    }
    if (x == xLast) break;
    x = x + 32 <= xLast ? x + 32 : xLast;
  }
  return xLast + 32;
}

// Byte permutations of ConvertRowAvx512 for output vector q (64 bytes): byte j is channel
// (64q + j) % 3 of pixel p = (64q + j) / 3, which sits in its channel's packed result at
// 16 * (p / 16) + (p odd ? 8 : 0) + (p % 16) / 2. First blue and green (index + 64 picks green),
// then red where kRedMask is set.
struct BgrPermute {
  alignas(64) uint8_t bg[3][64];
  alignas(64) uint8_t r[3][64];
  uint64_t redMask[3];
  constexpr BgrPermute() : bg(), r(), redMask() {
    for (int q = 0; q < 3; ++q)
      for (int j = 0; j < 64; ++j) {
        const int n = 64 * q + j, p = n / 3, ch = n % 3, i = p % 16;
        const int pos = 16 * (p / 16) + (i & 1 ? 8 : 0) + i / 2;
        bg[q][j] = static_cast<uint8_t>(ch == 0 ? pos : (ch == 1 ? 64 + pos : 0));
        r[q][j] = static_cast<uint8_t>(ch == 2 ? pos : 0);
        if (ch == 2) redMask[q] |= uint64_t{1} << j;
      }
  }
};
constexpr BgrPermute kBgrPermute;

// The 32-bit sums of ConvertRowAvx512: acc + pmaddwd(a, k), one instruction with VNNI.
template <bool kVnni>
__attribute__((target("avx512bw,avx512vnni"))) inline __m512i DotAdd(__m512i acc, __m512i a, __m512i k) {
  if constexpr (kVnni)
    return _mm512_dpwssd_epi32(acc, a, k);
  else
    return _mm512_add_epi32(_mm512_madd_epi16(a, k), acc);
}

// ConvertRowAvx2<true> sixty-four pixels at a time: the same arithmetic in 512-bit registers, and
// the interleaving as two byte permutations per 64 output bytes (AVX-512 VBMI). kVnni: the sums
// as dot products with accumulation (the same integers).
// GCC 12's 512-bit shift intrinsics start from an undefined vector and warn about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
template <bool kVnni>
__attribute__((target("avx512bw,avx512vbmi,avx512vnni"))) int ConvertRowAvx512(
    const uint8_t* py, const uint8_t* pbe, const uint8_t* pbo, const uint8_t* pre, const uint8_t* pro, int w,
    const int* c, uint8_t* o) {
  if (w < 64) return 0;
  const int xLast = (w - 64) & ~1;
  const Split sy = SplitCoefficient(kLuma), sr = SplitCoefficient(c[0]), sb = SplitCoefficient(c[1]);
  const Split sgu = SplitCoefficient(-c[2]), sgv = SplitCoefficient(-c[3]);
  auto pair = [](int a, int b) {
    return static_cast<int>((static_cast<uint32_t>(a) & 0xFFFF) | (static_cast<uint32_t>(b) << 16));
  };
  const __m512i kR = _mm512_set1_epi32(pair(sy.r, sr.r)), kB = _mm512_set1_epi32(pair(sy.r, sb.r));
  const __m512i kGu = _mm512_set1_epi32(pair(sy.r, sgu.r)), kGv = _mm512_set1_epi32(pair(0, sgv.r));
  const __m512i cR = _mm512_set1_epi32(32768 - 16 * sy.r - 128 * sr.r - (16 + 2 * 128) * 65536);
  const __m512i cB = _mm512_set1_epi32(32768 - 16 * sy.r - 128 * sb.r - (16 + 2 * 128) * 65536);
  const __m512i cG = _mm512_set1_epi32(32768 - 16 * sy.r - 128 * sgu.r - 128 * sgv.r - (16 - 128) * 65536);
  const __m512i lowByte = _mm512_set1_epi16(0x00FF);
  int x = 0;
  for (;;) {
    const __m512i vy = _mm512_loadu_si512(py + x);
    const __m512i hb[2] = {
        _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pbe + x / 2))),
        _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pbo + x / 2)))};
    const __m512i hr[2] = {
        _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pre + x / 2))),
        _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pro + x / 2)))};
    __m512i res[3][2];
    for (int odd = 0; odd < 2; ++odd) {
      const __m512i y = odd ? _mm512_srli_epi16(vy, 8) : _mm512_and_si512(vy, lowByte);
      const __m512i u = hb[odd], v = hr[odd];
      const __m512i yv0 = _mm512_unpacklo_epi16(y, v), yv1 = _mm512_unpackhi_epi16(y, v);
      const __m512i yu0 = _mm512_unpacklo_epi16(y, u), yu1 = _mm512_unpackhi_epi16(y, u);
      const __m512i fr = _mm512_packs_epi32(_mm512_srai_epi32(DotAdd<kVnni>(cR, yv0, kR), 16),
                                            _mm512_srai_epi32(DotAdd<kVnni>(cR, yv1, kR), 16));
      const __m512i fb = _mm512_packs_epi32(_mm512_srai_epi32(DotAdd<kVnni>(cB, yu0, kB), 16),
                                            _mm512_srai_epi32(DotAdd<kVnni>(cB, yu1, kB), 16));
      const __m512i fg =
          _mm512_packs_epi32(_mm512_srai_epi32(DotAdd<kVnni>(DotAdd<kVnni>(cG, yu0, kGu), yv0, kGv), 16),
                             _mm512_srai_epi32(DotAdd<kVnni>(DotAdd<kVnni>(cG, yu1, kGu), yv1, kGv), 16));
      res[0][odd] = _mm512_add_epi16(_mm512_add_epi16(y, _mm512_add_epi16(u, u)), fb);
      res[1][odd] = _mm512_add_epi16(_mm512_sub_epi16(y, v), fg);
      res[2][odd] = _mm512_add_epi16(_mm512_add_epi16(y, _mm512_add_epi16(v, v)), fr);
    }
    const __m512i b = _mm512_packus_epi16(res[0][0], res[0][1]);
    const __m512i g = _mm512_packus_epi16(res[1][0], res[1][1]);
    const __m512i r = _mm512_packus_epi16(res[2][0], res[2][1]);
    uint8_t* dst = o + 3 * x;
    for (int q = 0; q < 3; ++q) {
      const __m512i bg = _mm512_permutex2var_epi8(b, _mm512_load_si512(kBgrPermute.bg[q]), g);
      _mm512_storeu_si512(dst + 64 * q, _mm512_mask_permutexvar_epi8(bg, kBgrPermute.redMask[q],
                                                                     _mm512_load_si512(kBgrPermute.r[q]), r));
    }
    if (x == xLast) break;
    x = x + 64 <= xLast ? x + 64 : xLast;
  }
  return xLast + 64;
}
#pragma GCC diagnostic pop

// Leading pixels of a row by the widest path allowed; returns the pixels done.
int ConvertRowFast(const uint8_t* py, const uint8_t* pb, const uint8_t* pr, int w, const int* c, uint8_t* o) {
  int x = 0;
  if (g_simd >= ColorConverter::Simd::kAvx2) x = ConvertRowAvx2<false>(py, pb, nullptr, pr, nullptr, w, c, o);
  if (x < w && g_simd >= ColorConverter::Simd::kSse && g_simdFound >= ColorConverter::Simd::kSse)
    x += ConvertRowSsse3(py + x, pb + x, pr + x, w - x, c, o + 3 * x);
  return x;
}

// A row whose chroma is given as even-pixel and odd-pixel half lines (AVX2 only).
void ConvertRowHalf(const uint8_t* py, const uint8_t* pbe, const uint8_t* pbo, const uint8_t* pre,
                    const uint8_t* pro, int w, int nMatrix, uint8_t* o) {
  const int* c = kMatrix[nMatrix >= 0 && nMatrix <= 7 ? nMatrix : 5];
  int x = 0;
  if (g_simd >= ColorConverter::Simd::kAvx512Vnni)
    x = ConvertRowAvx512<true>(py, pbe, pbo, pre, pro, w, c, o);
  else if (g_simd >= ColorConverter::Simd::kAvx512)
    x = ConvertRowAvx512<false>(py, pbe, pbo, pre, pro, w, c, o);
  if (x == 0) x = ConvertRowAvx2<true>(py, pbe, pbo, pre, pro, w, c, o);
  for (; x < w; ++x) {
    const int yy = kLuma * (py[x] - 16);
    const int i = x >> 1;
    const int u = ((x & 1) ? pbo[i] : pbe[i]) - 128;
    const int v = ((x & 1) ? pro[i] : pre[i]) - 128;
    uint8_t* p = o + 3 * x;
    p[2] = Clamp((yy + c[0] * v + 32768) >> 16);
    p[1] = Clamp((yy - c[2] * u - c[3] * v + 32768) >> 16);
    p[0] = Clamp((yy + c[1] * u + 32768) >> 16);
  }
}

}  // namespace

ColorConverter::Simd ColorConverter::LimitSimd(Simd max) {
  const Simd old = g_simd;
  g_simd = max < g_simdFound ? max : g_simdFound;
  return old;
}

void ColorConverter::VerticalLine(const uint8_t* pSrc, int nStride, int nWidth, int nSrcLines,
                                  bool bProgressive, int nOutLine, uint8_t* pDst) {
  auto clamp = [](int i, int n) { return i < 0 ? 0 : (i >= n ? n - 1 : i); };
  const uint8_t* t[6];
  const ChromaKernel* k;
  if (bProgressive) {
    // Line 2i from source lines i-3..i+2, line 2i+1 from i-2..i+3.
    const int i = nOutLine >> 1, e = nOutLine & 1;
    for (int j = 0; j < 6; ++j) t[j] = pSrc + static_cast<long>(clamp(i - 3 + e + j, nSrcLines)) * nStride;
    k = &kProg[e];
  } else {
    // Interlaced: each field from its own lines. Output line 4m + f + 2e belongs to field f (its
    // source lines f, f + 2, ...) around that field's line m; beyond the edges the field's nearest
    // line repeats (a picture of one chroma line has no second field: that line stands in).
    const int f = nOutLine & 1, e = (nOutLine >> 1) & 1, m = nOutLine >> 2;
    const int n = (nSrcLines - f + 1) / 2;
    for (int j = 0; j < 6; ++j) {
      const int line = 2 * clamp(m - 3 + e + j, n > 0 ? n : 1) + f;
      t[j] = pSrc + static_cast<long>(line < nSrcLines ? line : nSrcLines - 1) * nStride;
    }
    k = &kField[f][e];
  }
  k->Apply(t, nWidth, pDst, g_simd);
}

void ColorConverter::DoubleVertical(const uint8_t* pSrc, int nStride, int nWidth, int nSrcLines,
                                    bool bProgressive, uint8_t* pDst) {
  for (int y = 0; y < 2 * nSrcLines; ++y)
    VerticalLine(pSrc, nStride, nWidth, nSrcLines, bProgressive, y, pDst + static_cast<long>(y) * nStride);
}

void ColorConverter::DoubleHorizontal(const uint8_t* s, int n, bool bMpeg1, uint8_t* d) {
  // Edges repeat the nearest sample (At); the inside needs no bounds, so it runs without them.
  const int lo = n < 3 ? n : 3, hi = n - 3 > lo ? n - 3 : lo;
  if (bMpeg1) {
    for (int i0 = lo; i0 < hi; i0 += kChunk) {
      const int m = hi - i0 < kChunk ? hi - i0 : kChunk;
      uint8_t e0[kChunk], e1[kChunk];
      const uint8_t* t[7] = {s + i0 - 3, s + i0 - 2, s + i0 - 1, s + i0, s + i0 + 1, s + i0 + 2, s + i0 + 3};
      kMpeg1[0].Apply(t, m, e0, g_simd);
      kMpeg1[1].Apply(t + 1, m, e1, g_simd);
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
  for (int i0 = lo; i0 < hi; i0 += kChunk) {
    const int m = hi - i0 < kChunk ? hi - i0 : kChunk;
    uint8_t e1[kChunk];
    const uint8_t* t[6] = {s + i0 - 2, s + i0 - 1, s + i0, s + i0 + 1, s + i0 + 2, s + i0 + 3};
    kMpeg2.Apply(t, m, e1, g_simd);
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

void ColorConverter::ConvertRow(const uint8_t* py, const uint8_t* pb, const uint8_t* pr, int w, int nMatrix,
                                uint8_t* pBgr) {
  const int* c = kMatrix[nMatrix >= 0 && nMatrix <= 7 ? nMatrix : 5];
  const int x0 = ConvertRowFast(py, pb, pr, w, c, pBgr);
  uint8_t* o = pBgr + 3 * x0;
  for (int x = x0; x < w; ++x, o += 3) {
    const int yy = kLuma * (py[x] - 16);
    const int u = pb[x] - 128;
    const int v = pr[x] - 128;
    o[2] = Clamp((yy + c[0] * v + 32768) >> 16);
    o[1] = Clamp((yy - c[2] * u - c[3] * v + 32768) >> 16);
    o[0] = Clamp((yy + c[1] * u + 32768) >> 16);
  }
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
  const int64_t nRowBytes = pLoad->nBytesPerRow > int64_t{w} * 3 ? pLoad->nBytesPerRow : int64_t{w} * 3;
  // AVX2 with horizontal doubling: per chroma plane one line with three samples of margin on
  // each side (the edge samples repeated, so the kernels need no bounds) and two half lines, the
  // even and the odd pixels' samples, which the conversion takes without interleaving them.
  // Otherwise per chroma plane one vertically doubled line and one full-width line. Then the row.
  const bool bHalves = geo.nChromaShiftX && g_simd >= Simd::kAvx2;
  const int64_t nPerPlane = bHalves ? (int64_t{cw} + 6) + 2 * int64_t{cw} : int64_t{cw} + fullW;
  const int64_t nTotal = 2 * nPerPlane + nRowBytes + 16;
  if (nTotal > limits.nMaxMemory) return PXM_ERR_NO_MEMORY;
  uint8_t* pWork = static_cast<uint8_t*>(k.pfnAlloc(static_cast<size_t>(nTotal)));
  if (!pWork) return PXM_ERR_NO_MEMORY;
  uint8_t* pPlane[2] = {pWork, pWork + nPerPlane};
  uint8_t* pRow = pWork + 2 * nPerPlane;
  const uint8_t* pChroma[2] = {frame.pCb, frame.pCr};
  pLoad->nWidth = w;
  pLoad->nHeight = h;
  int32_t rc = PXM_OK;
  for (int y = 0; y < h; ++y) {
    if (y + 2 < h) {
      const char* pNext =
          reinterpret_cast<const char*>(frame.pY + static_cast<long>(y + 2) * geo.nLumaStride);
      for (int x = 0; x < w; x += 64) __builtin_prefetch(pNext + x);
    }
    const uint8_t* pLuma = frame.pY + static_cast<long>(y) * geo.nLumaStride;
    if (bHalves) {
      const uint8_t* pEven[2];
      const uint8_t* pOdd[2];
      for (int c = 0; c < 2; ++c) {
        uint8_t* pad = pPlane[c];
        uint8_t* line = pad + 3;
        uint8_t* e0 = pad + cw + 6;
        uint8_t* e1 = e0 + cw;
        if (geo.nChromaShiftY)
          VerticalLine(pChroma[c], geo.nChromaStride, cw, ch, frame.bProgressive, y, line);
        else
          std::memcpy(line, pChroma[c] + static_cast<long>(y) * geo.nChromaStride, static_cast<size_t>(cw));
        std::memset(pad, line[0], 3);
        std::memset(line + cw, line[cw - 1], 3);
        const uint8_t* t[7] = {pad, pad + 1, pad + 2, pad + 3, pad + 4, pad + 5, pad + 6};
        if (bMpeg1) {
          kMpeg1[0].Apply(t, cw, e0, g_simd);
          kMpeg1[1].Apply(t + 1, cw, e1, g_simd);
          pEven[c] = e0;
        } else {
          kMpeg2.Apply(t + 1, cw, e1, g_simd);
          pEven[c] = line;
        }
        pOdd[c] = e1;
      }
      ConvertRowHalf(pLuma, pEven[0], pOdd[0], pEven[1], pOdd[1], w, seq.nMatrixCoefficients, pRow);
    } else {
      const uint8_t* pc[2];
      for (int c = 0; c < 2; ++c) {
        const uint8_t* line;
        if (geo.nChromaShiftY) {
          VerticalLine(pChroma[c], geo.nChromaStride, cw, ch, frame.bProgressive, y, pPlane[c]);
          line = pPlane[c];
        } else {
          line = pChroma[c] + static_cast<long>(y) * geo.nChromaStride;
        }
        if (geo.nChromaShiftX) {
          DoubleHorizontal(line, cw, bMpeg1, pPlane[c] + cw);
          line = pPlane[c] + cw;
        }
        pc[c] = line;
      }
      ConvertRow(pLuma, pc[0], pc[1], w, seq.nMatrixCoefficients, pRow);
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
