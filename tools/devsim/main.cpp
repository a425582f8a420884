// marlin3-devsim: a stand-in for the device's embedded web server, for tests and demonstrations.
// Serves the destination list and its update form over loopback HTTP and over USB-tunnel endpoints,
// with faults chosen on the command line or through "/sim/" control requests; docs/device-simulator.md.
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "DestinationList.h"
#include "FaultPlan.h"
#include "SimServer.h"

namespace {

const char kUsage[] =
    "usage: marlin3-devsim [options]\n"
    "  --http ADDR[:PORT]      device web server over HTTP (numeric loopback; port 80 by default)\n"
    "  --usb ENDPOINT          USB-tunnel endpoint: HOST:PORT, tcp:HOST:PORT, unix:PATH or /PATH\n"
    "  --control ENDPOINT      endpoint for /sim/ control requests only (they work on every endpoint)\n"
    "  --slots N               destination slots, 1..1000 (30)\n"
    "  --seed FILE             destinations, one ID^HostID^DeviceDisplay^ScanToType a line\n"
    "  --entry ID^HOST^NAME[^TYPE]  one destination (repeatable)\n"
    "  --fault SPEC            fault plan, e.g. on=list,times=1,chunk=7 (repeatable)\n"
    "  --chunk N               chunk size of bodies (1024)\n"
    "  --refuse N              reset the first N device connections\n"
    "  --listen-delay MS       open the device endpoints only after MS ms\n"
    "  --panel DEST[@MS]       a scan request at the panel for destination ID or name, after MS ms\n"
    "  --state-out FILE        the list written here after every change and at the end\n"
    "  --ready-file FILE       written with the endpoints once they listen\n"
    "  --log FILE              log file (standard error by default)\n"
    "  --lifetime SECONDS      stop after this long, 1..86400 (600)\n"
    "  --loopback-up           bring the loopback interface up (in a network namespace of its own)\n";

bool ToInt(const char* text, int low, int high, int& out) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
  out = static_cast<int>(value);
  return true;
}

// In a network namespace of its own (unshare -rn) the loopback interface starts down.
bool LoopbackUp(std::string& why) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  if (ok && (request.ifr_flags & IFF_UP) == 0) {
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    ok = ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  }
  if (!ok) why = std::string("cannot bring the loopback interface up: ") + std::strerror(errno);
  if (fd >= 0) close(fd);
  return ok;
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "marlin3-devsim: %s\n%s", why.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  devsim::SimOptions options;
  std::string seedText;
  std::string logPath;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (option == "--loopback-up") {
      std::string why;
      if (!LoopbackUp(why)) return Fail(why);
      continue;
    }
    if (i + 1 >= argc) return Fail("missing value after " + option);
    const char* value = argv[++i];
    std::string why;
    devsim::EndpointAddress spec;
    if (option == "--http" || option == "--usb" || option == "--control") {
      const auto kind = option == "--http"  ? devsim::EndpointKind::Http
                        : option == "--usb" ? devsim::EndpointKind::Usb
                                            : devsim::EndpointKind::Control;
      if (!devsim::EndpointAddress::Parse(value, kind, spec, why)) return Fail(why);
      options.endpoints.push_back(spec);
    } else if (option == "--slots") {
      if (!ToInt(value, 1, devsim::DestinationList::kMaxSlots, options.nSlots)) return Fail("bad --slots");
    } else if (option == "--seed") {
      std::ifstream in(value, std::ios::binary);
      if (!in) return Fail(std::string("cannot read ") + value);
      std::stringstream text;
      text << in.rdbuf();
      seedText += text.str() + "\n";
    } else if (option == "--entry") {
      seedText += std::string(value) + "\n";
    } else if (option == "--fault") {
      devsim::FaultPlan plan;
      if (!devsim::FaultPlan::Parse(value, plan, why)) return Fail(why);
      options.faults.push_back(plan);
    } else if (option == "--chunk") {
      int chunk = 0;
      if (!ToInt(value, 1, 1 << 20, chunk)) return Fail("bad --chunk");
      options.nChunk = static_cast<std::size_t>(chunk);
    } else if (option == "--refuse") {
      if (!ToInt(value, 0, 1000000, options.nRefuse)) return Fail("bad --refuse");
    } else if (option == "--listen-delay") {
      if (!ToInt(value, 0, 600000, options.nListenDelayMs)) return Fail("bad --listen-delay");
    } else if (option == "--panel") {
      std::string dest = value;
      int after = 0;
      const std::size_t at = dest.rfind('@');
      if (at != std::string::npos) {
        if (!ToInt(dest.c_str() + at + 1, 0, 86400000, after)) return Fail("bad --panel delay");
        dest.resize(at);
      }
      options.panel.emplace_back(after, dest);
    } else if (option == "--state-out") {
      options.strStateOut = value;
    } else if (option == "--ready-file") {
      options.strReadyFile = value;
    } else if (option == "--log") {
      logPath = value;
    } else if (option == "--lifetime") {
      if (!ToInt(value, 1, 86400, options.nLifetimeSec)) return Fail("bad --lifetime");
    } else {
      return Fail("unknown option " + option);
    }
  }
  devsim::DestinationList list(options.nSlots);
  std::string why;
  if (!list.Seed(seedText, why)) return Fail("seed: " + why);
  std::FILE* log = stderr;
  if (!logPath.empty()) {
    log = std::fopen(logPath.c_str(), "a");
    if (log == nullptr) return Fail("cannot open log " + logPath + ": " + std::strerror(errno));
  }
  int code = 0;
  {
    devsim::SimServer server(std::move(options), std::move(list), log);
    code = server.Run();
  }
  if (log != stderr) std::fclose(log);
  return code;
}
