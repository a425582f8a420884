// The XML walker as the destination list uses it: any text is loaded and walked with DeviceTalk's
// element picking (counts, IDs, records). Nothing may crash, hang or write outside the record table.
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/DeviceTalk.h"
#include "log/DebugTrace.h"

namespace {

class WalkOnly : public DeviceTalk {
 public:
  void Walk(const std::string& text) { Load_From_Text(text.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool once = [] {
    DebugTrace open("fuzz", __FILE__, "/dev/null");
    return true;
  }();
  (void)once;
  if (size > (1u << 20)) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  WalkOnly walker;
  try {
    walker.Walk(text);
    walker.Walk(text);  // a second load on the same object starts afresh
  } catch (const platform::xmldom::ComError&) {
  }
  for (int id : walker.GetIndexes()) {
    if (id < 0 || id >= DeviceTalk::kMaxDestinations) __builtin_trap();
  }
  return 0;
}
