// Defaults, fixed settings and the ordered checks of the encoder parameters.
// Level limits: ISO/IEC 13818-2 8.2 Tables 8-8 to 8-13 (Main and High profile columns).
#include "mpegfilter/encoder/EncodeParams.h"

#include "mpegfilter/PxResult.h"

namespace {

struct LevelLimits {
  int32_t nLevel;
  int32_t nWidth, nHeight;
  int64_t nLumaRate, nLumaRateHigh;  // samples per second (Main / High profile)
  int64_t nBitRate, nBitRateHigh;    // bits per second
  int32_t nVbv, nVbvHigh;            // units of 16384 bits
  int32_t nFCodeH, nFCodeV;
};

constexpr LevelLimits kLevels[] = {
    {4, 1920, 1152, 62668800, 83558400, 80000000, 100000000, 597, 746, 9, 5},
    {6, 1440, 1152, 47001600, 62668800, 60000000, 80000000, 448, 597, 9, 5},
    {8, 720, 576, 10368000, 14745600, 15000000, 20000000, 112, 149, 8, 5},
    {10, 352, 288, 3041280, 3041280, 4000000, 4000000, 29, 29, 7, 4},
};

const LevelLimits* LimitsOf(int32_t nLevel) {
  for (const LevelLimits& l : kLevels)
    if (l.nLevel == nLevel) return &l;
  return nullptr;
}

int32_t Pick(int32_t nAsked, int32_t nDefault) {
  return nAsked == -1 ? nDefault : nAsked;
}

bool ColourCodeOk(int32_t n) {
  return n >= 1 && n <= 7 && n != 3;
}

}  // namespace

const char* PxEncodeResultText(int32_t n) {
  switch (n) {
    case PX_ENC_ERR_ARGUMENT:
      return "missing argument";
    case PX_ENC_ERR_WIDTH:
      return "width not allowed";
    case PX_ENC_ERR_HEIGHT:
      return "height not allowed";
    case PX_ENC_ERR_ASPECT:
      return "aspect ratio code not allowed";
    case PX_ENC_ERR_BIT_RATE:
      return "bit rate not allowed";
    case PX_ENC_ERR_BUFFER_SIZE:
      return "buffer size not allowed";
    case PX_ENC_ERR_CHROMA:
      return "chroma format not allowed";
    case PX_ENC_ERR_VIDEO_FORMAT:
      return "video format not allowed";
    case PX_ENC_ERR_PRIMARIES:
      return "colour primaries not allowed";
    case PX_ENC_ERR_TRANSFER:
      return "transfer characteristics not allowed";
    case PX_ENC_ERR_MATRIX:
      return "matrix coefficients not allowed";
    case PX_ENC_ERR_DISPLAY_WIDTH:
      return "display width not allowed";
    case PX_ENC_ERR_DISPLAY_HEIGHT:
      return "display height not allowed";
    case PX_ENC_ERR_DC_PRECISION:
      return "intra DC precision not allowed";
    case PX_ENC_ERR_F_CODE:
      return "f code not allowed";
    case PX_ENC_ERR_SEARCH_RANGE:
      return "search range not allowed";
    case PX_ENC_ERR_PROFILE:
      return "profile not allowed";
    case PX_ENC_ERR_LEVEL:
      return "level not allowed";
    case PX_ENC_ERR_SCALABLE:
      return "scalable profiles are not supported";
    case PX_ENC_ERR_PROFILE_LEVEL:
      return "profile and level pair not defined";
    case PX_ENC_ERR_SIMPLE_M:
      return "simple profile needs M = 1";
    case PX_ENC_ERR_FIELD_VALUE:
      return "frame rate code or field coding value not allowed";
    case PX_ENC_ERR_SAMPLE_RATE:
      return "luma sample rate above the level's limit";
    case PX_ENC_ERR_NO_FRAMES:
      return "no frames to code";
    case PX_ENC_ERR_GOP:
      return "GOP length not a multiple of 3";
    default:
      return PxResultText(n);
  }
}

bool FrameRateOfCode(int32_t nCode, int32_t* pnNum, int32_t* pnDen) {
  // ISO/IEC 13818-2 Table 6-4
  static constexpr int32_t kNum[] = {0, 24000, 24, 25, 30000, 30, 50, 60000, 60};
  static constexpr int32_t kDen[] = {1, 1001, 1, 1, 1001, 1, 1, 1001, 1};
  if (nCode < 1 || nCode > 8) return false;
  *pnNum = kNum[nCode];
  *pnDen = kDen[nCode];
  return true;
}

