// Feeds arbitrary bytes to the wrapped fax reader (from memory) with a small output area, so that the
// area limit is met often. Every run must end with a result and never write past the area.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "scan/MapFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MapFile::Limits limits;
  limits.outputArea = 64 * 1024;
  MapFile map(limits);
  const bool ok = map.Unpack(data, size);
  if (map.Output().size() > limits.outputArea) std::abort();
  if (ok) {
    uint64_t total = 0;
    for (const MapFile::Page& page : map.Pages()) {
      if (page.length == 0 || page.width <= 0 || page.height <= 0 || page.xRes <= 0 || page.yRes <= 0)
        std::abort();
      if (page.offset != total) std::abort();
      total += page.length;
    }
    if (total != map.Output().size()) std::abort();
  } else if (map.GetResult() == MapFile::Result::Ok) {
    std::abort();
  }
  return 0;
}
