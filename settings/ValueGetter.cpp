#include "settings/ValueGetter.h"

#include <cctype>
#include <utility>
#include <vector>

#include "log/DebugTrace.h"
#include "platform/framework/Afx.h"
#include "platform/framework/WinApp.h"
#include "settings/MyReg.h"

namespace {

constexpr UINT kIdsTitleScanReg = 230;

bool IsBlank(char c) {
  return c == ' ';
}

// Decimal conversion as the C library's atoi does it: leading white space and one sign, digits up to
// the first other character, 0 without digits. Values beyond the int range are clamped instead of
// overflowing.
int ToInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > limit) value = limit;
  }
  return static_cast<int>(negative ? -value : value);
}

// The quoted parts of a command line, as [open quote, closing quote] pairs. A double or single quote that
// starts a word opens one, and it runs to the next quote of the same kind: the reading of a quoted
// value. An option name inside one is part of that value, never an option of its own, so a value that
// came from outside (a device's destination name) cannot add options. A quote that is never closed
// opens nothing, as such a value is not read either.
std::vector<std::pair<size_t, size_t>> QuotedParts(const std::string& line) {
  std::vector<std::pair<size_t, size_t>> parts;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if ((c != '"' && c != '\'') || (i > 0 && !IsBlank(line[i - 1]))) continue;
    const size_t close = line.find(c, i + 1);
    if (close == std::string::npos) continue;
    parts.emplace_back(i, close);
    i = close;
  }
  return parts;
}

}  // namespace

ValueGetter::ValueGetter() : m_strPrefix("/") {
  CWinApp* app = AfxGetApp();
  if (app != nullptr && app->m_lpCmdLine != nullptr) m_strCmdLine = app->m_lpCmdLine;
}

ValueGetter::ValueGetter(const std::string& commandLine) : m_strCmdLine(commandLine), m_strPrefix("/") {}

ValueGetter::~ValueGetter() = default;

bool ValueGetter::GetFromCmdLine(const std::string& name, std::string& out, const std::string& defaultValue) {
  DebugTrace trace("GetFromCmdLine (str)", __FILE__);
  out = defaultValue;
  if (name.empty()) return false;

  const std::string& line = m_strCmdLine;
  const std::string option = m_strPrefix + name;
  size_t valueStart = std::string::npos;
  const auto quoted = QuotedParts(line);
  size_t part = 0;
  for (size_t pos = line.find(option); pos != std::string::npos; pos = line.find(option, pos + 1)) {
    while (part < quoted.size() && quoted[part].second < pos) ++part;
    if (part < quoted.size() && quoted[part].first < pos) {
      pos = quoted[part].second;  // inside a quoted value: go on after it
      continue;
    }
    size_t end = pos + option.size();
    const bool bAfterBlank = pos == 0 || IsBlank(line[pos - 1]);
    // Last thing on the line: present, no value. Windows did not look at the character before it,
    // but here "/" also separates path components, so an unquoted "/Dir /home/me/Res" would make
    // option "Res" present: the hit must start the line or follow a blank, as elsewhere.
    if (end == line.size()) {
      if (bAfterBlank) return true;
      continue;
    }
    if (bAfterBlank && IsBlank(line[end])) {
      valueStart = end;
      break;
    }
  }
  if (valueStart == std::string::npos) return false;

  size_t i = valueStart;
  while (i < line.size() && IsBlank(line[i])) ++i;

  if (i < line.size() && line.compare(i, m_strPrefix.size(), m_strPrefix) == 0) {
    // Another option follows, unless this is a path: a second "/" before the next blank.
    size_t blank = line.find(' ', i);
    size_t limit = blank == std::string::npos ? line.size() : blank;
    size_t second = line.find('/', i + 1);
    if (second == std::string::npos || second >= limit) return true;
  }

  if (i < line.size() && (line[i] == '"' || line[i] == '\'')) {
    size_t close = line.find(line[i], i + 1);
    if (close == std::string::npos) return false;
    out = line.substr(i + 1, close - i - 1);
    return true;
  }
  size_t blank = line.find(' ', i);
  out = line.substr(i, blank == std::string::npos ? std::string::npos : blank - i);
  return true;
}

