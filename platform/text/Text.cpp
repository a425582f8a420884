// UTF-8 decoding, upper-casing, comparison, truncating copy and wildcard matching (see Text.h).
#include "platform/text/Text.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace platform::text {

namespace {

struct UpperPair {
  uint32_t lower;
  uint32_t upper;
};

constexpr UpperPair kUpper[] = {
#include "platform/text/UpperTable.inc"
};

// A malformed byte becomes a lone-surrogate unit, which no valid character decodes to, so it compares
// and matches only with the same byte.
constexpr uint32_t kRawByteBase = 0xDC00;

std::vector<uint32_t> UpperUnits(std::string_view s) {
  std::vector<uint32_t> units;
  units.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    uint32_t cp = 0;
    const int n = DecodeUtf8Char(s.data() + i, s.size() - i, &cp);
    if (n == 0) {
      units.push_back(kRawByteBase + static_cast<unsigned char>(s[i]));
      ++i;
    } else {
      units.push_back(ToUpper(cp));
      i += static_cast<size_t>(n);
    }
  }
  return units;
}

bool MatchUnits(const std::vector<uint32_t>& p, const std::vector<uint32_t>& n) {
  size_t pi = 0, ni = 0, starP = std::string::npos, starN = 0;
  while (ni < n.size()) {
    if (pi < p.size() && p[pi] == '*') {
      starP = pi++;
      starN = ni;
    } else if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
      ++pi;
      ++ni;
    } else if (starP != std::string::npos) {
      pi = starP + 1;
      ni = ++starN;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

}  // namespace

int DecodeUtf8Char(const char* s, size_t len, uint32_t* codePoint) {
  if (!s || len == 0) return 0;
  const auto* u = reinterpret_cast<const unsigned char*>(s);
  const unsigned char b0 = u[0];
  uint32_t cp;
  int n;
  uint32_t min;
  if (b0 < 0x80) {
    if (codePoint) *codePoint = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    cp = b0 & 0x1F;
    n = 2;
    min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    cp = b0 & 0x0F;
    n = 3;
    min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    cp = b0 & 0x07;
    n = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (len < static_cast<size_t>(n)) return 0;
  for (int i = 1; i < n; ++i) {
    if ((u[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (u[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  if (codePoint) *codePoint = cp;
  return n;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

uint32_t ToUpper(uint32_t cp) {
  if (cp < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 0x20 : cp;
  const auto* end = kUpper + sizeof(kUpper) / sizeof(kUpper[0]);
  const auto* it =
      std::lower_bound(kUpper, end, cp, [](const UpperPair& p, uint32_t v) { return p.lower < v; });
  return (it != end && it->lower == cp) ? it->upper : cp;
}

std::string ToUpperUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : static_cast<char>(c);
      ++i;
      continue;
    }
    uint32_t cp = 0;
    const int n = DecodeUtf8Char(s.data() + i, s.size() - i, &cp);
    if (n == 0) {
      out += s[i++];
    } else {
      AppendUtf8(out, ToUpper(cp));
      i += static_cast<size_t>(n);
    }
  }
  return out;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  const std::string ua = ToUpperUtf8(a);
  const std::string ub = ToUpperUtf8(b);
  const int r = std::memcmp(ua.data(), ub.data(), std::min(ua.size(), ub.size()));
  if (r != 0) return r < 0 ? -1 : 1;
  if (ua.size() == ub.size()) return 0;
  return ua.size() < ub.size() ? -1 : 1;
}

bool CopyTruncated(char* dst, size_t size, std::string_view src) {
  if (!dst || size == 0) return src.empty();
  if (src.size() < size) {
    std::memcpy(dst, src.data(), src.size());
    dst[src.size()] = '\0';
    return true;
  }
  // Cut at the last character boundary that leaves room for the terminating zero.
  size_t cut = 0;
  size_t i = 0;
  while (i < src.size()) {
    const int n = DecodeUtf8Char(src.data() + i, src.size() - i, nullptr);
    const size_t step = n == 0 ? 1 : static_cast<size_t>(n);
    if (i + step > size - 1) break;
    i += step;
    cut = i;
  }
  std::memcpy(dst, src.data(), cut);
  dst[cut] = '\0';
  return false;
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*" || pattern == "*") return true;
  if (pattern.size() > 1 && pattern.back() == '.') {
    // "name." and "*." stand for names without an extension.
    if (name.find('.') != std::string_view::npos) return false;
    return MatchUnits(UpperUnits(pattern.substr(0, pattern.size() - 1)), UpperUnits(name));
  }
  const auto n = UpperUnits(name);
  if (MatchUnits(UpperUnits(pattern), n)) return true;
  // DOS rule: a trailing ".*" also matches a name without any extension ("a*.*" matches "abc").
  if (pattern.size() > 2 && pattern.substr(pattern.size() - 2) == ".*" &&
      name.find('.') == std::string_view::npos)
    return MatchUnits(UpperUnits(pattern.substr(0, pattern.size() - 2)), n);
  return false;
}

}  // namespace platform::text
