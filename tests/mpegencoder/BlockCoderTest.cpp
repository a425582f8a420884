// Non-intra quantisation on its own: a lone small level at the end of the scan is dropped when its
// code costs more than its error is worth, and kept when it is cheap or large.
#include <gtest/gtest.h>

#include <cmath>

#include "mpegfilter/Idct.h"
#include "mpegfilter/encoder/BlockCoder.h"

namespace enctest {
namespace {

using pxenc::BlockCoder;

struct TailCase {
  const char* name;
  int nRaster;    // coefficient under test (raster index)
  double dSteps;  // its size in quantiser steps (2q)
  int nExpected;  // its level after quantisation
};

constexpr int kQ = 4;  // step 8

class TrailingCoefficient : public ::testing::TestWithParam<TailCase> {};

TEST_P(TrailingCoefficient, IsKeptOnlyWhenWorthItsBits) {
  const TailCase c = GetParam();
  BlockCoder bc;
  bc.Init(true, 0, true);
  bc.SetAlternateScan(false);
  // A residual made of a DC of 5.5 steps (level 5) and the coefficient under test.
  short coef[64] = {};
  coef[0] = static_cast<short>(5.5 * 2 * kQ);
  coef[c.nRaster] = static_cast<short>(std::lround(c.dSteps * 2 * kQ));
  IdctChenWang(coef);
  int nAbs = 0;
  for (short v : coef) nAbs += std::abs(v);
  short levels[64];
  uint64_t nScanMask = 0;
  ASSERT_TRUE(bc.QuantInter(coef, levels, kQ, nAbs, &nScanMask));
  EXPECT_EQ(levels[0], 5);
  EXPECT_EQ(levels[c.nRaster], c.nExpected);
  // The mask WriteInter codes from: the DC (scan position 0) and what is left of the other level.
  const uint64_t nLast = c.nRaster == 63 ? uint64_t{1} << 63 : (c.nRaster == 1 ? 2 : uint64_t{1} << 5);
  EXPECT_EQ(nScanMask, 1 | (c.nExpected ? nLast : 0));
}

// The DC is at scan position 0; raster 63 is the end of the scan (run 62: a 24-bit escape),
// raster 1 is next to the DC (run 0: three bits), raster 2 at scan position 5 (run 4).
const TailCase kTails[] = {
    {"small_after_a_long_run", 63, 1.25, 0},     // 1.5 squared steps of error against 24 bits
    {"medium_after_a_long_run", 63, 1.9, 0},     // 3.45 against 24 bits
    {"small_next_to_dc", 1, 1.25, 1},            // 1.5 against three bits
    {"medium_after_a_short_run", 2, 1.6, 1},     // 2.55 against a short code
    {"level_two_after_a_long_run", 63, 2.6, 2},  // 6.8 squared steps: worth an escape
};

INSTANTIATE_TEST_SUITE_P(Blocks, TrailingCoefficient, ::testing::ValuesIn(kTails),
                         [](const ::testing::TestParamInfo<TailCase>& i) {
                           return std::string(i.param.name);
                         });

}  // namespace
}  // namespace enctest
