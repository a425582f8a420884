// WinINet's HTTP call shape on libcurl (docs/platform.md "Layers"): InternetOpenA, InternetConnectA,
// HttpOpenRequestA, HttpSendRequestA (optional body, with any verb), InternetQueryDataAvailable,
// InternetReadFile, HttpQueryInfoA (status code), InternetCloseHandle. Callers: DeviceTalk's network
// exchange. A connection handle keeps one libcurl handle, so its requests reuse one kept-alive connection.
// HttpSendRequestA runs the whole exchange: the response body is held by the request handle and read
// out in pieces afterwards, and status line, headers and chunked coding are gone, as with WinINet.
// Bounds, so a silent or hostile server ends the exchange in bounded time and memory: a body above
// kMaxResponseBytes, no connection within the connect time-out, no new byte within the receive time-out,
// or the whole exchange past the total time-out fails HttpSendRequestA with a last-error code below.
// Time-outs come from InternetSetOptionA, else $MARLIN3_INET_TIMEOUT_MS (receive and connect; total is
// three times it), else the defaults below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/base/WinTypes.h"

using HINTERNET = void*;
using INTERNET_PORT = WORD;
using DWORD_PTR = std::uintptr_t;

enum : DWORD {
  INTERNET_OPEN_TYPE_PRECONFIG = 0,
  INTERNET_OPEN_TYPE_DIRECT = 1,
  INTERNET_SERVICE_HTTP = 3,
  INTERNET_DEFAULT_HTTP_PORT = 80,
  INTERNET_FLAG_KEEP_CONNECTION = 0x00400000,
  INTERNET_OPTION_CONNECT_TIMEOUT = 2,
  INTERNET_OPTION_RECEIVE_TIMEOUT = 6,
  HTTP_QUERY_STATUS_CODE = 19,
  HTTP_QUERY_FLAG_NUMBER = 0x20000000,
};

// WinINet's error codes as the layer sets them.
enum : LONG {
  ERROR_INTERNET_TIMEOUT = 12002,
  ERROR_INTERNET_INTERNAL_ERROR = 12004,
  ERROR_INTERNET_INVALID_URL = 12005,
  ERROR_INTERNET_NAME_NOT_RESOLVED = 12007,
  ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018,
  ERROR_INTERNET_CANNOT_CONNECT = 12029,
  ERROR_INTERNET_CONNECTION_ABORTED = 12030,
  ERROR_INTERNET_CONNECTION_RESET = 12031,
  ERROR_HTTP_HEADER_NOT_FOUND = 12150,
  ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152,
};

namespace platform::inet {

inline constexpr std::size_t kMaxResponseBytes = 1u << 20;  // 1 MiB; the device's documents are a few KB
inline constexpr DWORD kDefaultConnectTimeoutMs = 5000;
inline constexpr DWORD kDefaultReceiveTimeoutMs = 10000;

}  // namespace platform::inet

HINTERNET InternetOpenA(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass,
                        DWORD flags);
HINTERNET InternetConnectA(HINTERNET internet, const char* serverName, INTERNET_PORT port,
                           const char* userName, const char* password, DWORD service, DWORD flags,
                           DWORD_PTR context);
HINTERNET HttpOpenRequestA(HINTERNET connect, const char* verb, const char* objectName, const char* version,
                           const char* referrer, const char** acceptTypes, DWORD flags, DWORD_PTR context);
BOOL HttpSendRequestA(HINTERNET request, const char* headers, DWORD headersLength, const void* optional,
                      DWORD optionalLength);
BOOL InternetQueryDataAvailable(HINTERNET request, DWORD* available, DWORD flags, DWORD_PTR context);
BOOL InternetReadFile(HINTERNET request, void* buffer, DWORD toRead, DWORD* read);
// HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER only: a DWORD status code.
BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, void* buffer, DWORD* bufferLength, DWORD* index);
// The two time-outs (a DWORD of milliseconds) on an internet or connection handle.
BOOL InternetSetOptionA(HINTERNET handle, DWORD option, const void* buffer, DWORD bufferLength);
BOOL InternetCloseHandle(HINTERNET handle);

namespace platform::inet {
// Why libcurl could not be loaded ("" when it loads); asking loads it. Without it InternetConnectA
// fails with ERROR_INTERNET_INTERNAL_ERROR, which names no library, so callers log this beside it.
const std::string& InetLibraryFailure();
}  // namespace platform::inet
