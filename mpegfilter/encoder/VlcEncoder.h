// Encode-side lookups built once from the canonical Annex B tables of mpegfilter/VlcTables.h:
// macroblock_address_increment, macroblock_type per picture type, coded_block_pattern,
// motion_code, DC size and DCT run/level codes (tables zero and one). Built on first use
// (thread-safe static), read-only afterwards; the writers never emit a code not in the tables.
#pragma once

#include <cstdint>

#include "mpegfilter/encoder/BitSink.h"

namespace pxenc {

struct VlcCode {
  uint32_t nCode = 0;
  uint8_t nLength = 0;  // 0: no such code
};

class VlcEncoder {
 public:
  static const VlcEncoder& Get();

  VlcCode mba[34];      // 1..33; [0] the escape (adds 33)
  VlcCode mbTypeI[32];  // by vlc::MbFlags
  VlcCode mbTypeP[32];
  VlcCode mbTypeB[32];
  VlcCode cbp[64];
  VlcCode motion[17];  // magnitude 0..16, sign bit follows when non-zero
  VlcCode dcLuma[12];
  VlcCode dcChroma[12];
  // DCT run/level without the sign; [table][run][level], runs 0..31, levels 1..40.
  VlcCode dct[2][32][41];
  VlcCode dctEob[2];
  VlcCode dctEscape;

  // ISO/IEC 13818-2 6.2.5 macroblock_escape / macroblock_address_increment.
  void PutAddressIncrement(BitSink& s, int nIncrement) const {
    while (nIncrement > 33) {
      s.Put(mba[0].nCode, mba[0].nLength);
      nIncrement -= 33;
    }
    s.Put(mba[nIncrement].nCode, mba[nIncrement].nLength);
  }
  // ISO/IEC 13818-2 7.6.3.1 motion_code and motion_residual for one component.
  void PutMotionDelta(BitSink& s, int nDelta, int nFCode) const;

 private:
  VlcEncoder();
};

}  // namespace pxenc
