// Shared set-up of the utilities' tests: one scratch folder per process holding the registry hives
// ($MARLIN3_REGISTRY_DIR, resolved once by the registry layer), the home folder with its documents
// folder, and a fresh temporary folder ($TMPDIR) and log file per test. The framework application
// keeps its profile under "Nexora", strings come from the built resource library, and the main key
// exists, as the first start of the program leaves it.
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

namespace utils_test {

namespace fs = std::filesystem;

inline const fs::path& Scratch() {
  static const fs::path scratch = [] {
    char pattern[] = "/tmp/m3utilstest.XXXXXX";
    fs::path dir = mkdtemp(pattern);
    fs::create_directories(dir / "reg");
    fs::create_directories(dir / "home/Documents");
    fs::create_directories(dir / "home/.config");
    setenv("MARLIN3_REGISTRY_DIR", (dir / "reg").c_str(), 1);
    setenv("HOME", (dir / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir / "home/.config").c_str(), 1);
    std::ofstream((dir / "home/.config/user-dirs.dirs").string())
        << "XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n";
    return dir;
  }();
  // The scratch folder goes when the process ends.
  static const struct Cleanup {
    ~Cleanup() {
      std::error_code ignored;
      fs::remove_all(scratch, ignored);
    }
  } cleanup;
  return scratch;
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void Touch(const fs::path& path, const std::string& content = std::string()) {
  std::ofstream(path.string(), std::ios::binary) << content;
}

class UtilsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Scratch();
    RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Nexora");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nexora");
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    m_dir = Scratch() / "case" / name;
    fs::remove_all(m_dir);
    fs::create_directories(m_dir / "tmp");
    setenv("TMPDIR", (m_dir / "tmp").c_str(), 1);

    DebugTrace::ResetForTest();
    m_logPath = m_dir / "test.log";
    m_trace = std::make_unique<DebugTrace>("Test", "test.cpp", m_logPath.c_str());

    m_hRes = LoadLibraryA("marlin3.dll");
    ASSERT_NE(m_hRes, nullptr) << "the resource library libmarlin3.so must be built beside the test";
    AfxSetResourceHandle(m_hRes);
    m_app = std::make_unique<CWinApp>("marlin3");
    std::string title;
    if (AfxLoadString(230, title)) m_app->SetAppName(title);
    m_app->SetRegistryKey("Nexora");
    m_mainKey = ValueGetter("").GetMainKeyPath();
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, m_mainKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  void TearDown() override {
    m_app.reset();
    AfxSetResourceHandle(nullptr);
    if (m_hRes != nullptr) FreeLibrary(m_hRes);
    m_trace.reset();
    DebugTrace::ResetForTest();
  }

  std::string Log() const { return ReadFile(m_logPath); }
  // The log holds this line (source file, function, message) exactly.
  bool Logged(const std::string& source, const std::string& function, const std::string& message) const {
    return Log().find(source + ": " + function + "> " + message + "\r\n") != std::string::npos;
  }

  void SetString(HKEY root, const std::string& path, const std::string& name, const std::string& value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
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

  // The stored value as text (REG_SZ) or "dword:N"; "<absent>" when missing.
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

  std::string Main(const std::string& name) const { return Stored(HKEY_CURRENT_USER, m_mainKey, name); }
  std::string QsKey(const std::string& qs) const { return m_mainKey + "\\" + qs; }
  // The product key the installer writes.
  static constexpr const char* kProductKey = "SOFTWARE\\Nexora\\NX_Pressline_M10_M12_M15_M30\\Port";

  fs::path m_dir;
  fs::path m_logPath;
  std::unique_ptr<DebugTrace> m_trace;
  std::unique_ptr<CWinApp> m_app;
  HMODULE m_hRes = nullptr;
  std::string m_mainKey;
};

}  // namespace utils_test
