#include "ProductDevice.h"

#include <vector>

#include "platform/registry/Registry.h"
#include "settings/SettingsSchema.h"

namespace devwatch {

namespace {

std::string ReadString(HKEY key, const char* name) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ ||
      size == 0 || size > 4096) {
    return std::string();
  }
  std::vector<BYTE> data(size + 1, 0);
  if (RegQueryValueExA(key, name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return std::string();
  return std::string(reinterpret_cast<const char*>(data.data()));
}

}  // namespace

std::string ProductDevice::Address() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, settings::kProductKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return std::string();
  }
  const bool networked = ReadString(key, settings::kPortConnectionType.pszName) == "Network";
  std::string address =
      ReadString(key, networked ? settings::kPortIpAddress.pszName : settings::kPortPort.pszName);
  RegCloseKey(key);
  return address;
}

}  // namespace devwatch
