// Loads the last page of a clip through fltLoad (one pass over every picture, 24-bit rows for
// the delivered frame) and prints pictures per second and the peak resident memory.
#include <sys/resource.h>

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
  const auto t0 = std::chrono::steady_clock::now();
  const int32_t rc = fltLoad(argv[1], &load);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("pxmpeg: result %d, %.3f s, %.1f pictures/s, peak RSS %ld KiB\n", rc, s, pictures / s,
              ru.ru_maxrss);
  return rc == PX_OK ? 0 : 1;
}
