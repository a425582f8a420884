// What the simulator and monitor tests share: starting a program with arguments (posix_spawn, no shell),
// waiting for a file it writes, and a raw socket client that reads with a deadline.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/TestFiles.h"

extern char** environ;

namespace simtest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using test_common::ReadFile;

inline fs::path ScratchDir(const char* name) {
  std::string pattern = std::string("/tmp/") + name + ".XXXXXX";
  const char* made = mkdtemp(pattern.data());
  return made ? fs::path(made) : fs::path();
}

// Waits until path exists and holds text (the programs write such files by rename, so whole).
inline bool WaitForFile(const fs::path& path, std::chrono::milliseconds limit = 5000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    std::error_code ec;
    if (fs::exists(path, ec) && fs::file_size(path, ec) > 0) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

class Child {
 public:
  Child() = default;
  explicit Child(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    Start(args, env);
  }
  ~Child() { Stop(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Start(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // env entries ("NAME=value") replace the inherited ones of the same name.
    std::vector<std::string> envText;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      const std::string name = entry.substr(0, entry.find('=') + 1);
      bool replaced = false;
      for (const auto& given : env) replaced = replaced || given.starts_with(name);
      if (!replaced) envText.push_back(entry);
    }
    for (const auto& e : env) envText.push_back(e);
    std::vector<char*> envp;
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    return posix_spawn(&m_pid, args[0].c_str(), nullptr, nullptr, argv.data(), envp.data()) == 0;
  }
  pid_t Pid() const { return m_pid; }
  // Exit code once it ended within limit; -1 if it is still running, 128+n when killed by signal n.
  int Wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (m_pid > 0) {
      int status = 0;
      const pid_t got = waitpid(m_pid, &status, WNOHANG);
      if (got == m_pid) {
        m_pid = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (std::chrono::steady_clock::now() >= end) return -1;
      std::this_thread::sleep_for(5ms);
    }
    return -1;
  }
  int Signal(int signal) { return m_pid > 0 ? kill(m_pid, signal) : -1; }
  void Stop() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    if (Wait(3000ms) == -1 && m_pid > 0) {
      kill(m_pid, SIGKILL);
      Wait(3000ms);
    }
  }

 private:
  pid_t m_pid = 0;
};

// "unix:PATH" or "HOST:PORT" as the simulator reports its endpoints.
inline int Connect(const std::string& endpoint) {
  if (endpoint.starts_with("unix:")) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, endpoint.c_str() + 5, sizeof addr.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  }
  const std::size_t colon = endpoint.rfind(':');
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(std::stoi(endpoint.substr(colon + 1))));
  inet_pton(AF_INET, endpoint.substr(0, colon).c_str(), &addr.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

inline bool SendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

struct ReadResult {
  std::string bytes;
  bool bClosed = false;  // the peer closed (or reset) the connection
};

// Reads until the peer closes, until `until` appears in what was read, or until quiet passes with nothing
// new.
inline ReadResult ReadUntil(int fd, const std::string& until, std::chrono::milliseconds quiet = 1500ms) {
  ReadResult result;
  for (;;) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, static_cast<int>(quiet.count())) <= 0) return result;
    char buffer[65536];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      result.bClosed = true;
      return result;
    }
    result.bytes.append(buffer, static_cast<std::size_t>(n));
    if (!until.empty() && result.bytes.find(until) != std::string::npos) return result;
  }
}

// One request on a fresh connection; reads until the last chunk or close.
inline ReadResult Exchange(const std::string& endpoint, const std::string& request,
                           const std::string& until = "\r\n0\r\n\r\n",
                           std::chrono::milliseconds quiet = 1500ms) {
  const int fd = Connect(endpoint);
  if (fd < 0) return ReadResult{"", true};
  SendAll(fd, request);
  ReadResult result = ReadUntil(fd, until, quiet);
  close(fd);
  return result;
}

// The body of a chunked response, or "" with ok false when the framing is broken.
inline std::string Dechunk(const std::string& response, bool& ok) {
  ok = false;
  std::size_t pos = response.find("\r\n\r\n");
  if (pos == std::string::npos) return "";
  pos += 4;
  std::string body;
  for (;;) {
    const std::size_t eol = response.find("\r\n", pos);
    if (eol == std::string::npos) return body;
    std::size_t size = 0;
    const std::string line = response.substr(pos, eol - pos);
    if (line.empty() || line.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return body;
    size = std::stoul(line, nullptr, 16);
    if (size == 0) {
      ok = true;
      return body;
    }
    if (eol + 2 + size + 2 > response.size() || response.compare(eol + 2 + size, 2, "\r\n") != 0) return body;
    body += response.substr(eol + 2, size);
    pos = eol + 2 + size + 2;
  }
}

}  // namespace simtest
