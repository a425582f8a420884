// This PC's identity towards the device: the connection type of the product, the destination-name
// prefix, the host ID, and the check that a text can be shown on the device's panel.
// Operations of ValueGetter; the rest of its services live beside this file.
#include <algorithm>
#include <cstdint>

#include "log/DebugTrace.h"
#include "platform/folders/Folders.h"
#include "settings/ValueGetter.h"

namespace {

// One UTF-8 character starting at text[pos]: its code point and length. False for a malformed
// sequence (bad lead byte, missing or bad continuation, overlong form, surrogate, beyond U+10FFFF).
bool DecodeUtf8(const std::string& text, size_t pos, std::uint32_t& codePoint, size_t& length) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(pos);
  if (lead < 0x80) {
    codePoint = lead;
    length = 1;
    return true;
  }
  std::uint32_t min;
  if ((lead & 0xE0) == 0xC0) {
    codePoint = lead & 0x1F, length = 2, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    codePoint = lead & 0x0F, length = 3, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    codePoint = lead & 0x07, length = 4, min = 0x10000;
  } else {
    return false;
  }
  if (pos + length > text.size()) return false;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) return false;
    codePoint = (codePoint << 6) | (byte(pos + i) & 0x3F);
  }
  if (codePoint < min || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return false;
  return true;
}

struct Range {
  std::uint32_t nFirst;
  std::uint32_t nLast;
};

// Characters the device's panel can show.
constexpr Range kValidRanges[] = {
    {0x20, 0x23},   {0x25, 0x3B},   {0x3D, 0x3D},     {0x3F, 0x7A},   {0x7E, 0x7E},   {0xA1, 0xA1},
    {0xA3, 0xA4},   {0xA6, 0xA6},   {0xA8, 0xAB},     {0xAE, 0xB1},   {0xB4, 0xB4},   {0xB7, 0xB8},
    {0xBA, 0xBB},   {0xBF, 0xF6},   {0xF8, 0xFF},     {0x102, 0x102}, {0x104, 0x104}, {0x106, 0x106},
    {0x10C, 0x10C}, {0x10E, 0x10E}, {0x110, 0x110},   {0x118, 0x118}, {0x11A, 0x11A}, {0x11E, 0x11E},
    {0x130, 0x130}, {0x141, 0x141}, {0x143, 0x143},   {0x147, 0x147}, {0x150, 0x150}, {0x152, 0x152},
    {0x158, 0x158}, {0x15A, 0x15A}, {0x15E, 0x15E},   {0x160, 0x160}, {0x162, 0x162}, {0x164, 0x164},
    {0x16E, 0x16E}, {0x170, 0x170}, {0x179, 0x179},   {0x17B, 0x17B}, {0x17D, 0x17D}, {0x401, 0x401},
    {0x405, 0x408}, {0x410, 0x42F}, {0x2190, 0x2191},
};

// Characters inside the ranges that the device's list protocol cannot carry.
constexpr std::uint32_t kForbidden[] = {0x22, 0x25, 0x26, 0x3C, 0x3E, 0x5E, 0x2190, 0x2192};

bool IsValidUnit(std::uint32_t unit) {
  if (std::find(std::begin(kForbidden), std::end(kForbidden), unit) != std::end(kForbidden)) return false;
  return std::any_of(std::begin(kValidRanges), std::end(kValidRanges),
                     [unit](const Range& r) { return unit >= r.nFirst && unit <= r.nLast; });
}

// The first count characters (not bytes) of a UTF-8 text; a malformed byte counts as one character.
std::string FirstCharacters(const std::string& text, size_t count) {
  size_t pos = 0;
  for (size_t n = 0; n < count && pos < text.size(); ++n) {
    std::uint32_t codePoint = 0;
    size_t length = 1;
    if (!DecodeUtf8(text, pos, codePoint, length)) length = 1;
    pos += length;
  }
  return text.substr(0, pos);
}

// The computer name, or an empty text with the numbered error line.
std::string ComputerName(DebugTrace& trace, int place) {
  char buffer[260];
  DWORD size = sizeof buffer;
  if (!GetComputerNameA(buffer, &size)) {
    trace.Error(DebugTrace::Numbered(place, "Getting computer name failed"));
    return std::string();
  }
  return std::string(buffer, std::min<size_t>(size, sizeof buffer - 1));
}

void RemoveAll(std::string& text, const std::string& what) {
  if (what.empty()) return;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos))
    text.erase(pos, what.size());
}

}  // namespace

bool ValueGetter::FindInvalidChar(const std::string& text, std::string& invalid) {
  DebugTrace trace("FindInvalidChar", __FILE__);
  for (size_t pos = 0; pos < text.size();) {
    std::uint32_t codePoint = 0;
    size_t length = 1;
    if (!DecodeUtf8(text, pos, codePoint, length)) {
      invalid.assign(1, text[pos]);
      return true;
    }
    if (!IsValidUnit(codePoint)) {
      invalid = text.substr(pos, length);
      return true;
    }
    pos += length;
  }
  return false;
}

bool ValueGetter::IsNetworked() {
  DebugTrace trace("IsNetworked", __FILE__);
  std::string type = GetProductPortStr(settings::kPortConnectionType);
  if (type == "Direct") return false;
  if (type == "Network") return true;
  trace.ErrorFormat("HKLM product Connection Type unknown (%s), defaulting to direct", type);
  return false;
}

void ValueGetter::GetNetworkPrefix(std::string& prefix) {
  DebugTrace trace("GetNetworkPrefix", __FILE__);
  if (!IsNetworked()) {
    prefix.clear();
    SetMainStr(settings::kMainDestPrefix.pszName, prefix, MissingMainKey::kCreate);
    return;
  }
  prefix = GetMainStr(settings::kMainDestPrefix.pszName);
  if (!prefix.empty()) return;

  std::string name = ComputerName(trace, __LINE__);
  std::string invalid;
  while (FindInvalidChar(name, invalid)) RemoveAll(name, invalid);
  prefix = FirstCharacters(name, 4) + ":";
  SetMainStr(settings::kMainDestPrefix.pszName, prefix, MissingMainKey::kCreate);
}

void ValueGetter::DetermineUniquePcName(std::string& name) {
  DebugTrace trace("DetermineUniquePcName", __FILE__);
  name = GetMainStr(settings::kMainUniquePcName.pszName);
  if (!name.empty()) return;
  name = FirstCharacters(ComputerName(trace, __LINE__), 25);
  SetMainStr(settings::kMainUniquePcName.pszName, name, MissingMainKey::kCreate);
}
