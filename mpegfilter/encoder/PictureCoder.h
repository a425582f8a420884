// Codes one picture (a frame or one field) of the sequence: picture header and coding extension,
// one slice per macroblock row, and per macroblock the mode decision (intra, forward, backward or
// both; frame or field prediction and DCT in interlaced frames; skipped), quantisation under rate
// control, the macroblock layer (ISO/IEC 13818-2 6.2.5, ISO/IEC 11172-2 2.4.2.7) and the
// reconstruction into the picture's reference frame. The caller (SequenceCoder) owns the frames.
#pragma once

#include <cstdint>

#include "mpegfilter/encoder/BitSink.h"
#include "mpegfilter/encoder/BlockCoder.h"
#include "mpegfilter/encoder/EncoderTypes.h"
#include "mpegfilter/encoder/MotionSearch.h"
#include "mpegfilter/encoder/RateControl.h"

namespace pxenc {

enum PictureType { kPictureI = 1, kPictureP = 2, kPictureB = 3 };
enum PictureStructure { kTopField = 1, kBottomField = 2, kFramePicture = 3 };

struct PictureSetup {
  PictureType nType = kPictureI;
  PictureStructure nStructure = kFramePicture;
  bool bProgressiveFrame = true;  // frame_pred_frame_dct and progressive_frame
  bool bSecondField = false;
  bool bOwnFrameOnly = false;  // P second field of an I frame: predicts from the first field only
  int nTemporalReference = 0;
  int nVbvDelay = 0xFFFF;
  SearchWindow fwd, bwd;  // ranges and the f code (horizontal and vertical f codes are equal)
  Frame source;           // whole frames; field pictures select their lines
  Frame recon;
  Frame past;    // forward reference (P, B)
  Frame future;  // backward reference (B)
};

struct SequenceSetup {
  bool bMpeg2 = true;
  int nDcPrecision = 0;
  Geometry g;
};

// Coded macroblocks by prediction with two vectors per direction (over the whole sequence).
struct PredictionCounts {
  int64_t n16x8 = 0;          // field pictures
  int64_t nFieldInFrame = 0;  // field prediction in interlaced frame pictures
};

class PictureCoder {
 public:
  void Init(const SequenceSetup& seq);
  // Reconstruct B pictures too (only needed to inspect them).
  void SetReconstructB(bool b) { m_bReconB = b; }
  // Writes and reconstructs one picture. Returns the mean quantiser_scale_code used.
  double Code(const PictureSetup& pic, BitSink& sink, RateControl& rc);
  const PredictionCounts& Counts() const { return m_counts; }

 private:
  struct Motion {
    int nType = 2;  // frame_motion_type (1 field, 2 frame) / field_motion_type (1 field, 2 16x8)
    Mv mv[2][2];    // [r][s]
    int sel[2][2] = {{0, 0}, {0, 0}};
    bool operator==(const Motion& o) const;
  };
  struct Decision {
    int nFlags = 0;  // vlc::MbFlags
    Motion m;
    bool bFieldDct = false;
    int nCost = 0;
  };
  struct Candidate {
    Motion m;  // one direction's vectors in slot s
    int nSad = 1 << 30;
    int nCost = 1 << 30;  // nSad plus lambda times the vector bits
  };
  struct DirectionResult {
    // frame: one vector (frame prediction, or field prediction in a field picture); field: two
    // (field prediction in an interlaced frame picture, 16x8 in a field picture).
    Candidate frame, field;
    Candidate other;  // field pictures: one vector from the field frame did not choose
  };