bool ValueGetter::GetFromCmdLine(const std::string& name, int& out, int defaultValue, int min, int max) {
  DebugTrace trace("GetFromCmdLine (int)", __FILE__);
  std::string text;
  bool present = GetFromCmdLine(name, text, std::to_string(defaultValue));
  int value = ToInt(text);
  if (value < min || value > max) {
    out = defaultValue;
    return false;
  }
  out = value;
  return present;
}

bool ValueGetter::GetFromReg(const std::string& name, std::string& out, const std::string& qs,
                             const std::string& defaultValue) {
  DebugTrace trace("GetFromReg (str)", __FILE__);
  out = defaultValue;
  if (name.empty()) return false;
  if (qs.empty()) trace.Error("No Qs given");

  CWinApp* app = AfxGetApp();
  if (app == nullptr) return false;
  // "ERROR" is the sentinel for "absent", so a stored "ERROR" reads as absent too.
  std::string value = app->GetProfileString(qs.c_str(), name.c_str(), "ERROR");
  if (value == "ERROR") return false;
  out = value;
  return true;
}

bool ValueGetter::GetFromReg(const std::string& name, int& out, const std::string& qs, int defaultValue,
                             int min, int max) {
  DebugTrace trace("GetFromReg (int)", __FILE__);
  out = defaultValue;
  std::string text;
  bool found = GetFromReg(name, text, qs, std::to_string(defaultValue));
  int value = ToInt(text);
  if (!found || value < min || value > max) return false;
  out = value;
  return true;
}

bool ValueGetter::GetSetting(const std::string& name, std::string& out, const std::string& qs,
                             const std::string& defaultValue) {
  DebugTrace trace("GetSetting (string)", __FILE__);
  if (GetFromCmdLine(name, out, defaultValue)) return true;
  return GetFromReg(name, out, qs, defaultValue);
}

bool ValueGetter::GetSetting(const std::string& name, int& out, const std::string& qs, int defaultValue,
                             int min, int max) {
  DebugTrace trace("GetSetting (int)", __FILE__);
  if (GetFromCmdLine(name, out, defaultValue, min, max)) return true;
  return GetFromReg(name, out, qs, defaultValue, min, max);
}

bool ValueGetter::GetSetting(const std::string& name, bool& out, const std::string& qs, bool defaultValue) {
  DebugTrace trace("GetSetting (bool)", __FILE__);
  int value = 0;
  bool found = GetSetting(name, value, qs, defaultValue ? 1 : 0, 0, 1);
  out = value != 0;
  return found;
}

bool ValueGetter::SetSetting(const std::string& name, const std::string& value, const std::string& qs) {
  DebugTrace trace("SetSetting (string)", __FILE__);
  if (qs.empty()) trace.Error("No Qs given");
  // An empty entry name would write the key's default value; there is no such setting.
  if (name.empty()) return false;

  std::string given;
  if (GetFromCmdLine(name, given, "")) return false;  // a value given for one run is never stored

  CWinApp* app = AfxGetApp();
  if (app == nullptr) return false;
  return app->WriteProfileString(qs.c_str(), name.c_str(), value.c_str()) != FALSE;
}

bool ValueGetter::SetSetting(const std::string& name, int value, const std::string& qs) {
  DebugTrace trace("SetSetting (int)", __FILE__);
  if (name.empty()) return false;
  return SetSetting(name, std::to_string(value), qs);
}

bool ValueGetter::SetSetting(const std::string& name, bool value, const std::string& qs) {
  DebugTrace trace("SetSetting (bool)", __FILE__);
  return SetSetting(name, value ? 1 : 0, qs);
}

bool ValueGetter::GetSetting(const settings::StrValue& value, std::string& out, const std::string& qs) {
  return GetSetting(value.pszName, out, qs, value.pszDefault);
}

bool ValueGetter::GetSetting(const settings::IntValue& value, int& out, const std::string& qs) {
  return GetSetting(value.pszName, out, qs, value.nDefault, value.nMin, value.nMax);
}

