// What the mail tests share: a scratch home per test program (XDG folders, the profile, the message
// store), a real loopback SMTP server (smtp_server.py on aiosmtpd) started and stopped per test, the
// message inspector (inspect_message.py on Python's email package), a test certificate made with
// openssl, and the log file of the program's own tracer.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/DebugTrace.h"

extern char** environ;

namespace mailtest {

namespace fs = std::filesystem;

inline std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteAll(const fs::path& path, const std::string& text, mode_t mode = 0600) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
  chmod(path.c_str(), mode);
}

// Runs a program and gives its standard output (standard error goes to the test's).
inline std::string RunCapture(const std::vector<std::string>& args, int* status = nullptr) {
  std::vector<char*> argv;
  std::vector<std::string> copy = args;
  for (auto& arg : copy) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return std::string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string out;
  if (spawned == 0) {
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(got));
    int code = 0;
    waitpid(pid, &code, 0);
    if (status != nullptr) *status = code;
  }
  close(fds[0]);
  return out;
}

inline std::string SourceFile(const std::string& name) {
  return std::string(MARLIN3_SOURCE_DIR) + "/tests/mail/" + name;
}

// The scratch home of this test program: XDG folders point into it, and it is removed at exit.
struct Scratch {
  fs::path root;
  Scratch() {
    char pattern[] = "/tmp/m3mailtest.XXXXXX";
    root = mkdtemp(pattern);
    setenv("HOME", root.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    setenv("XDG_DATA_DIRS", (root / "data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
    setenv("TMPDIR", root.c_str(), 1);
    // xdg-email picks the mail program of the scratch desktop (mimeapps.list below); with a display
    // named, it asks for the mailto: handler instead of a text browser. Nothing connects to it.
    setenv("DISPLAY", ":m3none", 1);
    for (const char* name : {"XDG_CURRENT_DESKTOP", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID", "MAILER",
                             "BROWSER", "WAYLAND_DISPLAY", "DESKTOP_SESSION", "MATE_DESKTOP_SESSION_ID"})
      unsetenv(name);
    fs::create_directories(root / "config/marlin3");
    fs::create_directories(root / "data/applications");
    WriteAll(root / "data/applications/m3recorder.desktop",
             "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + std::string(MARLIN3_PYTHON) + " " +
                 SourceFile("recorder.py") + " %u\nMimeType=x-scheme-handler/mailto;\n",
             0644);
    WriteAll(root / "config/mimeapps.list",
             "[Default Applications]\nx-scheme-handler/mailto=m3recorder.desktop\n", 0644);
    setenv("M3_RECORDER_OUT", (root / "recorder.txt").c_str(), 1);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

inline Scratch& TheScratch() {
  static Scratch scratch;
  return scratch;
}

// A test certificate for 127.0.0.1, made once per program.
inline void TestCertificate(fs::path& cert, fs::path& key) {
  cert = TheScratch().root / "cert.pem";
  key = TheScratch().root / "key.pem";
  if (fs::exists(cert)) return;
  RunCapture({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key.string(), "-out",
              cert.string(), "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
              "subjectAltName=IP:127.0.0.1"});
}

// A loopback SMTP server for one test.
class SmtpServer {
 public:
  explicit SmtpServer(const std::vector<std::string>& options = {}) {
    m_maildir = TheScratch().root / ("received-" + std::to_string(++Counter()));
    std::vector<std::string> args = {MARLIN3_PYTHON, SourceFile("smtp_server.py"), "--maildir",
                                     m_maildir.string()};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    m_stdin = in[1];
    std::string line;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    if (line.rfind("PORT ", 0) == 0) m_port = std::atoi(line.c_str() + 5);
  }
  ~SmtpServer() {
    if (m_stdin >= 0) close(m_stdin);
    if (m_pid > 0) {
      for (int i = 0; i < 200; ++i) {
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
  }
  int Port() const { return m_port; }
  // The delivered message files, oldest first.
  std::vector<fs::path> Messages() const {
    std::vector<fs::path> found;
    for (const char* sub : {"new", "cur"}) {
      std::error_code ec;
      for (const auto& entry : fs::directory_iterator(m_maildir / sub, ec)) found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
  }
  // "from rcpt,rcpt" lines of the envelopes the server accepted.
  std::string Envelopes() const { return ReadAll(m_maildir.parent_path() / "envelopes.txt"); }

 private:
  static int& Counter() {
    static int counter = 0;
    return counter;
  }
  fs::path m_maildir;
  pid_t m_pid = -1;
  int m_stdin = -1;
  int m_port = 0;
};

inline std::string Inspect(const fs::path& message, const std::vector<std::string>& sources = {}) {
  std::vector<std::string> args = {MARLIN3_PYTHON, SourceFile("inspect_message.py"), message.string()};
  args.insert(args.end(), sources.begin(), sources.end());
  return RunCapture(args);
}

inline fs::path ProfilePath() {
  return TheScratch().root / "config/marlin3/mail-profile.conf";
}
inline fs::path StoreRoot() {
  return TheScratch().root / "store";
}

// The scratch profile: the server on 127.0.0.1, a short timeout so failing servers end fast, more
// [smtp] lines, [addresses] lines, and the store folder (empty: the scratch store).
inline void WriteProfile(int port, const std::string& security = "none", const std::string& extraSmtp = "",
                         const std::string& addresses = "", const std::string& store = "") {
  std::string text =
      "[sender]\nname = Scan Desk\naddress = scanner@example.org\n\n[smtp]\nhost = 127.0.0.1\n";
  text += "port = " + std::to_string(port) + "\nsecurity = " + security + "\ntimeout = 2\n";
  text += extraSmtp;
  text += "\n[store]\nfolder = " + (store.empty() ? StoreRoot().string() : store) + "\n";
  if (!addresses.empty()) text += "\n[addresses]\n" + addresses;
  WriteAll(ProfilePath(), text);
}

inline void RemoveProfile() {
  std::error_code ec;
  fs::remove(ProfilePath(), ec);
}

inline std::size_t FilesIn(const fs::path& folder) {
  std::size_t count = 0;
  std::error_code ec;
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); ++it) ++count;
  return count;
}

// The program's log, fresh for each test.
class LogFile {
 public:
  LogFile() {
    m_path = TheScratch().root / "marlin3.log";
    DebugTrace::ResetForTest();
    std::error_code ec;
    fs::remove(m_path, ec);
    DebugTrace::SetShowErrors(false);
    DebugTrace trace("Setup", __FILE__, m_path.c_str());
    DebugTrace::SetLevel(1);
  }
  std::string Text() const { return ReadAll(m_path); }
  std::size_t Count(const std::string& needle) const {
    const std::string text = Text();
    std::size_t count = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
    return count;
  }

 private:
  fs::path m_path;
};

inline fs::path MakeFile(const std::string& name, std::size_t size, unsigned seed) {
  const fs::path path = TheScratch().root / "files" / name;
  fs::create_directories(path.parent_path());
  std::string bytes(size, '\0');
  unsigned state = seed;
  for (auto& b : bytes) {
    state = state * 1103515245u + 12345u;
    b = static_cast<char>(state >> 16);
  }
  WriteAll(path, bytes, 0644);
  return path;
}

}  // namespace mailtest
