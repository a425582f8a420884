// Base services: last error, errno mapping, message texts, environment expansion, time.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "TestUtil.h"
#include "platform/base/Environment.h"
#include "platform/base/WinTypes.h"

namespace {

TEST(BaseTest, LastErrorIsPerThread) {
  platform::SetLastError(ERROR_ACCESS_DENIED);
  std::thread other([] {
    EXPECT_EQ(0u, platform::GetLastError());
    platform::SetLastError(ERROR_DISK_FULL);
  });
  other.join();
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), platform::GetLastError());
}

TEST(BaseTest, ErrnoMapsToWindowsCodes) {
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), platform::ErrorFromErrno(ENOENT));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), platform::ErrorFromErrno(EACCES));
  EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), platform::ErrorFromErrno(ENOSPC));
  EXPECT_EQ(static_cast<DWORD>(ERROR_DIR_NOT_EMPTY), platform::ErrorFromErrno(ENOTEMPTY));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), platform::ErrorFromErrno(ENOMEM));
}

TEST(BaseTest, MessageTextsEndLikeWindows) {
  EXPECT_EQ("The system cannot find the file specified.\r\n", platform::FormatMessageText(2));
  EXPECT_EQ("Access is denied.\r\n", platform::FormatMessageText(5));
  EXPECT_EQ("The operation completed successfully.\r\n", platform::FormatMessageText(0));
  EXPECT_EQ("There is not enough space on the disk.\r\n", platform::FormatMessageText(112));
  EXPECT_EQ("", platform::FormatMessageText(987654));
}

TEST(BaseTest, ExpandEnvironmentStringsUsesWindowsSyntax) {
  testutil::ScopedEnv a("M3_TEST_A", "alpha");
  testutil::ScopedEnv b("M3_TEST_B", "");
  testutil::ScopedEnv unknown("M3_TEST_UNKNOWN", nullptr);
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"%M3_TEST_A%/x", "alpha/x"},
      {"[%M3_TEST_B%]", "[]"},
      {"%M3_TEST_UNKNOWN%", "%M3_TEST_UNKNOWN%"},
      {"%M3_TEST_UNKNOWN%M3_TEST_A%", "%M3_TEST_UNKNOWNalpha"},
      {"100%", "100%"},
      {"%%", "%%"},
      {"%m3_test_a%", "alpha"},
      {"no vars", "no vars"},
      {"", ""},
  };
  for (const Case& c : cases) {
    char buf[100];
    const DWORD n = ExpandEnvironmentStringsA(c.in, buf, sizeof buf);
    EXPECT_STREQ(c.out, buf) << c.in;
    EXPECT_EQ(std::strlen(c.out) + 1, n) << c.in;
  }
}

TEST(BaseTest, SetEnvironmentVariableSetsAndRemoves) {
  testutil::ScopedEnv keep("M3_TEST_SET", nullptr);
  ASSERT_TRUE(SetEnvironmentVariableA("M3_TEST_SET", "one=two"));
  char buf[16];
  EXPECT_EQ(7u, GetEnvironmentVariableA("M3_TEST_SET", buf, sizeof buf));
  EXPECT_STREQ("one=two", buf);
  ASSERT_TRUE(SetEnvironmentVariableA("M3_TEST_SET", nullptr));
  EXPECT_EQ(0u, GetEnvironmentVariableA("M3_TEST_SET", buf, sizeof buf));
  for (const char* bad : {"", "A=B"}) {
    EXPECT_FALSE(SetEnvironmentVariableA(bad, "x")) << bad;
    EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, platform::GetLastError());
  }
}

TEST(BaseTest, ExpandEnvironmentStringsReportsTheNeededSize) {
  testutil::ScopedEnv a("M3_TEST_A", "a-rather-long-value");
  char small[5];
  const DWORD needed = ExpandEnvironmentStringsA("%M3_TEST_A%", small, sizeof small);
  EXPECT_EQ(20u, needed);
  EXPECT_EQ('\0', small[4]);
  EXPECT_EQ(20u, ExpandEnvironmentStringsA("%M3_TEST_A%", nullptr, 0));
  EXPECT_EQ(0u, ExpandEnvironmentStringsA(nullptr, small, sizeof small));
}

TEST(BaseTest, GetEnvironmentVariable) {
  testutil::ScopedEnv a("M3_TEST_A", "value");
  char buf[16];
  EXPECT_EQ(5u, GetEnvironmentVariableA("M3_TEST_A", buf, sizeof buf));
  EXPECT_STREQ("value", buf);
  EXPECT_EQ(6u, GetEnvironmentVariableA("M3_TEST_A", buf, 3));
  testutil::ScopedEnv none("M3_TEST_NONE", nullptr);
  EXPECT_EQ(0u, GetEnvironmentVariableA("M3_TEST_NONE", buf, sizeof buf));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND), platform::GetLastError());
}

TEST(BaseTest, SleepAndTickCount) {
  const DWORD start = GetTickCount();
  Sleep(30);
  const DWORD elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 29u);
  EXPECT_LT(elapsed, 2000u);
}

}  // namespace
