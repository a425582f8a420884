// Inverting the canonical tables into direct lookups.
#include "mpegfilter/encoder/VlcEncoder.h"

#include "mpegfilter/VlcTables.h"

namespace pxenc {

namespace {

VlcCode Of(uint32_t nCode, uint8_t nLength) {
  VlcCode c;
  c.nCode = nCode;
  c.nLength = nLength;
  return c;
}

void FillTypes(VlcCode* pOut, const vlc::Table<vlc::Code>& t) {
  for (size_t i = 0; i < t.nCount; ++i)
    pOut[t.pEntries[i].nValue & 31] = Of(t.pEntries[i].nCode, t.pEntries[i].nLength);
}

void FillSized(VlcCode* pOut, int nMax, const vlc::Table<vlc::Code>& t) {
  for (size_t i = 0; i < t.nCount; ++i) {
    const int v = t.pEntries[i].nValue;
    if (v >= 0 && v <= nMax) pOut[v] = Of(t.pEntries[i].nCode, t.pEntries[i].nLength);
  }
}

}  // namespace

const VlcEncoder& VlcEncoder::Get() {
  static const VlcEncoder s_tables;
  return s_tables;
}

VlcEncoder::VlcEncoder() {
  const auto& mbaTable = vlc::kMacroblockAddressIncrement;
  for (size_t i = 0; i < mbaTable.nCount; ++i) {
    const vlc::Code& c = mbaTable.pEntries[i];
    if (c.nValue >= 1 && c.nValue <= 33) mba[c.nValue] = Of(c.nCode, c.nLength);
    if (c.nValue == vlc::kMbaEscape) mba[0] = Of(c.nCode, c.nLength);
  }
  FillTypes(mbTypeI, vlc::kMacroblockTypeI);
  FillTypes(mbTypeP, vlc::kMacroblockTypeP);
  FillTypes(mbTypeB, vlc::kMacroblockTypeB);
  FillSized(cbp, 63, vlc::kCodedBlockPattern);
  FillSized(motion, 16, vlc::kMotionCode);
  FillSized(dcLuma, 11, vlc::kDctDcSizeLuma);
  FillSized(dcChroma, 11, vlc::kDctDcSizeChroma);
  const vlc::Table<vlc::DctCode>* tables[2] = {&vlc::kDctTableZero, &vlc::kDctTableOne};
  for (int t = 0; t < 2; ++t) {
    for (size_t i = 0; i < tables[t]->nCount; ++i) {
      const vlc::DctCode& d = tables[t]->pEntries[i];
      if (d.nRun == vlc::kDctEob) {
        dctEob[t] = Of(d.nCode, d.nLength);
      } else if (d.nRun == vlc::kDctEscape) {
        dctEscape = Of(d.nCode, d.nLength);
      } else if (d.nRun < 32 && d.nLevel >= 1 && d.nLevel <= 40) {
        dct[t][d.nRun][d.nLevel] = Of(d.nCode, d.nLength);
      }
    }
  }
}

void VlcEncoder::PutMotionDelta(BitSink& s, int nDelta, int nFCode) const {
  const int nRSize = nFCode - 1;
  const int f = 1 << nRSize;
  if (nDelta == 0) {
    s.Put(motion[0].nCode, motion[0].nLength);
    return;
  }
  const int nAbs = nDelta < 0 ? -nDelta : nDelta;
  const int nCode = ((nAbs - 1) >> nRSize) + 1;
  const int nResidual = (nAbs - 1) & (f - 1);
  s.Put(motion[nCode].nCode, motion[nCode].nLength);
  s.Put(nDelta < 0 ? 1 : 0, 1);
  if (nRSize > 0) s.Put(static_cast<uint32_t>(nResidual), nRSize);
}

}  // namespace pxenc
