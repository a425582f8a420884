// Forming predictions from reference pictures (ISO/IEC 13818-2 7.6.4, ISO/IEC 11172-2 2.4.4.2):
// copies or averages a block at half-sample precision from a reference plane (a frame or one of
// its fields). Callers: the slice decoder. Guarantees: never reads outside the reference plane;
// a vector pointing outside (not allowed in a valid stream) is served from a copy with the edge
// samples repeated, so damaged streams cannot reach foreign memory.
#pragma once

#include <cstdint>

struct PlaneView {
  const uint8_t* p = nullptr;  // first sample of the frame or field
  int nStride = 0;             // distance between lines of this view
  int nWidth = 0;
  int nHeight = 0;
};

class MotionCompensator {
 public:
  // Forms a nW x nH block (nW 8 or 16, nH 4..16) at pDst from position (x + vx/2, y + vy/2) of
  // src, vx and vy in half samples; bAverage: average with what pDst holds (bi-directional and
  // dual-prime prediction, rounding up).
  static void Predict(const PlaneView& src, int x, int y, int vx, int vy, uint8_t* pDst, int nDstStride,
                      int nW, int nH, bool bAverage);
  // The same 8-sample wide block from two planes of one geometry (the chroma pair): a, and the
  // plane starting at pSecond with a's stride and size; the same result as two Predict calls.
  static void PredictPair(const PlaneView& a, const uint8_t* pSecond, int x, int y, int vx, int vy,
                          uint8_t* pDstA, uint8_t* pDstB, int nDstStride, int nH, bool bAverage);
};
