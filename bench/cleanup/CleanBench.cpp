// pxclean-bench IMAGE...: per page, the time of each cleanup step (blank check, border search and cut,
// orientation by the OCR engine, skew search and straightening) and of all four, the skew found, and
// Leptonica's skew search (pixFindSkewSweepAndSearch over +-10 degrees) on the same page.
#include <allheaders.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pxclass/PxError.h"
#include "pxclass/PxPageAlloc.h"
#include "pxclean/PxCleanApi.h"
#include "pxfile/PxFileApi.h"
#include "pxocr/PxOcrApi.h"

namespace {

double Now() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

PxPage* Copy(const PxPage* page) {
  PxPage* out = static_cast<PxPage*>(std::malloc(sizeof(PxPage)));
  *out = *page;
  const size_t bytes = size_t(page->stride) * size_t(page->height);
  out->pixels = static_cast<uint8_t*>(std::malloc(bytes));
  std::memcpy(out->pixels, page->pixels, bytes);
  return out;
}

// Leptonica's search on the page as 1 bit (its own thresholding at 128), timed with the conversion.
void Leptonica(const PxPage* page, double& angle, double& ms) {
  const double t0 = Now();
  Pix* grey = pixCreate(page->width, page->height, 8);
  l_uint32* data = pixGetData(grey);
  const int wpl = pixGetWpl(grey);
  for (int y = 0; y < page->height; ++y) {
    const uint8_t* in = page->pixels + size_t(y) * size_t(page->stride);
    l_uint32* line = data + size_t(y) * size_t(wpl);
    for (int x = 0; x < page->width; ++x) {
      int v = page->bitsPerPixel == 8    ? in[x]
              : page->bitsPerPixel == 24 ? (in[3 * x] * 77 + in[3 * x + 1] * 150 + in[3 * x + 2] * 29) >> 8
                                         : ((in[x >> 3] >> (7 - (x & 7))) & 1) * 255;
      SET_DATA_BYTE(line, x, v);
    }
  }
  Pix* binary = pixConvertTo1(grey, 128);
  l_float32 a = 0, conf = 0;
  pixFindSkewSweepAndSearch(binary, &a, &conf, 4, 2, 10.0f, 1.0f, 0.01f);
  ms = Now() - t0;
  angle = a;
  pixDestroy(&binary);
  pixDestroy(&grey);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: pxclean-bench IMAGE...\n");
    return 2;
  }
  setLeptDebugOK(0);
  std::printf("%-28s %8s %8s %8s %8s %8s %9s %8s | %9s %8s\n", "page", "blank", "border", "upright", "deskew",
              "all", "skew", "conf", "lept skew", "lept ms");
  double sums[5] = {};
  int pages = 0;
  for (int i = 1; i < argc; ++i) {
    PxPage* page = nullptr;
    if (PxfLoadPage(argv[i], 1, &page) != PX_OK) {
      std::fprintf(stderr, "%s: does not load\n", argv[i]);
      return 1;
    }
    PxPage* work = Copy(page);
    double t = Now();
    int32_t ink = 0;
    PxCleanInk(work, &ink);
    const double blank = Now() - t;
    t = Now();
    PxCleanBox box{};
    PxCleanFindPaper(work, &box);
    PxCleanCrop(work, &box);
    const double border = Now() - t;
    t = Now();
    int32_t degrees = 0;
    double oconf = 0;
    char message[256];
    if (PxOcrOrientation(work, &degrees, &oconf, message, sizeof message) == PX_OK && oconf >= 1.5 && degrees)
      PxCleanTurn(work, degrees / 90);
    const double upright = Now() - t;
    t = Now();
    double skew = 0, conf = 0;
    PxCleanFindSkew(work, &skew, &conf);
    if (conf >= PX_CLEAN_SKEW_SURE && skew != 0) PxCleanRotate(work, -skew);
    const double deskew = Now() - t;
    double leptAngle = 0, leptMs = 0;
    Leptonica(page, leptAngle, leptMs);
    const char* name = std::strrchr(argv[i], '/') ? std::strrchr(argv[i], '/') + 1 : argv[i];
    const double all = blank + border + upright + deskew;
    std::printf("%-28s %8.1f %8.1f %8.1f %8.1f %8.1f %9.3f %8.1f | %9.3f %8.1f\n", name, blank, border,
                upright, deskew, all, skew, conf, leptAngle, leptMs);
    sums[0] += blank, sums[1] += border, sums[2] += upright, sums[3] += deskew, sums[4] += all;
    ++pages;
    PxPageFree(work);
    PxPageFree(page);
  }
  std::printf("%-28s %8.1f %8.1f %8.1f %8.1f %8.1f   (ms per page)\n", "mean", sums[0] / pages,
              sums[1] / pages, sums[2] / pages, sums[3] / pages, sums[4] / pages);
  return 0;
}
