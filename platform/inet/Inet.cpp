#include "platform/inet/Inet.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

enum class Kind : std::uint32_t { kInternet = 0x494E4554u, kConnect = 0x434F4E4Eu, kRequest = 0x52455155u };

struct Timeouts {
  DWORD connectMs = platform::inet::kDefaultConnectTimeoutMs;
  DWORD receiveMs = platform::inet::kDefaultReceiveTimeoutMs;
};

struct Handle {
  explicit Handle(Kind k) : kind(k) {}
  virtual ~Handle() { kind = Kind{0}; }
  Kind kind;
};

struct Internet : Handle {
  Internet() : Handle(Kind::kInternet) {}
  std::string agent;
  bool direct = true;
  Timeouts timeouts;
};

// The libcurl handle of a connection; requests share it so the kept-alive connection is reused.
struct Curl {
  CURL* easy = nullptr;
  ~Curl() {
    if (easy != nullptr) curl_easy_cleanup(easy);
  }
};

struct Connect : Handle {
  Connect() : Handle(Kind::kConnect) {}
  std::string agent;
  std::string server;
  INTERNET_PORT port = 0;
  bool direct = true;
  Timeouts timeouts;
  std::shared_ptr<Curl> curl;
};

struct Request : Handle {
  Request() : Handle(Kind::kRequest) {}
  std::shared_ptr<Curl> curl;
  std::string agent;
  std::string url;
  std::string verb;
  bool http10 = false;
  bool direct = true;
  Timeouts timeouts;
  bool sent = false;
  std::string body;
  std::size_t readAt = 0;
  long status = 0;
};

// What the transfer callbacks watch.
struct Transfer {
  std::string* body = nullptr;
  bool tooLarge = false;
  bool stalled = false;
  curl_off_t lastBytes = 0;
  Clock::time_point lastProgress = Clock::now();
  DWORD receiveMs = 0;
};

template <typename T>
T* As(HINTERNET handle, Kind kind) {
  auto* base = static_cast<Handle*>(handle);
  if (base == nullptr) return nullptr;
  return base->kind == kind ? static_cast<T*>(base) : nullptr;
}

Timeouts DefaultTimeouts() {
  Timeouts timeouts;
  if (const char* env = std::getenv("MARLIN3_INET_TIMEOUT_MS")) {
    char* end = nullptr;
    unsigned long ms = std::strtoul(env, &end, 10);
    if (end != env && ms > 0 && ms < 3600000ul)
      timeouts.connectMs = timeouts.receiveMs = static_cast<DWORD>(ms);
  }
  return timeouts;
}

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_NOTHING); });
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  size_t bytes = size * count;
  if (bytes > platform::inet::kMaxResponseBytes - transfer->body->size()) {
    transfer->tooLarge = true;
    return 0;  // aborts the transfer
  }
  transfer->body->append(data, bytes);
  return bytes;
}

// A server that stops sending is cut off after the receive time-out without a new byte.
int OnProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
  auto* transfer = static_cast<Transfer*>(user);
  curl_off_t bytes = downloaded + uploaded;
  Clock::time_point now = Clock::now();
  if (bytes != transfer->lastBytes) {
    transfer->lastBytes = bytes;
    transfer->lastProgress = now;
    return 0;
  }
  if (now - transfer->lastProgress > std::chrono::milliseconds(transfer->receiveMs)) {
    transfer->stalled = true;
    return 1;
  }
  return 0;
}

DWORD ErrorOf(CURLcode code, const Transfer& transfer) {
  if (transfer.tooLarge) return ERROR_FILE_TOO_LARGE;
  if (transfer.stalled) return ERROR_INTERNET_TIMEOUT;
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return ERROR_INTERNET_TIMEOUT;
    case CURLE_COULDNT_RESOLVE_HOST:
      return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
      return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return ERROR_INTERNET_INVALID_URL;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      return ERROR_INTERNET_CONNECTION_RESET;
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_OUT_OF_MEMORY:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_HTTP_INVALID_SERVER_RESPONSE;
  }
}

