// Bit reader over an MPEG video stream read through the toolkit kernel, plain or inside an
// ISO/IEC 11172-1 / 13818-1 program stream (only packets of stream 0xE0 carry video).
// Callers: the stream scanner of fltInfo and the picture decoder. Data comes in 32 KiB reads (with
// 2 KiB reads the system calls alone were about 8 % of decoding a 5 Mbit/s 720x576 stream); after
// the last byte (or the program end code 0x1B9) the reader supplies zero bytes to a 4-byte boundary
// and then sequence end codes forever, so every start-code search ends.
// Guarantees: reads never run past the buffers whatever the data; a failed kernel read is
// remembered (ReadFailed) and ends the data like the end of the file.
#pragma once

#include <cstdint>
#include <cstring>

#include "mpegfilter/StartCodes.h"
#include "pxkernel/PxKernel.h"

class StreamReader {
 public:
  static constexpr int kBufferSize = 32768;
  static constexpr uint32_t kSequenceEnd = pxstart::kSequenceEnd;

  // Binds to an open kernel handle (not owned). bSystem: demultiplex stream 0xE0.
  void Start(int32_t hFile, bool bSystem);
  // Checks the first start code of the file on hFile (pack or sequence header; the video packet
  // too when bAcceptVideoPacket), binds to it and fills the buffer; refuses other kinds of files
  // that the toolkit hands to every filter. PXM_OK, PXM_ERR_BAD_DATA or PXM_ERR_READ.
  int32_t Prime(int32_t hFile, bool bAcceptVideoPacket);
  // Rewinds the handle and starts again; false when the seek failed.
  bool Rewind();

  // --- bits, most significant first ---
  inline uint32_t Peek(int n) {  // n = 1..32
    if (m_nBits < n) Top();
    return static_cast<uint32_t>(m_nCache >> (64 - n));
  }
  inline uint32_t Peek32() {
    if (m_nBits < 32) Top();
    return static_cast<uint32_t>(m_nCache >> 32);
  }
  inline void Skip(int n) {  // n = 0..32 and n <= bits made available by a Peek
    if (m_nBits < n) Top();
    m_nCache <<= n;
    m_nBits -= n;
  }
  inline uint32_t Get(int n) {
    if (n == 0) return 0;
    const uint32_t v = Peek(n);
    m_nCache <<= n;
    m_nBits -= n;
    return v;
  }
  inline uint32_t Get1() { return Get(1); }

  // The bit cache as plain values, so a hot loop keeps it in registers instead of storing it
  // back after every code: Take, read with TopUp/Peek/Skip, Give back before any other call.
  struct Bits {
    uint64_t nCache;
    int nBits;
    const uint8_t* pPos;
    const uint8_t* pEnd;
    // At least 33 bits from the buffer; false when fewer than eight bytes are left in it (Give
    // back, let the reader refill, Take again).
    inline bool TopUp() {
      if (pEnd - pPos < 8) return false;
      uint64_t v;
      std::memcpy(&v, pPos, 8);
      v = __builtin_bswap64(v);
      const int nBytes = (64 - nBits) >> 3;
      const int nDrop = 64 - 8 * nBytes;
      v = (v >> nDrop) << nDrop;
      nCache |= v >> nBits;
      nBits += 8 * nBytes;
      pPos += nBytes;
      return true;
    }
    inline uint32_t Peek(int n) const { return static_cast<uint32_t>(nCache >> (64 - n)); }  // n = 1..32
    inline void Skip(int n) {
      nCache <<= n;
      nBits -= n;
    }
    inline uint32_t Get(int n) {  // n = 1..32, within the bits topped up
      const uint32_t v = Peek(n);
      Skip(n);
      return v;
    }
  };
  Bits Take() const { return Bits{m_nCache, m_nBits, m_pPos, m_pEnd}; }
  void Give(const Bits& b) {
    m_nCache = b.nCache;
    m_nBits = b.nBits;
    m_pPos = b.pPos;
  }
  // Ensures b holds at least 32 bits, through the reader when its buffer runs low.
  inline void Ensure32(Bits& b) {
    if (b.nBits >= 32 || b.TopUp()) return;
    Give(b);
    Top();
    b = Take();
  }

  // Skips to the next byte boundary, then to the next start code prefix 00 00 01; returns the
  // 32-bit start code without consuming it. Zero bits that follow slice data are part of this.
  uint32_t NextStartCode();
  // Consumes the 32-bit start code found by NextStartCode.
  void SkipStartCode() { Skip(32); }
  // Bits before the current position (for limits); the end-of-data state.
  bool AtEnd() const { return m_bEnd && m_pPos >= m_pEnd && m_nBits <= 0; }
  bool DataEnded() const { return m_bEnd; }
  bool ReadFailed() const { return m_bReadFailed; }
  // First bytes of the file as read by the first fill (for the format refusals).
  const uint8_t* Head() const { return m_head; }
  int HeadLength() const { return m_nHead; }

 private:
  // Tops the cache up to at least 33 bits: eight bytes at once inside the buffer, else Refill.
  inline void Top() {
    if (m_pEnd - m_pPos >= 8) {
      uint64_t v;
      std::memcpy(&v, m_pPos, 8);
      v = __builtin_bswap64(v);
      const int nBytes = (64 - m_nBits) >> 3;  // 4..8 since m_nBits <= 32 here
      const int nDrop = 64 - 8 * nBytes;
      v = (v >> nDrop) << nDrop;
      m_nCache |= v >> m_nBits;
      m_nBits += 8 * nBytes;
      m_pPos += nBytes;
      return;
    }
    Refill();
  }
  void Refill();
  // Fills m_payload (elementary: straight from the file; system: the video packets' bytes).
  void FillPayload();
  int FillFile();  // one buffer's worth; returns the bytes got
  int FileByte();  // next file byte, -1 at the end of data
  void FillSystem();
  void PadEnd(uint8_t* p, int nUsed, int nSize);

  int32_t m_hFile = -1;
  bool m_bSystem = false;
  bool m_bEnd = false;  // data exhausted: the payload now holds padding and end codes
  bool m_bReadFailed = false;
  bool m_bFileEnd = false;

  // file layer (system streams)
  uint8_t m_file[kBufferSize + 8] = {};
  int m_nFilePos = 0;
  int m_nFileEnd = 0;
  int m_nPacketLeft = 0;  // video payload bytes left in the current 0xE0 packet

  // payload layer
  uint8_t m_payload[kBufferSize + 8] = {};
  const uint8_t* m_pPos = m_payload;
  const uint8_t* m_pEnd = m_payload;
  uint8_t m_head[132] = {};
  int m_nHead = 0;
  bool m_bHeadTaken = false;

  // bit cache: valid bits are the top m_nBits of m_nCache
  uint64_t m_nCache = 0;
  int m_nBits = 0;
};
