#include "FormCodec.h"

namespace devsim {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string FormCodec::PercentDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> FormCodec::Parse(const std::string& body) {
  std::vector<std::pair<std::string, std::string>> fields;
  std::size_t start = 0;
  while (start <= body.size() && fields.size() < kMaxFields) {
    std::size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    const std::string field = body.substr(start, end - start);
    if (!field.empty()) {
      const std::size_t eq = field.find('=');
      if (eq == std::string::npos) {
        fields.emplace_back(PercentDecode(field), std::string());
      } else {
        fields.emplace_back(PercentDecode(field.substr(0, eq)), PercentDecode(field.substr(eq + 1)));
      }
    }
    start = end + 1;
  }
  return fields;
}

std::string FormCodec::Field(const std::string& body, const std::string& key) {
  for (const auto& [name, value] : Parse(body)) {
    if (name == key) return value;
  }
  return std::string();
}

}  // namespace devsim
