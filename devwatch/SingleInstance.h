// One DEVWATCH per user. The first start takes an exclusive lock on "devwatch.lock" in the runtime
// folder and listens on "devwatch.sock" there; a later start finds the lock taken, connects, hands its
// notification text over as one line, waits for the one-line answer, and ends. The lock (not the socket
// file) decides, so two starts at once cannot both become the instance, and a stale socket left by a
// killed instance is simply replaced.
#pragma once

#include <filesystem>
#include <string>

namespace devwatch {

class SingleInstance {
 public:
  static constexpr std::size_t kMaxMessageBytes = 4096;

  explicit SingleInstance(std::filesystem::path runtimeFolder);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // True when this process is now the instance (lock held, socket listening).
  bool Claim(std::string& why);
  // For a later start: gives text to the running instance; its answer ("OK ..." or "ERROR ...").
  bool HandOver(const std::string& text, std::string& answer, std::string& why);

  int ListenFd() const { return m_nListenFd; }
  // Reads one message from a connection the instance accepted (bounded, with a short time-out).
  static bool ReadMessage(int fd, std::string& text);
  static void Answer(int fd, const std::string& text);

 private:
  std::filesystem::path m_folder;
  int m_nLockFd = -1;
  int m_nListenFd = -1;
};

}  // namespace devwatch
