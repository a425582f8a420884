// Shared set-up of the settings tests: a scratch registry directory for the process (the registry layer
// resolves it once), a log file per test, the framework application with the profile under "Nexora",
// and the resource library for the main key's name when it has been built.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/common/FrameworkTest.h"
#include "tests/common/ScratchEnvironment.h"

namespace settings_test {

namespace fs = std::filesystem;
using test_common::ReadFile;
using test_common::SetDword;
using test_common::SetString;
using test_common::Stored;

inline const fs::path& Scratch() {
  static const test_common::ScratchDir scratch{test_common::NewScratch("/tmp/m3settingstest.XXXXXX")};
  return scratch.path;
}

class SettingsTest : public test_common::FrameworkTest {
 protected:
  void SetUp() override {
    Scratch();
    test_common::ClearNexoraKeys();
    StartTrace(Scratch() /
               (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".log"));
    LoadResources();
    StartApp();
  }

  std::string QsKey(const std::string& qs) const { return m_mainKey + "\\" + qs; }
};

}  // namespace settings_test
