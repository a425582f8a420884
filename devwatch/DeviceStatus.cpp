#include "DeviceStatus.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "HttpResponseParser.h"
#include "device/XmlShape.h"
#include "platform/inet/HttpText.h"
#include "platform/xmldom/XmlDom.h"

namespace devwatch {

namespace {

using Clock = std::chrono::steady_clock;

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 5 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool ToPort(const std::string& text, int& port) {
  if (!AllDigits(text)) return false;
  port = std::stoi(text);
  return port > 0 && port <= 65535;
}

// The host ID's query value: RFC 3986's unreserved characters but "~" stand as they are.
constexpr platform::inet::PercentStyle kQueryValue{
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._"};

int MsLeft(Clock::time_point end) {
  return static_cast<int>(std::max<long long>(
      0, std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count()));
}

// Connects without blocking past the deadline.
int ConnectTo(const DeviceAddress& address, Clock::time_point end, std::string& why) {
  sockaddr_storage storage{};
  socklen_t length = 0;
  int family = AF_UNIX;
  if (address.bUnix) {
    auto* addr = reinterpret_cast<sockaddr_un*>(&storage);
    addr->sun_family = AF_UNIX;
    if (address.strPath.size() >= sizeof addr->sun_path) {
      why = "socket path too long";
      return -1;
    }
    std::memcpy(addr->sun_path, address.strPath.c_str(), address.strPath.size() + 1);
    length = sizeof *addr;
  } else {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(address.nPort);
    if (getaddrinfo(address.strHost.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr) {
      why = "cannot resolve " + address.strHost;
      return -1;
    }
    std::memcpy(&storage, found->ai_addr, found->ai_addrlen);
    length = found->ai_addrlen;
    family = found->ai_family;
    freeaddrinfo(found);
  }
  const int fd = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    why = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  if (connect(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0) {
    if (errno != EINPROGRESS) {
      why = std::string("connect: ") + std::strerror(errno);
      close(fd);
      return -1;
    }
    pollfd pfd{fd, POLLOUT, 0};
    int error = 0;
    socklen_t size = sizeof error;
    if (poll(&pfd, 1, std::min(MsLeft(end), 2000)) <= 0 ||
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
      why = std::string("connect: ") + (error != 0 ? std::strerror(error) : "timed out");
      close(fd);
      return -1;
    }
  }
  return fd;
}

// Only the element's own text and CDATA: entity references are never followed, so an entity bomb in a
// hostile answer stays unexpanded.
std::string ChildText(xmlNode* node) {
  std::string text;
  for (xmlNode* child = node->children; child != nullptr; child = child->next) {
    if ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) &&
        child->content != nullptr) {
      text += reinterpret_cast<const char*>(child->content);
      if (text.size() > 4096) break;
    }
  }
  return text;
}

}  // namespace

bool DeviceAddress::Parse(const std::string& text, DeviceAddress& address) {
  address = DeviceAddress();
  if (text.starts_with("unix:")) {
    address.bUnix = true;
    address.strPath = text.substr(5);
    return !address.strPath.empty();
  }
  std::string rest = text.starts_with("tcp:") ? text.substr(4) : text;
  if (AllDigits(rest)) {
    address.strHost = "127.0.0.1";
    return ToPort(rest, address.nPort);
  }
  if (rest.starts_with("[")) {
    const std::size_t close = rest.find(']');
    if (close == std::string::npos) return false;
    address.strHost = rest.substr(1, close - 1);
    if (close + 1 == rest.size()) return !address.strHost.empty();
    return rest[close + 1] == ':' && ToPort(rest.substr(close + 2), address.nPort);
  }
  const std::size_t colon = rest.find(':');
  if (colon != std::string::npos && rest.find(':', colon + 1) == std::string::npos) {
    address.strHost = rest.substr(0, colon);
    return !address.strHost.empty() && ToPort(rest.substr(colon + 1), address.nPort);
  }
  address.strHost = rest;  // a bare IPv6 address or host: the web server's port 80
  return !rest.empty() && rest.find_first_of(" /?#") == std::string::npos;
}

bool DeviceStatus::ParseDocument(const std::string& xml, ScanRequestStatus& status, std::string& why) {
  status = ScanRequestStatus();
  XmlLimits limits;
  limits.nMaxBytes = kMaxBody;
  limits.nMaxNodes = 256;
  limits.nMaxDepth = 16;
  limits.nMaxAttributes = 16;
  std::string shape;
  if (!CheckXmlShape(xml, limits, shape)) {
    why = "the device's status document was refused before parsing: " + shape;
    return false;
  }
  // No network, no DTD loading, no entity substitution: the device's document needs none of them.
  xmlDoc* doc = xmlReadMemory(xml.data(), static_cast<int>(std::min(xml.size(), kMaxBody)), "status.xml",
                              nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (doc == nullptr) {
    const std::string& failure = platform::xmldom::XmlLibraryFailure();
    why = failure.empty() ? "the device's status document does not parse" : failure;
    return false;
  }
  xmlNode* root = xmlDocGetRootElement(doc);
  if (root == nullptr || xmlStrcmp(root->name, BAD_CAST "ScanToRequest") != 0) {
    xmlFreeDoc(doc);
    why = "the device's answer is not a ScanToRequest document";
    return false;
  }
  bool havePending = false;
  for (xmlNode* node = root->children; node != nullptr; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    const std::string name = reinterpret_cast<const char*>(node->name);
    const std::string text = ChildText(node);
    if (name == "Pending") {
      havePending = true;
      status.bPending = text == "1";
    } else if (name == "DestinationID") {
      int id = -1;
      auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
      if (error == std::errc() && end == text.data() + text.size()) status.nDestinationId = id;
    } else if (name == "HostID") {
      status.strHostId = text;
    } else if (name == "DeviceDisplay") {
      status.strDisplay = text;
    }
  }
  xmlFreeDoc(doc);
  if (!havePending) {
    why = "the status document has no Pending element";
    return false;
  }
  if (status.bPending && status.strDisplay.empty()) {
    why = "a pending request without a DeviceDisplay";
    return false;
  }
  return true;
}

bool DeviceStatus::Fetch(const std::string& devAddr, const std::string& hostId, ScanRequestStatus& status,
                         std::string& why, std::chrono::milliseconds limit) {
  DeviceAddress address;
  if (!DeviceAddress::Parse(devAddr, address)) {
    why = "DevAddr \"" + devAddr + "\" is not an address DEVWATCH can reach";
    return false;
  }
  const auto end = Clock::now() + limit;
  const int fd = ConnectTo(address, end, why);
  if (fd < 0) return false;
  const std::string request =
      std::string("GET ") + kPath + "?HostID=" + platform::inet::PercentEncode(hostId, kQueryValue) +
      " HTTP/1.1\r\nHost: " + (address.bUnix ? std::string("localhost") : address.strHost) +
      "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
  std::size_t sent = 0;
  std::string received;
  HttpResponse response;
  ResponseStatus state = ResponseStatus::Incomplete;
  bool closed = false;
  while (state == ResponseStatus::Incomplete) {
    const int left = MsLeft(end);
    if (left == 0) {
      why = "the device did not answer in time";
      break;
    }
    pollfd pfd{fd, static_cast<short>(sent < request.size() ? POLLOUT : POLLIN), 0};
    if (poll(&pfd, 1, left) <= 0) continue;
    if (sent < request.size()) {
      const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno != EAGAIN && errno != EINTR) {
        why = std::string("send: ") + std::strerror(errno);
        break;
      }
      if (n > 0) sent += static_cast<std::size_t>(n);
      continue;
    }
    char buffer[8192];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) closed = true;
    if (n > 0) received.append(buffer, static_cast<std::size_t>(n));
    if (received.size() > kMaxBody + 16384) {
      why = "the device's answer is larger than " + std::to_string(kMaxBody) + " bytes";
      break;
    }
    state = HttpResponseParser::Parse(received, closed, kMaxBody, response);
    if (state == ResponseStatus::Bad) why = "bad answer from the device: " + response.strWhy;
  }
  close(fd);
  if (state != ResponseStatus::Complete) return false;
  if (response.nStatus != 200) {
    why = "the device answered with status " + std::to_string(response.nStatus);
    return false;
  }
  return ParseDocument(response.strBody, status, why);
}

}  // namespace devwatch
