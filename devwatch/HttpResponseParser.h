// Reads one HTTP/1.1 response (RFC 9112: status line 4, fields 5, Content-Length 6.2, chunked 7.1,
// close-delimited 6.3) from the bytes received so far. Used by DEVWATCH's look at the device and by its
// fuzz target. Pure: no I/O. Sizes from the wire are checked against the caller's limit before use.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace devwatch {

enum class ResponseStatus { Incomplete, Complete, Bad };

struct HttpResponse {
  int nStatus = 0;
  std::string strBody;
  std::string strWhy;  // the reason when Bad
};

class HttpResponseParser {
 public:
  // bytes: everything received; peerClosed: the device closed the connection after them.
  static ResponseStatus Parse(std::string_view bytes, bool peerClosed, std::size_t maxBody,
                              HttpResponse& response);
};

}  // namespace devwatch
