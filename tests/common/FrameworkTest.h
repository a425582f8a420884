// Base of the in-process tests that run the framework application: a trace log file, the built
// resource library as the resource handle, and the application object, all taken down again after
// each test. A fixture picks the log's place and how the application is named.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "log/DebugTrace.h"
#include "platform/framework/Afx.h"
#include "platform/framework/WinApp.h"
#include "platform/module/Module.h"
#include "settings/ValueGetter.h"
#include "tests/common/ScratchEnvironment.h"

namespace test_common {

class FrameworkTest : public ::testing::Test {
 protected:
  // A fresh trace log at logPath.
  void StartTrace(const fs::path& logPath) {
    DebugTrace::ResetForTest();
    m_logPath = logPath;
    fs::remove(m_logPath);
    m_trace = std::make_unique<DebugTrace>("Test", "test.cpp", m_logPath.c_str());
  }

  // The resource library (null when it has not been built) becomes the resource handle.
  void LoadResources() {
    m_hRes = LoadLibraryA("marlin3.dll");
    AfxSetResourceHandle(m_hRes);
  }

  // The application "marlin3" titled by string 230, with its profile under "Nexora", and its main key.
  void StartApp() {
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

  fs::path m_logPath;
  std::unique_ptr<DebugTrace> m_trace;
  std::unique_ptr<CWinApp> m_app;
  HMODULE m_hRes = nullptr;
  std::string m_mainKey;
};

}  // namespace test_common
