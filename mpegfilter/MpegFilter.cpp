// fltInfo / fltLoad / fltSave. No exception leaves these functions: the decoder reports errors as
// values and allocates only through the kernel, so there is nothing to catch.
#include "mpegfilter/MpegFilter.h"

#include <cstring>
#include <new>

#include "mpegfilter/ColorConverter.h"
#include "mpegfilter/MpegDecoder.h"
#include "mpegfilter/PxResult.h"
#include "mpegfilter/StartCodes.h"
#include "mpegfilter/StreamReader.h"
#include "pxkernel/PxKernel.h"

namespace {

DecoderLimits g_limits;

constexpr uint32_t kPackStart = pxstart::kPack;
using pxstart::kSequenceHeader;
using pxstart::kVideoPacket;

uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Files of other kinds that the toolkit may hand to every filter.
bool RefusedKind(const uint8_t* p, int n) {
  if (n >= 2 && ((p[0] == 0x1B && p[1] == 0x25) || (p[0] == 0x4D && p[1] == 0x5A))) return true;
  if (n >= 132 && std::memcmp(p + 128, "DICM", 4) == 0) return true;
  return false;
}

// Opens the stream for reading on hFile: checks the first start code and primes the reader.
int32_t Prime(StreamReader& r, int32_t hFile, bool bAcceptVideoPacket) {
  const PxKernelImports& k = PxKernel();
  if (k.pfnSeek(hFile, 0, PX_SEEK_SET) != 0) return PX_ERR_BAD_DATA;
  uint8_t head[4] = {};
  int got = 0;
  while (got < 4) {
    const int32_t n = k.pfnRead(hFile, head + got, 4 - got);
    if (n < 0) return PX_ERR_READ;
    if (n == 0) break;
    got += n;
  }
  if (got < 4) return PX_ERR_BAD_DATA;
  const uint32_t code = Be32(head);
  const bool bSystem = code == kPackStart || (bAcceptVideoPacket && code == kVideoPacket);
  if (!bSystem && code != kSequenceHeader) return PX_ERR_BAD_DATA;
  r.Start(hFile, bSystem);
  if (!r.Rewind()) return PX_ERR_BAD_DATA;
  r.Peek32();  // first fill
  if (r.ReadFailed()) return PX_ERR_READ;
  if (RefusedKind(r.Head(), r.HeadLength())) return PX_ERR_BAD_DATA;
  return PX_OK;
}

}  // namespace

void MpegFilter::SetLimits(const DecoderLimits& limits) {
  g_limits = limits;
}
DecoderLimits MpegFilter::Limits() {
  return g_limits;
}

int32_t MpegFilter::Info(int32_t hFile, PxFileInfo* pInfo, int32_t nPage) {
  if (!PxKernelBound()) return PX_ERR_KERNEL_MISSING;
  if (!pInfo) return PX_ERR_BAD_DATA;
  StreamReader* pReader = new (std::nothrow) StreamReader();
  if (!pReader) return PX_ERR_NO_MEMORY;
  StreamReader& r = *pReader;
  int32_t rc = Prime(r, hFile, false);
  int nFrames = 0;
  SequenceParams seq;
  bool bSystem = false;
  if (rc == PX_OK) {
    MpegDecoder* pDec = new (std::nothrow) MpegDecoder(r, g_limits);
    if (!pDec) {
      rc = PX_ERR_NO_MEMORY;
    } else {
      rc = pDec->FindFirstPicture();
      if (rc == PX_OK) {
        seq = pDec->Sequence();
        rc = pDec->CountFrames(&nFrames);
      }
      delete pDec;
    }
    bSystem = Be32(r.Head()) == kPackStart;
  }
  delete pReader;
  if (rc != PX_OK) return rc;
  if (seq.nWidth > g_limits.nMaxWidth || seq.nHeight > g_limits.nMaxHeight) return PX_ERR_BAD_DATA;

  const int nPages = nFrames > 1 ? nFrames - 1 : 0;
  const int64_t nBytesPerRow = ((int64_t{seq.nWidth} * 24 + 31) / 32) * 4;
  std::memset(pInfo, 0, sizeof(*pInfo));
  pInfo->nFormat = seq.bMpeg2 ? PX_FORMAT_MPEG2 : PX_FORMAT_MPEG1;
  std::strcpy(pInfo->szFormatName, seq.bMpeg2 ? "MPEG-2" : "MPEG-1");
  pInfo->nWidth = seq.nWidth;
  pInfo->nHeight = seq.nHeight;
  pInfo->nBitsPerPixel = 24;
  pInfo->nBytesPerRow = static_cast<int32_t>(nBytesPerRow);
  pInfo->nColorOrder = PX_ORDER_BGR;
  pInfo->nImageSize = nBytesPerRow * seq.nHeight;
  pInfo->nFilterAccepted = 1;
  pInfo->nPageCount = nPages;
  int nCurrent = nPage < nPages ? nPage : nPages;
  pInfo->nCurrentPage = nCurrent < 1 ? 1 : nCurrent;
  pInfo->nFlags = (nPages > 1 ? PX_INFO_MULTIPAGE : 0u) | (bSystem ? PX_INFO_SYSTEM_STREAM : 0u) |
                  (seq.bMpeg2 && !seq.bProgressiveSequence ? PX_INFO_INTERLACED : 0u);
  pInfo->nFrameRateCode = seq.nFrameRateCode;
  pInfo->nAspectCode = seq.nAspect;
  pInfo->nBitRate = seq.nBitRate * 400;
  return PX_OK;
}

