// Test Model 5 steps 1 and 2 with the VBV cap and a quantiser floor; see RateControl.h.
#include "mpegfilter/encoder/RateControl.h"

#include <algorithm>
#include <iterator>

namespace pxenc {

namespace {
constexpr double kKp = 1.0, kKb = 1.4;
// Quantiser ratio of each type to the I pictures' (index 0 unused).
constexpr double kK[5] = {1.0, 1.0, kKp, kKb, 1.0};
// Interlaced material: I pictures at this ratio (the others keep theirs). Finer I pictures gained
// +0.06 to +0.14 dB on woven sources in field and frame pictures (0.6 to 0.8 alike), but lost up to
// 0.14 dB on noisy progressive material, where the next pictures predict little from them.
constexpr double kInterlacedIntraRatio = 0.7;
// Finest quantiser_scale_code per picture type (I, P, B, second intra field). Easy pictures at quantiser 1
// took bits that buy more in the harder pictures of a clip (equal slope), and a clip that is easy throughout
// now spends less than the rate instead (variable-rate mode): +0.5 dB on a fractal zoom whose
// detail grows, +0.1 to +0.5 dB on clean material at 5 Mbit/s and above. B pictures are not
// predicted from: their floor keeps Kb's ratio (2 x 1.4); a floor of 2 lost 0.4 dB on the zoom.
constexpr int kMinQuant[5] = {1, 2, 2, 3, 2};
// After the first I picture the model keeps twice its size (at least half the buffer) and leaves the
// rest as room for what easy pictures leave; see EndPicture.
constexpr double kStartRoom = 2.0;
}  // namespace

int RateControl::MinQuant(int nType) {
  return kMinQuant[std::clamp(nType, 1, 4)];
}

void RateControl::Init(int64_t nBitRate, int32_t nFpsNum, int32_t nFpsDen, int32_t nMbCount,
                       int64_t nVbvBits) {
  m_dBitRate = static_cast<double>(nBitRate);
  m_dPicRate = static_cast<double>(nFpsNum) / nFpsDen;
  m_nMbCount = std::max(1, nMbCount);
  m_dX[1] = 160.0 * m_dBitRate / 115.0;
  m_dX[2] = 60.0 * m_dBitRate / 115.0;
  m_dX[3] = 42.0 * m_dBitRate / 115.0;
  m_dX[kIntraSecondField] = m_dX[2];
  // Twice Test Model 5's reaction parameter: the quantiser moves half as fast with the buffer,
  // measured +0.2 dB on clean and fractal material, equal on noise.
  m_dReact = 4.0 * m_dBitRate / m_dPicRate;
  // Test Model 5 starts the I buffer at quantiser 10; that left the first pictures of a sequence
  // 5 dB below the rest on clean material. Quantiser 4 brings the worst of them up by 3 dB.
  m_dD[1] = 4.0 * m_dReact / 31.0;
  m_dD[2] = kKp * m_dD[1];
  m_dD[3] = kKb * m_dD[1];
  m_dD[kIntraSecondField] = m_dD[1];
  m_dR = 0;
  m_dVbvSize = static_cast<double>(nVbvBits);
  // The decoder starts after the buffer has filled to this level (vbv_delay of the first picture).
  m_dVbv = m_dVbvSize * 0.9;
  m_bFirstI = false;
  for (bool& b : m_bCoded) b = false;
  m_sum = Summary{};
  std::copy(std::begin(kK), std::end(kK), std::begin(m_dK));
}

void RateControl::SetInterlaced(bool b) {
  m_dK[1] = b ? kInterlacedIntraRatio : kK[1];
}

void RateControl::StartGop(int nI, int nP, int nB, int nIntraSecondFields) {
  const int n = nI + nP + nB + nIntraSecondFields;
  m_dR += m_dBitRate * n / m_dPicRate;
  m_sum.dBitsGranted += m_dBitRate * n / m_dPicRate;
  m_nLeft[1] = nI;
  m_nLeft[2] = nP;
  m_nLeft[3] = nB;
  m_nLeft[kIntraSecondField] = nIntraSecondFields;
}

void RateControl::StartPicture(int nType) {
  m_nType = nType;
  for (float& v : m_spent) v = -1;
  // Test Model 5's share of what is left of the GOP budget: this picture's X / K against the
  // sum of N X / K over the pictures left of every type (this one at least).
  const double r = std::max(m_dR, m_dBitRate / m_dPicRate);
  double dSum = 0;
  for (int k = 1; k <= 4; ++k) {
    const double n = k == nType ? std::max(1, m_nLeft[k]) : (k == 1 ? 0 : m_nLeft[k]);
    dSum += n * m_dX[k] / m_dK[k];
  }
  double t = r * (m_dX[nType] / m_dK[nType]) / dSum;
  t = std::max(t, m_dBitRate / (8.0 * m_dPicRate));
  // Never plan more than the decoder's buffer will hold when the picture is removed.
  m_dCap = m_dVbv * 0.92;
  m_dTarget = std::min(t, m_dCap * 0.85);
  // A virtual buffer wound far down by an easy picture that underspent its target would hold the
  // next picture of this type at the floor however much it costs (the second I picture of a
  // fractal zoom spent 80 % over its target that way): it starts no lower than quantiser 0.5.
  m_dD[nType] = std::max(m_dD[nType], 0.5 * m_dReact / 31.0);
}

double RateControl::ReactScale() const {
  // The first picture of a type has no measured complexity behind its start quantiser: it reacts
  // twice as fast to its overshoot (the first B picture of hard content spent three times its
  // target), and the quantiser it reached is where the next one starts.
  return m_bCoded[m_nType] ? 1.0 : 2.0;
}

double RateControl::ExpectedShare(double dPos) const {
  if (!m_bProfile[m_nType]) return dPos;
  const double x = std::clamp(dPos, 0.0, 1.0) * kBins;
  const int i = std::min(static_cast<int>(x), kBins - 1);
  const float* p = m_profile[m_nType];
  return p[i] + (p[i + 1] - p[i]) * (x - i);
}

int RateControl::MbQuant(int nIndex, int64_t nBitsSoFar) {
  // The bits expected so far follow where the last picture of this type spent them (detail is
  // rarely spread evenly), so the quantiser stays even across the picture instead of climbing
  // towards its bottom after a busy top.
  const double dPos = static_cast<double>(nIndex) / m_nMbCount;
  const int nBin = static_cast<int>(dPos * kBins);
  if (nBin >= 0 && nBin <= kBins && m_spent[nBin] < 0) m_spent[nBin] = static_cast<float>(nBitsSoFar);
  const double dOver = static_cast<double>(nBitsSoFar) - m_dTarget * ExpectedShare(dPos);
  double q = (m_dD[m_nType] + dOver * ReactScale()) * 31.0 / m_dReact;
  // Close to the VBV cap: coarsest quantiser for the rest of the picture.
  m_bHeldAtCap = static_cast<double>(nBitsSoFar) > m_dCap * (0.7 + 0.25 * nIndex / m_nMbCount);
  if (m_bHeldAtCap) q = 31;
  const int n = static_cast<int>(q + 0.5);
  m_bHeldAtFloor = n < MinQuant(m_nType);
  return std::clamp(n, MinQuant(m_nType), 31);
}

int64_t RateControl::EndPicture(int64_t nBits, double dAvgQ) {
  const double s = static_cast<double>(nBits);
  if (s > 0) {
    // Cumulative shares, monotone, bins never reached filled from their neighbours.
    float* p = m_profile[m_nType];
    float last = 0;
    for (int i = 0; i <= kBins; ++i) {
      const float v = i == kBins ? 1.0f : (m_spent[i] < 0 ? last : static_cast<float>(m_spent[i] / s));
      last = std::clamp(v, last, 1.0f);
      p[i] = last;
    }
    p[0] = 0;
    m_bProfile[m_nType] = true;
  }
  m_dD[m_nType] += (s - m_dTarget) * ReactScale();
  // No further than the coarsest quantiser: a virtual buffer wound up by pictures the content
  // could not code within their targets even at 31 (or by a first GOP that overspent) held the
  // quantiser there long after the budget had recovered, and the unspent bits were lost to the
  // full VBV buffer.
  m_dD[m_nType] = std::min(m_dD[m_nType], m_dReact);
  if (s > m_dTarget * 1.05 && dAvgQ >= 30.5) ++m_sum.nOverAtCoarsest;
  ++m_sum.nPictures;
  m_sum.dBitsSpent += s;
  // Types not coded yet start where this one ended, in Test Model 5's ratios of quantisers
  // (never finer than their own start): after an I picture that climbed to 31 on hard content,
  // the first P and B pictures started at 4 and 6 and spent two and a half times their targets.
  if (!m_bCoded[m_nType]) {
    for (int t = 1; t <= 4; ++t)
      if (!m_bCoded[t] && t != m_nType)
        m_dD[t] = std::max(m_dD[t], std::min(31.0, dAvgQ * m_dK[t] / m_dK[m_nType]) * m_dReact / 31.0);
  }
  m_bCoded[m_nType] = true;
  m_dX[m_nType] = std::max(1.0, s * dAvgQ);
  m_dR -= s;
  if (m_nLeft[m_nType] > 0) --m_nLeft[m_nType];
  // A picture larger than the model held has underflowed it (content beyond the rate even at
  // 31): the decoder waits for the data, it owes nothing later, and the GOP budget already
  // carries the overspend. Kept below 0, the cap forced 31 on every picture until it had refilled.
  m_dVbv = std::max(0.0, m_dVbv - s) + m_dBitRate / m_dPicRate;
  // The model starts 90 % full so that the first I picture may be large; once it is known to be
  // small, the model gives up what the later I pictures will not need (less than the real buffer
  // holds is always safe). Full from the start, a clip that was easy first lost what it left over
  // to the full buffer (the fractal asked for 8.6 Mbit/s spent 7.9, 46.5 dB; now 8.3, 47.0 dB);
  // starting half full capped every I picture at 1920x1080, where the buffer barely holds one.
  if (m_nType == 1 && !m_bFirstI) {
    m_bFirstI = true;
    const double dWant = std::clamp(kStartRoom * s / m_dVbvSize, 0.5, 0.9) * m_dVbvSize;
    m_dVbv -= std::max(0.0, m_dVbvSize * 0.9 - dWant);
  }
  // vbv_delay is 0xFFFF, the variable-rate mode of the VBV (ISO/IEC 13818-2 C.3.2): a full buffer
  // takes no more data, so no stuffing is written; what the buffer could not take is lost to the
  // budget as stuffing would have lost it.
  if (m_dVbv > m_dVbvSize) {
    m_dR -= m_dVbv - m_dVbvSize;
    m_dVbv = m_dVbvSize;
  }
  return 0;
}

}  // namespace pxenc
