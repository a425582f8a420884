// Feeds arbitrary bytes to fltInfo and fltLoad. The file comes from memory through substituted
// kernel file services (the plug-in's kernel seam); memory services stay the real ones, with a
// 64 MiB cap so that hostile sizes are refused instead of exhausting the fuzzer.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "mpegfilter/HeaderParser.h"
#include "mpegfilter/MpegFilter.h"
#include "pxkernel/PxKernel.h"

namespace {
const uint8_t* g_pData = nullptr;
size_t g_nSize = 0;
size_t g_nPos = 0;

int32_t MemOpen(const char*, int32_t, int32_t) {
  g_nPos = 0;
  return 7;
}
int32_t MemClose(int32_t) {
  return 0;
}
int32_t MemRead(int32_t, void* p, int32_t n) {
  if (n < 0) return -1;
  size_t k = g_nSize - g_nPos;
  if (k > static_cast<size_t>(n)) k = static_cast<size_t>(n);
  std::memcpy(p, g_pData + g_nPos, k);
  g_nPos += k;
  return static_cast<int32_t>(k);
}
int32_t MemSeek(int32_t, int32_t off, int32_t origin) {
  if (origin != PX_SEEK_SET || off < 0 || static_cast<size_t>(off) > g_nSize) return -1;
  g_nPos = static_cast<size_t>(off);
  return off;
}
int32_t Row(void*, PxLoadInfo*, uint8_t* p, int32_t, int32_t, int32_t, intptr_t) {
  volatile uint8_t sink = p[0];
  (void)sink;
  return 1;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool s_bInit = [] {
    PxKernelImports k = PxKernelBoundImports();
    k.pfnOpen = MemOpen;
    k.pfnClose = MemClose;
    k.pfnRead = MemRead;
    k.pfnSeek = MemSeek;
    PxKernelSetImports(&k);
    DecoderLimits limits;
    limits.nMaxWidth = 2048;
    limits.nMaxHeight = 2048;
    limits.nMaxMemory = 64 << 20;
    MpegFilter::SetLimits(limits);
    return true;
  }();
  (void)s_bInit;
  g_pData = data;
  g_nSize = size;
  PxFileInfo info{};
  fltInfo(7, &info, 1);
  for (int page = 1; page <= 2; ++page) {
    PxLoadInfo load{};
    load.nBitsPerPixel = 24;
    load.nPage = page;
    load.nRows = 16;
    load.pfnRow = Row;
    fltLoad("mem", &load);
  }
  return 0;
}
