// What the test programs that run against a scratch registry share: a scratch folder per test process
// (removed when the process ends) that holds this process's registry and that of the children it
// starts, and helpers that write, read and clear registry values the way the installer leaves them.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/registry/Registry.h"
#include "tests/common/TestFiles.h"

namespace test_common {

namespace fs = std::filesystem;

// Removes the scratch folder when the test process ends.
struct ScratchDir {
  fs::path path;
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

// Makes a fresh folder from pattern ("/tmp/name.XXXXXX") and points the registry layer, which resolves
// it once, at registrySub below it (the folder itself when empty).
inline fs::path NewScratch(std::string pattern, const fs::path& registrySub = fs::path()) {
  const char* made = mkdtemp(pattern.data());
  if (made == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  const fs::path dir = made;
  const fs::path registry = registrySub.empty() ? dir : dir / registrySub;
  fs::create_directories(registry);
  setenv("MARLIN3_REGISTRY_DIR", registry.c_str(), 1);
  return dir;
}

// Removes everything the program keeps under "Nexora", for the user and for the machine.
inline void ClearNexoraKeys() {
  RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Nexora");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nexora");
}

inline void SetString(HKEY root, const std::string& path, const std::string& name, const std::string& value,
                      DWORD type = REG_SZ) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

inline void SetDword(HKEY root, const std::string& path, const std::string& name, DWORD value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(
      RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
      ERROR_SUCCESS);
  RegCloseKey(key);
}

// The stored value as text, "dword:N" for a DWORD, "<absent>" when the key or value is missing.
inline std::string Stored(HKEY root, const std::string& path, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<absent>";
  DWORD type = 0;
  DWORD size = 0;
  std::string result = "<absent>";
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    std::string buffer(size + 1, '\0');
    RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (type == REG_DWORD) {
      DWORD value = 0;
      std::memcpy(&value, buffer.data(), sizeof value);
      result = "dword:" + std::to_string(value);
    } else {
      result = buffer.c_str();
    }
  }
  RegCloseKey(key);
  return result;
}

inline bool KeyExists(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// The product key the installer writes.
inline constexpr const char* kProductKey = "SOFTWARE\\Nexora\\NX_Pressline_M10_M12_M15_M30\\Port";

}  // namespace test_common
