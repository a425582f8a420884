// Environment expansion and time services (see Environment.h).
#include "platform/base/Environment.h"

#include <sched.h>
#include <strings.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

extern char** environ;

namespace {

// Exact lookup first; then the first variable whose name matches ignoring ASCII case.
const char* LookupVariable(const std::string& name) {
  if (name.empty()) return nullptr;
  if (const char* v = std::getenv(name.c_str())) return v;
  for (char** e = environ; e && *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (!eq) continue;
    if (static_cast<size_t>(eq - *e) == name.size() && strncasecmp(*e, name.c_str(), name.size()) == 0)
      return eq + 1;
  }
  return nullptr;
}

}  // namespace

DWORD ExpandEnvironmentStringsA(const char* src, char* dst, DWORD size) {
  if (!src) {
    platform::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string out;
  const char* p = src;
  while (*p) {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    const char* close = std::strchr(p + 1, '%');
    if (close) {
      const char* value = LookupVariable(std::string(p + 1, close));
      if (value) {
        out += value;
        p = close + 1;
        continue;
      }
    }
    out += *p++;  // unknown or unterminated: the '%' stays and scanning goes on after it
  }
  const DWORD needed = static_cast<DWORD>(out.size() + 1);
  if (dst && size > 0) {
    const size_t n = out.size() < size ? out.size() : size - 1;
    std::memcpy(dst, out.data(), n);
    dst[n] = '\0';
  }
  return needed;
}

DWORD GetEnvironmentVariableA(const char* name, char* buf, DWORD size) {
  const char* value = name ? LookupVariable(name) : nullptr;
  if (!value) {
    platform::SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  const size_t len = std::strlen(value);
  if (!buf || len + 1 > size) return static_cast<DWORD>(len + 1);
  std::memcpy(buf, value, len + 1);
  return static_cast<DWORD>(len);
}

BOOL SetEnvironmentVariableA(const char* name, const char* value) {
  if (!name || !*name || std::strchr(name, '=')) {
    platform::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if ((value ? setenv(name, value, 1) : unsetenv(name)) != 0) {
    platform::SetLastError(platform::ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

void Sleep(DWORD ms) {
  if (ms == 0) {
    sched_yield();
    return;
  }
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

DWORD GetTickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<DWORD>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                            static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}
