// Plain data shared by the header parser, the slice decoder and the delivery: sequence and
// picture parameters (ISO/IEC 13818-2 6.2/6.3, ISO/IEC 11172-2 2.4.2) and the frame store layout.
// Everything here is zero-initialisable and owns no memory; frame store planes are kernel memory
// owned by the decoder.
#pragma once

#include <cstdint>

enum PictureType : int { kPicI = 1, kPicP = 2, kPicB = 3, kPicD = 4 };
enum PictureStructure : int { kTopField = 1, kBottomField = 2, kFramePicture = 3 };
enum ChromaFormat : int { kChroma420 = 1, kChroma422 = 2, kChroma444 = 3 };

struct SequenceParams {
  int nWidth = 0;   // horizontal_size (with extension)
  int nHeight = 0;  // vertical_size (with extension)
  int nMbWidth = 0;
  int nMbHeight = 0;  // frame macroblock rows
  int nAspect = 0;
  int nFrameRateCode = 0;
  int64_t nBitRate = 0;  // units of 400 bit/s
  bool bMpeg2 = false;
  bool bProgressiveSequence = true;
  int nChromaFormat = kChroma420;
  int nMatrixCoefficients = 5;
  uint8_t intraMatrix[64] = {};  // raster order
  uint8_t nonIntraMatrix[64] = {};
  uint8_t chromaIntraMatrix[64] = {};
  uint8_t chromaNonIntraMatrix[64] = {};
};

struct PictureParams {
  int nType = 0;
  int nTemporalReference = 0;
  bool bFullPelForward = false;  // ISO/IEC 11172-2 only
  bool bFullPelBackward = false;
  int fCode[2][2] = {{15, 15}, {15, 15}};  // [forward/backward][horizontal/vertical]
  int nIntraDcPrecision = 0;
  int nStructure = kFramePicture;
  bool bTopFieldFirst = false;
  bool bFramePredFrameDct = true;
  bool bConcealmentVectors = false;
  bool bQScaleType = false;
  bool bIntraVlcFormat = false;
  bool bAlternateScan = false;
  bool bRepeatFirstField = false;
  bool bProgressiveFrame = true;
  bool bSecondField = false;  // this field picture is the second of its frame
};

struct PlaneGeometry {
  int nLumaStride = 0;  // = luma width (macroblock width x 16)
  int nLumaHeight = 0;
  int nChromaStride = 0;
  int nChromaHeight = 0;
  int nChromaShiftX = 1;  // 1 when chroma is half width
  int nChromaShiftY = 1;  // 1 when chroma is half height
  bool operator==(const PlaneGeometry&) const = default;
};

// One frame: three planes with padding to whole macroblocks. Each store carries the sequence it
// was decoded under, so a frame outlives a change of sequence (joined streams) with its own shape.
struct FrameStore {
  uint8_t* pY = nullptr;
  uint8_t* pCb = nullptr;
  uint8_t* pCr = nullptr;
  int64_t nBytes = 0;  // allocated; at least what geo needs
  int nPictureType = 0;
  bool bProgressive = true;
  PlaneGeometry geo;
  SequenceParams seq;
};
