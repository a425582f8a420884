#include "toolkit/twain/NetDeviceProbe.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace pxtwain {

std::string NetDeviceProbe::HostOf(const std::string& device) {
  const std::string prefix = "net:";
  if (device.compare(0, prefix.size(), prefix) != 0) return {};
  const std::string rest = device.substr(prefix.size());
  if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    return close == std::string::npos ? std::string() : rest.substr(1, close - 1);
  }
  const size_t colon = rest.find(':');
  return colon == std::string::npos ? std::string() : rest.substr(0, colon);
}

bool NetDeviceProbe::Answers(const std::string& device, int timeoutMs) {
  const std::string host = HostOf(device);
  if (host.empty()) return true;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), "sane-port", &hints, &found) != 0 &&
      getaddrinfo(host.c_str(), "6566", &hints, &found) != 0)
    return false;
  bool answered = false;
  for (addrinfo* a = found; a != nullptr && !answered; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
      answered = true;
    } else if (errno == EINPROGRESS) {
      pollfd wait{fd, POLLOUT, 0};
      int error = 0;
      socklen_t length = sizeof error;
      answered = poll(&wait, 1, timeoutMs) == 1 &&
                 getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    close(fd);
  }
  freeaddrinfo(found);
  return answered;
}

}  // namespace pxtwain
