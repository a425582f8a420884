#include "portbridge/BulkChannel.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace portbridge {

namespace {

using Clock = std::chrono::steady_clock;

int TimeoutMs() {
  if (const char* env = std::getenv("MARLIN3_PORTBRIDGE_TIMEOUT_MS")) {
    char* end = nullptr;
    long ms = std::strtol(env, &end, 10);
    if (end != env && ms > 0 && ms < 3600000) return static_cast<int>(ms);
  }
  return BulkChannel::kDefaultTimeoutMs;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 5 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool ParsePort(const std::string& text, int& port) {
  if (!AllDigits(text)) return false;
  port = std::atoi(text.c_str());
  return port > 0 && port <= 65535;
}

// Case-insensitive search for a header's value in the header block; -1 when absent.
std::string HeaderValue(const std::string& headers, const char* name) {
  std::string lower = headers;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  std::string key = std::string("\r\n") + name + ":";
  std::size_t at = lower.find(key);
  if (at == std::string::npos) return std::string();
  std::size_t start = at + key.size();
  std::size_t end = lower.find("\r\n", start);
  std::string value = lower.substr(start, end == std::string::npos ? std::string::npos : end - start);
  std::size_t first = value.find_first_not_of(" \t");
  return first == std::string::npos ? std::string() : value.substr(first);
}

}  // namespace

const char* BridgeErrorText(BridgeError error) {
  switch (error) {
    case BridgeError::kNone:
      return "no error";
    case BridgeError::kBadEndpoint:
      return "the Port value is not PORT, HOST:PORT on a loopback address, or unix:/path";
    case BridgeError::kConnectFailed:
      return "the device's endpoint refused the connection";
    case BridgeError::kNotOpen:
      return "the channel is not open";
    case BridgeError::kWriteFailed:
      return "writing the request failed";
    case BridgeError::kReadFailed:
      return "reading the response failed";
    case BridgeError::kTooLarge:
      return "the response is larger than 1 MiB and was dropped";
    case BridgeError::kTimedOut:
      return "the device stopped sending before its response was complete";
    case BridgeError::kChunkTooLarge:
      return "the response declares a chunk larger than 1 MiB and was dropped";
    case BridgeError::kChunkLineTooLong:
      return "a chunk-size line of the response is longer than 4 KiB; the response was dropped";
  }
  return "unknown error";
}

bool BulkChannel::ParseEndpoint(const std::string& text, Endpoint& endpoint) {
  endpoint = Endpoint();
  if (text.compare(0, 5, "unix:") == 0) {
    endpoint.unixSocket = true;
    endpoint.path = text.substr(5);
    return !endpoint.path.empty() && endpoint.path.size() < sizeof(sockaddr_un::sun_path);
  }
  if (ParsePort(text, endpoint.port)) {
    endpoint.host = "127.0.0.1";
    return true;
  }
  std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || !ParsePort(text.substr(colon + 1), endpoint.port)) return false;
  std::string host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host == "localhost") host = "127.0.0.1";
  in_addr v4{};
  in6_addr v6{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) {
    if ((ntohl(v4.s_addr) >> 24) != 127) return false;  // loopback only
  } else if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
    if (!IN6_IS_ADDR_LOOPBACK(&v6)) return false;
  } else {
    return false;
  }
  endpoint.host = host;
  return true;
}

bool BulkChannel::Fail(BridgeError error) {
  m_error = error;
  return false;
}

bool BulkChannel::Open(const std::string& port) {
  Close();
  m_error = BridgeError::kNone;
  Endpoint endpoint;
  if (!ParseEndpoint(port, endpoint)) return Fail(BridgeError::kBadEndpoint);

  sockaddr_storage address{};
  socklen_t length = 0;
  int family = AF_UNIX;
  if (endpoint.unixSocket) {
    auto* un = reinterpret_cast<sockaddr_un*>(&address);
    un->sun_family = AF_UNIX;
    std::memcpy(un->sun_path, endpoint.path.c_str(), endpoint.path.size() + 1);
    length = sizeof(sockaddr_un);
  } else if (endpoint.host.find(':') == std::string::npos) {
    family = AF_INET;
    auto* in = reinterpret_cast<sockaddr_in*>(&address);
    in->sin_family = AF_INET;
    in->sin_port = htons(static_cast<std::uint16_t>(endpoint.port));
    inet_pton(AF_INET, endpoint.host.c_str(), &in->sin_addr);
    length = sizeof(sockaddr_in);
  } else {
    family = AF_INET6;
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(static_cast<std::uint16_t>(endpoint.port));
    inet_pton(AF_INET6, endpoint.host.c_str(), &in6->sin6_addr);
    length = sizeof(sockaddr_in6);
  }

  int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return Fail(BridgeError::kConnectFailed);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    bool pending = errno == EINPROGRESS;
    pollfd wait{fd, POLLOUT, 0};
    int error = 0;
    socklen_t size = sizeof error;
    if (!pending || poll(&wait, 1, TimeoutMs()) != 1 ||
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
      close(fd);
      return Fail(BridgeError::kConnectFailed);
    }
  }
  // An endpoint that accepts and at once closes (a device still busy) refuses the open. A device never
  // speaks before the request, so anything readable this early can only be that close.
  pollfd probe{fd, POLLIN | POLLRDHUP, 0};
  if (poll(&probe, 1, 10) == 1) {
    char byte = 0;
    if (recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0) {
      close(fd);
      return Fail(BridgeError::kConnectFailed);
    }
  }
  m_fd = fd;
  return true;
}

