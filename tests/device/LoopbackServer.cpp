#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace device_test {

namespace {

void SendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t sent = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent <= 0) return;
    done += static_cast<std::size_t>(sent);
  }
}

void Sleep(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Reads one request (headers and a Content-Length body); empty when the peer closed or stayed silent.
std::string ReadRequest(int fd, std::string& pending, const std::atomic<bool>& stop) {
  for (;;) {
    std::size_t end = pending.find("\r\n\r\n");
    if (end != std::string::npos) {
      std::size_t length = 0;
      std::string headers = pending.substr(0, end);
      for (const char* key : {"Content-Length:", "content-length:"}) {
        std::size_t at = headers.find(key);
        if (at != std::string::npos)
          length = std::strtoul(headers.c_str() + at + std::strlen(key), nullptr, 10);
      }
      if (pending.size() >= end + 4 + length) {
        std::string request = pending.substr(0, end + 4 + length);
        pending.erase(0, end + 4 + length);
        // The USB request texts end with extra blank lines: they belong to no request.
        while (pending.compare(0, 2, "\r\n") == 0) pending.erase(0, 2);
        return request;
      }
    }
    pollfd ready{fd, POLLIN, 0};
    int polled = poll(&ready, 1, 100);
    if (stop.load()) return std::string();
    if (polled == 0) continue;
    char buffer[8192];
    ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return std::string();
    pending.append(buffer, static_cast<std::size_t>(got));
    if (pending.size() > (4u << 20)) return std::string();
  }
}

}  // namespace

Reply LoopbackServer::Ok(const std::string& body, std::size_t chunkSize, bool close) {
  Reply reply;
  reply.close = close;
  if (chunkSize == 0) {
    reply.pieces.push_back({"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body,
                            0});
    return reply;
  }
  std::string text = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (std::size_t at = 0; at < body.size(); at += chunkSize) {
    std::string part = body.substr(at, chunkSize);
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", part.size());
    text += size + part + "\r\n";
  }
  text += "0\r\n\r\n";
  reply.pieces.push_back({text, 0});
  return reply;
}

bool LoopbackServer::StartTcp(const std::string& address, int port, Handler handler) {
  in_addr base{};
  if (inet_pton(AF_INET, address.c_str(), &base) != 1) return false;
  for (int attempt = 0; attempt < 20; ++attempt) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(static_cast<std::uint16_t>(port));
    in.sin_addr.s_addr = htonl(ntohl(base.s_addr) + static_cast<std::uint32_t>(attempt));
    if (bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) == 0 && listen(fd, 16) == 0) {
      socklen_t length = sizeof in;
      getsockname(fd, reinterpret_cast<sockaddr*>(&in), &length);
      char text[INET_ADDRSTRLEN];
      inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
      m_address = text;
      m_port = ntohs(in.sin_port);
      m_listen = fd;
      m_handler = std::move(handler);
      m_stop.store(false);
      m_requests.clear();
      m_connections.store(0);
      m_thread = std::thread([this] { Run(); });
      return true;
    }
    close(fd);
  }
  return false;
}

bool LoopbackServer::StartUnix(const std::string& path, Handler handler) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un un{};
  un.sun_family = AF_UNIX;
  if (path.size() >= sizeof un.sun_path) return false;
  std::memcpy(un.sun_path, path.c_str(), path.size() + 1);
  unlink(path.c_str());
  if (bind(fd, reinterpret_cast<sockaddr*>(&un), sizeof un) != 0 || listen(fd, 16) != 0) {
    close(fd);
    return false;
  }
  m_unixPath = path;
  m_listen = fd;
  m_handler = std::move(handler);
  m_stop.store(false);
  m_requests.clear();
  m_connections.store(0);
  m_thread = std::thread([this] { Run(); });
  return true;
}

void LoopbackServer::Stop() {
  m_stop.store(true);
  if (m_thread.joinable()) m_thread.join();
  if (m_listen >= 0) close(m_listen);
  m_listen = -1;
  if (!m_unixPath.empty()) unlink(m_unixPath.c_str());
  m_unixPath.clear();
}

std::vector<std::string> LoopbackServer::Requests() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_requests;
}

void LoopbackServer::Run() {
  while (!m_stop.load()) {
    pollfd ready{m_listen, POLLIN, 0};
    if (poll(&ready, 1, 50) != 1) continue;
    int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    m_connections.fetch_add(1);
    if (m_refuse.load() > 0) {
      m_refuse.fetch_sub(1);
      linger hard{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
      close(fd);
      continue;
    }
    Serve(fd);
  }
}

void LoopbackServer::Serve(int fd) {
  std::string pending;
  for (;;) {
    std::string request = ReadRequest(fd, pending, m_stop);
    if (request.empty()) break;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_requests.push_back(request);
    }
    Reply reply = m_handler(request);
    for (const Reply::Piece& piece : reply.pieces) {
      Sleep(piece.delayMs);
      SendAll(fd, piece.bytes);
    }
    const std::string filler(65536, 'x');
    for (std::size_t sent = 0; sent < reply.repeatBytes && !m_stop.load(); sent += filler.size()) {
      pollfd writable{fd, POLLOUT, 0};
      if (poll(&writable, 1, 2000) != 1) break;
      if (send(fd, filler.data(), filler.size(), MSG_NOSIGNAL) <= 0) break;
    }
    for (int waited = 0; waited < reply.stallMs && !m_stop.load(); waited += 20) Sleep(20);
    if (reply.reset) {
      linger hard{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    if (reply.close || reply.reset) break;
  }
  close(fd);
}

}  // namespace device_test
