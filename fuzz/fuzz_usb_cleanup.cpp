// The clean-up of raw USB responses (header, footer, chunk-size lines), checked against the rule as
// the device's code states it (deleting in place, quadratic, so only for short inputs), then the
// cleaned text goes through the XML walker as GetList would load it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/DeviceTalk.h"
#include "log/DebugTrace.h"

namespace {

void ReferenceChunkData(std::string& text) {
  std::size_t a = 0;
  while ((a = text.find("\r\n")) != std::string::npos) {
    text.erase(a, 2);
    std::size_t b = text.find("\r\n", a);
    if (b == std::string::npos) {
      text.insert(a, "\r\n");
      return;
    }
    text.erase(a, b + 2 - a);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool once = [] {
    DebugTrace open("fuzz", __FILE__, "/dev/null");
    return true;
  }();
  (void)once;
  if (size > (1u << 20)) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  DeviceTalk device;
  std::string chunked = text;
  device.RemoveHttpChunkData(chunked);
  if (size <= 4096) {
    std::string reference = text;
    ReferenceChunkData(reference);
    if (reference != chunked) __builtin_trap();
  }
  if (!device.RemoveHttpHeader(text) || !device.RemoveHttpFooter(text)) return 0;
  device.RemoveHttpChunkData(text);
  try {
    device.Load_From_Text(text.c_str());
  } catch (const platform::xmldom::ComError&) {
  }
  return 0;
}
