#include "platform/inet/HttpText.h"

#include <charconv>

namespace platform::inet {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string PercentEncode(std::string_view text, const PercentStyle& style) {
  static const char kUpper[] = "0123456789ABCDEF";
  static const char kLower[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (style.kept.find(ch) != std::string_view::npos) {
      out += ch;
    } else if (c == ' ' && style.blank == Blank::Plus) {
      out += '+';
    } else {
      const char* hex = c < 0x80 && style.asciiHex == AsciiHex::LowerCase ? kLower : kUpper;
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

bool SplitHeaderFields(std::string_view head, std::vector<HttpField>& fields) {
  std::size_t lineEnd = head.find("\r\n");
  while (lineEnd != std::string_view::npos) {
    const std::size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    const std::string_view line =
        head.substr(start, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - start);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    fields.push_back({line.substr(0, colon), Trim(line.substr(colon + 1))});
  }
  return true;
}

bool ParseContentLength(std::string_view value, unsigned long long& length) {
  if (value.empty()) return false;
  unsigned long long parsed = 0;
  auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), parsed);
  if (error != std::errc() || end != value.data() + value.size()) return false;
  length = parsed;
  return true;
}

}  // namespace platform::inet
