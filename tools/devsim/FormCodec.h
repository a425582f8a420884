// Decoding of the device's form bodies and query strings (application/x-www-form-urlencoded:
// "+" is a blank, "%XX" a byte in either hex case, WHATWG URL "application/x-www-form-urlencoded").
// A "%" not followed by two hex digits is kept as it stands, as browsers' servers commonly do.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace devsim {

class FormCodec {
 public:
  static constexpr std::size_t kMaxFields = 256;

  static std::string PercentDecode(const std::string& text);
  // Splits "k1=v1&k2=v2" into decoded pairs; fields past kMaxFields are dropped.
  static std::vector<std::pair<std::string, std::string>> Parse(const std::string& body);
  // Value of the first field named key, decoded; empty when absent.
  static std::string Field(const std::string& body, const std::string& key);
};

}  // namespace devsim
