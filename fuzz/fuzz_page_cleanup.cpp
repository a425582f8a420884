// libFuzzer target: the page cleanup library on pages of any shape and content a device may send.
// Input: depth (byte 0: 1, 8 or 24 bits), width and height (bytes 1..4, 16 bits LE each, 1 + value %
// 1200), the turn of the rotation (byte 5, -12.8 to 12.7 degrees in tenths) and the quarter turns
// (byte 6); the rest is the pixels, repeated to fill the page. Every step runs as the scan job runs
// it: ink, skew, paper box, crop, rotation, quarter turn. Seeds: fuzz/corpus/page_cleanup/.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "pxclass/PxPageAlloc.h"
#include "pxclean/PxCleanApi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  static const int32_t kDepths[] = {1, 8, 24};
  const int32_t depth = kDepths[data[0] % 3];
  const int32_t width = 1 + (data[1] | data[2] << 8) % 1200;
  const int32_t height = 1 + (data[3] | data[4] << 8) % 1200;
  const double degrees = static_cast<int8_t>(data[5]) / 10.0;
  const int32_t quarters = data[6] % 4;
  const uint8_t* pixels = data + 7;
  const size_t count = size - 7;
  PxPage* page = PxPageAlloc(width, height, depth);
  if (page == nullptr) return 0;
  const size_t bytes = static_cast<size_t>(page->stride) * static_cast<size_t>(height);
  for (size_t at = 0; at < bytes; at += count)
    std::memcpy(page->pixels + at, pixels, std::min(count, bytes - at));
  int32_t ink = 0;
  double skew = 0, confidence = 0;
  PxCleanBox box{};
  PxCleanInk(page, &ink);
  PxCleanFindSkew(page, &skew, &confidence);
  if (PxCleanFindPaper(page, &box) == 1) PxCleanCrop(page, &box);
  PxCleanRotate(page, degrees);
  PxCleanTurn(page, quarters);
  PxCleanInk(page, &ink);
  PxPageFree(page);
  return 0;
}
