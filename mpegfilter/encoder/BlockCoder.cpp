// Quantisation, reconstruction and the block layer (ISO/IEC 13818-2 6.2.6, 7.2, 7.4).
#include "mpegfilter/encoder/BlockCoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "mpegfilter/Idct.h"
#include "mpegfilter/encoder/ForwardDct.h"

namespace pxenc {

namespace {

// Intra levels round up from 5/8 of a step (plain rounding spends bits on levels that barely
// matter); non-intra levels need a whole step (dead zone). Both measure |F| rounded to an integer,
// hence the extra half of F in the offsets.
constexpr float kIntraRound = 0.375f;
// Non-intra levels need a tenth of a step more than a whole step: the smallest levels cost bits
// out of proportion (+0.15 dB on noisy material at 5 and 15 Mbit/s, equal on clean).
constexpr float kInterDeadZone = 0.1f;
// Lambda of the trailing-coefficient choice in squared steps per bit: the usual 0.85 q^2 of
// squared error for a step of 2q (0.1 to 0.3 measured alike; 0.2 gave +0.1 dB at 5 Mbit/s).
constexpr float kDropLambda = 0.2f;

// pLevels[i] = sign(x) * min(trunc(|x| + add[i]), nMax) with x = f[i] * mul[i]; returns whether
// any level is non-zero.
bool QuantiseBlock(const float* f, const float* mul, const float* add, short* pLevels, int nMax) {
#if defined(__SSE2__)
  const __m128 signBit = _mm_set1_ps(-0.0f), zero = _mm_setzero_ps();
  const __m128i vMax = _mm_set1_epi16(static_cast<short>(nMax));
  __m128i any = _mm_setzero_si128();
  for (int i = 0; i < 64; i += 8) {
    const __m128 x0 = _mm_mul_ps(_mm_load_ps(f + i), _mm_load_ps(mul + i));
    const __m128 x1 = _mm_mul_ps(_mm_load_ps(f + i + 4), _mm_load_ps(mul + i + 4));
    const __m128i l0 = _mm_cvttps_epi32(_mm_add_ps(_mm_andnot_ps(signBit, x0), _mm_load_ps(add + i)));
    const __m128i l1 = _mm_cvttps_epi32(_mm_add_ps(_mm_andnot_ps(signBit, x1), _mm_load_ps(add + i + 4)));
    const __m128i l = _mm_min_epi16(_mm_packs_epi32(l0, l1), vMax);
    const __m128i neg =
        _mm_packs_epi32(_mm_castps_si128(_mm_cmplt_ps(x0, zero)), _mm_castps_si128(_mm_cmplt_ps(x1, zero)));
    const __m128i out = _mm_sub_epi16(_mm_xor_si128(l, neg), neg);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pLevels + i), out);
    any = _mm_or_si128(any, out);
  }
  return _mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) != 0xFFFF;
#else
  int nAny = 0;
  for (int i = 0; i < 64; ++i) {
    const float x = f[i] * mul[i];
    int l = static_cast<int>(std::fabs(x) + add[i]);
    if (l > nMax) l = nMax;
    pLevels[i] = static_cast<short>(x < 0 ? -l : l);
    nAny |= l;
  }
  return nAny != 0;
#endif
}

// Bit i set when p[i] != 0.
inline uint64_t NonZeroMask(const short* p) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  uint64_t nMask = 0;
  for (int i = 0; i < 64; i += 16) {
    const __m128i a = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), zero);
    const __m128i b = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 8)), zero);
    const uint64_t nZero = static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(a, b)));
    nMask |= (~nZero & 0xFFFF) << i;
  }
  return nMask;
#else
  uint64_t nMask = 0;
  for (int i = 0; i < 64; ++i)
    if (p[i]) nMask |= uint64_t{1} << i;
  return nMask;
#endif
}

struct InverseScan {
  uint8_t pos[64];  // scan position of each raster index
  explicit InverseScan(const uint8_t* pScan) {
    for (int i = 0; i < 64; ++i) pos[pScan[i]] = static_cast<uint8_t>(i);
  }
};
const InverseScan kInverseZigzag(kZigzag), kInverseAlternate(pxscan::kAlternate);

}  // namespace

