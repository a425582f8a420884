// A 6-tap chroma interpolation kernel (taps summing to 256; output (sum + 128) >> 8, clamped to
// 0..255) with its 16-bit form worked out at compile time, and the line filter that applies it:
// AVX-512 or AVX2 in 16 bits where the kernel allows, else SSE2 in 32 bits, else plain code; all
// give the same bytes. Callers: ColorConverter (vertical and horizontal chroma doubling).
#pragma once

#include <cstdint>

#include "mpegfilter/ColorConverter.h"

// A 6-tap kernel (sum 256) rewritten for 16-bit arithmetic: sum + 128 = 256 * base + D + 128 with
// D = sum of n[i] * s[i] over signed-byte taps n. The base is the sample under the largest tap
// (its tap minus 256), or, for the symmetric kernel whose two middle taps exceed 127, the two middle
// samples at 128 each. D's range is known from the taps, so when it and every pair of taps stay
// inside 16 bits (checked here), pmaddubsw gives D exactly and the result is
// base + ((D + 128) >> 8): the same bytes as the 32-bit formula.
struct NarrowKernel {
  bool bUsable = false;
  bool bMiddlePair = false;  // base is the mean of samples 2 and 3
  int nBase = 0;
  int n[6] = {};
};

constexpr NarrowKernel Narrow(const int* k) {
  NarrowKernel nk;
  int c = 0;
  for (int i = 1; i < 6; ++i)
    if (k[i] > k[c]) c = i;
  for (int i = 0; i < 6; ++i) nk.n[i] = k[i];
  nk.n[c] -= 256;
  nk.nBase = c;
  auto fits = [&] {
    int pos = 0, neg = 0;
    for (int i = 0; i < 6; ++i) {
      if (nk.n[i] < -128 || nk.n[i] > 127) return false;
      (nk.n[i] > 0 ? pos : neg) += nk.n[i] > 0 ? nk.n[i] : -nk.n[i];
    }
    for (int p = 0; p < 3; ++p) {
      const int a = nk.n[2 * p], b = nk.n[2 * p + 1];
      if (255 * ((a > 0 ? a : 0) + (b > 0 ? b : 0)) > 32767 ||
          255 * ((a < 0 ? -a : 0) + (b < 0 ? -b : 0)) > 32768)
        return false;
    }
    return 255 * pos + 128 <= 32767 && 255 * neg <= 32768 - 128;
  };
  if (fits()) {
    nk.bUsable = true;
    return nk;
  }
  if (k[2] == k[3]) {
    for (int i = 0; i < 6; ++i) nk.n[i] = k[i];
    nk.n[2] -= 128;
    nk.n[3] -= 128;
    nk.bMiddlePair = true;
    nk.bUsable = fits();
  }
  return nk;
}

class ChromaKernel {
 public:
  constexpr ChromaKernel(int a, int b, int c, int d, int e, int f) : k{a, b, c, d, e, f}, nk(Narrow(k)) {}

  // out[x] = clamp((sum of k[i] * s[i][x] + 128) >> 8) for x < n, using instructions up to simd.
  // Vector steps may read each line up to sample n - 1 only; out must not overlap the lines.
  void Apply(const uint8_t* const* s, int n, uint8_t* out, ColorConverter::Simd simd) const;

  int k[6];
  NarrowKernel nk;
};
