#include "SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace devwatch {

namespace {

bool Address(const std::filesystem::path& path, sockaddr_un& addr) {
  addr = sockaddr_un{};
  addr.sun_family = AF_UNIX;
  if (path.string().size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.string().size() + 1);
  return true;
}

bool WaitFor(int fd, short events, int ms) {
  pollfd pfd{fd, events, 0};
  return poll(&pfd, 1, ms) > 0;
}

}  // namespace

SingleInstance::SingleInstance(std::filesystem::path runtimeFolder) : m_folder(std::move(runtimeFolder)) {}

SingleInstance::~SingleInstance() {
  if (m_nListenFd >= 0) {
    close(m_nListenFd);
    unlink((m_folder / "devwatch.sock").c_str());
  }
  if (m_nLockFd >= 0) close(m_nLockFd);  // releases the lock
}

bool SingleInstance::Claim(std::string& why) {
  if (m_nListenFd >= 0) return true;
  const auto lockPath = m_folder / "devwatch.lock";
  if (m_nLockFd >= 0) close(m_nLockFd);
  m_nLockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (m_nLockFd < 0) {
    why = "cannot open " + lockPath.string() + ": " + std::strerror(errno);
    return false;
  }
  if (flock(m_nLockFd, LOCK_EX | LOCK_NB) != 0) {
    why = "another DEVWATCH runs for this user";
    close(m_nLockFd);
    m_nLockFd = -1;
    return false;
  }
  const auto socketPath = m_folder / "devwatch.sock";
  sockaddr_un addr{};
  if (!Address(socketPath, addr)) {
    why = "socket path too long: " + socketPath.string();
    return false;
  }
  unlink(socketPath.c_str());
  m_nListenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (m_nListenFd < 0 || bind(m_nListenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(m_nListenFd, 8) != 0) {
    why = "cannot listen on " + socketPath.string() + ": " + std::strerror(errno);
    if (m_nListenFd >= 0) close(m_nListenFd);
    m_nListenFd = -1;
    close(m_nLockFd);  // let a later start try
    m_nLockFd = -1;
    return false;
  }
  return true;
}

bool SingleInstance::HandOver(const std::string& text, std::string& answer, std::string& why) {
  sockaddr_un addr{};
  if (!Address(m_folder / "devwatch.sock", addr)) {
    why = "socket path too long";
    return false;
  }
  // The instance may hold the lock but not listen yet: try for a little while.
  for (int attempt = 0; attempt < 50; ++attempt) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) break;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      const std::string line = text.substr(0, kMaxMessageBytes - 1) + "\n";
      const bool sent = send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
      answer.clear();
      // The instance answers between two looks at the device; a look is bounded (docs/devwatch.md).
      while (sent && answer.find('\n') == std::string::npos && answer.size() < kMaxMessageBytes &&
             WaitFor(fd, POLLIN, 15000)) {
        char buffer[512];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        answer.append(buffer, static_cast<std::size_t>(n));
      }
      close(fd);
      if (answer.find('\n') != std::string::npos) {
        answer.resize(answer.find('\n'));
        return true;
      }
      why = "the running DEVWATCH did not answer";
      return false;
    }
    close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
  }
  why = "cannot reach the running DEVWATCH";
  return false;
}

bool SingleInstance::ReadMessage(int fd, std::string& text) {
  ucred peer{};
  socklen_t length = sizeof peer;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != geteuid()) return false;
  text.clear();
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (text.find('\n') == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !WaitFor(fd, POLLIN, static_cast<int>(left.count()))) return false;
    char buffer[1024];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMaxMessageBytes) return false;
  }
  text.resize(text.find('\n'));
  return true;
}

void SingleInstance::Answer(int fd, const std::string& text) {
  const std::string line = text + "\n";
  send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace devwatch
