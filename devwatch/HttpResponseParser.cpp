#include "HttpResponseParser.h"

#include <strings.h>

#include <charconv>
#include <cstring>
#include <vector>

#include "platform/inet/HttpText.h"

namespace devwatch {

namespace {

ResponseStatus Bad(HttpResponse& response, const char* why) {
  response.strWhy = why;
  return ResponseStatus::Bad;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// ASCII case only, as field names are (RFC 9110 5.1).
bool EqualsNoCase(std::string_view name, const char* wanted) {
  return name.size() == std::strlen(wanted) && strncasecmp(name.data(), wanted, name.size()) == 0;
}

}  // namespace

ResponseStatus HttpResponseParser::Parse(std::string_view bytes, bool peerClosed, std::size_t maxBody,
                                         HttpResponse& response) {
  response = HttpResponse();
  const std::size_t headEnd = bytes.find("\r\n\r\n");
  if (headEnd == std::string_view::npos) {
    if (bytes.size() > 16384) return Bad(response, "response head too long");
    return peerClosed ? Bad(response, "connection closed before the response head ended")
                      : ResponseStatus::Incomplete;
  }
  const std::string_view head = bytes.substr(0, headEnd);
  std::size_t lineEnd = head.find("\r\n");
  const std::string_view statusLine = head.substr(0, lineEnd);
  if (!statusLine.starts_with("HTTP/1.") || statusLine.size() < 12 || statusLine[8] != ' ') {
    return Bad(response, "no HTTP/1.x status line");
  }
  const std::string_view code = statusLine.substr(9, 3);
  auto [codeEnd, codeError] = std::from_chars(code.data(), code.data() + 3, response.nStatus);
  if (codeError != std::errc() || codeEnd != code.data() + 3 || response.nStatus < 100) {
    return Bad(response, "bad status code");
  }
  bool chunked = false;
  bool haveLength = false;
  std::size_t length = 0;
  std::vector<platform::inet::HttpField> fields;
  if (!platform::inet::SplitHeaderFields(head, fields)) return Bad(response, "header line without a colon");
  for (const auto& [name, value] : fields) {
    if (EqualsNoCase(name, "Transfer-Encoding")) {
      chunked = value.size() >= 7 && strncasecmp(value.data() + value.size() - 7, "chunked", 7) == 0;
    } else if (EqualsNoCase(name, "Content-Length")) {
      unsigned long long declared = 0;
      if (!platform::inet::ParseContentLength(value, declared)) return Bad(response, "bad Content-Length");
      if (haveLength && declared != length) return Bad(response, "two different Content-Length values");
      if (declared > maxBody) return Bad(response, "body larger than the limit");
      haveLength = true;
      length = static_cast<std::size_t>(declared);
    }
  }
  std::string_view rest = bytes.substr(headEnd + 4);
  if (chunked) {
    std::string body;
    for (;;) {
      const std::size_t eol = rest.find("\r\n");
      if (eol == std::string_view::npos) {
        if (rest.size() > 64) return Bad(response, "chunk-size line too long");
        return peerClosed ? Bad(response, "connection closed inside the chunked body")
                          : ResponseStatus::Incomplete;
      }
      std::string_view sizeText = rest.substr(0, eol);
      sizeText = sizeText.substr(0, sizeText.find(';'));  // chunk extensions are ignored
      sizeText = Trim(sizeText);
      std::size_t size = 0;
      auto [end, error] = std::from_chars(sizeText.data(), sizeText.data() + sizeText.size(), size, 16);
      if (sizeText.empty() || error != std::errc() || end != sizeText.data() + sizeText.size()) {
        return Bad(response, "bad chunk-size line");
      }
      if (size > maxBody - body.size()) return Bad(response, "body larger than the limit");
      if (size == 0) {
        // Trailer fields, if any, end with an empty line.
        if (rest.find("\r\n\r\n", eol) == std::string_view::npos) {
          return peerClosed ? Bad(response, "connection closed before the chunked body ended")
                            : ResponseStatus::Incomplete;
        }
        break;
      }
      if (rest.size() - eol - 2 < size + 2) {
        return peerClosed ? Bad(response, "connection closed inside a chunk") : ResponseStatus::Incomplete;
      }
      if (rest.substr(eol + 2 + size, 2) != "\r\n") return Bad(response, "chunk data not followed by CR LF");
      body.append(rest.substr(eol + 2, size));
      rest.remove_prefix(eol + 2 + size + 2);
    }
    response.strBody = std::move(body);
    return ResponseStatus::Complete;
  }
  if (haveLength) {
    if (rest.size() < length) {
      return peerClosed ? Bad(response, "connection closed before Content-Length bytes came")
                        : ResponseStatus::Incomplete;
    }
    response.strBody.assign(rest.substr(0, length));
    return ResponseStatus::Complete;
  }
  if (rest.size() > maxBody) return Bad(response, "body larger than the limit");
  if (!peerClosed) return ResponseStatus::Incomplete;
  response.strBody.assign(rest);
  return ResponseStatus::Complete;
}

}  // namespace devwatch