  bool AlternateScan(const PictureSetup& pic) const;
  void WritePictureHeader(const PictureSetup& pic, BitSink& s) const;
  Plane RefPlane(int nComponent, int nDirection, int nSelect) const;
  DirectionResult SearchDirection(int nDir, int mbx, int mby);
  // pPrev: the previous macroblock of the slice (for B skips), null at a slice start.
  Decision Decide(int mbx, int mby, const Decision* pPrev);
  bool Fits(const Motion& m, int nFlags, int mbx, int mby) const;
  // What a skipped B macroblock after pPrev predicts with (false when it cannot be skipped).
  bool SkipMotion(const Decision& prev, Motion* pOut) const;
  bool SameMotion(const Motion& a, const Motion& b, int nFlags) const;
  // Two vectors per direction: field prediction in a frame picture, 16x8 in a field picture.
  bool TwoVectors(const Motion& m) const { return m.nType == (m_bFieldPic ? 2 : 1); }
  void BuildPrediction(const Decision& d, int mbx, int mby, uint8_t* pY, uint8_t* pCb, uint8_t* pCr);
  void PredictOne(const Motion& m, int s, int mbx, int mby, uint8_t* pY, uint8_t* pCb, uint8_t* pCr);
  bool ChooseFieldDct(const uint8_t* pSrc, int nStride, const uint8_t* pPred) const;
  // Blocks of the macroblock: fills m_levels, returns the coded block pattern.
  int TransformBlocks(const Decision& d, int mbx, int mby, const uint8_t* pY, const uint8_t* pCb,
                      const uint8_t* pCr, int q);
  void ReconstructBlocks(const Decision& d, int mbx, int mby, const uint8_t* pY, const uint8_t* pCb,
                         const uint8_t* pCr, int nCbp, int q);
  void WriteMotion(BitSink& s, const Decision& d, int nDir);
  // Prediction (the DCT type in interlaced frames) and the quantised blocks; returns the coded
  // block pattern.
  int Prepare(Decision* pD, int mbx, int mby, int q, uint8_t* pY, uint8_t* pCb, uint8_t* pCr);
  // bEdge: the first or last macroblock of a slice.
  bool CanSkip(const Decision& d, int nCbp, bool bEdge, const Decision* pPrev) const;
  bool ZeroMotion(const Motion& m) const;
  // macroblock_type flags for the coded macroblock (a P zero vector becomes "No MC").
  int FlagsFor(Decision* pD, int nCbp, int q, int nQ) const;
  // macroblock() after its address increment; updates the vector and DC predictors.
  void PutMacroblock(BitSink& s, const Decision& d, int nFlags, int nCbp, int nQ, int* dcPred);
  int64_t SquaredError(int mbx, int mby) const;
  void KeepTrial(int nFlags, const Motion& m, int nCost);
  // *pQ: the rate control's quantiser on entry, the one chosen on return; bFiner, bCoarser: one
  // step either way may be tried. Leaves the winner prepared (levels, prediction, *pCbp).
  Decision BestTrial(int mbx, int mby, int* pQ, bool bFiner, bool bCoarser, int nQ, bool bEdge,
                     const Decision* pPrev, const int* dcPred, uint8_t* pY, uint8_t* pCb, uint8_t* pCr,
                     int* pCbp);
  void BlockGeometry(int b, bool bFieldDct, int* pComp, int* pX, int* pY, int* pStep) const;

  SequenceSetup m_seq;
  BlockCoder m_block;
  const PictureSetup* m_pic = nullptr;
  Frame m_src, m_rec;  // frame or field views of the current picture
  int m_nMbW = 0, m_nMbH = 0;
  int m_cw = 8, m_ch = 8;   // chroma block area per macroblock
  int m_nChromaBlocks = 1;  // per chroma component
  Mv m_pmv[2][2];           // ISO/IEC 13818-2 7.6.3.4 PMV[r][s]
  short m_levels[12][64];
  uint64_t m_scanMask[12] = {};  // non-intra blocks: non-zero levels in scan order
  bool m_bFieldPic = false, m_bFrameFieldModes = false;
  int m_nParity = 0;
  bool m_bReconB = false;
  PredictionCounts m_counts;
  int m_nLambda16 = 16;
  int m_nLastSad[2] = {0, 0};  // best frame-search SAD of the previous macroblock, per direction
  // Candidates coded for real per macroblock: 2 gave about half the gain of 3, 8 little more than 5.
  static constexpr int kMaxTrials = 5;
  static constexpr int kProgressiveTrials = 3;  // progressive pictures are at parity with fewer
  Decision m_trials[kMaxTrials];
  int m_nTrials = 0;
  BitSink m_scratch;  // counts the bits of trial macroblocks
  struct Kept {       // the prediction of the cheapest trial so far
    uint8_t y[256], cb[256], cr[256];
  } m_kept;
  Mv m_left[2];
  Mv m_above[2][1024];
};

}  // namespace pxenc
