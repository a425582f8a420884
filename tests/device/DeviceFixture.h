// Shared set-up of the DeviceTalk tests: a scratch registry with the product key pointing at a loopback
// server (network) or a Unix socket (USB through the real libDvPortBridge.so), this PC's host ID "PC7",
// short transport time-outs, a log file per test, and destination documents built to order.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
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
  int deadlineMs = kOperationDeadlineMs;

 protected:
  int OperationDeadlineMs() const override { return deadlineMs; }
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

// A stand-in for the device's own list behind LoopbackServer (not the simulator: a few lines a test can
// seed and read): a GET answers its document, a POST applies the form the way the device does
// (AddScanToDest_N=HOST^NAME^FOLDER into the lowest free slot unless full or the name is longer than
// maxName; RemoveScanToDest_N=NAME) and answers 200 whether or not it took every name.
class KeptList {
 public:
  KeptList(int slots, std::vector<Dest> dests) : m_nSlots(slots), m_dests(std::move(dests)) {}
  std::size_t maxName = 256;
  std::string postAnswer = "<r/>";
  std::size_t chunk = 0;

  Reply Answer(const std::string& request) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (request.compare(0, 5, "POST ") != 0) {
      std::vector<Dest> sorted = m_dests;
      std::sort(sorted.begin(), sorted.end(), [](const Dest& a, const Dest& b) { return a.id < b.id; });
      return LoopbackServer::Ok(Document(m_nSlots, m_nSlots - static_cast<int>(m_dests.size()), sorted),
                                chunk, false);
    }
    std::string body = request.substr(request.find("\r\n\r\n") + 4);
    while (body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0) body.resize(body.size() - 2);
    std::size_t at = 0;
    while (at <= body.size()) {
      std::size_t amp = body.find('&', at);
      std::string entry = body.substr(at, amp == std::string::npos ? std::string::npos : amp - at);
      at = amp == std::string::npos ? body.size() + 1 : amp + 1;
      std::size_t eq = entry.find('=');
      if (eq == std::string::npos) continue;
      std::string value = Decode(entry.substr(eq + 1));
      if (entry.compare(0, 14, "AddScanToDest_") == 0) {
        std::size_t first = value.find('^');
        std::size_t last = value.rfind('^');
        if (first == std::string::npos || last == first) continue;
        std::string host = value.substr(0, first);
        std::string name = value.substr(first + 1, last - first - 1);
        if (name.size() > maxName || static_cast<int>(m_dests.size()) >= m_nSlots) continue;
        int id = 0;
        while (std::any_of(m_dests.begin(), m_dests.end(), [id](const Dest& d) { return d.id == id; })) ++id;
        m_dests.push_back({id, host, name});
      } else if (entry.compare(0, 17, "RemoveScanToDest_") == 0) {
        std::erase_if(m_dests, [&value](const Dest& d) { return d.display == value; });
      }
    }
    return LoopbackServer::Ok(postAnswer, chunk, false);
  }
  std::vector<Dest> Dests() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dests;
  }

 private:
  static std::string Decode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '+') {
        out += ' ';
      } else if (text[i] == '%' && i + 2 < text.size()) {
        out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        out += text[i];
      }
    }
    return out;
  }

  std::mutex m_mutex;
  int m_nSlots;
  std::vector<Dest> m_dests;
};

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
    values.SetMainStr("UniquePcName", "PC7", MissingMainKey::kCreate);
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

  // Network or direct mode against a KeptList.
  bool StartKept(const std::shared_ptr<KeptList>& list, bool usb) {
    auto handler = [list](const std::string& request) { return list->Answer(request); };
    return usb ? StartUsb(handler) : StartNetwork(handler);
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
