// Whole runs of the real programs as a user meets them: a scratch folder per test with its own registry,
// temporary folder and SANE set-up (SANE's test backend with a 300 mm glass, set up as the product's
// scanner by marlin3-product), the scripted ui host answering from script.txt, commands run from the
// folder's "cwd". Shared by the scan job and the Quick Set ui tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/SaneConfig.h"
#include "tests/common/Shell.h"
#include "tests/common/TestFiles.h"

namespace product_run {

namespace fs = std::filesystem;

using test_common::ReadFile;

using test_common::Output;
using test_common::Quote;

// The page count pdfinfo reads, -1 when it reads none.
inline int PdfPages(const fs::path& pdf) {
  const std::string info = Output("pdfinfo " + Quote(pdf.string()) + " 2>/dev/null");
  const size_t at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

inline bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The mail tests' SMTP server (aiosmtpd) on a loopback port, delivering into the Maildir `received`;
// it stops when `server` is closed with pclose. Port empty: it did not start.
struct SmtpServer {
  FILE* server = nullptr;
  std::string port;
};

inline SmtpServer StartSmtpServer(const fs::path& received, const fs::path& portFile) {
  SmtpServer smtp;
  smtp.server =
      popen(("/usr/bin/python3 " + Quote(std::string(MARLIN3_SOURCE_DIR) + "/tests/mail/smtp_server.py") +
             " --maildir " + Quote(received.string()) + " > " + Quote(portFile.string()))
                .c_str(),
            "w");
  if (smtp.server == nullptr) return smtp;
  for (int i = 0; i < 200 && smtp.port.empty(); ++i) {
    const std::string text = ReadFile(portFile);
    if (text.rfind("PORT ", 0) == 0 && text.find('\n') != std::string::npos)
      smtp.port = text.substr(5, text.find('\n') - 5);
    if (smtp.port.empty()) usleep(25000);
  }
  if (smtp.port.empty()) {
    pclose(smtp.server);
    smtp.server = nullptr;
  }
  return smtp;
}

struct RunResult {
  int exitCode = -1;
  std::string log;
  std::string transcript;
};

class ProductRun : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/m3run.XXXXXX";
    m_dir = mkdtemp(pattern);
    for (const char* sub : {"sane", "registry", "tmp", "out", "cwd"}) fs::create_directories(m_dir / sub);
    test_common::WriteSaneConfig(m_dir / "sane", test_common::kProductTestDevice);
    Shell(Bin("marlin3-product") + " direct --port 60000 --device test:0 >/dev/null");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }

  static std::string Bin(const char* name) { return std::string(MARLIN3_BIN_DIR) + "/" + name; }

  std::string Env() const {
    return "SANE_CONFIG_DIR=" + Quote((m_dir / "sane").string()) +
           " MARLIN3_REGISTRY_DIR=" + Quote((m_dir / "registry").string()) +
           " TMPDIR=" + Quote((m_dir / "tmp").string() + "/") + " MARLIN3_UI=scripted" +
           " MARLIN3_UI_SCRIPT=" + Quote((m_dir / "script.txt").string()) +
           " MARLIN3_UI_TRANSCRIPT=" + Quote((m_dir / "transcript.txt").string()) + " LANG=C LC_TELEPHONE=C" +
           // No session bus: a run's notification must not reach the desktop of whoever runs the tests.
           " DBUS_SESSION_BUS_ADDRESS= XDG_RUNTIME_DIR=" + Quote(m_dir.string()) + " " +
           (m_bNoLeakCheck ? std::string("ASAN_OPTIONS=\"${ASAN_OPTIONS}:detect_leaks=0\" ") : std::string());
  }

  // Every read of SANE's test device fails with an I/O error. Its reader thread is then cancelled,
  // which can leave the sanitizer's allocator locked for LeakSanitizer's exit check (a hang that
  // is not ours), so these runs skip the leak check; every other sanitizer check still applies.
  void FailReadsWithIoError() {
    std::ofstream(m_dir / "sane" / "test.conf", std::ios::app)
        << "read-status-code \"SANE_STATUS_IO_ERROR\"\n";
    m_bNoLeakCheck = true;
  }

  int Shell(const std::string& command) const {
    const int status =
        std::system(("cd " + Quote((m_dir / "cwd").string()) + " && " + Env() + command).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Standard output of a command run like Shell's.
  std::string Capture(const std::string& command) const {
    std::string out;
    if (FILE* pipe =
            popen(("cd " + Quote((m_dir / "cwd").string()) + " && " + Env() + command).c_str(), "r")) {
      char buf[4096];
      size_t n = 0;
      while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
      pclose(pipe);
    }
    return out;
  }

  // marlin3 with the arguments (each one argument) and the script for the scripted host; `env`, when
  // given, is "NAME=value ..." put before it on the shell's command line.
  RunResult RunMarlin(const std::vector<std::string>& args, const std::string& script,
                      const std::string& env = "") {
    std::ofstream(m_dir / "script.txt") << script;
    fs::remove(m_dir / "transcript.txt");
    // A hang (a scanner that never answers, a lock at exit) fails the run instead of the whole suite.
    std::string command = env + " timeout -k 5 180 " + Bin("marlin3");
    for (const std::string& a : args) command += " " + Quote(a);
    RunResult run;
    run.exitCode = Shell(command);
    run.log = ReadFile(m_dir / "tmp" / "marlin3.log");
    run.transcript = ReadFile(m_dir / "transcript.txt");
    return run;
  }

  fs::path Out(const std::string& name) const { return m_dir / "out" / name; }

  fs::path m_dir;
  bool m_bNoLeakCheck = false;
};

}  // namespace product_run
