// The filter entry points behind fltInfo, fltLoad and fltSave, plus the plane access used by the
// command-line tool and the tests. fltInfo works on the caller's handle and keeps nothing. A load
// keeps its open file and decoder for the next call when more pages lie ahead and the kernel can
// identify the file (KeptDecoder): the next page of the same unchanged file goes on from there,
// anything else (another file, a changed or replaced one, an earlier page, other limits, another
// kernel table) starts afresh. The decoder limits are a host setting (SetLimits).
#pragma once

#include <cstdint>

#include "mpegfilter/HeaderParser.h"
#include "mpegfilter/MpegTypes.h"
#include "pxkernel/PxRecords.h"

class MpegFilter {
 public:
  static void SetLimits(const DecoderLimits& limits);
  static DecoderLimits Limits();
  // Closes the kept load, if any, and frees its memory (also done at unload).
  static void ReleaseKept();
  // A file changed less than this long ago is not kept: its times may not show a change made
  // within the file system's time granularity. Tests that write and read at once lower it.
  static constexpr int64_t kDefaultSettleNs = int64_t{3} * 1000000000;
  static void SetSettleTime(int64_t nNanoseconds);
  // Frame store bytes the kept load holds (0 when none).
  static int64_t KeptBytes();

  static int32_t Info(int32_t hFile, PxFileInfo* pInfo, int32_t nPage);
  static int32_t Load(const char* pszFileName, PxLoadInfo* pLoad);

  // Hands the decoded frame of page nPage (before colour conversion) to pfnSink; returns the
  // sink's result, or the load's failure code.
  using PlaneSink = int32_t (*)(void* pUser, const FrameStore& frame, const SequenceParams& seq,
                                const PlaneGeometry& geo);
  static int32_t LoadPlanes(const char* pszFileName, int32_t nPage, PlaneSink pfnSink, void* pUser);

 private:
  using FrameSink = int32_t (*)(void* pUser, const FrameStore& frame, const SequenceParams& seq,
                                const PlaneGeometry& geo);
  static int32_t Decode(const char* pszFileName, int32_t nPage, PxLoadInfo* pLoad, FrameSink pfnSink,
                        void* pUser);
};

extern "C" {
__attribute__((visibility("default"))) int32_t fltInfo(int32_t hFile, PxFileInfo* pInfo, int32_t nPage);
__attribute__((visibility("default"))) int32_t fltLoad(const char* pszFileName, PxLoadInfo* pLoad);
__attribute__((visibility("default"))) int32_t fltSave(const char* pszFileName, void* pRecord);
}
