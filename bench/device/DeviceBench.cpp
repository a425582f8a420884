// Times GetList plus one Update of 10 names against the device simulator, over HTTP (port 80 of a
// loopback address; needs root or a user and network namespace) and over the USB channel (the
// simulator's Unix-socket endpoint through libDvPortBridge.so) with "UsbWait" at its default of 200 ms.
// Prints, per transport, the median and the largest time of a GetList + Update pair, and how much of it
// was the designed waits (the open retries and the "UsbWait" sleeps), so the rest is the program's own.
//
// Usage: bench_device [runs]
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "device/DeviceTalk.h"
#include "log/DebugTrace.h"
#include "platform/framework/Afx.h"
#include "platform/framework/WinApp.h"
#include "platform/module/Module.h"
#include "platform/registry/Registry.h"
#include "settings/ValueGetter.h"

extern char** environ;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

class TimedDeviceTalk : public DeviceTalk {
 public:
  double waitedMs = 0;

 protected:
  void Pause(DWORD milliseconds) override {
    auto start = Clock::now();
    DeviceTalk::Pause(milliseconds);
    waitedMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }
};

void SetProduct(const char* name, const std::string& value) {
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nexora\\NX_Pressline_M10_M12_M15_M30\\Port", 0, nullptr, 0,
                  KEY_WRITE, nullptr, &key, nullptr);
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  char pattern[] = "/tmp/m3devbench.XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const fs::path scratch = pattern;
  setenv("MARLIN3_REGISTRY_DIR", scratch.c_str(), 1);
  DebugTrace::ResetForTest();
  { DebugTrace open("bench", __FILE__, (scratch / "bench.log").c_str()); }

  HMODULE resources = LoadLibraryA("marlin3.dll");
  AfxSetResourceHandle(resources);
  CWinApp app("marlin3");
  std::string title;
  if (AfxLoadString(230, title)) app.SetAppName(title);
  app.SetRegistryKey("Nexora");
  ValueGetter("").SetMainStr("UniquePcName", "BENCHPC", MissingMainKey::kCreate);

  const std::string address = "127.79." + std::to_string(getpid() % 200 + 1) + ".1";
  const std::string socket = (scratch / "usb.sock").string();
  const std::string ready = (scratch / "ready").string();
  std::string sim = platform::module::ExecutableFolder() + "marlin3-devsim";
  std::vector<std::string> args{sim,
                                "--http",
                                address,
                                "--usb",
                                "unix:" + socket,
                                "--ready-file",
                                ready,
                                "--log",
                                (scratch / "sim.log").string(),
                                "--lifetime",
                                "600"};
  std::vector<char*> argvSim;
  for (std::string& a : args) argvSim.push_back(a.data());
  argvSim.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, sim.c_str(), nullptr, nullptr, argvSim.data(), environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", sim.c_str());
    return 1;
  }
  for (int i = 0; i < 250 && !fs::exists(ready); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

  std::vector<std::string> names;
  for (int i = 1; i <= 10; ++i) names.push_back("Bench destination " + std::to_string(i));
  SetProduct("IP Address", address);
  SetProduct("Port", "unix:" + socket);

  int status = 0;
  for (const char* connection : {"Network", "Direct"}) {
    SetProduct("Connection Type", connection);
    std::vector<double> totals, waits;
    bool ok = true;
    for (int run = 0; run < runs; ++run) {
      TimedDeviceTalk device;
      std::vector<std::string> thisPc, otherPcs;
      auto start = Clock::now();
      ok = device.GetList(thisPc, otherPcs) && device.Update(&names, run % 2 == 0) && ok;
      totals.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      waits.push_back(device.waitedMs);
    }
    double median = Median(totals);
    double waited = Median(waits);
    std::printf(
        "%-7s GetList + Update(10 names): median %.1f ms, max %.1f ms; designed waits %.1f ms, rest %.2f "
        "ms%s\n",
        std::string(connection) == "Network" ? "http" : "usb", median,
        *std::max_element(totals.begin(), totals.end()), waited, median - waited, ok ? "" : " (FAILED)");
    if (!ok) status = 1;
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  fs::remove_all(scratch);
  return status;
}
