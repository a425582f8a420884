// The filter entry points behind fltInfo, fltLoad and fltSave, plus the plane access used by the
// command-line tool and the tests. Every call opens (or rewinds) the stream, decodes from its
// start and releases all it allocated before returning; nothing survives between calls except
// the decoder limits, which a host may set once (SetLimits) before using the filter.
#pragma once

#include <cstdint>

#include "mpegfilter/HeaderParser.h"
#include "mpegfilter/MpegTypes.h"
#include "pxkernel/PxRecords.h"

class MpegFilter {
 public:
  static void SetLimits(const DecoderLimits& limits);
  static DecoderLimits Limits();

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
