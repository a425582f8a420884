// fltInfo / fltLoad / fltSave. No exception leaves these functions: the decoder reports errors as
// values and allocates only through the kernel, so there is nothing to catch.
#include "mpegfilter/MpegFilter.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <new>

#include "mpegfilter/ColorConverter.h"
#include "mpegfilter/KeptDecoder.h"
#include "mpegfilter/MpegDecoder.h"
#include "mpegfilter/PxResult.h"
#include "mpegfilter/StartCodes.h"
#include "mpegfilter/StreamReader.h"
#include "pxkernel/PxKernel.h"

namespace {

DecoderLimits g_limits;

// The load kept between fltLoad calls (one file at a time). try_lock: a second thread never waits
// for it but decodes afresh.
std::mutex g_keptLock;
KeptDecoder* g_pKept = nullptr;

void DropKeptLocked() {
  delete g_pKept;
  g_pKept = nullptr;
}

// File times have the file system's granularity (a few milliseconds, up to 2 s on some), so a
// file changed within that window of its last change may keep equal times. A file changed less
// than this long ago is not kept (the same rule as version control uses for "racily clean" files).
int64_t g_nSettledNs = MpegFilter::kDefaultSettleNs;

bool Settled(const PxFileIdentity& id) {
  const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  const int64_t last = id.nModifiedNs > id.nChangedNs ? id.nModifiedNs : id.nChangedNs;
  return now - last >= g_nSettledNs;
}

struct KeptRelease {
  ~KeptRelease() { DropKeptLocked(); }
} g_keptRelease;

}  // namespace

void MpegFilter::SetLimits(const DecoderLimits& limits) {
  ReleaseKept();
  g_limits = limits;
}

void MpegFilter::SetSettleTime(int64_t nNanoseconds) {
  std::lock_guard<std::mutex> lock(g_keptLock);
  g_nSettledNs = nNanoseconds;
}

void MpegFilter::ReleaseKept() {
  std::lock_guard<std::mutex> lock(g_keptLock);
  DropKeptLocked();
}

int64_t MpegFilter::KeptBytes() {
  std::lock_guard<std::mutex> lock(g_keptLock);
  return g_pKept ? g_pKept->StoreBytes() : 0;
}
DecoderLimits MpegFilter::Limits() {
  return g_limits;
}

int32_t MpegFilter::Info(int32_t hFile, PxFileInfo* pInfo, int32_t nPage) {
  if (!PxKernelBound()) return PXM_ERR_KERNEL_MISSING;
  if (!pInfo) return PXM_ERR_BAD_DATA;
  StreamReader* pReader = new (std::nothrow) StreamReader();
  if (!pReader) return PXM_ERR_NO_MEMORY;
  StreamReader& r = *pReader;
  int32_t rc = r.Prime(hFile, false);
  int nFrames = 0;
  SequenceParams seq;
  bool bSystem = false;
  if (rc == PXM_OK) {
    MpegDecoder* pDec = new (std::nothrow) MpegDecoder(r, g_limits);
    if (!pDec) {
      rc = PXM_ERR_NO_MEMORY;
    } else {
      rc = pDec->FindFirstPicture();
      if (rc == PXM_OK) {
        seq = pDec->Sequence();
        rc = pDec->CountFrames(&nFrames);
      }
      delete pDec;
    }
    bSystem = r.HeadLength() >= 4 && r.Head()[3] == (pxstart::kPack & 0xFF);
  }
  delete pReader;
  if (rc != PXM_OK) return rc;

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
  return PXM_OK;
}

int32_t MpegFilter::Decode(const char* pszFileName, int32_t nPage, PxLoadInfo* pLoad, FrameSink pfnSink,
                           void* pUser) {
  if (!pszFileName || !*pszFileName) return PXM_ERR_NO_FILE_NAME;
  if (!PxKernelBound()) return PXM_ERR_KERNEL_MISSING;
  const PxKernelImports& k = PxKernel();
  if (nPage < 1) nPage = 1;
  // Go on from the kept load when it is this very file; else start afresh.
  std::unique_lock<std::mutex> lock(g_keptLock, std::try_to_lock);
  PxFileIdentity id{};
  const bool bKeep =
      lock.owns_lock() && k.pfnFileIdentity && k.pfnFileIdentity(pszFileName, &id) == 1 && Settled(id);
  KeptDecoder* pLoadState = nullptr;
  if (bKeep && g_pKept && g_pKept->Serves(pszFileName, id, g_limits, nPage)) {
    pLoadState = g_pKept;
    g_pKept = nullptr;
  } else if (lock.owns_lock()) {
    DropKeptLocked();
  }
  int32_t rc = PXM_OK;
  if (!pLoadState) {
    pLoadState = new (std::nothrow) KeptDecoder(g_limits);
    rc = pLoadState ? pLoadState->Open(pszFileName) : PXM_ERR_NO_MEMORY;
    if (pLoadState) pLoadState->SetIdentity(id);
  }
  if (rc == PXM_OK && nPage > pLoadState->Frames() - 1) rc = PXM_END_OF_STREAM;
  bool bDecoded = false;
  if (rc == PXM_OK) {
    if (pLoad) {
      pLoad->nLoadFlagA = 0;
      pLoad->nLoadFlagB = 1;
    }
    const FrameStore* pFrame = nullptr;
    rc = pLoadState->Decoder().DecodeToPage(nPage, &pFrame);
    if (rc == PXM_OK && pFrame) {
      bDecoded = true;
      rc = pfnSink(pUser, *pFrame, pFrame->seq, pFrame->geo);
    }
  }
  // Kept while more pages lie ahead; a failed decode, the last page or no identity releases it.
  if (bKeep && bDecoded && nPage < pLoadState->Frames() - 1)
    g_pKept = pLoadState;
  else
    delete pLoadState;
  return rc;
}

int32_t MpegFilter::Load(const char* pszFileName, PxLoadInfo* pLoad) {
  if (!pLoad) return PXM_ERR_BAD_DEPTH;
  switch (pLoad->nBitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      return PXM_ERR_BAD_DEPTH;
  }
  auto sink = [](void* pUser, const FrameStore& f, const SequenceParams& seq,
                 const PlaneGeometry& geo) -> int32_t {
    return ColorConverter::Deliver(f, seq, geo, static_cast<PxLoadInfo*>(pUser), g_limits);
  };
  return Decode(pszFileName, pLoad->nPage, pLoad, sink, pLoad);
}

int32_t MpegFilter::LoadPlanes(const char* pszFileName, int32_t nPage, PlaneSink pfnSink, void* pUser) {
  if (!pfnSink) return PXM_ERR_BAD_DATA;
  return Decode(pszFileName, nPage, nullptr, pfnSink, pUser);
}

extern "C" int32_t fltInfo(int32_t hFile, PxFileInfo* pInfo, int32_t nPage) {
  return MpegFilter::Info(hFile, pInfo, nPage);
}

extern "C" int32_t fltLoad(const char* pszFileName, PxLoadInfo* pLoad) {
  return MpegFilter::Load(pszFileName, pLoad);
}

extern "C" int32_t fltSave(const char*, void*) {
  return PXM_ERR_NOT_SUPPORTED;
}
