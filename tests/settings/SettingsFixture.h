// Shared set-up of the settings tests: a scratch registry directory for the process (the registry layer
// resolves it once), a log file per test, the framework application with the profile under "Nexora",
// and the resource library for the main key's name when it has been built.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "log/DebugTrace.h"
#include "platform/framework/Afx.h"
#include "platform/framework/WinApp.h"
#include "platform/module/Module.h"
#include "platform/registry/Registry.h"
#include "settings/ValueGetter.h"

namespace settings_test {

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
    char pattern[] = "/tmp/m3settingstest.XXXXXX";
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

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Scratch();
    RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Nexora");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nexora");
    DebugTrace::ResetForTest();
    m_logPath =
        Scratch() / (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".log");
    fs::remove(m_logPath);
    m_trace = std::make_unique<DebugTrace>("Test", "test.cpp", m_logPath.c_str());

    m_hRes = LoadLibraryA("marlin3.dll");
    AfxSetResourceHandle(m_hRes);
    m_app = std::make_unique<CWinApp>("marlin3");
    std::string title;
    if (AfxLoadString(230, title)) m_app->SetAppName(title);
    m_app->SetRegistryKey("Nexora");
    m_mainKey = ValueGetter("").GetMainKeyPath();
  }

  void TearDown() override {
    m_app.reset();
    AfxSetResourceHandle(nullptr);
    if (m_hRes != nullptr) FreeLibrary(m_hRes);
    m_trace.reset();
    DebugTrace::ResetForTest();
  }

  std::string Log() const { return ReadFile(m_logPath); }

  void SetString(HKEY root, const std::string& path, const std::string& name, const std::string& value,
                 DWORD type = REG_SZ) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  void SetDword(HKEY root, const std::string& path, const std::string& name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
        ERROR_SUCCESS);
    RegCloseKey(key);
  }

  // The stored value as text (REG_SZ) or decimal (REG_DWORD); "<absent>" when missing.
  static std::string Stored(HKEY root, const std::string& path, const std::string& name) {
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

  std::string QsKey(const std::string& qs) const { return m_mainKey + "\\" + qs; }

  fs::path m_logPath;
  std::unique_ptr<DebugTrace> m_trace;
  std::unique_ptr<CWinApp> m_app;
  HMODULE m_hRes = nullptr;
  std::string m_mainKey;
};

}  // namespace settings_test
