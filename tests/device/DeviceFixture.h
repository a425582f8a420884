// Shared set-up of the DeviceTalk tests: a scratch registry with the product key pointing at a loopback
// server (network) or a Unix socket (USB through the real libDvPortBridge.so), this PC's host ID "PC7",
// short transport time-outs, a log file per test, and destination documents built to order.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "LoopbackServer.h"
#include "device/DeviceTalk.h"
#include "log/DebugTrace.h"
#include "settings/ValueGetter.h"
#include "tests/common/FrameworkTest.h"
#include "tests/common/ScratchEnvironment.h"

namespace device_test {

namespace fs = std::filesystem;

inline const fs::path& Scratch() {
  static const test_common::ScratchDir scratch{test_common::NewScratch("/tmp/m3devtest.XXXXXX")};
  return scratch.path;
}

// DeviceTalk whose waits are counted instead of slept (the library still waits for its data).
class CountingDeviceTalk : public DeviceTalk {
 public:
  std::vector<DWORD> waits;
  std::function<void(std::size_t)> onPause;

 protected:
  void Pause(DWORD milliseconds) override {
    waits.push_back(milliseconds);
    if (onPause) onPause(waits.size());
  }
};

struct Dest {
  int id;  // -1: no DestinationID attribute
  std::string host;
  std::string display;
};

inline std::string Document(int maxDest, int availDest, const std::vector<Dest>& dests) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ScanToDestinations>\n  <MaxScanToDestinations>" +
      std::to_string(maxDest) + "</MaxScanToDestinations>\n  <ScanToDestinationList>\n";
  for (const Dest& dest : dests) {
    text += dest.id < 0 ? "    <ScanToDestination>"
                        : "    <ScanToDestination DestinationID=\"" + std::to_string(dest.id) + "\">";
    text += "<HostID>" + dest.host + "</HostID><DeviceDisplay>" + dest.display +
            "</DeviceDisplay><ScanToType>1</ScanToType></ScanToDestination>\n";
  }
  text += "  </ScanToDestinationList>\n  <AvailableScanToDestinations>" + std::to_string(availDest) +
          "</AvailableScanToDestinations>\n</ScanToDestinations>\n";
  return text;
}

class DeviceFixture : public test_common::FrameworkTest {
 protected:
  void SetUp() override {
    Scratch();
    test_common::ClearNexoraKeys();
    setenv("MARLIN3_INET_TIMEOUT_MS", "600", 1);
    setenv("MARLIN3_PORTBRIDGE_TIMEOUT_MS", "600", 1);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    m_log = Scratch() / (std::string(info->test_suite_name()) + "." + info->name() + ".log");
    StartTrace(m_log);
    LoadResources();
    StartApp();
    DebugTrace::SetLevel(2);
    ValueGetter values("");
    values.SetMainStr("UniquePcName", "PC7", true);
    values.SetMainInt("UsbWait", 0);
    ASSERT_EQ(values.GetMainStr("UniquePcName"), "PC7") << values.GetMainKeyPath();
    m_socket = (Scratch() / (std::string("dev-") + info->name())).string();
    if (m_socket.size() > 100) m_socket = (Scratch() / "dev.sock").string();
  }

  void TearDown() override {
    m_server.Stop();
    FrameworkTest::TearDown();
  }

  // Network mode against the loopback server on port 80 of a 127.77.x.y address of this test process.
  bool StartNetwork(LoopbackServer::Handler handler) {
    std::string base = "127.77." + std::to_string(getpid() % 200 + 1) + ".1";
    if (!m_server.StartTcp(base, 80, std::move(handler))) return false;
    test_common::SetString(HKEY_LOCAL_MACHINE, test_common::kProductKey, "Connection Type", "Network");
    test_common::SetString(HKEY_LOCAL_MACHINE, test_common::kProductKey, "IP Address", m_server.Address());
    return true;
  }

  // Direct mode: "Port" names the Unix socket the server listens on (started now unless told not to).
  bool StartUsb(LoopbackServer::Handler handler, bool listenNow = true) {
    test_common::SetString(HKEY_LOCAL_MACHINE, test_common::kProductKey, "Connection Type", "Direct");
    test_common::SetString(HKEY_LOCAL_MACHINE, test_common::kProductKey, "Port", "unix:" + m_socket);
    m_handler = std::move(handler);
    return !listenNow || m_server.StartUnix(m_socket, m_handler);
  }

  // Log lines since the last mark.
  void MarkLog() { m_mark = Log().size(); }
  std::string NewLog() const {
    std::string log = Log();
    return m_mark < log.size() ? log.substr(m_mark) : std::string();
  }
  bool Logged(const std::string& text) const { return NewLog().find(text) != std::string::npos; }

  LoopbackServer m_server;
  LoopbackServer::Handler m_handler;
  fs::path m_log;
  std::size_t m_mark = 0;
  std::string m_socket;
};

}  // namespace device_test
