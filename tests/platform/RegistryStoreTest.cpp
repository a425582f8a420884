// The registry's store as a damaged or unusable file sees it: named errors, nothing written over the
// file, rescue of what can be read, and batches that keep all or nothing.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <random>
#include <string>

#include "TestUtil.h"
#include "platform/registry/Registry.h"

namespace {

namespace fs = std::filesystem;

using testutil::ReadFile;
using testutil::WriteFile;

std::string RandomBytes(size_t n) {
  std::mt19937 rng(1234);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(rng());
  return out;
}

LONG SetValue(const char* path, const char* name, const std::string& value) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (rc) return rc;
  rc = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                      static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  return rc;
}

std::string Query(const char* path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key)) return "<no key>";
  char buf[512];
  DWORD size = sizeof buf;
  const LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size);
  RegCloseKey(key);
  return rc ? "<no value>" : std::string(buf);
}

// Each case gets a folder of its own: a hive file is opened once per process and path.
class RegistryStoreTest : public ::testing::Test {
 protected:
  void Use(const std::string& dir) { m_env.emplace("MARLIN3_REGISTRY_DIR", dir.c_str()); }
  std::string Fresh(const std::string& name) {
    const std::string dir = m_dir / name;
    fs::create_directories(dir);
    Use(dir);
    return dir;
  }

  testutil::TempDir m_dir;
  std::optional<testutil::ScopedEnv> m_env;
};

TEST_F(RegistryStoreTest, DamagedFilesAreNamedAndNeverWritten) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* reason;
  };
  std::string notOurs;
  {
    // A healthy SQLite database of something else is no hive either.
    const std::string path = m_dir / "other.db";
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    notOurs = ReadFile(path);
  }
  const Case cases[] = {
      {"random", RandomBytes(6000), "is damaged: file is not a database"},
      {"header-only", std::string("SQLite format 3\0", 16) + RandomBytes(4080), "is damaged"},
      {"other-database", notOurs, "is damaged: it is not a registry hive"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = Fresh(c.name);
    WriteFile(dir + "/HKCU.db", c.bytes);
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_BADDB, RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_BADDB, SetValue("Software\\X", "v", "1"));
    const std::string problem = platform::registry::StoreProblem(HKEY_CURRENT_USER);
    EXPECT_NE(problem.find("'" + dir + "/HKCU.db'"), std::string::npos) << problem;
    EXPECT_NE(problem.find(c.reason), std::string::npos) << problem;
    EXPECT_EQ(ReadFile(dir + "/HKCU.db"), c.bytes);
    EXPECT_FALSE(fs::exists(dir + "/HKCU.db-wal"));
    // The other hive is not affected.
    HKEY machine = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Ok", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &machine, nullptr));
    RegCloseKey(machine);
  }
}

TEST_F(RegistryStoreTest, FoldersAndFilesThatCannotBeOpenedAreSaidSo) {
  // The registry folder is a file.
  const std::string file = m_dir / "not-a-folder";
  WriteFile(file, "x");
  Use(file);
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_REGISTRY_IO_FAILED, RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key));
  std::string problem = platform::registry::StoreProblem(HKEY_CURRENT_USER);
  EXPECT_NE(problem.find("The registry folder '" + file + "/' cannot be opened: Not a directory"),
            std::string::npos)
      << problem;
  EXPECT_EQ(ReadFile(file), "x");

  // The hive "file" is a folder.
  const std::string dir = Fresh("dir-as-hive");
  fs::create_directories(dir + "/HKCU.db");
  EXPECT_EQ(ERROR_REGISTRY_IO_FAILED, SetValue("Software\\X", "v", "1"));
  problem = platform::registry::StoreProblem(HKEY_CURRENT_USER);
  EXPECT_NE(problem.find("it is not a regular file"), std::string::npos) << problem;
}