bool SetTimeout(Timeouts& timeouts, DWORD option, const void* buffer, DWORD length) {
  if (buffer == nullptr || length < sizeof(DWORD)) {
    platform::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  DWORD ms = 0;
  std::memcpy(&ms, buffer, sizeof ms);
  if (ms == 0) ms = 1;
  if (option == INTERNET_OPTION_CONNECT_TIMEOUT) {
    timeouts.connectMs = ms;
  } else if (option == INTERNET_OPTION_RECEIVE_TIMEOUT) {
    timeouts.receiveMs = ms;
  } else {
    platform::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

}  // namespace

HINTERNET InternetOpenA(const char* agent, DWORD accessType, const char*, const char*, DWORD) {
  GlobalInit();
  auto* internet = new (std::nothrow) Internet;
  if (internet == nullptr) {
    platform::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  internet->agent = agent == nullptr ? "" : agent;
  internet->direct = accessType == INTERNET_OPEN_TYPE_DIRECT;
  internet->timeouts = DefaultTimeouts();
  return internet;
}

HINTERNET InternetConnectA(HINTERNET handle, const char* serverName, INTERNET_PORT port, const char*,
                           const char*, DWORD service, DWORD, DWORD_PTR) {
  Internet* internet = As<Internet>(handle, Kind::kInternet);
  if (internet == nullptr) {
    platform::SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (serverName == nullptr || *serverName == '\0' || service != INTERNET_SERVICE_HTTP ||
      std::strpbrk(serverName, "/?#@ \t\r\n") != nullptr) {
    platform::SetLastError(ERROR_INTERNET_INVALID_URL);
    return nullptr;
  }
  auto connect = std::make_unique<Connect>();
  connect->curl = std::make_shared<Curl>();
  connect->curl->easy = curl_easy_init();
  if (connect->curl->easy == nullptr) {
    platform::SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    return nullptr;
  }
  connect->agent = internet->agent;
  connect->server = serverName;
  connect->port = port == 0 ? static_cast<INTERNET_PORT>(INTERNET_DEFAULT_HTTP_PORT) : port;
  connect->direct = internet->direct;
  connect->timeouts = internet->timeouts;
  return connect.release();
}

HINTERNET HttpOpenRequestA(HINTERNET handle, const char* verb, const char* objectName, const char* version,
                           const char*, const char**, DWORD, DWORD_PTR) {
  Connect* connect = As<Connect>(handle, Kind::kConnect);
  if (connect == nullptr) {
    platform::SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  std::string object = objectName == nullptr || *objectName == '\0' ? "/" : objectName;
  if (object[0] != '/' || object.find_first_of(" \t\r\n") != std::string::npos) {
    platform::SetLastError(ERROR_INTERNET_INVALID_URL);
    return nullptr;
  }
  auto request = std::make_unique<Request>();
  request->curl = connect->curl;
  request->agent = connect->agent;
  request->verb = verb == nullptr || *verb == '\0' ? "GET" : verb;
  std::string host = connect->server;
  if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
  request->url = "http://" + host + ":" + std::to_string(connect->port) + object;
  request->http10 =
      version != nullptr && (std::strcmp(version, "HTTP/1.0") == 0 || std::strcmp(version, "Http/1.0") == 0);
  request->direct = connect->direct;
  request->timeouts = connect->timeouts;
  return request.release();
}

BOOL HttpSendRequestA(HINTERNET handle, const char*, DWORD, const void* optional, DWORD optionalLength) {
  Request* request = As<Request>(handle, Kind::kRequest);
  if (request == nullptr) {
    platform::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  CURL* easy = request->curl->easy;
  curl_easy_reset(easy);  // keeps the connection cache, so the connection stays alive

  Transfer transfer;
  request->body.clear();
  request->readAt = 0;
  request->status = 0;
  request->sent = false;
  transfer.body = &request->body;
  transfer.receiveMs = request->timeouts.receiveMs;

  curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, "Expect:");  // no 100-continue pause before a body
  curl_easy_setopt(easy, CURLOPT_URL, request->url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                   request->http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(easy, CURLOPT_USERAGENT, request->agent.c_str());
  if (request->direct) curl_easy_setopt(easy, CURLOPT_PROXY, "");
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request->timeouts.connectMs));
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS,
                   static_cast<long>(request->timeouts.connectMs) + 3L * request->timeouts.receiveMs);
  curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                   static_cast<curl_off_t>(platform::inet::kMaxResponseBytes));
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
  // The optional data goes with any verb, GET included, as WinINet sends it.
  if (optional != nullptr && optionalLength > 0) {
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(optionalLength));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, optional);
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request->verb.c_str());
  } else if (request->verb == "GET") {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  } else if (request->verb == "POST") {
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, "");
  } else {
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request->verb.c_str());
  }

  CURLcode code = curl_easy_perform(easy);
  curl_slist_free_all(headers);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
  if (code != CURLE_OK) {
    request->body.clear();
    request->body.shrink_to_fit();
    platform::SetLastError(code == CURLE_FILESIZE_EXCEEDED ? static_cast<DWORD>(ERROR_FILE_TOO_LARGE)
                                                           : ErrorOf(code, transfer));
    return FALSE;
  }
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &request->status);
  request->sent = true;
  return TRUE;
}

