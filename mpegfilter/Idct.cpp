// Integer Chen-Wang inverse DCT (8x8, separable). Weights are 2048 * sqrt(2) * cos(k * pi / 16):
// W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565. The row pass keeps 8 extra
// fraction bits (<< 11 in, >> 8 out), the column pass removes them (>> 14) with rounding.
// Multiplications replace left shifts of signed values, and the 181/256 (1/sqrt 2) products run in
// 64 bits: hostile coefficient blocks can push them past 32 bits, valid ones never do.
#include "mpegfilter/Idct.h"

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

}  // namespace

void IdctChenWang(short* block) {
  for (int i = 0; i < 8; ++i) IdctRow(block + 8 * i);
  for (int i = 0; i < 8; ++i) IdctColumn(block + i);
}
