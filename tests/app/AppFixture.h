// Shared set-up of the application tests: one scratch folder per test process, used as the registry
// directory of this process and of the marlin3 children it starts, and helpers to read and write
// registry values and resource strings.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/module/Module.h"
#include "platform/registry/Registry.h"
#include "platform/resource/Resource.h"

namespace app_test {

namespace fs = std::filesystem;

// Removes the scratch folder when the test process ends.
struct ScratchDir {
  fs::path path;
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

inline const fs::path& Scratch() {
  static const ScratchDir scratch = [] {
    char pattern[] = "/tmp/m3apptest.XXXXXX";
    fs::path dir = mkdtemp(pattern);
    setenv("MARLIN3_REGISTRY_DIR", dir.c_str(), 1);
    return ScratchDir{dir};
  }();
  return scratch.path;
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A string of the built resource library (the test fails when it is missing).
inline std::string ResString(UINT id) {
  static HMODULE module = LoadLibraryA("marlin3.dll");
  std::string text;
  EXPECT_NE(module, nullptr) << "libmarlin3.so not built";
  if (module != nullptr) platform::resource::LoadString(module, id, text);
  return text;
}

inline const char* kProductKey = "SOFTWARE\\Nexora\\NX_Pressline_M10_M12_M15_M30\\Port";

inline std::string MainKey() {
  return "SOFTWARE\\Nexora\\" + ResString(230);
}

inline void ClearRegistry() {
  Scratch();
  RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Nexora");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nexora");
}

inline void SetString(HKEY root, const std::string& path, const std::string& name, const std::string& value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
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

}  // namespace app_test
