// Debugger output on standard error (see DebugOut.h).
#include "platform/debugout/DebugOut.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

void OutputDebugStringA(const char* text) {
  if (!text || !std::getenv("MARLIN3_DEBUGOUT")) return;
  size_t left = std::strlen(text);
  while (left > 0) {
    const ssize_t n = write(STDERR_FILENO, text, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    left -= static_cast<size_t>(n);
  }
}
