// Stream reading and program-stream demultiplexing.
// ISO/IEC 11172-1 2.4.3 (pack and packet headers) and ISO/IEC 13818-1 2.5.3 (pack header) and
// 2.4.3.6 (PES header): the reader keeps only the payload of packets with stream id 0xE0.
#include "mpegfilter/StreamReader.h"

#include <cstring>

#include "mpegfilter/PxResult.h"

void StreamReader::Start(int32_t hFile, bool bSystem) {
  m_hFile = hFile;
  m_bSystem = bSystem;
  m_bEnd = m_bReadFailed = m_bFileEnd = false;
  m_nFilePos = m_nFileEnd = m_nPacketLeft = 0;
  m_pPos = m_pEnd = m_payload;
  m_nCache = 0;
  m_nBits = 0;
  m_nHead = 0;
  m_bHeadTaken = false;
}

bool StreamReader::Rewind() {
  const PxKernelImports& k = PxKernel();
  if (k.pfnSeek(m_hFile, 0, PX_SEEK_SET) != 0) return false;
  Start(m_hFile, m_bSystem);
  return true;
}

int StreamReader::FillFile() {
  // A short count from the kernel is not taken as the end: only 0 (or a failure) ends the data,
  // so a kernel that reads in pieces still yields the whole stream.
  const PxKernelImports& k = PxKernel();
  int nGot = 0;
  uint8_t* pDst = m_bSystem ? m_file : m_payload;
  while (nGot < kBufferSize && !m_bFileEnd) {
    const int32_t n = k.pfnRead(m_hFile, pDst + nGot, kBufferSize - nGot);
    if (n < 0) {
      m_bReadFailed = true;
      m_bFileEnd = true;
    } else if (n == 0) {
      m_bFileEnd = true;
    } else {
      nGot += n > kBufferSize - nGot ? kBufferSize - nGot : n;
    }
  }
  if (!m_bHeadTaken) {
    m_bHeadTaken = true;
    m_nHead = nGot < static_cast<int>(sizeof(m_head)) ? nGot : static_cast<int>(sizeof(m_head));
    std::memcpy(m_head, pDst, static_cast<size_t>(m_nHead));
  }
  return nGot;
}

void StreamReader::PadEnd(uint8_t* p, int nUsed, int nSize) {
  // Zero bytes to a 4-byte boundary, then sequence end codes (00 00 01 B7) to the end.
  int i = nUsed;
  while (i < nSize && (i & 3)) p[i++] = 0;
  for (; i + 4 <= nSize; i += 4) {
    p[i] = 0;
    p[i + 1] = 0;
    p[i + 2] = 1;
    p[i + 3] = 0xB7;
  }
  for (; i < nSize; ++i) p[i] = 0;
}

void StreamReader::FillPayload() {
  if (m_bEnd) {
    PadEnd(m_payload, 0, kBufferSize);
    m_pPos = m_payload;
    m_pEnd = m_payload + kBufferSize;
    return;
  }
  if (!m_bSystem) {
    const int n = m_bFileEnd ? 0 : FillFile();
    if (n < kBufferSize) {
      PadEnd(m_payload, n, kBufferSize);
      m_bEnd = true;
    }
    m_pPos = m_payload;
    m_pEnd = m_payload + kBufferSize;
    return;
  }
  FillSystem();
}

int StreamReader::FileByte() {
  if (m_nFilePos >= m_nFileEnd) {
    if (m_bFileEnd) return -1;
    m_nFileEnd = FillFile();
    m_nFilePos = 0;
    if (m_nFileEnd == 0) return -1;
  }
  return m_file[m_nFilePos++];
}

