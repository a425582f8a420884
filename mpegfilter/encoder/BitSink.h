// Bit writer of the encoder: bits go in most significant first; completed bytes collect in a small
// buffer and are handed to the kernel write (192) one byte per call, as the toolkit expects of this
// filter. A write that does not return 1 makes the sink fail with -5 and drop everything after it
// (the error is sticky). The byte count and the free bits of the open byte are mirrored into the
// caller's PxBitWriter record.
#pragma once

#include <cstdint>

#include "mpegfilter/StartCodes.h"
#include "mpegfilter/encoder/PxEncoderState.h"

namespace pxenc {

class BitSink {
 public:
  void Attach(PxBitWriter* pWriter);

  // Appends the nBits low bits of nValue (nBits 0..32). Whole 32-bit words move to the buffer at
  // once; fewer than 32 bits stay in the accumulator.
  inline void Put(uint32_t nValue, int nBits) {
    if (nBits <= 0) return;
    m_nAcc = (m_nAcc << nBits) | (static_cast<uint64_t>(nValue) & ((uint64_t{1} << nBits) - 1));
    m_nAccBits += nBits;
    m_nBits += nBits;
    if (m_nAccBits >= 32) {
      m_nAccBits -= 32;
      const uint32_t w = static_cast<uint32_t>(m_nAcc >> m_nAccBits);
      uint8_t* p = m_buffer + m_nLength;
      p[0] = static_cast<uint8_t>(w >> 24);
      p[1] = static_cast<uint8_t>(w >> 16);
      p[2] = static_cast<uint8_t>(w >> 8);
      p[3] = static_cast<uint8_t>(w);
      m_nLength += 4;
      if (m_nLength > kCapacity - 4) Drain();
    }
  }
  // Zero bits up to the next byte boundary (ISO/IEC 13818-2 5.2.3 next_start_code).
  void AlignZero() {
    if (m_nAccBits & 7) Put(0, 8 - (m_nAccBits & 7));
  }
  void StartCode(uint32_t nCode) {
    AlignZero();
    Put(0x000001, 24);
    Put(nCode & 0xFF, 8);
  }
  int64_t BitCount() const { return m_nBits; }
  // Writes the completed bytes (also those still in the accumulator); returns 1 or -5 (sticky).
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
  uint8_t m_buffer[kCapacity + 8];  // Drain may first move three accumulator bytes in
};

}  // namespace pxenc
