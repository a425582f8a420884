// Frames from the toolkit: a FrameSource over the caller's frame callback. Each bitmap is prepared
// through the kernel when its flags ask (221), read row by row (100, 129, 141), converted from
// blue-green-red to Y'CbCr with the matrix of the sequence (kr, kb by matrix_coefficients), padded
// to whole macroblocks by repeating the last column and row, and its chroma reduced to 4:2:2 and
// then 4:2:0 as the chroma format asks; after coding it is released (125).
#pragma once

#include <cstdint>

#include "mpegfilter/encoder/PxEncoderState.h"
#include "mpegfilter/encoder/SequenceCoder.h"

namespace pxenc {

class FrameIntake : public FrameSource {
 public:
  FrameIntake(const PxEncoderState& st, const Geometry& g, PxFrameSource pfn, void* pUser);
  ~FrameIntake() override;
  int32_t Count(int32_t* pnCount) override;
  int32_t Fetch(int32_t nIndex, Frame& dst) override;
  void Done() override;

  // Converts full-resolution 4:4:4 planes (padded size) into dst; also used for other inputs.
  static void ReduceChroma(const uint8_t* pCb, const uint8_t* pCr, const Geometry& g, bool bMpeg2,
                           bool bInterlaced, Frame& dst);
  // Repeats the last column and row of the w x h picture of a plane over its padding.
  static void PadPlane(uint8_t* p, int nStride, int w, int h, int nPadW, int nPadH);

 private:
  int32_t Convert(Frame& dst);
  const PxEncoderState& m_st;
  const Geometry& m_g;
  PxFrameSource m_pfn;
  void* m_pUser;
  PxBitmap m_bitmap{};
  bool m_bHave = false;
  uint8_t* m_pRow = nullptr;
  uint8_t* m_pCb = nullptr;  // 4:4:4 chroma before reduction
  uint8_t* m_pCr = nullptr;
  double m_kr = 0.299, m_kb = 0.114;
};

}  // namespace pxenc