void StreamReader::FillSystem() {
  int nOut = 0;
  while (nOut < kBufferSize && !m_bEnd) {
    if (m_nPacketLeft > 0) {
      // Copy what the file buffer holds of this packet.
      if (m_nFilePos >= m_nFileEnd) {
        const int c = FileByte();
        if (c < 0) {
          m_bEnd = true;
          break;
        }
        --m_nFilePos;
      }
      int n = m_nFileEnd - m_nFilePos;
      if (n > m_nPacketLeft) n = m_nPacketLeft;
      if (n > kBufferSize - nOut) n = kBufferSize - nOut;
      std::memcpy(m_payload + nOut, m_file + m_nFilePos, static_cast<size_t>(n));
      nOut += n;
      m_nFilePos += n;
      m_nPacketLeft -= n;
      continue;
    }
    // Find the next start code 00 00 01 xx (resynchronising over garbage).
    uint32_t w = 0xFFFFFFFF;
    int c = 0;
    while ((c = FileByte()) >= 0) {
      w = (w << 8) | static_cast<uint32_t>(c);
      if ((w & 0xFFFFFF00) == 0x00000100) break;
    }
    if (c < 0) {
      m_bEnd = true;
      break;
    }
    const uint32_t code = w & 0xFF;
    if (code == 0xB9) {  // program end
      m_bEnd = true;
      break;
    }
    if (code == 0xBA) {
      // Pack header: ISO/IEC 11172-1 has 8 bytes after the code (first byte 0010xxxx);
      // ISO/IEC 13818-1 has 10 (first byte 01xxxxxx) plus pack_stuffing_length bytes.
      const int b0 = FileByte();
      if (b0 < 0) continue;
      int nSkip = 7;
      if ((b0 & 0xC0) == 0x40) {
        for (int i = 0; i < 8; ++i) FileByte();
        const int b9 = FileByte();
        nSkip = b9 < 0 ? 0 : (b9 & 7);
      }
      for (int i = 0; i < nSkip; ++i) FileByte();
      continue;
    }
    if (code < 0xBB) continue;  // a video start code outside a packet: not program-stream data
    const int hi = FileByte();
    const int lo = FileByte();
    if (hi < 0 || lo < 0) continue;
    int nLength = (hi << 8) | lo;
    if (code != 0xE0) {
      for (int i = 0; i < nLength; ++i)
        if (FileByte() < 0) break;
      continue;
    }
    // Video packet header.
    int b = FileByte();
    --nLength;
    if (b < 0) continue;
    if ((b & 0xC0) == 0x80) {
      // ISO/IEC 13818-1 PES header: flags byte, header length, header bytes.
      FileByte();
      const int nHeader = FileByte();
      nLength -= 2;
      if (nHeader < 0) continue;
      for (int i = 0; i < nHeader; ++i) FileByte();
      nLength -= nHeader;
    } else {
      int nStuff = 0;
      while (b == 0xFF && nStuff < 16 && nLength > 0) {
        b = FileByte();
        --nLength;
        ++nStuff;
      }
      if (b >= 0 && (b & 0xC0) == 0x40) {  // STD buffer size
        FileByte();
        b = FileByte();
        nLength -= 2;
      }
      if (b >= 0 && (b & 0xF0) == 0x20) {  // PTS
        for (int i = 0; i < 4; ++i) FileByte();
        nLength -= 4;
      } else if (b >= 0 && (b & 0xF0) == 0x30) {  // PTS and DTS
        for (int i = 0; i < 9; ++i) FileByte();
        nLength -= 9;
      }
      // else 0000 1111: no time stamps
    }
    m_nPacketLeft = nLength > 0 ? nLength : 0;
  }
  if (m_bEnd) PadEnd(m_payload, nOut, kBufferSize);
  m_pPos = m_payload;
  m_pEnd = m_payload + kBufferSize;
}