void BlockCoder::Init(bool bMpeg2, int nDcPrecision, bool bIntraTableOne) {
  m_bMpeg2 = bMpeg2;
  m_nDcPrecision = nDcPrecision;
  m_nIntraTable = bIntraTableOne ? 1 : 0;
  m_nMaxLevel = bMpeg2 ? 2047 : 255;
  for (int i = 0; i < 64; ++i) m_descale[i] = AanDescale(i);
  for (int q = 1; q < 32; ++q) {
    for (int i = 0; i < 64; ++i) {
      // Intra: |F| * 8 / (W q); non-intra: |F| / (2q) (ISO/IEC 13818-2 7.4.2.3 inverted).
      const float fIntra = 8.0f / (kDefaultIntraMatrix[i] * q), fInter = 1.0f / (2 * q);
      m_intraMul[q][i] = m_descale[i] * fIntra;
      m_intraAdd[q][i] = kIntraRound + 0.5f * fIntra;
      m_interMul[q][i] = m_descale[i] * fInter;
      m_interAdd[q][i] = 0.5f * fInter - kInterDeadZone;
    }
  }
}

void BlockCoder::QuantIntra(const short* pBlock, short* pLevels, int q) const {
  alignas(16) float f[64];
  ForwardDctAan(pBlock, f);
  QuantiseBlock(f, m_intraMul[q], m_intraAdd[q], pLevels, m_nMaxLevel);
  const int nMult = 8 >> m_nDcPrecision;
  const int dc = static_cast<int>(std::floor(f[0] * m_descale[0] / nMult + 0.5f));
  const int nDcMax = (1 << (8 + m_nDcPrecision)) - 1;
  pLevels[0] = static_cast<short>(dc < 0 ? 0 : (dc > nDcMax ? nDcMax : dc));
}

bool BlockCoder::QuantInter(const short* pBlock, short* pLevels, int q, int nAbsSum,
                            uint64_t* pScanMask) const {
  // |F(u,v)| <= sum|r| / 4 and a non-zero level needs |F| >= 2q, so below 8q no level can be
  // non-zero. The bound is loose: on camera-like material fewer than 1 in 3000 residuals below 16q
  // give a level at all (a lone +-1), so those are not transformed either.
  if (nAbsSum < 16 * q) return false;
  alignas(16) float f[64];
  ForwardDctAan(pBlock, f);
  if (!QuantiseBlock(f, m_interMul[q], m_interAdd[q], pLevels, m_nMaxLevel)) return false;
  *pScanMask = DropTrailingOnes(f, m_interMul[q], pLevels);
  return *pScanMask != 0;
}

uint64_t BlockCoder::ScanMask(const short* pLevels) const {
  const InverseScan& inv = m_bAlternate ? kInverseAlternate : kInverseZigzag;
  uint64_t nMask = 0;
  for (uint64_t nRaster = NonZeroMask(pLevels); nRaster; nRaster &= nRaster - 1)
    nMask |= uint64_t{1} << inv.pos[__builtin_ctzll(nRaster)];
  return nMask;
}

uint64_t BlockCoder::DropTrailingOnes(const float* f, const float* mul, short* pLevels) const {
  // A +-1 after a long run costs a long code for little: level 1 reconstructs at 1.5 steps, so
  // dropping a coefficient of x steps adds (3x - 2.25) squared steps of error, which is worth it
  // while that stays below lambda times the bits saved (lambda in squared steps per bit).
  const VlcEncoder& v = VlcEncoder::Get();
  const uint8_t* pScan = m_bAlternate ? pxscan::kAlternate : kZigzag;
  uint64_t nMask = ScanMask(pLevels);
  const int nEscape = m_bMpeg2 ? 24 : 20;
  while (nMask) {
    const int nLast = 63 - __builtin_clzll(nMask);
    const int nRaster = pScan[nLast];
    if (pLevels[nRaster] != 1 && pLevels[nRaster] != -1) break;
    const uint64_t nRest = nMask & ~(uint64_t{1} << nLast);
    const int nPrev = nRest ? 63 - __builtin_clzll(nRest) : -1;
    const int nRun = nLast - nPrev - 1;
    int nBits;
    if (!nRest && nRun == 0)
      nBits = 2;  // first coefficient, run 0, level 1
    else if (nRun < 32 && v.dct[0][nRun][1].nLength)
      nBits = v.dct[0][nRun][1].nLength + 1;
    else
      nBits = nEscape;
    if (!nRest) nBits += 2;  // the block's end_of_block goes too
    const float x = std::fabs(f[nRaster] * mul[nRaster]);
    if (3.0f * x - 2.25f >= kDropLambda * static_cast<float>(nBits)) break;
    pLevels[nRaster] = 0;
    nMask = nRest;
  }
  return nMask;
}