BOOL InternetQueryDataAvailable(HINTERNET handle, DWORD* available, DWORD, DWORD_PTR) {
  Request* request = As<Request>(handle, Kind::kRequest);
  if (request == nullptr || available == nullptr) {
    platform::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!request->sent) {
    platform::SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return FALSE;
  }
  // WinINet reports what it has buffered; hand the body out in pieces of at most 8 KB like it does.
  *available = static_cast<DWORD>(std::min<std::size_t>(request->body.size() - request->readAt, 8192));
  return TRUE;
}

BOOL InternetReadFile(HINTERNET handle, void* buffer, DWORD toRead, DWORD* read) {
  Request* request = As<Request>(handle, Kind::kRequest);
  if (request == nullptr || read == nullptr || (buffer == nullptr && toRead > 0)) {
    platform::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::size_t count = std::min<std::size_t>(toRead, request->body.size() - request->readAt);
  if (count > 0) std::memcpy(buffer, request->body.data() + request->readAt, count);
  request->readAt += count;
  *read = static_cast<DWORD>(count);
  return TRUE;
}

BOOL HttpQueryInfoA(HINTERNET handle, DWORD infoLevel, void* buffer, DWORD* bufferLength, DWORD*) {
  Request* request = As<Request>(handle, Kind::kRequest);
  if (request == nullptr) {
    platform::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (infoLevel != (HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER) || !request->sent) {
    platform::SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
    return FALSE;
  }
  if (buffer == nullptr || bufferLength == nullptr || *bufferLength < sizeof(DWORD)) {
    if (bufferLength != nullptr) *bufferLength = sizeof(DWORD);
    platform::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  DWORD status = static_cast<DWORD>(request->status);
  std::memcpy(buffer, &status, sizeof status);
  *bufferLength = sizeof status;
  return TRUE;
}

BOOL InternetSetOptionA(HINTERNET handle, DWORD option, const void* buffer, DWORD bufferLength) {
  if (Internet* internet = As<Internet>(handle, Kind::kInternet))
    return SetTimeout(internet->timeouts, option, buffer, bufferLength) ? TRUE : FALSE;
  if (Connect* connect = As<Connect>(handle, Kind::kConnect))
    return SetTimeout(connect->timeouts, option, buffer, bufferLength) ? TRUE : FALSE;
  platform::SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

BOOL InternetCloseHandle(HINTERNET handle) {
  auto* base = static_cast<Handle*>(handle);
  if (base == nullptr ||
      (base->kind != Kind::kInternet && base->kind != Kind::kConnect && base->kind != Kind::kRequest)) {
    platform::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete base;
  return TRUE;
}
