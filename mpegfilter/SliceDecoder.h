// Decodes the slices of one picture into a frame store: slice and macroblock layers, motion
// vectors, coefficient VLCs, inverse quantisation, inverse DCT and prediction
// (ISO/IEC 13818-2 6.2.4-6.2.6, 7.1-7.6; ISO/IEC 11172-2 2.4.2.7-2.4.4).
// Callers: MpegDecoder, once per picture (BeginPicture) and once per slice start code.
// Guarantees: any bit sequence ends the slice with true (clean) or false (damaged) without
// writing outside the frame stores; a damaged slice leaves the rest of the picture as it was.
#pragma once

#include <cstdint>

#include "mpegfilter/MotionCompensator.h"
#include "mpegfilter/MpegTypes.h"
#include "mpegfilter/StreamReader.h"

class SliceDecoder {
 public:
  struct Picture {
    const SequenceParams* pSeq = nullptr;
    const PictureParams* pPic = nullptr;
    PlaneGeometry geo;
    FrameStore* pCur = nullptr;        // being decoded
    const FrameStore* pFwd = nullptr;  // forward reference (past)
    const FrameStore* pBwd = nullptr;  // backward reference (future, B pictures)
  };

  SliceDecoder();
  void BeginPicture(const Picture& pic);
  // nSliceCode: the low byte of the slice start code just consumed (1..0xAF).
  bool DecodeSlice(StreamReader& r, int nSliceCode);

 private:
  struct Motion {
    int nFlags = 0;         // vlc::kMbForward | vlc::kMbBackward
    int nType = 2;          // frame_motion_type / field_motion_type (1 field, 2 frame or 16x8, 3 dual prime)
    int vec[2][2][2] = {};  // [r][s][t] in half samples (field vectors in field units)
    int sel[2][2] = {};     // motion_vertical_field_select[r][s]
    int dmv[2] = {};        // dmvector
  };

  bool DecodeMacroblock(StreamReader& r, int nMbAddr);
  void SkipMacroblock(int nMbAddr);
  bool DecodeMotionVectors(StreamReader& r, int s, int nCount, bool bFieldFormat, bool bDualPrime, Motion& m);
  bool DecodeVector(StreamReader& r, int nR, int s, bool bFieldFormat, bool bDualPrime, Motion& m);
  int DecodeMotionComponent(StreamReader& r, int nFCode, int nPred, bool* pOk);
  void FormPrediction(int mbx, int mby, const Motion& m);
  void PredictDirection(int mbx, int mby, const Motion& m, int s, bool bAverage);
  void PredictDualPrime(int mbx, int mby, const Motion& m);
  static void Prefetch(const PlaneView& v, int x, int y, int nLines);
  void PredictArea(const FrameStore& ref, int nRefParity, int x, int y, int vx, int vy, int nDstParity,
                   int nLine, int nW, int nH, bool bAverage);
  // *pLast: the last scan position holding a coefficient (0: the DC term alone).
  bool DecodeBlock(StreamReader& r, int nBlock, bool bIntra, int* pLast);
  void PutBlock(int mbx, int mby, int nBlock, bool bFieldDct, bool bIntra, int nLast);

  Picture m_pic;
  int m_nMbWidth = 0;
  int m_nMbRows = 0;  // in this picture (field pictures: half the frame rows)
  int m_nBlocks = 6;
  int m_nQScale = 2;
  int m_dcPred[3] = {};
  int m_pmv[2][2][2] = {};
  Motion m_last;  // previous macroblock's prediction (B skipped macroblocks)
  bool m_bMpeg2 = false;
  bool m_bField = false;  // field picture
  int m_nParity = 0;      // field picture: 0 top, 1 bottom
  const uint8_t* m_scan = nullptr;
  alignas(16) short m_block[64] = {};
  int m_wq[4][64] = {};  // [intra luma, non-intra luma, intra chroma, non-intra chroma] in scan order
  int m_wqScale[4] = {-1, -1, -1, -1};
};
