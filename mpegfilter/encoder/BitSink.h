// Bit writer of the encoder: bits go in most significant first; completed bytes collect in a small
// buffer and are handed to the kernel write (192) one byte per call, as the toolkit expects of this
// filter. A write that does not return 1 makes the sink fail with -5 and drop everything after it
// (the error is sticky). The byte count and the free bits of the open byte are mirrored into the
// caller's PxBitWriter record.
#pragma once

#include <cstdint>

#include "mpegfilter/encoder/PxEncoderState.h"

namespace pxenc {

class BitSink {
 public:
  void Attach(PxBitWriter* pWriter);

  // Appends the nBits low bits of nValue (nBits 0..32).
  inline void Put(uint32_t nValue, int nBits) {
    if (nBits <= 0) return;
    m_nAcc = (m_nAcc << nBits) | (static_cast<uint64_t>(nValue) & ((uint64_t{1} << nBits) - 1));
    m_nAccBits += nBits;
    m_nBits += nBits;
    while (m_nAccBits >= 8) {
      m_nAccBits -= 8;
      m_buffer[m_nLength++] = static_cast<uint8_t>(m_nAcc >> m_nAccBits);
      if (m_nLength == kCapacity) Drain();
    }
  }
  // Zero bits up to the next byte boundary (ISO/IEC 13818-2 5.2.3 next_start_code).
  void AlignZero() {
    if (m_nAccBits) Put(0, 8 - m_nAccBits);
  }
  void StartCode(uint32_t nCode) {
    AlignZero();
    Put(0x000001, 24);
    Put(nCode & 0xFF, 8);
  }
  int64_t BitCount() const { return m_nBits; }
  // Writes the completed bytes; returns 1 or -5 (sticky).
  int32_t Drain();
  int32_t Result() const { return m_nResult; }

 private:
  static constexpr int kCapacity = 65536;
  PxBitWriter* m_pWriter = nullptr;
  uint64_t m_nAcc = 0;
  int m_nAccBits = 0;
  int64_t m_nBits = 0;
  int m_nLength = 0;
  int32_t m_nResult = 1;
  uint8_t m_buffer[kCapacity];
};

}  // namespace pxenc