bool BulkChannel::Write(const char* bytes, std::size_t length) {
  if (m_fd < 0) return Fail(BridgeError::kNotOpen);
  m_response.clear();
  m_readAt = 0;
  m_chunkAt = 0;
  m_headerEnd = std::string::npos;
  m_headerSearched = 0;
  m_received = false;
  const int timeout = TimeoutMs();
  std::size_t done = 0;
  while (done < length) {
    ssize_t sent = send(m_fd, bytes + done, length - done, MSG_NOSIGNAL);
    if (sent > 0) {
      done += static_cast<std::size_t>(sent);
      continue;
    }
    if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd wait{m_fd, POLLOUT, 0};
      if (poll(&wait, 1, timeout) == 1) continue;
    }
    return Fail(BridgeError::kWriteFailed);
  }
  return true;
}

// RFC 9112 6.3: the body ends after Content-Length bytes, after the last chunk (7.1), or when the
// server closes; this only decides when to stop waiting, the caller strips the framing itself.
bool BulkChannel::ResponseComplete() {
  if (m_headerEnd == std::string::npos) {
    m_headerEnd = m_response.find("\r\n\r\n", m_headerSearched);
    if (m_headerEnd == std::string::npos) {
      m_headerSearched = m_response.size() < 3 ? 0 : m_response.size() - 3;
      return false;
    }
  }
  const std::size_t headerEnd = m_headerEnd;
  std::string headers = "\r\n" + m_response.substr(0, headerEnd + 2);
  std::size_t bodyStart = headerEnd + 4;
  if (HeaderValue(headers, "transfer-encoding").find("chunked") != std::string::npos) {
    // Whole chunks already seen are not walked again: a device trickling tiny chunks costs linear time.
    std::size_t at = m_chunkAt != 0 ? m_chunkAt : bodyStart;
    for (;;) {
      m_chunkAt = at;
      std::size_t lineEnd = m_response.find("\r\n", at);
      if (lineEnd == std::string::npos) {
        if (m_response.size() - at <= kMaxChunkLine) return false;
        m_error = BridgeError::kChunkLineTooLong;
        return true;
      }
      if (lineEnd - at > kMaxChunkLine) {
        m_error = BridgeError::kChunkLineTooLong;
        return true;
      }
      char* end = nullptr;
      std::string sizeText = m_response.substr(at, lineEnd - at);
      unsigned long long size = std::strtoull(sizeText.c_str(), &end, 16);
      if (end == sizeText.c_str()) return true;  // broken chunking: nothing more to wait for
      if (size == 0) return m_response.find("\r\n\r\n", lineEnd) != std::string::npos;
      if (size > kMaxResponseBytes) {
        m_error = BridgeError::kChunkTooLarge;
        return true;
      }
      at = lineEnd + 2 + static_cast<std::size_t>(size) + 2;
      if (at > m_response.size()) return false;
    }
  }
  std::string length = HeaderValue(headers, "content-length");
  if (!length.empty()) {
    unsigned long long bytes = std::strtoull(length.c_str(), nullptr, 10);
    return m_response.size() - bodyStart >= bytes;
  }
  return false;  // until the server closes
}

void BulkChannel::Receive() {
  m_received = true;
  const int idle = TimeoutMs();
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(4 * idle);
  char chunk[16384];
  while (!ResponseComplete()) {
    int wait = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    if (wait <= 0) {
      m_error = BridgeError::kTimedOut;
      return;
    }
    pollfd ready{m_fd, POLLIN, 0};
    int polled = poll(&ready, 1, std::min(wait, idle));
    if (polled == 0) {
      m_error = BridgeError::kTimedOut;
      return;
    }
    if (polled < 0) {
      if (errno == EINTR) continue;
      m_error = BridgeError::kReadFailed;
      return;
    }
    ssize_t got = recv(m_fd, chunk, sizeof chunk, 0);
    if (got == 0) return;  // the server closed: the response is what came
    if (got < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      m_error = BridgeError::kReadFailed;
      return;
    }
    if (m_response.size() + static_cast<std::size_t>(got) > kMaxResponseBytes) {
      m_response.clear();
      m_response.shrink_to_fit();
      m_error = BridgeError::kTooLarge;
      return;
    }
    m_response.append(chunk, static_cast<std::size_t>(got));
  }
  if (m_error == BridgeError::kChunkTooLarge || m_error == BridgeError::kChunkLineTooLong) {
    m_response.clear();
    m_response.shrink_to_fit();
  }
}

std::uint32_t BulkChannel::Available() {
  if (m_fd < 0) {
    m_error = BridgeError::kNotOpen;
    return 0;
  }
  if (!m_received) Receive();
  return static_cast<std::uint32_t>(m_response.size() - m_readAt);
}

std::size_t BulkChannel::Read(char* buffer, std::size_t wanted) {
  if (m_fd < 0) {
    m_error = BridgeError::kNotOpen;
    return 0;
  }
  std::size_t count = std::min({wanted, kMaxRead, m_response.size() - m_readAt});
  std::memcpy(buffer, m_response.data() + m_readAt, count);
  m_readAt += count;
  return count;
}

void BulkChannel::Close() {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
  m_response.clear();
  m_readAt = 0;
  m_chunkAt = 0;
  m_headerEnd = std::string::npos;
  m_headerSearched = 0;
  m_received = false;
}

}  // namespace portbridge