void BlockCoder::Reconstruct(const short* pLevels, short* pOut, int q, bool bIntra) const {
  // ISO/IEC 13818-2 7.4.2 / ISO/IEC 11172-2 2.4.4.1-2, visiting only the non-zero levels.
  std::fill_n(pOut, 64, static_cast<short>(0));
  uint64_t nMask = NonZeroMask(pLevels);
  if (m_bMpeg2) {
    const int qs = 2 * q;
    int nSum = 0;
    while (nMask) {
      const int i = __builtin_ctzll(nMask);
      nMask &= nMask - 1;
      const int l = pLevels[i];
      int v;
      if (bIntra && i == 0) {
        v = l * (8 >> m_nDcPrecision);
      } else if (bIntra) {
        v = (2 * l * kDefaultIntraMatrix[i] * qs) / 32;
      } else {
        v = ((2 * l + (l > 0 ? 1 : -1)) * 16 * qs) / 32;
      }
      v = v < -2048 ? -2048 : (v > 2047 ? 2047 : v);
      nSum += v;
      pOut[i] = static_cast<short>(v);
    }
    if ((nSum & 1) == 0) pOut[63] = static_cast<short>((pOut[63] & 1) ? pOut[63] - 1 : pOut[63] + 1);
  } else {
    while (nMask) {
      const int i = __builtin_ctzll(nMask);
      nMask &= nMask - 1;
      const int l = pLevels[i];
      int v;
      if (bIntra && i == 0) {
        v = l * 8;
      } else {
        v = bIntra ? (2 * l * q * kDefaultIntraMatrix[i]) / 16 : ((2 * l + (l > 0 ? 1 : -1)) * q * 16) / 16;
        if ((v & 1) == 0) v -= v > 0 ? 1 : -1;
      }
      pOut[i] = static_cast<short>(v < -2048 ? -2048 : (v > 2047 ? 2047 : v));
    }
  }
  IdctChenWang(pOut);
}

void BlockCoder::WriteIntra(BitSink& s, const short* pLevels, bool bLuma, int* pDcPred) const {
  const VlcEncoder& v = VlcEncoder::Get();
  const int nDiff = pLevels[0] - *pDcPred;
  *pDcPred = pLevels[0];
  const int nAbs = std::abs(nDiff);
  int nSize = 0;
  while ((1 << nSize) <= nAbs) ++nSize;
  const VlcCode& c = bLuma ? v.dcLuma[nSize] : v.dcChroma[nSize];
  s.Put(c.nCode, c.nLength);
  if (nSize) s.Put(static_cast<uint32_t>(nDiff < 0 ? nDiff + (1 << nSize) - 1 : nDiff), nSize);
  WriteAc(s, pLevels, 1, m_bMpeg2 ? m_nIntraTable : 0, ScanMask(pLevels));
}

void BlockCoder::WriteInter(BitSink& s, const short* pLevels, uint64_t nScanMask) const {
  WriteAc(s, pLevels, 0, 0, nScanMask);
}

void BlockCoder::WriteAc(BitSink& s, const short* pLevels, int nFirst, int nTable, uint64_t nMask) const {
  const VlcEncoder& v = VlcEncoder::Get();
  // nMask: the non-zero levels in scan order; the loop below visits only those.
  const uint8_t* pScan = m_bAlternate ? pxscan::kAlternate : kZigzag;
  nMask &= ~uint64_t{0} << nFirst;
  int nNext = nFirst;  // scan position after the last coded coefficient
  bool bFirst = nFirst == 0;
  while (nMask) {
    const int i = __builtin_ctzll(nMask);
    nMask &= nMask - 1;
    const int nRun = i - nNext;
    nNext = i + 1;
    const int l = pLevels[pScan[i]];
    const int a = l < 0 ? -l : l;
    const uint32_t nSign = l < 0 ? 1 : 0;
    if (bFirst && nRun == 0 && a == 1) {
      // ISO/IEC 13818-2 Table B.14 note: first coefficient of a non-intra block.
      s.Put(2 | nSign, 2);
    } else if (a <= 40 && nRun < 32 && v.dct[nTable][nRun][a].nLength) {
      const VlcCode& c = v.dct[nTable][nRun][a];
      s.Put((c.nCode << 1) | nSign, c.nLength + 1);
    } else {
      s.Put(v.dctEscape.nCode, v.dctEscape.nLength);
      s.Put(static_cast<uint32_t>(nRun), 6);
      if (m_bMpeg2) {
        s.Put(static_cast<uint32_t>(l) & 0xFFF, 12);  // ISO/IEC 13818-2 7.2.2.3
      } else if (a < 128) {
        s.Put(static_cast<uint32_t>(l) & 0xFF, 8);  // ISO/IEC 11172-2 2.4.3.7
      } else if (l > 0) {
        s.Put(static_cast<uint32_t>(l), 16);
      } else {
        s.Put(0x8000u | static_cast<uint32_t>(l + 256), 16);
      }
    }
    bFirst = false;
  }
  s.Put(v.dctEob[nTable].nCode, v.dctEob[nTable].nLength);
}

}  // namespace pxenc
