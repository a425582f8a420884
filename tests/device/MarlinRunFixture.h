// Whole runs of the real marlin3 against a loopback device: PublishTest runs marlin3 with the scratch
// registry and the scripted host; SimulatorRun adds the device simulator (tools/devsim) as a child.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "DeviceFixture.h"
#include "platform/module/Module.h"
#include "platform/resource/Resource.h"
#include "platform/text/Text.h"
#include "tests/common/QuietSpawn.h"
#include "tests/common/ResourceString.h"
#include "tests/common/SaneConfig.h"

extern char** environ;

namespace device_test {

using test_common::ResString;

class PublishTest : public DeviceFixture {
 protected:
  void SetUp() override {
    DeviceFixture::SetUp();
    test_common::ClearNexoraKeys();  // so marlin3's first run writes its defaults
    m_tmp = Scratch() / "tmp";
    fs::create_directories(m_tmp);
    fs::remove(m_tmp / "marlin3.log");
    m_record = Scratch() / "monitor.txt";
    fs::remove(m_record);
    m_mainKey = "SOFTWARE\\Nexora\\" + ResString(230);
  }

  // Runs marlin3 with the scratch registry; returns its log. A script answers its dialogs; what they
  // showed is left in m_transcript.
  std::string Run(const std::vector<std::string>& args, const std::string& script = "") {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::strncmp(*e, "MARLIN3_", 8) == 0 || std::strncmp(*e, "TMPDIR=", 7) == 0 ||
          std::strncmp(*e, "XDG_CONFIG_HOME=", 16) == 0)
        continue;
      env.emplace_back(*e);
    }
    // The session start of the monitor never reaches the real user's systemd or autostart folder: no
    // systemctl unless a test provides one, and the autostart entry in the scratch folder.
    auto provided = [this](const std::string& key) {
      for (const std::string& extra : m_extraEnv)
        if (extra.compare(0, key.size() + 1, key + "=") == 0) return true;
      return false;
    };
    if (!provided("MARLIN3_SYSTEMCTL"))
      env.push_back("MARLIN3_SYSTEMCTL=" + (Scratch() / "no-systemctl").string());
    if (!provided("XDG_CONFIG_HOME")) env.push_back("XDG_CONFIG_HOME=" + (Scratch() / "config").string());
    env.push_back("MARLIN3_REGISTRY_DIR=" + Scratch().string());
    env.push_back("TMPDIR=" + m_tmp.string() + "/");
    env.push_back("MARLIN3_UI=scripted");
    env.push_back("MARLIN3_INET_TIMEOUT_MS=2000");
    env.push_back("MARLIN3_PORTBRIDGE_TIMEOUT_MS=2000");
    env.push_back("M3_RECORD_FILE=" + m_record.string());
    for (const std::string& extra : m_extraEnv) env.push_back(extra);
    const fs::path scriptFile = Scratch() / "ui.script";
    const fs::path transcriptFile = Scratch() / "ui.transcript";
    fs::remove(transcriptFile);
    m_transcript.clear();
    if (!script.empty()) {
      std::ofstream(scriptFile) << script;
      env.push_back("MARLIN3_UI_SCRIPT=" + scriptFile.string());
      env.push_back("MARLIN3_UI_TRANSCRIPT=" + transcriptFile.string());
    }
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string exe = MARLIN3_BIN_DIR "/marlin3";
    std::vector<std::string> argText{exe};
    argText.insert(argText.end(), args.begin(), args.end());
    argText.push_back("/LogDebug");
    argText.push_back("2");
    std::vector<char*> argv;
    for (std::string& a : argText) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) {
      ADD_FAILURE() << "cannot start marlin3";
      return std::string();
    }
    // A hang fails this run instead of running into the suite's time-out.
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(180);
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "marlin3 did not end within 180 s";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!script.empty()) m_transcript = test_common::ReadFile(transcriptFile);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << m_transcript;
    std::string log = test_common::ReadFile(m_tmp / "marlin3.log");
    fs::remove(m_tmp / "marlin3.log");
    return log;
  }

  // The first run's defaults, this PC's host ID and the monitor's path.
  void Prepare() {
    Run({"/Task", "15"});
    test_common::SetString(HKEY_CURRENT_USER, m_mainKey, "UniquePcName", "PC7");
    test_common::SetString(HKEY_CURRENT_USER, m_mainKey, "ToolboxExe",
                           MARLIN3_BIN_DIR "/platform_arg_recorder");
    test_common::SetString(HKEY_CURRENT_USER, m_mainKey, "ToolboxId", "dev-1");
    test_common::SetDword(HKEY_CURRENT_USER, m_mainKey, "UsbWait", 20);
  }

  std::vector<std::string> Bodies() {
    std::vector<std::string> bodies;
    for (const std::string& request : m_server.Requests())
      if (request.compare(0, 5, "POST ") == 0) bodies.push_back(request.substr(request.find("\r\n\r\n") + 4));
    return bodies;
  }

  // The monitor is not waited for: give the recorder its moment to write.
  std::string WaitForRecord() {
    for (int i = 0; i < 250 && !fs::exists(m_record); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return test_common::ReadFile(m_record);
  }

  std::string Encoded(const std::string& text) { return DeviceTalk().UrlAndUtf8Encode(text); }

  fs::path m_tmp;
  fs::path m_record;
  std::string m_transcript;
  std::vector<std::string> m_extraEnv;  // more variables for marlin3 and what it starts
  std::string m_mainKey;
};

