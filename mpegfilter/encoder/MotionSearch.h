// Block matching for the encoder: SAD of 16-wide blocks (SSE2), half-sample prediction exactly as
// ISO/IEC 13818-2 7.6.4 forms it, and a predictor-seeded diamond search with half-sample refinement
// inside a window that keeps every vector within the picture, the search range and the f code's
// range (ISO/IEC 13818-2 7.6.3.1). Vectors are in half samples of the reference plane given (a
// frame, or a field seen with twice the stride).
#pragma once

#include <cstddef>
#include <cstdint>

#include "mpegfilter/encoder/EncoderTypes.h"

namespace pxenc {

struct Mv {
  int x = 0, y = 0;
  bool operator==(const Mv& o) const { return x == o.x && y == o.y; }
};

int Sad16(const uint8_t* a, int nStrideA, const uint8_t* b, int nStrideB, int nRows);

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
  int nSad = 0;  // of the half-sample prediction
};

// Searches the 16 x nRows block cur (stride nCurStride) at (x, y) of the reference plane.
// pPred: candidate vectors (half samples), tried first.
SearchResult SearchBlock(const uint8_t* cur, int nCurStride, const Plane& ref, int x, int y, int nRows,
                         const SearchWindow& w, const Mv* pPred, int nPred);

}  // namespace pxenc