int32_t MpegFilter::Decode(const char* pszFileName, int32_t nPage, PxLoadInfo* pLoad, FrameSink pfnSink,
                           void* pUser) {
  if (!pszFileName || !*pszFileName) return PX_ERR_NO_FILE_NAME;
  if (!PxKernelBound()) return PX_ERR_KERNEL_MISSING;
  const PxKernelImports& k = PxKernel();
  const int32_t hFile = k.pfnOpen(pszFileName, PX_O_RDONLY | PX_O_BINARY, PX_S_IREAD);
  if (hFile < 0) return PX_ERR_OPEN;
  if (nPage < 1) nPage = 1;
  StreamReader* pReader = new (std::nothrow) StreamReader();
  MpegDecoder* pDec = nullptr;
  int32_t rc = pReader ? Prime(*pReader, hFile, true) : PX_ERR_NO_MEMORY;
  if (rc == PX_OK) {
    // Count the frames first: a page beyond the last shown frame ends at once.
    pDec = new (std::nothrow) MpegDecoder(*pReader, g_limits);
    int nFrames = 0;
    rc = pDec ? pDec->FindFirstPicture() : PX_ERR_NO_MEMORY;
    if (rc == PX_OK) rc = pDec->CountFrames(&nFrames);
    delete pDec;
    pDec = nullptr;
    if (rc == PX_OK && nPage > nFrames - 1) rc = PX_END_OF_STREAM;
    if (rc == PX_OK && !pReader->Rewind()) rc = PX_ERR_READ;
  }
  if (rc == PX_OK) {
    pDec = new (std::nothrow) MpegDecoder(*pReader, g_limits);
    rc = pDec ? pDec->FindFirstPicture() : PX_ERR_NO_MEMORY;
    if (rc == PX_OK) rc = pDec->Allocate();
    if (rc == PX_OK) {
      if (pLoad) {
        pLoad->nLoadFlagA = 0;
        pLoad->nLoadFlagB = 1;
      }
      const FrameStore* pFrame = nullptr;
      rc = pDec->DecodeToPage(nPage, &pFrame);
      if (rc == PX_OK && pFrame) rc = pfnSink(pUser, *pFrame, pDec->Sequence(), pDec->Geometry());
    }
  }
  delete pDec;
  delete pReader;
  k.pfnClose(hFile);
  return rc;
}

int32_t MpegFilter::Load(const char* pszFileName, PxLoadInfo* pLoad) {
  if (!pLoad) return PX_ERR_BAD_DEPTH;
  switch (pLoad->nBitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      return PX_ERR_BAD_DEPTH;
  }
  auto sink = [](void* pUser, const FrameStore& f, const SequenceParams& seq,
                 const PlaneGeometry& geo) -> int32_t {
    return ColorConverter::Deliver(f, seq, geo, static_cast<PxLoadInfo*>(pUser), g_limits);
  };
  return Decode(pszFileName, pLoad->nPage, pLoad, sink, pLoad);
}

int32_t MpegFilter::LoadPlanes(const char* pszFileName, int32_t nPage, PlaneSink pfnSink, void* pUser) {
  if (!pfnSink) return PX_ERR_BAD_DATA;
  return Decode(pszFileName, nPage, nullptr, pfnSink, pUser);
}

extern "C" int32_t fltInfo(int32_t hFile, PxFileInfo* pInfo, int32_t nPage) {
  return MpegFilter::Info(hFile, pInfo, nPage);
}

extern "C" int32_t fltLoad(const char* pszFileName, PxLoadInfo* pLoad) {
  return MpegFilter::Load(pszFileName, pLoad);
}

extern "C" int32_t fltSave(const char*, void*) {
  return PX_ERR_NOT_SUPPORTED;
}
