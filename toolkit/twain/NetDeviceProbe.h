// Whether the saned behind a device of SANE's net backend ("net:HOST:device") still takes connections.
// SANE's net backend (1.2.1) reads an uninitialised reply when sane_start fails on a lost connection and
// crashes the process, so a feeder batch asks before it starts each page: a saned that has gone away
// (the scanner's host unplugged or shut down) ends the batch as an I/O failure instead. Devices of
// other backends, and net devices without a host in their name, always answer here.
#pragma once

#include <string>

namespace pxtwain {

class NetDeviceProbe {
 public:
  // The host part of a net device name ("[::1]" without its brackets); empty for other devices.
  static std::string HostOf(const std::string& device);
  // A TCP connection to the host's SANE port within timeoutMs, closed again at once.
  static bool Answers(const std::string& device, int timeoutMs);
};

}  // namespace pxtwain