bool ValueGetter::GetSetting(const settings::BoolValue& value, bool& out, const std::string& qs) {
  return GetSetting(value.pszName, out, qs, value.bDefault);
}

bool ValueGetter::GetFromCmdLine(const settings::StrValue& value, std::string& out) {
  return GetFromCmdLine(value.pszName, out, value.pszDefault);
}

bool ValueGetter::GetFromCmdLine(const settings::IntValue& value, int& out) {
  return GetFromCmdLine(value.pszName, out, value.nDefault, value.nMin, value.nMax);
}

bool ValueGetter::SetSetting(const settings::StrValue& value, const std::string& text,
                             const std::string& qs) {
  return SetSetting(value.pszName, text, qs);
}

bool ValueGetter::SetSetting(const settings::IntValue& value, int number, const std::string& qs) {
  return SetSetting(value.pszName, number, qs);
}

bool ValueGetter::SetSetting(const settings::BoolValue& value, bool flag, const std::string& qs) {
  return SetSetting(value.pszName, flag, qs);
}

std::string ValueGetter::GetMainKeyPath() {
  std::string title;
  if (!AfxLoadString(kIdsTitleScanReg, title) || title.empty()) {
    DebugTrace trace("GetMainKeyPath", __FILE__);
    trace.Error(TRACE_NUMBERED("LoadString failed: IDS_TITLE_SCAN_REG"));
    // Never fall back to the shared company key itself: use the application's own name.
    title = AfxGetAppName();
  }
  return std::string(settings::kMainKeyBase) + "\\" + title;
}

int ValueGetter::GetMainInt(const std::string& name, int defaultValue) {
  DebugTrace trace("GetMainInt", __FILE__);
  MyReg reg;
  if (!reg.Open(HKEY_CURRENT_USER, GetMainKeyPath(), KEY_READ, MyReg::kLogFailure)) return defaultValue;
  DWORD value = static_cast<DWORD>(defaultValue);
  if (!reg.Query(value, name)) return defaultValue;
  return static_cast<int>(value);
}

bool ValueGetter::SetMainInt(const std::string& name, int value) {
  DebugTrace trace("SetMainInt", __FILE__);
  MyReg reg;
  if (!reg.Open(HKEY_CURRENT_USER, GetMainKeyPath(), KEY_WRITE, MyReg::kLogFailure)) return false;
  return reg.Set(static_cast<DWORD>(value), name);
}

std::string ValueGetter::GetMainStr(const std::string& name) {
  DebugTrace trace("GetMainStr", __FILE__);
  std::string value;
  MyReg reg;
  if (reg.Open(HKEY_CURRENT_USER, GetMainKeyPath(), KEY_READ, MyReg::kQuiet)) reg.Query(value, name);
  return value;
}

bool ValueGetter::SetMainStr(const std::string& name, const std::string& value, MissingMainKey missing) {
  DebugTrace trace("SetMainStr", __FILE__);
  MyReg reg;
  std::string path = GetMainKeyPath();
  if (!reg.Open(HKEY_CURRENT_USER, path, KEY_WRITE, MyReg::kQuiet)) {
    if (missing != MissingMainKey::kCreate || !reg.Create(HKEY_CURRENT_USER, path, KEY_WRITE)) return false;
  }
  return reg.Set(value, name);
}

std::string ValueGetter::GetProductPortStr(const std::string& name) {
  DebugTrace trace("GetProductPortStr", __FILE__);
  std::string product;
  // The option has no default of its own: an empty one falls to the main value.
  GetFromCmdLine(settings::kMainProductToUse.pszName, product, "");
  if (product.empty()) product = GetMainStr(settings::kMainProductToUse.pszName);
  if (product.empty()) {
    product = settings::kKnownProduct;
    trace.Error("Couldn't find product key so defaulting to KYTE");
  }
  if (product != settings::kKnownProduct) trace.Error("Couldn't match product string so defaulting to KYTE");

  std::string value;
  MyReg reg;
  if (reg.Open(HKEY_LOCAL_MACHINE, settings::kProductKey, KEY_READ, MyReg::kQuiet)) reg.Query(value, name);
  return value;
}
