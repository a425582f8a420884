// A real network scanner that can be unplugged: saned in standalone mode on a loopback address of its
// own (127.x.y.z, so parallel tests never share the SANE port), serving SANE's test backend from its
// own SANE_CONFIG_DIR. The product's scanner reaches it through SANE's net backend. Kill() ends saned
// and the child serving the connection (one process group) at once, as a pulled cable would.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace scanjob_test {

class LoopbackSaned {
 public:
  static constexpr const char* kSaned = "/usr/sbin/saned";
  static constexpr int kPort = 6566;  // the net backend always dials the SANE port

  // folder receives dll.conf, saned.conf and test.conf (the given test backend options).
  LoopbackSaned(const std::filesystem::path& folder, const std::string& testConf) : m_folder(folder) {
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "dll.conf") << "test\n";
    std::ofstream(folder / "saned.conf") << "127.0.0.0/8\n";
    std::ofstream(folder / "test.conf") << testConf;
  }
  ~LoopbackSaned() { Kill(); }
  LoopbackSaned(const LoopbackSaned&) = delete;
  LoopbackSaned& operator=(const LoopbackSaned&) = delete;

  // Starts saned and waits until it accepts connections; false (with Error()) when it cannot.
  bool Start() {
    std::mt19937 random(static_cast<unsigned>(getpid()) ^
                        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 5; ++attempt) {
      m_address = "127." + std::to_string(64 + random() % 128) + "." + std::to_string(1 + random() % 254) +
                  "." + std::to_string(1 + random() % 254);
      if (Spawn() && WaitReady()) return true;
      Kill();
    }
    return false;
  }

  // Ends saned and every child it forked, and reaps saned.
  void Kill() {
    if (m_pid <= 0) return;
    kill(-m_pid, SIGKILL);  // saned leads its own session: the group is saned and its children
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
  }

  const std::string& Address() const { return m_address; }
  std::string Device() const { return "net:" + m_address + ":test:0"; }
  std::string Error() const { return m_strError + " " + ReadLog(); }

 private:
  bool Spawn() {
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    const std::string log = (m_folder / "saned.log").string();
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::vector<std::string> env = {"SANE_CONFIG_DIR=" + m_folder.string()};
    for (char** e = environ; *e != nullptr; ++e)
      if (std::string(*e).rfind("SANE_CONFIG_DIR=", 0) != 0) env.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string port = std::to_string(kPort);
    std::vector<std::string> args = {kSaned, "-l", "-e", "-d", "1", "-b", m_address, "-p", port};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&m_pid, kSaned, &files, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
      m_pid = -1;
      m_strError = "cannot start " + std::string(kSaned);
      return false;
    }
    return true;
  }

  bool WaitReady() {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kPort);
    inet_pton(AF_INET, m_address.c_str(), &to.sin_addr);
    for (int i = 0; i < 250; ++i) {
      if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {  // it could not bind: try another address
        m_pid = -1;
        m_strError = "saned ended at once on " + m_address;
        return false;
      }
      const int probe = socket(AF_INET, SOCK_STREAM, 0);
      const bool up = connect(probe, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
      close(probe);
      // A probe is one connection: saned serves it in a child that ends when the probe closes.
      if (up) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_strError = "saned did not listen on " + m_address;
    return false;
  }

  std::string ReadLog() const {
    std::ifstream in(m_folder / "saned.log");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::filesystem::path m_folder;
  std::string m_address;
  std::string m_strError;
  pid_t m_pid = -1;
};

}  // namespace scanjob_test
