// Several processes on one hive, and writers killed in the middle of a transaction (or of creating it).
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "TestUtil.h"
#include "platform/registry/Registry.h"

namespace {

const std::string kHelper = testutil::BinDir() + "/platform_reg_helper";

class RegistryProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { m_env.emplace("MARLIN3_REGISTRY_DIR", m_dir.path().c_str()); }

  // integrity_check plus the tree's own rules: every key's parent and every value's key exists.
  // A writer killed before its new hive was renamed into place leaves no hive at all, which is whole too.
  void ExpectHiveConsistent() {
    if (!std::filesystem::exists(m_dir / "HKCU.db")) return;
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2((m_dir / "HKCU.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    if (rc != SQLITE_OK) sqlite3_close(db);
    ASSERT_EQ(SQLITE_OK, rc);
    EXPECT_EQ("ok", Scalar(db, "PRAGMA integrity_check"));
    EXPECT_EQ("0",
              Scalar(db, "SELECT COUNT(*) FROM keys WHERE id <> 1 AND parent NOT IN (SELECT id FROM keys)"));
    EXPECT_EQ("0", Scalar(db, "SELECT COUNT(*) FROM vals WHERE key NOT IN (SELECT id FROM keys)"));
    sqlite3_close(db);
  }
  static std::string Scalar(sqlite3* db, const char* sql) {
    sqlite3_stmt* st = nullptr;
    std::string result = "<error>";
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
      result = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    return result;
  }
  static DWORD CountValues(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key)) return 0;
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(key);
    return values;
  }
  static DWORD CountSubkeys(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key)) return 0;
    DWORD subKeys = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(key);
    return subKeys;
  }

  testutil::TempDir m_dir;
  std::optional<testutil::ScopedEnv> m_env;
};

TEST_F(RegistryProcessTest, ConcurrentWritersLoseNothing) {
  constexpr int kCount = 300;
  const pid_t a = testutil::Spawn(kHelper, {"hammer", "A", std::to_string(kCount)});
  const pid_t b = testutil::Spawn(kHelper, {"hammer", "B", std::to_string(kCount)});
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Mine", 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr));
  for (int i = 0; i < kCount; ++i) {
    const DWORD v = static_cast<DWORD>(i);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, ("M" + std::to_string(i)).c_str(), 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&v), 4));
  }
  RegCloseKey(key);
  const int sa = testutil::Wait(a), sb = testutil::Wait(b);
  ASSERT_TRUE(WIFEXITED(sa) && WEXITSTATUS(sa) == 0) << sa;
  ASSERT_TRUE(WIFEXITED(sb) && WEXITSTATUS(sb) == 0) << sb;
  EXPECT_EQ(static_cast<DWORD>(kCount), CountValues("SOFTWARE\\Mine"));
  EXPECT_EQ(static_cast<DWORD>(kCount), CountValues("SOFTWARE\\Hammer\\A"));
  EXPECT_EQ(static_cast<DWORD>(kCount), CountValues("SOFTWARE\\Hammer\\B"));
  EXPECT_EQ(static_cast<DWORD>(kCount), CountSubkeys("SOFTWARE\\Hammer\\A"));
  EXPECT_EQ(static_cast<DWORD>(kCount), CountSubkeys("SOFTWARE\\Hammer\\B"));
  ExpectHiveConsistent();
}

TEST_F(RegistryProcessTest, KilledInsideCreateLeavesNoPartOfThePath) {
  const pid_t pid = testutil::Spawn(kHelper, {"killmid", "create"});
  const int status = testutil::Wait(pid);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Half", 0, KEY_READ, &key));
  ExpectHiveConsistent();
}

TEST_F(RegistryProcessTest, KilledInsideDeleteTreeKeepsTheWholeTree) {
  const pid_t pid = testutil::Spawn(kHelper, {"killmid", "deletetree"});
  const int status = testutil::Wait(pid);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  EXPECT_EQ(200u, CountSubkeys("SOFTWARE\\Big"));
  for (int i = 0; i < 200; i += 37) {
    EXPECT_EQ(1u, CountValues(("SOFTWARE\\Big\\K" + std::to_string(i) + "\\Sub").c_str())) << i;
  }
  ExpectHiveConsistent();
}

TEST_F(RegistryProcessTest, KilledInsideSetKeepsTheOldValue) {
  const pid_t pid = testutil::Spawn(kHelper, {"killmid", "set"});
  const int status = testutil::Wait(pid);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Half", 0, KEY_READ, &key));
  char buf[16];
  DWORD size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(key, "Value", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size));
  EXPECT_STREQ("old", buf);
  RegCloseKey(key);
  ExpectHiveConsistent();
}

TEST_F(RegistryProcessTest, KilledAtRandomMomentsLeavesAConsistentHive) {
  std::mt19937 random(12345);
  for (int round = 0; round < 4; ++round) {
    const pid_t pid = testutil::Spawn(kHelper, {"loop"});
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(40 + random() % 200));
    kill(pid, SIGKILL);
    testutil::Wait(pid);
    ExpectHiveConsistent();
  }
  // The hive still takes writes after the killed writers.
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\After", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "ok", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2));
  RegCloseKey(key);
}

TEST_F(RegistryProcessTest, ChangesOfAnotherProcessAreSeenAtOnce) {
  // Open the hive here first, so that this process keeps its connection while another one writes.
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Seen", 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr));
  const pid_t pid = testutil::Spawn(kHelper, {"hammer", "C", "3"});
  testutil::Wait(pid);
  EXPECT_EQ(3u, CountValues("SOFTWARE\\Hammer\\C"));
  RegCloseKey(key);
}

}  // namespace
