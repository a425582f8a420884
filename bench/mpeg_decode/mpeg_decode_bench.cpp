// Loads the last page of a clip through fltLoad (one pass over every picture, 24-bit rows for
// the delivered frame) and prints pictures per second (wall clock and process CPU time) and the
// peak resident memory. CPU time is the fairer figure on a shared, busy machine.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "mpegfilter/MpegFilter.h"
#include "mpegfilter/PxResult.h"
#include "pxkernel/PxKernel.h"

namespace {
int32_t Drop(void*, PxLoadInfo*, uint8_t*, int32_t, int32_t, int32_t, intptr_t) {
  return 1;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: mpeg_decode_bench CLIP PICTURES\n");
    return 2;
  }
  const int pictures = std::atoi(argv[2]);
  PxLoadInfo load{};
  load.nBitsPerPixel = 24;
  load.nPage = pictures - 1;  // the last loadable page
  load.pfnRow = Drop;
  timespec c0{}, c1{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
  const auto t0 = std::chrono::steady_clock::now();
  const int32_t rc = fltLoad(argv[1], &load);
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
      "pxmpeg: result %d, %.3f s, %.1f pictures/s, cpu %.3f s, %.1f pictures/cpu-s, peak RSS %ld KiB\n", rc,
      s, pictures / s, cpu, pictures / cpu, nPeakKiB);
  return rc == PX_OK ? 0 : 1;
}
