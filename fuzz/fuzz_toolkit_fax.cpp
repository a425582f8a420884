// libFuzzer target: the raw CCITT fax decoder. The first four bytes choose the layout (width,
// height, coding flags) the way a LoadInfoCallBack record would; the rest is the fax data.
// Seeds: fuzz/corpus/toolkit_fax/ (strips made by libtiff's Group 3 and Group 4 encoders).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "pxclass/PxFileTypes.h"
#include "pxfile/PxFileApi.h"

extern "C" void PxfSetPixelLimit(int64_t pixels);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  static const std::string path = [] {
    PxfSetPixelLimit(4 * 1000 * 1000);
    return "/tmp/fuzz_toolkit_fax." + std::to_string(getpid());
  }();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data + 4, 1, size - 4, f);
  std::fclose(f);
  PxLoadInfo record{};
  record.nFormat = PX_RAW_FAX;
  record.nWidth = 1 + ((data[0] << 8 | data[1]) % 2600);
  record.nHeight = data[2] % 240;  // 0: as many rows as the data holds
  record.nBitsPerPixel = 1;
  record.nXDpi = 204;
  record.nYDpi = 196;
  record.nFlags = data[3] & 0x37;
  PxPage* out = nullptr;
  if (PxfLoadRaw(path.c_str(), &record, &out) == 1) {
    if (!out || out->width != record.nWidth || (record.nHeight && out->height != record.nHeight))
      __builtin_trap();
    PxfFreePage(out);
  }
  return 0;
}
