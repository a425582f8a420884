#include "HttpRequestReader.h"

#include <strings.h>

#include <vector>

#include "platform/inet/HttpText.h"

namespace devsim {

std::string HttpRequest::Path() const {
  return strTarget.substr(0, strTarget.find('?'));
}

std::string HttpRequest::Query() const {
  const std::size_t q = strTarget.find('?');
  return q == std::string::npos ? std::string() : strTarget.substr(q + 1);
}

std::string HttpRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
  }
  return std::string();
}

HttpRequestReader::Status HttpRequestReader::Fail(int status) {
  m_nError = status;
  return Status::Bad;
}

HttpRequestReader::Status HttpRequestReader::Feed(std::string& buffer, HttpRequest& request) {
  if (m_nError != 0) return Status::Bad;
  if (!m_bHaveHead) {
    const std::size_t lead = buffer.find_first_not_of("\r\n");
    buffer.erase(0, lead == std::string::npos ? buffer.size() : lead);
    const std::size_t end = buffer.find("\r\n\r\n");
    if (end == std::string::npos) {
      return buffer.size() > kMaxHeaderBytes ? Fail(400) : Status::NeedMore;
    }
    if (end > kMaxHeaderBytes) return Fail(400);
    const std::string head = buffer.substr(0, end);
    buffer.erase(0, end + 4);
    m_pending = HttpRequest();
    const std::string requestLine = head.substr(0, head.find("\r\n"));
    const std::size_t sp1 = requestLine.find(' ');
    const std::size_t sp2 = sp1 == std::string::npos ? sp1 : requestLine.find(' ', sp1 + 1);
    if (sp2 == std::string::npos || sp1 == 0 || sp2 == sp1 + 1) return Fail(400);
    m_pending.strMethod = requestLine.substr(0, sp1);
    m_pending.strTarget = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    if (!requestLine.substr(sp2 + 1).starts_with("HTTP/1.")) return Fail(400);
    std::vector<platform::inet::HttpField> fields;
    if (!platform::inet::SplitHeaderFields(head, fields)) return Fail(400);
    for (const auto& [name, value] : fields) {
      if (name.empty()) return Fail(400);
      m_pending.headers.emplace_back(name, value);
    }
    if (!m_pending.Header("Transfer-Encoding").empty()) return Fail(501);
    m_nBodyLength = 0;
    const std::string length = m_pending.Header("Content-Length");
    if (!length.empty()) {
      unsigned long long value = 0;
      if (!platform::inet::ParseContentLength(length, value)) return Fail(400);
      if (value > kMaxBodyBytes) return Fail(413);
      m_nBodyLength = static_cast<std::size_t>(value);
    }
    m_bHaveHead = true;
  }
  if (buffer.size() < m_nBodyLength) return Status::NeedMore;
  m_pending.strBody = buffer.substr(0, m_nBodyLength);
  buffer.erase(0, m_nBodyLength);
  m_bHaveHead = false;
  request = std::move(m_pending);
  return Status::Ready;
}

}  // namespace devsim
