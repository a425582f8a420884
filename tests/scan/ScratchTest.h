// A fixture of the in-process scan tests: a scratch folder of the test's own as TMPDIR, and the log
// written into it. A failed test keeps its folder to look at.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "log/DebugTrace.h"

class ScratchTest : public ::testing::Test {
 protected:
  explicit ScratchTest(const char* prefix) : m_prefix(prefix) {}
  void SetUp() override {
    m_dir = std::filesystem::temp_directory_path() /
            (m_prefix + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(m_dir);
    std::filesystem::create_directories(m_dir / "tmp");
    setenv("TMPDIR", (m_dir / "tmp").c_str(), 1);
    DebugTrace::ResetForTest();
    m_trace = std::make_unique<DebugTrace>("Test", "test.cpp", (m_dir / "log.txt").c_str());
  }
  void TearDown() override {
    m_trace.reset();
    DebugTrace::ResetForTest();
    unsetenv("TMPDIR");
    if (HasFailure())
      std::fprintf(stderr, "kept %s\n", m_dir.c_str());
    else
      std::filesystem::remove_all(m_dir);
  }
  std::string P(const std::string& name) const { return (m_dir / name).string(); }
  std::string Log() const {
    std::ifstream in(m_dir / "log.txt");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string m_prefix;
  std::filesystem::path m_dir;
  std::unique_ptr<DebugTrace> m_trace;
};