// The device simulator (tools/devsim) as a child: HTTP on port 80 of a loopback address of this test
// process and the USB-tunnel endpoint on a Unix socket; its list is written to a state file.
class SimulatorRun : public PublishTest {
 protected:
  void TearDown() override {
    StopSimulator();
    PublishTest::TearDown();
  }

  bool StartSimulator(const std::vector<std::string>& extra) {
    // Another test process may hold port 80 of the first address: the simulator then exits, try the next.
    for (int attempt = 0; attempt < 8; ++attempt) {
      if (StartSimulatorAt("127.78." + std::to_string(getpid() % 200 + 1) + "." + std::to_string(attempt + 1),
                           extra))
        return true;
    }
    return false;
  }

  bool StartSimulatorAt(const std::string& address, const std::vector<std::string>& extra) {
    StopSimulator();
    m_ready = Scratch() / "sim.ready";
    m_state = Scratch() / "sim.state";
    fs::remove(m_ready);
    m_simAddress = address;
    std::vector<std::string> args{MARLIN3_BIN_DIR "/marlin3-devsim",
                                  "--http",
                                  m_simAddress,
                                  "--usb",
                                  "unix:" + m_socket,
                                  "--ready-file",
                                  m_ready.string(),
                                  "--state-out",
                                  m_state.string(),
                                  "--log",
                                  (Scratch() / "sim.log").string(),
                                  "--lifetime",
                                  "120"};
    args.insert(args.end(), extra.begin(), extra.end());
    m_sim = test_common::SpawnQuietUntilReady(std::move(args), m_ready);
    if (m_sim == 0) return false;
    if (!fs::exists(m_ready)) return false;
    test_common::SetString(HKEY_LOCAL_MACHINE, test_common::kProductKey, "IP Address", m_simAddress);
    test_common::SetString(HKEY_LOCAL_MACHINE, test_common::kProductKey, "Port", "unix:" + m_socket);
    return true;
  }

  void StopSimulator() {
    if (m_sim <= 0) return;
    kill(m_sim, SIGTERM);
    int status = 0;
    waitpid(m_sim, &status, 0);
    m_sim = 0;
  }

  void Connect(bool usb) {
    test_common::SetString(HKEY_LOCAL_MACHINE, test_common::kProductKey, "Connection Type",
                           usb ? "Direct" : "Network");
  }

  // The simulator's list, one "ID^HostID^DeviceDisplay^ScanToType" a line, without the header line.
  std::vector<std::string> State() {
    std::vector<std::string> lines;
    std::istringstream in(test_common::ReadFile(m_state));
    for (std::string line; std::getline(in, line);)
      if (!line.empty() && line[0] != '#') lines.push_back(line);
    return lines;
  }

  pid_t m_sim = 0;
  fs::path m_ready;
  fs::path m_state;
  std::string m_simAddress;
};

}  // namespace device_test
