// Two measurements of a clip of PICTURES pictures, printed as pictures per second (wall clock and
// process CPU time) with the peak resident memory; CPU time is the fairer figure on a busy machine.
//   decode: decoding alone, up to the last page, no colour conversion (LoadPlanes, the planes are
//           not touched), to set beside ffmpeg decoding to the null muxer;
//   every:  every page through fltLoad one call at a time, each converted to 24-bit rows, the way
//           a host reads a clip page by page (the kept decoder makes this one pass).
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
int32_t Planes(void*, const FrameStore&, const SequenceParams&, const PlaneGeometry&) {
  return PX_OK;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: mpeg_decode_bench CLIP PICTURES decode|every\n");
    return 2;
  }
  const int pictures = std::atoi(argv[2]);
  const bool bEvery = std::strcmp(argv[3], "every") == 0;
  // The clip is made before the run; a file changed a moment ago would not be kept.
  MpegFilter::SetSettleTime(0);
  timespec c0{}, c1{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
  const auto t0 = std::chrono::steady_clock::now();
  int32_t rc = PX_OK;
  if (bEvery) {
    for (int page = 1; page < pictures && rc == PX_OK; ++page) {
      PxLoadInfo load{};
      load.nBitsPerPixel = 24;
      load.nPage = page;
      load.pfnRow = Drop;
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
  return rc == PX_OK ? 0 : 1;
}
