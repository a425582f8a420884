// Rate control of the encoder, after the Test Model 5 scheme: a bit budget per GOP split among
// I, P and B pictures by their measured complexity, a virtual buffer per picture type that turns
// the running overshoot into quantiser_scale_code per macroblock. Activity masking (Test Model 5
// step 3) is left out: it cost 1.3 dB PSNR at 5 Mbit/s on 720x576 material for a perceptual gain.
// On top, a model of the decoder's VBV buffer (ISO/IEC 13818-2 Annex C) caps each picture's budget
// so the buffer does not underflow. A floor per picture type keeps easy pictures from spending at
// quantisers that buy little (the bits left over stay with the later, harder pictures).
#pragma once

#include <cstdint>

namespace pxenc {

class RateControl {
 public:
  void Init(int64_t nBitRate, int32_t nFpsNum, int32_t nFpsDen, int32_t nMbCount, int64_t nVbvBits);
  // The second field of an I frame (a P field predicting from the first only) is a type of its
  // own: sharing the I pictures' complexity and virtual buffer, it set the next intra field's
  // target (a zoom at 8 Mbit/s coded its second intra field at quantiser 5.5, the P field
  // after it at 3.7).
  static constexpr int kIntraSecondField = 4;
  // Interlaced material (after Init): finer I pictures than Test Model 5's ratio.
  void SetInterlaced(bool b);
  // Pictures of each type in the GOP about to start.
  void StartGop(int nI, int nP, int nB, int nIntraSecondFields = 0);
  // nType 1 I, 2 P, 3 B or kIntraSecondField.
  void StartPicture(int nType);
  // quantiser_scale_code for macroblock nIndex given the bits spent so far on this picture.
  int MbQuant(int nIndex, int64_t nBitsSoFar);
  // Bits of the coded picture and the mean quantiser_scale_code used; returns the number of zero
  // stuffing bytes to append so that the VBV buffer does not overflow.
  int64_t EndPicture(int64_t nBits, double dAvgQ);
  // VBV fullness before the next picture is removed (bits); for vbv_delay.
  double VbvFullness() const { return m_dVbv; }
  // The last MbQuant wanted a finer quantiser than the floor gives: the budget is not what holds
  // the quantiser there.
  bool HeldAtFloor() const { return m_bHeldAtFloor; }
  // The last MbQuant gave 31 because the picture runs close to the VBV cap: nothing finer.
  bool HeldAtCap() const { return m_bHeldAtCap; }
  // Finest quantiser_scale_code MbQuant gives for pictures of type nType.
  static int MinQuant(int nType);

  // What the content cost against the rate: pictures coded, those that spent more than their
  // target with their quantiser at the coarsest (the rate is out of the content's reach), and
  // the bits spent and granted so far.
  struct Summary {
    int64_t nPictures = 0, nOverAtCoarsest = 0;
    double dBitsSpent = 0, dBitsGranted = 0;
  };
  const Summary& Totals() const { return m_sum; }

 private:
  double m_dBitRate = 0, m_dPicRate = 25, m_dR = 0, m_dVbvSize = 0, m_dVbv = 0;
  double m_dX[5] = {}, m_dD[5] = {};
  double m_dK[5] = {};  // quantiser ratio of each type to the I pictures' (index 0 unused)
  int m_nLeft[5] = {};
  int m_nType = 1;
  double m_dTarget = 0, m_dReact = 0, m_dCap = 0;
  int32_t m_nMbCount = 1;
  bool m_bFirstI = false;
  bool m_bHeldAtFloor = false, m_bHeldAtCap = false;
  bool m_bCoded[5] = {};  // a picture of this type was coded
  Summary m_sum;
  // Where in the picture the bits went: share of the last picture of each type spent before
  // each of kBins equal runs of macroblocks (cumulative; m_bProfile false until one was coded),
  // and this picture's bits at the same points.
  static constexpr int kBins = 64;
  double ExpectedShare(double dPos) const;
  double ReactScale() const;
  float m_profile[5][kBins + 1] = {};
  bool m_bProfile[5] = {};
  float m_spent[kBins + 1] = {};
};

}  // namespace pxenc
