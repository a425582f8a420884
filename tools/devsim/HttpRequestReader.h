// Incremental reader of HTTP/1.1 requests from one connection's byte stream (RFC 9112 sections 2-6).
// Used by the simulator's server. Empty lines before a request line are skipped (RFC 9112 2.2): the
// program's USB requests end with CR LF pairs that are not counted in their Content-Length. Bodies are
// framed by Content-Length only; a chunked request body is refused. Limits bound every size read.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace devsim {

struct HttpRequest {
  std::string strMethod;
  std::string strTarget;  // path and query as sent
  std::vector<std::pair<std::string, std::string>> headers;
  std::string strBody;

  std::string Path() const;                           // target without the query
  std::string Query() const;                          // text after "?", empty when none
  std::string Header(const std::string& name) const;  // first value, name without regard to case
};

class HttpRequestReader {
 public:
  enum class Status { NeedMore, Ready, Bad };
  static constexpr std::size_t kMaxHeaderBytes = 16 * 1024;
  static constexpr std::size_t kMaxBodyBytes = 1024 * 1024;

  // Takes what it can from buffer (consumed bytes are erased). Ready fills request; Bad sets
  // ErrorStatus() (400, 413 or 501) and every later call stays Bad.
  Status Feed(std::string& buffer, HttpRequest& request);
  int ErrorStatus() const { return m_nError; }

 private:
  Status Fail(int status);
  bool m_bHaveHead = false;
  std::size_t m_nBodyLength = 0;
  HttpRequest m_pending;
  int m_nError = 0;
};

}  // namespace devsim
