// Parameter defaults, fixed settings and checks of the encoder (Px_EncodeSetParams).
// ResolveEncodeParams fills the caller's state from the parameter record: defaults for -1 fields,
// the fixed settings (M = 3, buffer size, colour description, motion search per picture position),
// the checks in their fixed order (first failing code wins), the constrained-parameters rule and the
// MPEG-1 forcing. It allocates nothing; the motion table is filled into caller-provided storage.
#pragma once

#include <cstdint>

#include "mpegfilter/encoder/PxEncoderState.h"

// Result codes of the encoder's parameter checks (besides those of PxResult.h).
enum PxEncodeResult : int32_t {
  PX_ENC_ERR_ARGUMENT = -2,  // a required record pointer is null
  PX_ENC_ERR_WIDTH = -360,
  PX_ENC_ERR_HEIGHT = -361,
  PX_ENC_ERR_ASPECT = -362,
  PX_ENC_ERR_BIT_RATE = -363,
  PX_ENC_ERR_BUFFER_SIZE = -364,
  PX_ENC_ERR_CHROMA = -365,
  PX_ENC_ERR_VIDEO_FORMAT = -366,
  PX_ENC_ERR_PRIMARIES = -367,
  PX_ENC_ERR_TRANSFER = -368,
  PX_ENC_ERR_MATRIX = -369,
  PX_ENC_ERR_DISPLAY_WIDTH = -370,
  PX_ENC_ERR_DISPLAY_HEIGHT = -371,
  PX_ENC_ERR_DC_PRECISION = -372,
  PX_ENC_ERR_F_CODE = -373,
  PX_ENC_ERR_SEARCH_RANGE = -374,
  PX_ENC_ERR_PROFILE = -375,
  PX_ENC_ERR_LEVEL = -376,
  PX_ENC_ERR_SCALABLE = -377,
  PX_ENC_ERR_PROFILE_LEVEL = -378,
  PX_ENC_ERR_SIMPLE_M = -379,
  PX_ENC_ERR_FIELD_VALUE = -380,  // frame rate code outside 1..8 or field coding outside 0..2
  PX_ENC_ERR_SAMPLE_RATE = -381,
  PX_ENC_ERR_NO_FRAMES = -382,  // nothing to code: no source frames from nFirstFrame on
  PX_ENC_ERR_GOP = -578,
};

const char* PxEncodeResultText(int32_t nResult);

// Standard frame rate of frame_rate_code 1..8 as num/den; false for other codes.
bool FrameRateOfCode(int32_t nCode, int32_t* pnNum, int32_t* pnDen);

// Fills *pState (all fields but pMotion's storage, nFirstFrame/nFrameCount reset to 0, writer and
// pCore untouched) and returns 1 or the first failing check. pMotion must point at 3 entries.
int32_t ResolveEncodeParams(PxEncoderState* pState, int32_t nWidth, int32_t nHeight,
                            const PxEncodeParams* pParams, int32_t nFormat);
