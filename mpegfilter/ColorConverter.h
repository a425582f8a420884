// Turns a decoded frame into 24-bit rows (blue, green, red) for the toolkit: chroma is brought to
// full size with the filter's fixed interpolation kernels, then each pixel is converted with the
// colour-matrix coefficients chosen by matrix_coefficients (5 when the stream has none).
// Works one row at a time: each output row's chroma is filtered from the frame's own lines into
// row buffers (no full-size chroma planes), converted into the row handed to the callback.
// Callers: fltLoad and the command-line tool. Work buffers come from the kernel and are freed
// before returning; the row callback's first result other than 1 ends the delivery.
#pragma once

#include <cstdint>

#include "mpegfilter/HeaderParser.h"
#include "mpegfilter/MpegTypes.h"
#include "pxkernel/PxRecords.h"

class ColorConverter {
 public:
  // PXM_OK, PXM_ERR_NO_MEMORY, or the callback's result.
  static int32_t Deliver(const FrameStore& frame, const SequenceParams& seq, const PlaneGeometry& geo,
                         PxLoadInfo* pLoad, const DecoderLimits& limits);

  // Line nOutLine (0 .. 2 * nSrcLines - 1) of the vertically doubled chroma: nWidth samples from
  // the nSrcLines source lines (line distance nStride) into pDst.
  static void VerticalLine(const uint8_t* pSrc, int nStride, int nWidth, int nSrcLines, bool bProgressive,
                           int nOutLine, uint8_t* pDst);
  // Chroma lines doubled: nSrcLines lines in, 2 * nSrcLines out (line distance nStride both).
  static void DoubleVertical(const uint8_t* pSrc, int nStride, int nWidth, int nSrcLines, bool bProgressive,
                             uint8_t* pDst);
  // One line doubled horizontally: nSrcWidth samples in, 2 * nSrcWidth out.
  static void DoubleHorizontal(const uint8_t* pSrc, int nSrcWidth, bool bMpeg1, uint8_t* pDst);
  // One row of nWidth pixels from full-size planes to blue, green, red bytes.
  static void ConvertRow(const uint8_t* pY, const uint8_t* pCb, const uint8_t* pCr, int nWidth, int nMatrix,
                         uint8_t* pBgr);
  // Red, green and blue of one sample (matrix coefficients code as in the stream).
  static void ToBgr(int y, int cb, int cr, int nMatrix, uint8_t* pBgr);

  // Widest instructions the filters and the conversion may use; all give the same bytes. Tests
  // lower it to check every path; returns the previous setting. Not for use while decoding.
  // kAvx512Vnni: AVX-512 with its dot-product instructions (the conversion's sums in one step).
  enum class Simd : int { kNone = 0, kSse = 1, kAvx2 = 2, kAvx512 = 3, kAvx512Vnni = 4 };
  static Simd LimitSimd(Simd max);
};
