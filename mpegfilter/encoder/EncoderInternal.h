// C++ access to a prepared encoder for the parts of this project that feed planes directly
// (pxmpeg-enc reading raw Y'CbCr, the tests): run the sequence from any FrameSource, and observe
// each reconstructed frame. The state must have passed Px_EncodeSetParams, Px_InitializeEncoder
// and Px_InitBits; results are those of Px_PutSeq.
#pragma once

#include <cstdint>

#include "mpegfilter/encoder/PxEncoderState.h"
#include "mpegfilter/encoder/SequenceCoder.h"

namespace pxenc {

int32_t PutSequenceFrom(PxEncoderState* pState, const PxEncodeParams* pParams, FrameSource& src);
// Test seam: pfn sees every coded frame's reconstruction (B pictures included) in coding order.
void SetReconHook(PxEncoderState* pState, ReconHook pfn, void* pUser);
// Padded picture geometry of a prepared encoder (null before Px_InitializeEncoder).
const Geometry* GeometryOf(const PxEncoderState* pState);
// What the sequence coded so far spent against the rate (null before Px_InitializeEncoder).
const RateControl::Summary* RateTotalsOf(const PxEncoderState* pState);
// Test seam: macroblocks coded so far with 16x8 or field prediction (null before
// Px_InitializeEncoder).
const PredictionCounts* PredictionCountsOf(const PxEncoderState* pState);

}  // namespace pxenc
