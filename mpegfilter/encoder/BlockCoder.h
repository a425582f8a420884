// One 8x8 block through quantisation, variable-length coding and reconstruction.
// Quantisation is the encoder's choice (reciprocal multipliers per quantiser_scale_code, then a
// rate-distortion choice of each level against its code length); inverse quantisation and mismatch control
// follow ISO/IEC 13818-2 7.4 and ISO/IEC 11172-2 2.4.4 exactly and the inverse DCT is IdctChenWang, so the
// reconstruction equals what any conforming decoder (and ours bit for bit) produces.
// quantiser_scale_code q is 1..31 (q_scale_type 0: MPEG-2 quantiser_scale 2q, MPEG-1 q).
#pragma once

#include <algorithm>
#include <cstdint>

#include "mpegfilter/ScanTables.h"
#include "mpegfilter/encoder/BitSink.h"
#include "mpegfilter/encoder/VlcEncoder.h"

namespace pxenc {

using pxscan::kDefaultIntraMatrix;
using pxscan::kZigzag;

class BlockCoder {
 public:
  void Init(bool bMpeg2, int nDcPrecision, bool bIntraTableOne);
  // alternate_scan (MPEG-2): the vertical-first scan suits interlaced pictures.
  void SetAlternateScan(bool b) { m_bAlternate = b; }
  // Quick levels (the ranking of a macroblock's trials): nearest intra levels, non-intra ones
  // truncated from 1.1 steps (the former dead zone), without the rate-distortion choice.
  void SetQuickLevels(bool b) { m_bQuick = b; }

  // Intra: pBlock holds samples 0..255 on entry; on return pLevels holds QF (raster).
  void QuantIntra(const short* pBlock, short* pLevels, int q) const;
  // Non-intra: pBlock holds the residual; returns false (and leaves pLevels unspecified) when
  // every level is zero, else true with *pScanMask the non-zero levels in scan order (bit i for
  // scan position i), which WriteInter takes.
  bool QuantInter(const short* pBlock, short* pLevels, int q, int nAbsSum, uint64_t* pScanMask) const;
  // Inverse quantisation, mismatch control and IdctChenWang: pOut receives residuals (or samples).
  void Reconstruct(const short* pLevels, short* pOut, int q, bool bIntra) const;
  // ISO/IEC 13818-2 7.2.1 intra DC differential and 7.2.2 coefficients.
  void WriteIntra(BitSink& s, const short* pLevels, bool bLuma, int* pDcPred) const;
  void WriteInter(BitSink& s, const short* pLevels, uint64_t nScanMask) const;
  int DcReset() const { return 1 << (7 + m_nDcPrecision); }

 private:
  void WriteAc(BitSink& s, const short* pLevels, int nFirst, int nTable, uint64_t nScanMask) const;
  uint64_t ScanMask(const short* pLevels) const;
  // Rate-distortion choice of the AC levels (intra) or all levels (non-intra) from the first
  // pass's: each keeps its level, takes one less or becomes zero. Returns the scan mask of the
  // levels left.
  // pAbs: each coefficient's magnitude in steps.
  uint64_t OptimiseLevels(const float* pAbs, short* pLevels, bool bIntra) const;
  // Bits of a run/level code with its sign, escapes included.
  int CodeBits(int nTable, int nRun, int nLevel) const {
    return nLevel <= 40 ? m_codeBits[nTable][nRun][nLevel] : EscapeBits(nLevel);
  }
  // ISO/IEC 13818-2 7.2.2.3 and ISO/IEC 11172-2 2.4.3.7.
  int EscapeBits(int nLevel) const { return m_bMpeg2 ? 24 : (nLevel < 128 ? 20 : 28); }
  bool m_bMpeg2 = true;
  int m_nDcPrecision = 0;
  int m_nIntraTable = 0;
  int m_nIntraCodeTable = 0;  // the table intra AC levels are coded with
  int m_nMaxLevel = 2047;
  bool m_bAlternate = false;
  bool m_bQuick = false;
  // Per quantiser_scale_code: multipliers from the DCT output to levels, and rounding offsets.
  alignas(16) float m_intraMul[32][64];
  alignas(16) float m_intraAdd[32][64];
  alignas(16) float m_interMul[32][64];
  alignas(16) float m_interAdd[32][64];
  alignas(16) float m_interQuickAdd[32][64];  // truncation, a level from 1.1 steps
  float m_descale[64];
  float m_intraWeight[64];  // squared intra step against the non-intra one
  uint8_t m_codeBits[2][64][41];
  // Lambda times the bits, non-intra and intra, by run and RateIndex of the level.
  static constexpr int kRateLevels = 43;
  static int RateIndex(int nLevel) { return std::min(nLevel, 41) + (nLevel >= 128 ? 1 : 0); }
  float m_rate[2][64][kRateLevels];
  int m_nEobBits[2] = {};
};

}  // namespace pxenc
