// Shared set-up of the utilities' tests: one scratch folder per process holding the registry hives
// ($MARLIN3_REGISTRY_DIR, resolved once by the registry layer), the home folder with its documents
// folder, and a fresh temporary folder ($TMPDIR) and log file per test. The framework application
// keeps its profile under "Nexora", strings come from the built resource library, and the main key
// exists, as the first start of the program leaves it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "platform/ui/ScriptedHost.h"
#include "platform/ui/UiHost.h"
#include "tests/common/FrameworkTest.h"
#include "tests/common/ScratchEnvironment.h"

namespace utils_test {

namespace fs = std::filesystem;
using test_common::kProductKey;
using test_common::ReadFile;
using test_common::SetDword;
using test_common::SetString;
using test_common::Stored;

inline const fs::path& Scratch() {
  static const test_common::ScratchDir scratch{[] {
    fs::path dir = test_common::NewScratch("/tmp/m3utilstest.XXXXXX", "reg");
    fs::create_directories(dir / "home/Documents");
    fs::create_directories(dir / "home/.config");
    setenv("HOME", (dir / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir / "home/.config").c_str(), 1);
    std::ofstream((dir / "home/.config/user-dirs.dirs").string())
        << "XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n";
    return dir;
  }()};
  return scratch.path;
}

inline void Touch(const fs::path& path, const std::string& content = std::string()) {
  std::ofstream(path.string(), std::ios::binary) << content;
}

class UtilsTest : public test_common::FrameworkTest {
 protected:
  void SetUp() override {
    Scratch();
    test_common::ClearNexoraKeys();
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    m_dir = Scratch() / "case" / name;
    fs::remove_all(m_dir);
    fs::create_directories(m_dir / "tmp");
    setenv("TMPDIR", (m_dir / "tmp").c_str(), 1);

    StartTrace(m_dir / "test.log");
    LoadResources();
    ASSERT_NE(m_hRes, nullptr) << "the resource library libmarlin3.so must be built beside the test";
    StartApp();
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, m_mainKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  // The log holds this line (source file, function, message) exactly.
  bool Logged(const std::string& source, const std::string& function, const std::string& message) const {
    return Log().find(source + ": " + function + "> " + message + "\r\n") != std::string::npos;
  }

  std::string Main(const std::string& name) const { return Stored(HKEY_CURRENT_USER, m_mainKey, name); }
  std::string QsKey(const std::string& qs) const { return m_mainKey + "\\" + qs; }

  fs::path m_dir;
};

// A utilities test that answers the program's dialogs from a script through the scripted host and
// keeps the host's transcript.
class ScriptedUtilsTest : public UtilsTest {
 protected:
  void TearDown() override {
    platform::ui::SetHostForTesting(nullptr);
    m_host.reset();
    UtilsTest::TearDown();
  }
  void Script(const std::string& lines) {
    Touch(m_dir / "script.txt", lines);
    m_host =
        std::make_unique<ScriptedHost>((m_dir / "script.txt").string(), (m_dir / "transcript.txt").string());
    platform::ui::SetHostForTesting(m_host.get());
  }
  std::string Transcript() const { return ReadFile(m_dir / "transcript.txt"); }

  std::unique_ptr<ScriptedHost> m_host;
};

}  // namespace utils_test
