// Where the simulator listens: a numeric loopback address and port, or a Unix socket path, and which kind
// of endpoint it is (the device over HTTP, the device as a USB tunnel exposes it, or control only).
// Used by the simulator's command line and server. Only loopback addresses are accepted, so the
// simulator can never serve beyond this computer.
#pragma once

#include <string>

namespace devsim {

enum class EndpointKind { Http, Usb, Control };

struct EndpointAddress {
  EndpointKind kind = EndpointKind::Http;
  bool bUnix = false;
  std::string strHost;  // numeric loopback address
  int nPort = 80;
  std::string strPath;  // Unix socket path

  // "unix:PATH", "/PATH", "tcp:HOST:PORT", "HOST:PORT", "[V6]:PORT", "PORT" (127.0.0.1) or "HOST" (80).
  static bool Parse(const std::string& text, EndpointKind kind, EndpointAddress& spec, std::string& why);
  std::string Describe() const;
};

}  // namespace devsim
