// One open load of a stream: the kernel file handle, the reader, the frame count and a decoder
// positioned after the last page it delivered. fltLoad keeps one between calls for the same file,
// so that pages 1, 2, ... N read one call at a time decode every picture once.
// Callers: MpegFilter only. A kept load is used again only for the same name, the same file
// identity (device, inode, size, modification and change times, from the kernel's optional
// identity service: without it nothing is kept), the same limits and a page not before the last
// one delivered; anything else starts a fresh load. Owns its handle (closed by the destructor)
// and its kernel memory (three frame stores of the current sequence, about 4.5 bytes per pixel
// for 4:2:0, plus the reader's 4 KiB).
#pragma once

#include <cstdint>
#include <string>

#include "mpegfilter/HeaderParser.h"
#include "mpegfilter/MpegDecoder.h"
#include "mpegfilter/StreamReader.h"
#include "pxkernel/PxKernel.h"

class KeptDecoder {
 public:
  KeptDecoder(const DecoderLimits& limits) : m_limits(limits) {}
  ~KeptDecoder();
  KeptDecoder(const KeptDecoder&) = delete;
  KeptDecoder& operator=(const KeptDecoder&) = delete;

  // Opens pszName, checks and counts the stream and prepares the decoder. PXM_OK or the failure.
  int32_t Open(const char* pszName);
  // True when this load can serve page nPage of the file pszName whose identity is now id.
  bool Serves(const char* pszName, const PxFileIdentity& id, const DecoderLimits& limits, int nPage) const;
  void SetIdentity(const PxFileIdentity& id) { m_id = id; }

  int Frames() const { return m_nFrames; }
  MpegDecoder& Decoder() { return *m_pDec; }
  int64_t StoreBytes() const { return m_pDec ? m_pDec->StoreBytes() : 0; }

 private:
  DecoderLimits m_limits;
  std::string m_strName;
  PxFileIdentity m_id{};
  int32_t m_hFile = -1;
  StreamReader* m_pReader = nullptr;
  MpegDecoder* m_pDec = nullptr;
  int m_nFrames = 0;
};
