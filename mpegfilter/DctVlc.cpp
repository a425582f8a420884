// Builds the one-look-up DCT coefficient tables from the canonical Annex B arrays.
#include "mpegfilter/DctVlc.h"

#include "mpegfilter/VlcTables.h"

const DctVlc& DctVlc::Get(bool bTableOne) {
  static const DctVlc s_zero(false);
  static const DctVlc s_one(true);
  return bTableOne ? s_one : s_zero;
}

DctVlc::DctVlc(bool bTableOne) {
  const vlc::Table<vlc::DctCode>& t = bTableOne ? vlc::kDctTableOne : vlc::kDctTableZero;
  for (Entry& e : m_entries) e = Entry{0, 0, 0, kLong};
  for (Entry& e : m_long) e = Entry{0, 0, 0, kLong};
  for (size_t i = 0; i < t.nCount; ++i) {
    const vlc::DctCode& c = t.pEntries[i];
    const bool bMarker = c.nRun == vlc::kDctEob || c.nRun == vlc::kDctEscape;
    const int nBits = c.nLength + (bMarker ? 0 : 1);  // with the sign bit
    if (nBits > kBits) {
      if (bMarker) continue;
      // Leading zeros z, then the closing one, then the rest of the code and the sign.
      int z = 0;
      while (z < c.nLength && !((c.nCode >> (c.nLength - 1 - z)) & 1)) ++z;
      const int nTail = c.nLength - z - 1;  // code bits after the closing one
      if (z == c.nLength || z > kMaxZeros || nTail + 1 > kLongBits) continue;
      const uint32_t nRest = c.nCode & ((1u << nTail) - 1);
      for (int sign = 0; sign < 2; ++sign) {
        const uint32_t nPrefix = (nRest << 1) | static_cast<uint32_t>(sign);
        const int nFree = kLongBits - nTail - 1;
        for (uint32_t k = 0; k < (1u << nFree); ++k)
          m_long[(z << kLongBits) | (nPrefix << nFree) | k] =
              Entry{static_cast<int16_t>(sign ? -c.nLevel : c.nLevel), c.nRun, static_cast<uint8_t>(nBits),
                    kRunLevel};
      }
      continue;
    }
    const uint32_t nFirst = c.nCode << (kBits - c.nLength);
    const uint32_t nSpan = 1u << (kBits - c.nLength);
    for (uint32_t k = 0; k < nSpan; ++k) {
      Entry& e = m_entries[nFirst + k];
      if (c.nRun == vlc::kDctEob) {
        e = Entry{0, 0, c.nLength, kEndOfBlock};
      } else if (c.nRun == vlc::kDctEscape) {
        e = Entry{0, 0, c.nLength, kEscape};
      } else {
        const bool bNeg = (k >> (kBits - c.nLength - 1)) & 1;
        e = Entry{static_cast<int16_t>(bNeg ? -c.nLevel : c.nLevel), c.nRun, static_cast<uint8_t>(nBits),
                  kRunLevel};
      }
    }
  }
}
