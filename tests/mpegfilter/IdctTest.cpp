// IEEE 1180-1990 accuracy test of the inverse DCT: 10000 random blocks per input range and sign,
// forward-transformed in double precision, compared with the double-precision inverse.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "mpegfilter/Idct.h"

namespace {

// The test's generator (IEEE 1180 Annex A).
struct Ieee1180Random {
  long randx = 1;
  int Next(long L, long H) {
    randx = (randx * 1103515245 + 12345) & 0xFFFFFFFFL;  // 32-bit arithmetic of the original
    const long i = randx & 0x7ffffffe;
    double x = static_cast<double>(i) / static_cast<double>(0x7fffffff);
    x *= static_cast<double>(L + H + 1);
    const long j = static_cast<long>(x);
    return static_cast<int>(j - L);
  }
};

double C(int k) {
  return k == 0 ? std::sqrt(0.125) : 0.5;
}

void ForwardDct(const double in[64], double out[64]) {
  for (int v = 0; v < 8; ++v)
    for (int u = 0; u < 8; ++u) {
      double s = 0;
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
          s += in[y * 8 + x] * std::cos((2 * x + 1) * u * M_PI / 16) * std::cos((2 * y + 1) * v * M_PI / 16);
      out[v * 8 + u] = s * C(u) * C(v);
    }
}

void InverseDct(const double in[64], double out[64]) {
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      double s = 0;
      for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u)
          s += C(u) * C(v) * in[v * 8 + u] * std::cos((2 * x + 1) * u * M_PI / 16) *
               std::cos((2 * y + 1) * v * M_PI / 16);
      out[y * 8 + x] = s;
    }
}

struct Range {
  int L, H, sign;
};

class Ieee1180 : public ::testing::TestWithParam<Range> {};

TEST_P(Ieee1180, MeetsAccuracy) {
  const Range rg = GetParam();
  Ieee1180Random rnd;
  double err[64] = {}, sqerr[64] = {};
  int peak = 0;
  const int kBlocks = 10000;
  for (int b = 0; b < kBlocks; ++b) {
    double spatial[64], coef[64], ref[64];
    for (int i = 0; i < 64; ++i) spatial[i] = rg.sign * rnd.Next(rg.L, rg.H);
    ForwardDct(spatial, coef);
    short block[64];
    double rc[64];
    for (int i = 0; i < 64; ++i) {
      double v = std::floor(coef[i] + 0.5);
      v = v < -2048 ? -2048 : (v > 2047 ? 2047 : v);
      rc[i] = v;
      block[i] = static_cast<short>(v);
    }
    InverseDct(rc, ref);
    IdctChenWang(block);
    for (int i = 0; i < 64; ++i) {
      double r = std::floor(ref[i] + 0.5);
      r = r < -256 ? -256 : (r > 255 ? 255 : r);
      const int e = block[i] - static_cast<int>(r);
      if (std::abs(e) > peak) peak = std::abs(e);
      err[i] += e;
      sqerr[i] += e * e;
    }
  }
  double worstPmse = 0, worstPme = 0, omse = 0, ome = 0;
  for (int i = 0; i < 64; ++i) {
    worstPmse = std::max(worstPmse, sqerr[i] / kBlocks);
    worstPme = std::max(worstPme, std::fabs(err[i]) / kBlocks);
    omse += sqerr[i];
    ome += err[i];
  }
  omse /= 64.0 * kBlocks;
  ome = std::fabs(ome) / (64.0 * kBlocks);
  std::printf(
      "[ measured ] IEEE 1180 L=%d H=%d sign=%+d: peak %d, pmse %.4f, omse %.4f, pme %.4f, ome %.5f\n", rg.L,
      rg.H, rg.sign, peak, worstPmse, omse, worstPme, ome);
  EXPECT_LE(peak, 1);
  EXPECT_LE(worstPmse, 0.06);
  EXPECT_LE(omse, 0.02);
  EXPECT_LE(worstPme, 0.015);
  EXPECT_LE(ome, 0.0015);
}

INSTANTIATE_TEST_SUITE_P(Ranges, Ieee1180,
                         ::testing::Values(Range{256, 255, 1}, Range{5, 5, 1}, Range{300, 300, 1},
                                           Range{256, 255, -1}, Range{5, 5, -1}, Range{300, 300, -1}));

TEST(Idct, ZeroInZeroOutAndDcShortcut) {
  short block[64] = {};
  IdctChenWang(block);
  for (short v : block) EXPECT_EQ(v, 0);
  for (int dc : {-2048, -1000, -9, -1, 1, 7, 8, 100, 2047}) {
    short b[64] = {};
    b[0] = static_cast<short>(dc);
    IdctChenWang(b);
    for (short v : b) EXPECT_EQ(v, IdctDcOnlyValue(dc)) << dc;
  }
}

TEST(Idct, HostileBlocksStayInRange) {
  short block[64];
  for (int i = 0; i < 64; ++i) block[i] = (i & 1) ? 2047 : -2048;
  IdctChenWang(block);
  for (short v : block) {
    EXPECT_GE(v, -256);
    EXPECT_LE(v, 255);
  }
}

}  // namespace