void StreamReader::Refill() {
  // Top up the cache to at least 33 bits, four bytes at a time where possible.
  while (m_nBits <= 32) {
    if (m_pPos + 4 <= m_pEnd) {
      const uint32_t w = (static_cast<uint32_t>(m_pPos[0]) << 24) | (static_cast<uint32_t>(m_pPos[1]) << 16) |
                         (static_cast<uint32_t>(m_pPos[2]) << 8) | m_pPos[3];
      m_nCache |= static_cast<uint64_t>(w) << (32 - m_nBits);
      m_nBits += 32;
      m_pPos += 4;
    } else if (m_pPos < m_pEnd) {
      m_nCache |= static_cast<uint64_t>(*m_pPos++) << (56 - m_nBits);
      m_nBits += 8;
    } else {
      FillPayload();
    }
  }
}

uint32_t StreamReader::NextStartCode() {
  Skip(m_nBits & 7);
  for (;;) {
    const uint32_t w = Peek32();
    if ((w >> 8) == 1) return w;
    // Hand the cached bytes back to the buffer and let memchr find the next 01 byte: most of a
    // stream is slice data without start codes. Only when the cache came from this buffer.
    const long nCached = m_nBits >> 3;
    if (m_pPos - m_payload >= nCached && m_pEnd - m_pPos >= 16) {
      const uint8_t* p = m_pPos - nCached + 1;  // the byte at the window start is not a prefix start
      const uint8_t* q = p + 2;
      const uint8_t* pFound = nullptr;
      while (q < m_pEnd) {
        q = static_cast<const uint8_t*>(std::memchr(q, 1, static_cast<size_t>(m_pEnd - q)));
        if (!q) break;
        if (q[-1] == 0 && q[-2] == 0) {
          pFound = q - 2;
          break;
        }
        q += 1;
      }
      // Not found: keep the last two bytes, they may begin a prefix that ends in the next buffer.
      m_pPos = pFound ? pFound : m_pEnd - 2;
      m_nCache = 0;
      m_nBits = 0;
      if (!pFound) {
        // Step over the tail with the cache so the window spans the next buffer.
        const uint32_t t = Peek32();
        if ((t >> 8) == 1) return t;
        Skip(8);
      }
      continue;
    }
    // Skip a byte, or more when the window cannot hold a prefix start.
    if ((w & 0xFFFF) > 1 && (w & 0xFF) != 0)
      Skip(24);
    else
      Skip(8);
  }
}

int32_t StreamReader::Prime(int32_t hFile, bool bAcceptVideoPacket) {
  const PxKernelImports& k = PxKernel();
  // The stream is read more than once (counted, then decoded): a handle that cannot seek, such
  // as a pipe, is refused for that reason and not taken for bad data.
  if (k.pfnSeek(hFile, 0, PX_SEEK_SET) != 0) return PXM_ERR_SEEK;
  uint8_t head[4] = {};
  int got = 0;
  while (got < 4) {
    const int32_t n = k.pfnRead(hFile, head + got, 4 - got);
    if (n < 0) return PXM_ERR_READ;
    if (n == 0) break;
    got += n;
  }
  if (got < 4) return PXM_ERR_BAD_DATA;
  const uint32_t code =
      (uint32_t{head[0]} << 24) | (uint32_t{head[1]} << 16) | (uint32_t{head[2]} << 8) | head[3];
  const bool bSystem = code == pxstart::kPack || (bAcceptVideoPacket && code == pxstart::kVideoPacket);
  if (!bSystem && code != pxstart::kSequenceHeader) return PXM_ERR_BAD_DATA;
  Start(hFile, bSystem);
  if (!Rewind()) return PXM_ERR_SEEK;
  Peek32();  // first fill
  if (ReadFailed()) return PXM_ERR_READ;
  // Files of other kinds that the toolkit may hand to every filter.
  const uint8_t* p = Head();
  const int n = HeadLength();
  if (n >= 2 && ((p[0] == 0x1B && p[1] == 0x25) || (p[0] == 0x4D && p[1] == 0x5A))) return PXM_ERR_BAD_DATA;
  if (n >= 132 && std::memcmp(p + 128, "DICM", 4) == 0) return PXM_ERR_BAD_DATA;
  return PXM_OK;
}
