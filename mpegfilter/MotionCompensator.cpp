// Half-sample interpolation (ISO/IEC 13818-2 7.6.4): averages round upwards,
// (a + b + 1) >> 1 and (a + b + c + d + 2) >> 2. The width is a template parameter so the
// compiler unrolls and vectorises the inner loops.
#include "mpegfilter/MotionCompensator.h"

namespace {

template <int W, bool AVG>
void Form(const uint8_t* s, int ss, int hx, int hy, uint8_t* d, int ds, int h) {
  if (!hx && !hy) {
    for (int j = 0; j < h; ++j, s += ss, d += ds)
      for (int i = 0; i < W; ++i) d[i] = AVG ? static_cast<uint8_t>((d[i] + s[i] + 1) >> 1) : s[i];
  } else if (hx && !hy) {
    for (int j = 0; j < h; ++j, s += ss, d += ds)
      for (int i = 0; i < W; ++i) {
        const int v = (s[i] + s[i + 1] + 1) >> 1;
        d[i] = static_cast<uint8_t>(AVG ? (d[i] + v + 1) >> 1 : v);
      }
  } else if (!hx && hy) {
    for (int j = 0; j < h; ++j, s += ss, d += ds)
      for (int i = 0; i < W; ++i) {
        const int v = (s[i] + s[i + ss] + 1) >> 1;
        d[i] = static_cast<uint8_t>(AVG ? (d[i] + v + 1) >> 1 : v);
      }
  } else {
    for (int j = 0; j < h; ++j, s += ss, d += ds)
      for (int i = 0; i < W; ++i) {
        const int v = (s[i] + s[i + 1] + s[i + ss] + s[i + ss + 1] + 2) >> 2;
        d[i] = static_cast<uint8_t>(AVG ? (d[i] + v + 1) >> 1 : v);
      }
  }
}

inline int Clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace

void MotionCompensator::Predict(const PlaneView& src, int x, int y, int vx, int vy, uint8_t* pDst, int nDstStride,
                                int nW, int nH, bool bAverage) {
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
    if (bAverage) Form<16, true>(s, ss, hx, hy, pDst, nDstStride, nH);
    else Form<16, false>(s, ss, hx, hy, pDst, nDstStride, nH);
  } else {
    if (bAverage) Form<8, true>(s, ss, hx, hy, pDst, nDstStride, nH);
    else Form<8, false>(s, ss, hx, hy, pDst, nDstStride, nH);
  }
}
