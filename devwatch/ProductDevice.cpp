#include "ProductDevice.h"

#include <vector>

#include "platform/registry/Registry.h"

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
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nexora\\NX_Pressline_M10_M12_M15_M30\\Port", 0, KEY_READ,
                    &key) != ERROR_SUCCESS) {
    return std::string();
  }
  const bool networked = ReadString(key, "Connection Type") == "Network";
  std::string address = ReadString(key, networked ? "IP Address" : "Port");
  RegCloseKey(key);
  return address;
}

}  // namespace devwatch