TEST_F(RegistryStoreTest, RescueKeepsWhatCanBeReadAndTheDamagedFileAside) {
  const std::string dir = Fresh("rescue");
  const std::string filler(300, 'x');
  // Keys first, values after: the key pages lie before the values' pages, and the cut below hits values.
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 1; i <= 300; ++i) {
      const std::string path = "Software\\K" + std::to_string(i);
      ASSERT_EQ(ERROR_SUCCESS, SetValue(path.c_str(), "v", pass ? filler + std::to_string(i) : ""));
    }
  }
  // Fold the write-ahead log into the file, then cut the file by a third, as a crash of the disk would.
  {
    sqlite3* db = nullptr;
    sqlite3_open((dir + "/HKCU.db").c_str(), &db);
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr));
    sqlite3_close(db);
  }
  // A second folder: this process keeps the first file open and healthy in its cache.
  const std::string damaged = Fresh("rescue-damaged");
  std::string bytes = ReadFile(dir + "/HKCU.db");
  bytes.resize(bytes.size() * 2 / 3);
  WriteFile(damaged + "/HKCU.db", bytes);

  EXPECT_EQ("<no key>", Query("Software\\K1", "v"));
  platform::registry::RescueReport report;
  ASSERT_EQ(ERROR_SUCCESS, platform::registry::RescueHive(HKEY_CURRENT_USER, report));
  EXPECT_EQ(report.damagedCopy, damaged + "/HKCU.db.damaged");
  EXPECT_EQ(ReadFile(report.damagedCopy), bytes);
  EXPECT_GE(report.keys, 300u);  // the keys table lies before the cut
  EXPECT_GT(report.values, 100u);
  EXPECT_LT(report.values, 300u);
  EXPECT_EQ("", platform::registry::StoreProblem(HKEY_CURRENT_USER));
  EXPECT_EQ(filler + "1", Query("Software\\K1", "v"));
  DWORD type = 0, size = 0;
  HKEY k1 = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\K1", 0, KEY_READ, &k1));
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(k1, "v", nullptr, &type, nullptr, &size));
  RegCloseKey(k1);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(filler.size() + 2, size);  // text and its terminating zero, as before the damage
  EXPECT_EQ(ERROR_SUCCESS, SetValue("Software\\New", "v", "written after the rescue"));

  // Random bytes: nothing to rescue, an empty working hive, the bytes kept.
  const std::string noise = Fresh("rescue-noise");
  WriteFile(noise + "/HKCU.db", RandomBytes(5000));
  ASSERT_EQ(ERROR_SUCCESS, platform::registry::RescueHive(HKEY_CURRENT_USER, report));
  EXPECT_EQ(0u, report.keys);
  EXPECT_EQ(RandomBytes(5000), ReadFile(noise + "/HKCU.db.damaged"));
  EXPECT_EQ(ERROR_SUCCESS, SetValue("Software\\Y", "v", "1"));
}

TEST_F(RegistryStoreTest, BatchKeepsAllOrNothing) {
  Fresh("batch");
  ASSERT_EQ(ERROR_SUCCESS, SetValue("Software\\B", "before", "1"));

  ASSERT_EQ(ERROR_SUCCESS, platform::registry::BeginBatch(HKEY_CURRENT_USER));
  EXPECT_EQ(ERROR_BUSY, platform::registry::BeginBatch(HKEY_CURRENT_USER));  // no nesting
  EXPECT_EQ(ERROR_SUCCESS, SetValue("Software\\B", "a", "1"));
  EXPECT_EQ(ERROR_SUCCESS, SetValue("Software\\B\\C", "b", "2"));
  EXPECT_EQ("1", Query("Software\\B", "a"));  // visible inside the batch
  // A failing operation undoes only itself; the batch goes on.
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\B", 0, KEY_ALL_ACCESS, &key));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(key, ""));  // has subkeys
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS,
            platform::registry::EndBatch(HKEY_CURRENT_USER, platform::registry::BatchEnd::Rollback));
  EXPECT_EQ("<no value>", Query("Software\\B", "a"));
  EXPECT_EQ("<no key>", Query("Software\\B\\C", "b"));
  EXPECT_EQ("1", Query("Software\\B", "before"));

  ASSERT_EQ(ERROR_SUCCESS, platform::registry::BeginBatch(HKEY_CURRENT_USER));
  EXPECT_EQ(ERROR_SUCCESS, SetValue("Software\\B", "a", "kept"));
  ASSERT_EQ(ERROR_SUCCESS,
            platform::registry::EndBatch(HKEY_CURRENT_USER, platform::registry::BatchEnd::Commit));
  EXPECT_EQ("kept", Query("Software\\B", "a"));
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            platform::registry::EndBatch(HKEY_CURRENT_USER, platform::registry::BatchEnd::Commit));
}

