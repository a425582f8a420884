// The encoder's C interface: the parameter record, the bit writer, the state record the caller owns,
// the frame source callback and the five exported functions. The imaging toolkit (or pxmpeg-enc)
// drives them in the order Px_EncodeSetParams, Px_InitializeEncoder, Px_InitBits, Px_PutSeq,
// Px_FreeEncodeParams. Every function returns 1 or a negative result code (PxResult.h and
// EncodeParams.h); nothing throws. The state may be freed (Px_FreeEncodeParams) after any failure.
// Coded frames: source frames nFirstFrame, nFirstFrame + 1, ... up to nFrameCount of them (0 = all
// remaining); both are reset to 0 by Px_EncodeSetParams and may be changed before Px_PutSeq.
#pragma once

#include <cstdint>

#include "pxkernel/PxRecords.h"

extern "C" {

// Parameter record: consecutive 32-bit fields, -1 selects the default of the stream type.
struct PxEncodeParams {
  int32_t nConstrained;       // MPEG-1 constrained_parameters_flag (1 / 0)
  int32_t nFieldCoding;       // 0 progressive frames, 1 field pictures, 2 interlaced frame pictures
  int32_t nFrameRateCode;     // 1..8 (ISO/IEC 13818-2 Table 6-4); default 3 (MPEG-1) / 5 (MPEG-2)
  int32_t nGopLength;         // N, a multiple of 3; default 12 / 15
  int32_t nAspectRatio;       // aspect_ratio_information; default 8 / 2
  int32_t nProfile;           // 1 High .. 5 Simple; default 4 (Main)
  int32_t nLevel;             // 4 High, 6 High 1440, 8 Main, 10 Low; default 8
  int32_t nChromaFormat;      // 1 = 4:2:0, 2 = 4:2:2, 3 = 4:4:4; default 1
  int32_t nVideoFormat;       // sequence display extension video_format; default 1 / 2
  int32_t nIntraDcPrecision;  // 0..3 (8..11 bits); default 0
  int32_t nBitRate;           // bits per second; default 1152000 / 5000000
  const char* pszUserData;    // written as user data after the sequence header when not empty
};

// Bit writer (Px_InitBits): the output handle, free bits of the byte being filled, bytes written.
struct PxBitWriter {
  int32_t hFile;  // kernel handle, -1 when closed
  int32_t nFreeBits;
  int64_t nBytesWritten;
};

struct PxEncoderCore;  // the coder's own allocations (opaque)

// Encoder state: owned by the caller, filled by Px_EncodeSetParams.
struct PxEncoderState {
  // Resolved settings (after defaults, forcing and checks).
  int32_t nMpeg2;  // 0 MPEG-1, 1 MPEG-2
  int32_t nWidth;
  int32_t nHeight;
  int32_t nConstrained;
  int32_t nFieldCoding;
  int32_t nFrameRateCode;
  int32_t nGopLength;
  int32_t nM;  // distance between reference pictures (3)
  int32_t nAspectRatio;
  int32_t nProfile;
  int32_t nLevel;
  int32_t nChromaFormat;
  int32_t nVideoFormat;
  int32_t nIntraDcPrecision;
  int32_t nBitRate;
  int32_t nVbvBufferSize;  // units of 16384 bits
  int32_t nColourPrimaries;
  int32_t nTransferCharacteristics;
  int32_t nMatrixCoefficients;
  int32_t nDisplayWidth;
  int32_t nDisplayHeight;
  int32_t nFrameRateNum;  // the rate used for timing and rate control: num / den frames per second
  int32_t nFrameRateDen;
  // Motion search per picture position: [0] P, [1] first B, [2] second B.
  // f codes and search ranges (samples): forward h/v, backward h/v.
  struct MotionSetting {
    int32_t nForwardF[2];
    int32_t nBackwardF[2];
    int32_t nForwardRange[2];
    int32_t nBackwardRange[2];
  } * pMotion;  // 3 entries, kernel memory
  // Placed by the caller between Px_EncodeSetParams and Px_PutSeq (both 0 after Px_EncodeSetParams):
  int32_t nFirstFrame;   // index of the first source frame to code
  int32_t nFrameCount;   // number of frames to code; 0 or less = all source frames from nFirstFrame
  PxBitWriter writer;    // Px_InitBits(name, &state.writer)
  PxEncoderCore* pCore;  // Px_InitializeEncoder
};

// Frame source: first called with pBitmap null and pnCount set (fill it with the number of source
// frames); then once per coded frame, in coding order, with a bitmap record to fill for source
// frame nFrame. Any result other than 1 ends Px_PutSeq with that result.
typedef int32_t (*PxFrameSource)(void* pUser, PxBitmap* pBitmap, int32_t nFrame, void* pUser2,
                                 int32_t* pnCount);

__attribute__((visibility("default"))) int32_t Px_EncodeSetParams(PxEncoderState* pState,
                                                                  const PxBitmap* pImage,
                                                                  const PxEncodeParams* pParams,
                                                                  int32_t nFormat);
__attribute__((visibility("default"))) int32_t Px_InitializeEncoder(PxEncoderState* pState);
__attribute__((visibility("default"))) int32_t Px_InitBits(const char* pszFileName, PxBitWriter* pWriter);
__attribute__((visibility("default"))) int32_t Px_PutSeq(PxEncoderState* pState,
                                                         const PxEncodeParams* pParams,
                                                         PxFrameSource pfnSource, void* pUser);
__attribute__((visibility("default"))) int32_t Px_FreeEncodeParams(PxEncoderState* pState);

}  // extern "C"
