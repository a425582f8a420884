#include "EndpointAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/un.h>

#include <charconv>

namespace devsim {

namespace {

bool IsLoopback(const std::string& host) {
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  return host == "::1";
}

}  // namespace

bool EndpointAddress::Parse(const std::string& text, EndpointKind kind, EndpointAddress& spec, std::string& why) {
  spec = EndpointAddress();
  spec.kind = kind;
  std::string rest = text;
  if (rest.starts_with("unix:") || rest.starts_with("/")) {
    spec.bUnix = true;
    spec.strPath = rest.starts_with("unix:") ? rest.substr(5) : rest;
    if (spec.strPath.empty() || spec.strPath.size() >= sizeof(sockaddr_un::sun_path)) {
      why = "Unix socket path empty or too long: " + text;
      return false;
    }
    return true;
  }
  if (rest.starts_with("tcp:")) rest = rest.substr(4);
  // A bare number is a port of 127.0.0.1, as the USB channel library reads its "Port" value.
  if (!rest.empty() && rest.size() <= 5 && rest.find_first_not_of("0123456789") == std::string::npos) {
    rest = "127.0.0.1:" + rest;
  }
  std::string port;
  if (rest.starts_with("[")) {
    const std::size_t close = rest.find(']');
    if (close == std::string::npos) {
      why = "missing ] in " + text;
      return false;
    }
    spec.strHost = rest.substr(1, close - 1);
    if (close + 1 < rest.size()) {
      if (rest[close + 1] != ':') {
        why = "expected :PORT after ] in " + text;
        return false;
      }
      port = rest.substr(close + 2);
    }
  } else {
    const std::size_t colon = rest.rfind(':');
    spec.strHost = rest.substr(0, colon);
    if (colon != std::string::npos) port = rest.substr(colon + 1);
  }
  if (!port.empty()) {
    auto [ptr, ec] = std::from_chars(port.data(), port.data() + port.size(), spec.nPort);
    if (ec != std::errc() || ptr != port.data() + port.size() || spec.nPort < 0 || spec.nPort > 65535) {
      why = "bad port in " + text;
      return false;
    }
  }
  if (!IsLoopback(spec.strHost)) {
    why = "only numeric loopback addresses (127.0.0.0/8, ::1) are served: " + text;
    return false;
  }
  return true;
}

std::string EndpointAddress::Describe() const {
  if (bUnix) return "unix:" + strPath;
  if (strHost.find(':') != std::string::npos) return "[" + strHost + "]:" + std::to_string(nPort);
  return strHost + ":" + std::to_string(nPort);
}

}  // namespace devsim