// RegFlushKey folds the hive's log into its file: the file alone then holds what was written (a process
// opening the hive next reads no log back), and later writes go on as before.
TEST_F(RegistryStoreTest, FlushLeavesEverythingInTheFile) {
  const std::string dir = Fresh("flush");
  ASSERT_EQ(ERROR_SUCCESS, SetValue("Software\\F", "v", "kept"));
  const std::string file = dir + "/HKCU.db", log = file + "-wal";
  ASSERT_GT(fs::file_size(log), 0u) << "the value went to the log first";
  auto inFileAlone = [&](const char* name) {
    const std::string copy = dir + "/alone.db";
    fs::copy_file(file, copy, fs::copy_options::overwrite_existing);
    sqlite3* db = nullptr;
    sqlite3_stmt* st = nullptr;
    int count = -1;
    if (sqlite3_open_v2(("file:" + copy + "?immutable=1").c_str(), &db,
                        SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT count(*) FROM vals WHERE name = ?1", -1, &st, nullptr) == SQLITE_OK) {
      sqlite3_bind_text(st, 1, name, -1, SQLITE_TRANSIENT);
      if (sqlite3_step(st) == SQLITE_ROW) count = sqlite3_column_int(st, 0);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    fs::remove(copy);
    return count == 1;
  };
  EXPECT_FALSE(inFileAlone("v"));

  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\F", 0, KEY_READ, &key));
  EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(key));
  RegCloseKey(key);
  EXPECT_EQ(fs::file_size(log), 0u);
  EXPECT_TRUE(inFileAlone("v"));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegFlushKey(nullptr));

  // Inside a batch nothing is folded until it ends; the hive goes on working either way.
  ASSERT_EQ(ERROR_SUCCESS, platform::registry::BeginBatch(HKEY_CURRENT_USER));
  EXPECT_EQ(ERROR_SUCCESS, SetValue("Software\\F", "w", "later"));
  EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(HKEY_CURRENT_USER));
  ASSERT_EQ(ERROR_SUCCESS,
            platform::registry::EndBatch(HKEY_CURRENT_USER, platform::registry::BatchEnd::Commit));
  EXPECT_FALSE(inFileAlone("w"));
  EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(HKEY_CURRENT_USER));
  EXPECT_TRUE(inFileAlone("w"));
  EXPECT_EQ("later", Query("Software\\F", "w"));
  EXPECT_EQ("kept", Query("Software\\F", "v"));
}

// A process that opens a hive alone reads its whole log back (every start of marlin3 does), so the
// log is folded into the file long before SQLite's own 1000 pages (4 MB): after many small writes it
// is still a few hundred KB.
TEST_F(RegistryStoreTest, LogStaysSmallAcrossManyWrites) {
  const std::string dir = Fresh("small-log");
  for (int i = 0; i < 600; ++i)
    ASSERT_EQ(ERROR_SUCCESS,
              SetValue("Software\\L", ("v" + std::to_string(i % 50)).c_str(), std::to_string(i)));
  EXPECT_LE(fs::file_size(dir + "/HKCU.db-wal"), 600u * 1024);
  EXPECT_EQ("599", Query("Software\\L", "v49"));
}

}  // namespace
