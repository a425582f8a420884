// Feeds arbitrary bytes as a message head to the HTTP field splitter and every field's value to the
// Content-Length reader: each field must lie inside one line of the input, trimmed.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/inet/HttpText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view head(reinterpret_cast<const char*>(data), size);
  std::vector<platform::inet::HttpField> fields;
  platform::inet::SplitHeaderFields(head, fields);
  for (const auto& field : fields) {
    const auto inside = [&](std::string_view part) {
      return part.empty() ||
             (part.data() >= head.data() && part.data() + part.size() <= head.data() + head.size());
    };
    if (!inside(field.name) || !inside(field.value) || field.name.find("\r\n") != std::string_view::npos ||
        field.value.find("\r\n") != std::string_view::npos || field.name.find(':') != std::string_view::npos)
      __builtin_trap();
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    if (!field.value.empty() && (blank(field.value.front()) || blank(field.value.back()))) __builtin_trap();
    unsigned long long length = 0;
    platform::inet::ParseContentLength(field.value, length);
  }
  return 0;
}
