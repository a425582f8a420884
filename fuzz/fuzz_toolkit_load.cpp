// libFuzzer target: the file library's loaders on arbitrary bytes (format found by content: JPEG,
// TIFF, PNG, GIF, BMP, PDF). Information and the first two pages are loaded; any result is fine,
// a crash, a leak, undefined behaviour or a runaway is not. Seeds: fuzz/corpus/toolkit_load/.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "pxfile/PxFileApi.h"

extern "C" void PxfSetPixelLimit(int64_t pixels);

namespace {
// The PDF reader is linked into this target: "loading" it hands out its entry points directly.
void* LoadLinkedModule(const char*, unsigned long*) {
  return reinterpret_cast<void*>(&PxPdfGetInfo);
}
void* LinkedProc(void*, const char* name) {
  if (std::strcmp(name, "PxPdfGetInfo") == 0) return reinterpret_cast<void*>(&PxPdfGetInfo);
  if (std::strcmp(name, "PxPdfLoadPage") == 0) return reinterpret_cast<void*>(&PxPdfLoadPage);
  return nullptr;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    PxfSetPixelLimit(2 * 1000 * 1000);
    PxfSetModuleLoader(&LoadLinkedModule,
                       &LinkedProc);  // keeps each run small; the limit logic itself is exercised
    return "/tmp/fuzz_toolkit_load." + std::to_string(getpid());
  }();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  PxFileInfo info;
  PxfGetInfo(path.c_str(), &info);
  for (int page = 1; page <= 2; ++page) {
    PxPage* out = nullptr;
    if (PxfLoadPage(path.c_str(), page, &out) == 1) {
      if (!out || !out->pixels || out->width <= 0 || out->height <= 0) __builtin_trap();
      PxfFreePage(out);
    } else if (out) {
      __builtin_trap();  // a failure hands out no page
    }
  }
  return 0;
}
