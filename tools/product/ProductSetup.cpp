#include "tools/product/ProductSetup.h"

#include <arpa/inet.h>
#include <sane/sane.h>

#include <cctype>
#include <cstring>

#include "platform/registry/Registry.h"
#include "pxclass/PxTwainProps.h"
#include "toolkit/twain/SourceTable.h"

namespace product {

namespace {

constexpr size_t kMaxText = 255;

bool IsIpAddress(const std::string& text) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, text.c_str(), buffer) == 1 || inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

// RFC 1123 host name: labels of letters, digits and hyphens, not starting or ending with a hyphen.
bool IsHostname(const std::string& text) {
  if (text.empty() || text.size() > 253) return false;
  size_t label = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '.') {
      if (label == 0 || label > 63 || text[i - 1] == '-' || text[i - label] == '-') return false;
      label = 0;
    } else if (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '-') {
      ++label;
    } else {
      return false;
    }
  }
  return true;
}

bool Printable(const std::string& text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7f) return false;
  return true;
}

std::string Query(HKEY key, const char* name) {
  char buffer[kMaxText + 2] = {};
  DWORD size = sizeof buffer - 1;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return "";
  return buffer;
}

}  // namespace

std::string ProductSetup::Check(const Setup& s) {
  if (s.networked) {
    if (s.ipAddress.empty() && s.hostname.empty())
      return "a network connection needs an IP address or a host name";
    if (!s.ipAddress.empty() && !IsIpAddress(s.ipAddress))
      return "\"" + s.ipAddress + "\" is not an IP address";
    if (!s.hostname.empty() && !IsHostname(s.hostname)) return "\"" + s.hostname + "\" is not a host name";
  } else if (s.port.empty() || s.port.size() > kMaxText || !Printable(s.port)) {
    return "a direct connection needs a port (at most 255 printable characters)";
  }
  // The program takes only sources whose names hold "NX" or "nx", and a source name has 36 characters.
  if (s.twain.find("NX") == std::string::npos && s.twain.find("nx") == std::string::npos)
    return "the TWAIN name must contain \"NX\" or \"nx\"";
  if (s.twain.rfind("WIA", 0) == 0) return "the TWAIN name must not start with \"WIA\"";
  if (SourceName(s.twain).size() > PX_TWN_NAME_LEN || !Printable(s.twain))
    return "the TWAIN name is too long (at most " + std::to_string(PX_TWN_NAME_LEN - 6) + " characters)";
  if (s.device.size() > PX_TWN_DEVICE_LEN || !Printable(s.device))
    return "the SANE device name is not usable";
  return "";
}

SetupResult ProductSetup::Write(const Setup& s, std::string& error) {
  error = Check(s);
  if (!error.empty()) return SetupResult::kBadValue;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    error = "the product key could not be created (is the registry folder writable?)";
    return SetupResult::kRegistryFailed;
  }
  // A renamed source takes its table entry along, so no entry of the old name is left behind.
  const std::string oldTwain = Query(key, settings::kPortTwain.pszName);
  std::string device = s.device;
  if (!oldTwain.empty() && oldTwain != s.twain) {
    std::vector<pxtwain::SourceEntry> sources;
    pxtwain::SourceTable::Read(sources);
    for (const auto& source : sources)
      if (source.name == SourceName(oldTwain)) {
        if (device.empty()) device = source.device;
        pxtwain::SourceTable::Remove(source.name);
      }
  }
  auto set = [&](const char* name, const std::string& value) {
    if (value.empty()) {
      const LONG rc = RegDeleteValueA(key, name);
      return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
    }
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
  };
  const bool ok = set(settings::kPortConnectionType.pszName, s.networked ? "Network" : "Direct") &&
                  set(settings::kPortIpAddress.pszName, s.networked ? s.ipAddress : "") &&
                  set(settings::kPortHostname.pszName, s.networked ? s.hostname : "") &&
                  set(settings::kPortPort.pszName, s.networked ? "" : s.port) &&
                  set(settings::kPortTwain.pszName, s.twain);
  RegCloseKey(key);
  if (!ok) {
    error = "writing the product key failed";
    return SetupResult::kRegistryFailed;
  }
  if (!device.empty() &&
      pxtwain::SourceTable::Write({SourceName(s.twain), device}) != pxtwain::TableResult::kOk) {
    error = "writing the TWAIN source table failed";
    return SetupResult::kRegistryFailed;
  }
  RegFlushKey(HKEY_LOCAL_MACHINE);  // as an installer does: every later process reads these values
  return SetupResult::kOk;
}

SetupResult ProductSetup::Remove(std::string& error) {
  HKEY key = nullptr;
  std::string twain;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    twain = Query(key, settings::kPortTwain.pszName);
    RegCloseKey(key);
  }
  if (!twain.empty() && pxtwain::SourceTable::Remove(SourceName(twain)) == pxtwain::TableResult::kFailed) {
    error = "removing the TWAIN source failed";
    return SetupResult::kRegistryFailed;
  }
  const LONG rc = RegDeleteTreeA(HKEY_LOCAL_MACHINE, kProductKey);
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
    error = "removing the product key failed";
    return SetupResult::kRegistryFailed;
  }
  RegFlushKey(HKEY_LOCAL_MACHINE);
  return SetupResult::kOk;
}

std::string ProductSetup::Show() {
  std::string text = std::string("HKEY_LOCAL_MACHINE\\") + kProductKey + "\n";
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    for (const settings::StrValue& value :
         {settings::kPortConnectionType, settings::kPortIpAddress, settings::kPortHostname,
          settings::kPortPort, settings::kPortTwain}) {
      const char* name = value.pszName;
      std::string line = std::string("    ") + name;
      line.resize(22, ' ');
      text += line + Query(key, name) + "\n";
    }
    RegCloseKey(key);
  } else {
    text += "    (not set)\n";
  }
  text += std::string("HKEY_LOCAL_MACHINE\\") + pxtwain::kSourceTableKey + "\n";
  std::vector<pxtwain::SourceEntry> sources;
  pxtwain::SourceTable::Read(sources);
  if (sources.empty()) text += "    (no TWAIN sources installed)\n";
  for (const auto& source : sources) text += "    " + source.name + " -> " + source.device + "\n";
  return text;
}

bool ProductSetup::ListDevices(std::vector<Device>& devices) {
  devices.clear();
  SANE_Int version = 0;
  if (sane_init(&version, nullptr) != SANE_STATUS_GOOD) return false;
  const SANE_Device** list = nullptr;
  const bool ok = sane_get_devices(&list, SANE_FALSE) == SANE_STATUS_GOOD;
  for (const SANE_Device** d = list; ok && d != nullptr && *d != nullptr; ++d) {
    auto text = [](const char* s) { return std::string(s != nullptr ? s : ""); };
    devices.push_back({text((*d)->name), text((*d)->vendor), text((*d)->model), text((*d)->type)});
  }
  sane_exit();
  return ok;
}

}  // namespace product