int32_t ResolveEncodeParams(PxEncoderState* s, int32_t nWidth, int32_t nHeight, const PxEncodeParams* pParams,
                            int32_t nFormat) {
  static const PxEncodeParams kAllDefault = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, nullptr};
  const PxEncodeParams& p = pParams ? *pParams : kAllDefault;
  const bool bMpeg2 = nFormat != PX_FORMAT_MPEG1;

  // 1. GOP length first.
  if (p.nGopLength != -1 && (p.nGopLength <= 0 || p.nGopLength % 3 != 0)) return PX_ENC_ERR_GOP;

  // 2. Values with their defaults and the fixed settings.
  s->nMpeg2 = bMpeg2 ? 1 : 0;
  s->nWidth = nWidth;
  s->nHeight = nHeight;
  s->nConstrained = Pick(p.nConstrained, bMpeg2 ? 0 : 1) ? 1 : 0;
  s->nFieldCoding = Pick(p.nFieldCoding, 0);
  // A header rate that differs from the timing would mislead every player: the default code is the
  // one of the timing rate (25 per second for MPEG-1, 30 for MPEG-2).
  s->nFrameRateCode = Pick(p.nFrameRateCode, bMpeg2 ? 5 : 3);
  s->nGopLength = Pick(p.nGopLength, bMpeg2 ? 15 : 12);
  s->nM = 3;
  s->nAspectRatio = Pick(p.nAspectRatio, bMpeg2 ? 2 : 8);
  s->nProfile = Pick(p.nProfile, 4);
  s->nLevel = Pick(p.nLevel, 8);
  s->nChromaFormat = Pick(p.nChromaFormat, 1);
  s->nVideoFormat = Pick(p.nVideoFormat, bMpeg2 ? 2 : 1);
  s->nIntraDcPrecision = Pick(p.nIntraDcPrecision, 0);
  s->nBitRate = Pick(p.nBitRate, bMpeg2 ? 5000000 : 1152000);
  s->nVbvBufferSize = bMpeg2 ? 112 : 20;
  s->nColourPrimaries = 5;
  s->nTransferCharacteristics = 5;
  s->nMatrixCoefficients = bMpeg2 ? 4 : 5;
  s->nDisplayWidth = nWidth;
  s->nDisplayHeight = nHeight;
  s->nFirstFrame = 0;
  s->nFrameCount = 0;
  if (!FrameRateOfCode(s->nFrameRateCode, &s->nFrameRateNum, &s->nFrameRateDen)) {
    s->nFrameRateNum = bMpeg2 ? 30 : 25;
    s->nFrameRateDen = 1;
  }
  PxEncoderState::MotionSetting* m = s->pMotion;
  m[0] = {{2, 2}, {15, 15}, {11, 11}, {0, 0}};
  m[1] = {{1, 1}, {1, 1}, {3, 3}, {7, 7}};
  m[2] = {{1, 1}, {1, 1}, {7, 7}, {3, 3}};

  // 3. Sequence values. The escape (profile 8..15, the top bit of profile_and_level_indication,
  // ISO/IEC 13818-2 8.1) skips every profile and level check.
  const bool bEscape = bMpeg2 && s->nProfile >= 8 && s->nProfile <= 15;
  const LevelLimits* pLim = (bMpeg2 && !bEscape) ? LimitsOf(s->nLevel) : nullptr;
  const bool bHigh = s->nProfile == 1;
  const int32_t nChromaUsed = bMpeg2 ? s->nChromaFormat : 1;
  const bool bInterlaced = bMpeg2 && (s->nFieldCoding == 1 || s->nFieldCoding == 2);

  const int32_t w = s->nWidth, h = s->nHeight;
  if (w < 1 || w > 16383 || w % 4096 == 0 || (!bMpeg2 && w >= 4096) || (nChromaUsed != 3 && (w & 1)) ||
      (pLim && w > pLim->nWidth))
    return PX_ENC_ERR_WIDTH;
  if (h < 1 || h > 16383 || h % 4096 == 0 || (!bMpeg2 && h >= 4096) || (nChromaUsed == 1 && (h & 1)) ||
      (bInterlaced && ((h & 1) || (nChromaUsed == 1 && (h & 3)))) || (pLim && h > pLim->nHeight))
    return PX_ENC_ERR_HEIGHT;
  if (s->nAspectRatio < 1 || s->nAspectRatio > (bMpeg2 ? 4 : 14)) return PX_ENC_ERR_ASPECT;
  if (s->nBitRate <= 0 || (!bMpeg2 && s->nBitRate > 104857200) ||
      (pLim && s->nBitRate > (bHigh ? pLim->nBitRateHigh : pLim->nBitRate)))
    return PX_ENC_ERR_BIT_RATE;
  if (s->nVbvBufferSize < 1 || s->nVbvBufferSize > 262143 || (!bMpeg2 && s->nVbvBufferSize >= 1024) ||
      (pLim && s->nVbvBufferSize > (bHigh ? pLim->nVbvHigh : pLim->nVbv)))
    return PX_ENC_ERR_BUFFER_SIZE;
  if (s->nChromaFormat < 1 || s->nChromaFormat > 3) return PX_ENC_ERR_CHROMA;
  if (bMpeg2 && !bEscape &&
      ((s->nProfile == 1 && s->nChromaFormat == 3) ||
       ((s->nProfile == 4 || s->nProfile == 5) && s->nChromaFormat != 1)))
    return PX_ENC_ERR_CHROMA;
  if (s->nVideoFormat < 0 || s->nVideoFormat > 4) return PX_ENC_ERR_VIDEO_FORMAT;
  if (!ColourCodeOk(s->nColourPrimaries)) return PX_ENC_ERR_PRIMARIES;
  if (!ColourCodeOk(s->nTransferCharacteristics)) return PX_ENC_ERR_TRANSFER;
  if (!ColourCodeOk(s->nMatrixCoefficients)) return PX_ENC_ERR_MATRIX;
  if (s->nDisplayWidth < 0 || s->nDisplayWidth > 16383) return PX_ENC_ERR_DISPLAY_WIDTH;
  if (s->nDisplayHeight < 0 || s->nDisplayHeight > 16383) return PX_ENC_ERR_DISPLAY_HEIGHT;
  if (s->nIntraDcPrecision < 0 || s->nIntraDcPrecision > 3 ||
      (bMpeg2 && !bEscape && s->nIntraDcPrecision == 3 && s->nProfile != 1))
    return PX_ENC_ERR_DC_PRECISION;
  for (int i = 0; i < 3; ++i) {
    for (int c = 0; c < 2; ++c) {
      const int32_t nMax = pLim ? (c == 0 ? pLim->nFCodeH : pLim->nFCodeV) : (bMpeg2 ? 9 : 7);
      const int32_t f = m[i].nForwardF[c], b = m[i].nBackwardF[c];
      if (f < 1 || f > nMax || (i > 0 && (b < 1 || b > nMax))) return PX_ENC_ERR_F_CODE;
    }
  }
  for (int i = 0; i < 3; ++i)
    for (int c = 0; c < 2; ++c)
      if (m[i].nForwardRange[c] <= 0 || (i > 0 && m[i].nBackwardRange[c] <= 0))
        return PX_ENC_ERR_SEARCH_RANGE;
  if (bMpeg2 && !bEscape) {
    if (s->nProfile < 0 || s->nProfile > 15 || s->nProfile < 1 || s->nProfile > 5) return PX_ENC_ERR_PROFILE;
    const bool bKnownLevel = s->nLevel == 4 || s->nLevel == 6 || s->nLevel == 8 || s->nLevel == 10;
    if (s->nLevel < 0 || s->nLevel > 15 ||
        ((s->nProfile == 1 || s->nProfile == 4 || s->nProfile == 5) && !bKnownLevel))
      return PX_ENC_ERR_LEVEL;
    if (s->nProfile == 2 || s->nProfile == 3) return PX_ENC_ERR_SCALABLE;
    if ((s->nProfile == 5 && s->nLevel != 8) || (s->nProfile == 1 && s->nLevel == 10))
      return PX_ENC_ERR_PROFILE_LEVEL;
    if (s->nProfile == 5) return PX_ENC_ERR_SIMPLE_M;
  } else if (bMpeg2 && (s->nProfile < 0 || s->nProfile > 15)) {
    return PX_ENC_ERR_PROFILE;
  }
  int32_t nNum = 0, nDen = 1;
  if (!FrameRateOfCode(s->nFrameRateCode, &nNum, &nDen) || s->nFieldCoding < 0 || s->nFieldCoding > 2)
    return PX_ENC_ERR_FIELD_VALUE;
  if (pLim) {
    const int64_t nRate = static_cast<int64_t>(w) * h * nNum / nDen;
    if (nRate > (bHigh ? pLim->nLumaRateHigh : pLim->nLumaRate)) return PX_ENC_ERR_SAMPLE_RATE;
  }

  // 4. ISO/IEC 11172-2 2.4.3.2 constrained parameters (bit rate and buffer bounds included).
  if (!bMpeg2 && s->nConstrained) {
    const int64_t nMbs = static_cast<int64_t>((w + 15) / 16) * ((h + 15) / 16);
    bool bKeep = w <= 768 && h <= 576 && nMbs <= 396 && nMbs * nNum <= 9900LL * nDen && nNum <= 30LL * nDen &&
                 s->nBitRate <= 1856000 && s->nVbvBufferSize <= 20;
    for (int i = 0; i < 3; ++i)
      for (int c = 0; c < 2; ++c)
        if (m[i].nForwardF[c] > 4 || (i > 0 && m[i].nBackwardF[c] > 4)) bKeep = false;
    if (!bKeep) s->nConstrained = 0;
  }
  if (bMpeg2) s->nConstrained = 0;  // ISO/IEC 13818-2 6.3.3: always 0

  // 5. MPEG-1 is progressive, frame-coded, 4:2:0, 8-bit DC.
  if (!bMpeg2) {
    s->nFieldCoding = 0;
    s->nChromaFormat = 1;
    s->nIntraDcPrecision = 0;
  }
  return PXM_OK;
}
