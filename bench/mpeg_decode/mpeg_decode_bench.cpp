// Two measurements of a clip of PICTURES pictures, printed as pictures per second (wall clock and
// process CPU time) with the peak resident memory; CPU time is the fairer figure on a busy machine.
//   decode: decoding alone, up to the last page, no colour conversion (LoadPlanes, the planes are
//           not touched), to set beside ffmpeg decoding to the null muxer;
//   every:  every page through fltLoad one call at a time, each converted to 24-bit rows, the way
//           a host reads a clip page by page (the kept decoder makes this one pass);
//   digest: as every, plus a digest of all delivered rows (slow; compares the output of two builds).
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mpegfilter/MpegFilter.h"
#include "mpegfilter/PxResult.h"
#include "pxkernel/PxKernel.h"

namespace {
int32_t Drop(void*, PxLoadInfo*, uint8_t*, int32_t, int32_t, int32_t, intptr_t) {
  return 1;
}
// FNV-1a over the row's bytes, eight at a time.
int32_t Digest(void* pUser, PxLoadInfo* pLoad, uint8_t* pRow, int32_t, int32_t, int32_t, intptr_t) {
  uint64_t& h = *static_cast<uint64_t*>(pUser);
  const size_t n = static_cast<size_t>(pLoad->nWidth) * 3;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t v;
    std::memcpy(&v, pRow + i, 8);
    h = (h ^ v) * 1099511628211ull;
  }
  for (; i < n; ++i) h = (h ^ pRow[i]) * 1099511628211ull;
  return 1;
}
int32_t Planes(void*, const FrameStore&, const SequenceParams&, const PlaneGeometry&) {
  return PXM_OK;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: mpeg_decode_bench CLIP PICTURES decode|every|digest\n");
    return 2;
  }
  const int pictures = std::atoi(argv[2]);
  const bool bDigest = std::strcmp(argv[3], "digest") == 0;
  const bool bEvery = bDigest || std::strcmp(argv[3], "every") == 0;
  uint64_t nDigest = 14695981039346656037ull;
  // The clip is made before the run; a file changed a moment ago would not be kept.
  MpegFilter::SetSettleTime(0);
  timespec c0{}, c1{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
  const auto t0 = std::chrono::steady_clock::now();
  int32_t rc = PXM_OK;
  if (bEvery) {
    for (int page = 1; page < pictures && rc == PXM_OK; ++page) {
      PxLoadInfo load{};
      load.nBitsPerPixel = 24;
      load.nPage = page;
      load.pfnRow = bDigest ? Digest : Drop;
      load.pUser = &nDigest;
      rc = fltLoad(argv[1], &load);
    }
  } else {
    rc = MpegFilter::LoadPlanes(argv[1], pictures - 1, Planes, nullptr);  // the last loadable page
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
  const double cpu = double(c1.tv_sec - c0.tv_sec) + double(c1.tv_nsec - c0.tv_nsec) * 1e-9;
  // VmHWM, not ru_maxrss: the latter keeps the high-water mark of whatever process exec'd us.
  long nPeakKiB = 0;
  if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof(line), f))
      if (std::sscanf(line, "VmHWM: %ld", &nPeakKiB) == 1) break;
    std::fclose(f);
  }
  std::printf(
      "pxmpeg %s: result %d, %.3f s, %.1f pictures/s, cpu %.3f s, %.1f pictures/cpu-s, peak RSS %ld KiB\n",
      argv[3], rc, s, pictures / s, cpu, pictures / cpu, nPeakKiB);
  if (bDigest) std::printf("digest %016llx\n", static_cast<unsigned long long>(nDigest));
  return rc == PXM_OK ? 0 : 1;
}
