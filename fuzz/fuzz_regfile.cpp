// marlin3-reg's .reg reading: any bytes are imported into a scratch hive folder and, when they were
// accepted, exported back. Nothing may crash, hang, recurse without bound or grow without bound.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/reg/RegFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool once = [] {
    char dir[] = "/tmp/fuzz-regfile-XXXXXX";
    if (mkdtemp(dir)) setenv("MARLIN3_REGISTRY_DIR", dir, 1);
    return true;
  }();
  (void)once;
  if (size > (1u << 20)) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::string error;
  if (regtool::ImportText(bytes, error)) {
    regtool::KeyName key;
    std::string text;
    if (regtool::ParseKeyName("HKCU", key)) regtool::ExportKey(key, text, 64u << 20);
    RegDeleteTreeA(HKEY_CURRENT_USER, nullptr);  // the next input starts from an empty hive
  }
  return 0;
}
