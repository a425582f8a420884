// The entry points of libDvPortBridge.so (DvPortBridge.dll on Windows), loaded by name by DeviceTalk.
// C calling convention, bool results as int, counts as 32-bit ints; no exception leaves a call. Each
// failure is written to the debugger output when $MARLIN3_DEBUGOUT is set (the library has no log).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "portbridge/BulkChannel.h"

namespace {

portbridge::BulkChannel& Channel() {
  static portbridge::BulkChannel channel;
  return channel;
}

int Report(const char* call) {
  if (std::getenv("MARLIN3_DEBUGOUT") != nullptr)
    std::fprintf(stderr, "***DvPortBridge: %s> %s\n", call,
                 portbridge::BridgeErrorText(Channel().LastError()));
  return 0;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int OpenBulk(const char* port) {
  try {
    if (port == nullptr) return 0;
    return Channel().Open(port) ? 1 : Report("OpenBulk");
  } catch (const std::exception&) {
    return 0;
  }
}

__attribute__((visibility("default"))) int WriteBulk(const char* bytes, std::int32_t* length) {
  try {
    if (bytes == nullptr || length == nullptr || *length < 0) return 0;
    return Channel().Write(bytes, static_cast<std::size_t>(*length)) ? 1 : Report("WriteBulk");
  } catch (const std::exception&) {
    return 0;
  }
}

__attribute__((visibility("default"))) std::uint32_t BytesAvailable() {
  try {
    std::uint32_t count = Channel().Available();
    if (count == 0 && Channel().LastError() != portbridge::BridgeError::kNone) Report("BytesAvailable");
    return count;
  } catch (const std::exception&) {
    return 0;
  }
}

__attribute__((visibility("default"))) int ReadBulk(char* buffer, std::int32_t* count) {
  try {
    if (buffer == nullptr || count == nullptr || *count <= 0) return 0;
    std::size_t read = Channel().Read(buffer, static_cast<std::size_t>(*count));
    *count = static_cast<std::int32_t>(read);
    return read > 0 ? 1 : Report("ReadBulk");
  } catch (const std::exception&) {
    return 0;
  }
}

// Not one of DvPortBridge.dll's entry points: marlin3 looks it up when it is there, to log why a call
// failed or a response came empty. Null when the last call did not fail.
__attribute__((visibility("default"))) const char* BridgeLastError() {
  if (Channel().LastError() == portbridge::BridgeError::kNone) return nullptr;
  return portbridge::BridgeErrorText(Channel().LastError());
}

__attribute__((visibility("default"))) int CloseBulk() {
  Channel().Close();
  return 1;
}

}  // extern "C"
