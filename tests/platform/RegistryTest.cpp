// Registry semantics: names, order, types, sizes, access, delete rules, default value, hooks, hives.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "platform/registry/Registry.h"

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { m_env.emplace("MARLIN3_REGISTRY_DIR", m_dir.path().c_str()); }
  void TearDown() override {
    platform::registry::SetFaultHook(nullptr);
    m_env.reset();
  }

  HKEY Create(const char* path, REGSAM sam = KEY_ALL_ACCESS, HKEY root = HKEY_CURRENT_USER) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path, 0, nullptr, 0, sam, nullptr, &key, nullptr)) << path;
    return key;
  }
  static LONG SetString(HKEY key, const char* name, const std::string& value, DWORD type = REG_SZ) {
    return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
  }
  static LONG SetDword(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
  }
  static std::vector<std::string> SubKeys(HKEY key) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[260];
      DWORD len = sizeof name;
      if (RegEnumKeyExA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      EXPECT_EQ(std::strlen(name), len);
      names.push_back(name);
    }
    return names;
  }
  static std::vector<std::string> ValueNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[260];
      DWORD len = sizeof name;
      if (RegEnumValueA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.push_back(name);
    }
    return names;
  }

  testutil::TempDir m_dir;
  std::optional<testutil::ScopedEnv> m_env;
};

TEST_F(RegistryTest, CreateReportsDispositionAndMakesHiveFile) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Nexora\\Scan", 0, nullptr,
                                           REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, &disposition));
  EXPECT_EQ(REG_CREATED_NEW_KEY, disposition);
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Nexora\\Scan", 0, nullptr,
                                           REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, &disposition));
  EXPECT_EQ(REG_OPENED_EXISTING_KEY, disposition);
  RegCloseKey(key);
  EXPECT_TRUE(std::filesystem::exists(m_dir / "HKCU.db"));
  EXPECT_EQ(m_dir.path() + "/", platform::registry::HiveDirectory(HKEY_CURRENT_USER));
  EXPECT_EQ(m_dir.path() + "/", platform::registry::HiveDirectory(HKEY_LOCAL_MACHINE));
}

TEST_F(RegistryTest, HivesAreSeparate) {
  RegCloseKey(Create("SOFTWARE\\OnlyUser"));
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\OnlyUser", 0, KEY_READ, &key));
  RegCloseKey(Create("SOFTWARE\\Machine", KEY_ALL_ACCESS, HKEY_LOCAL_MACHINE));
  EXPECT_TRUE(std::filesystem::exists(m_dir / "HKLM.db"));
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\machine", 0, KEY_READ, &key));
  RegCloseKey(key);
}

TEST_F(RegistryTest, KeyNamesIgnoreCaseAndKeepIt) {
  RegCloseKey(Create("SOFTWARE\\Nexora\\MyQuickSet"));
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_CURRENT_USER, "software\\NEXORA\\myquickset", 0, KEY_READ, &key));
  RegCloseKey(key);
  HKEY parent = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Nexora", 0, KEY_READ, &parent));
  EXPECT_EQ(std::vector<std::string>{"MyQuickSet"}, SubKeys(parent));
  // Creating it again in another case opens the existing key and keeps the first spelling.
  RegCloseKey(Create("SOFTWARE\\NEXORA\\MYQUICKSET"));
  EXPECT_EQ(std::vector<std::string>{"MyQuickSet"}, SubKeys(parent));
  RegCloseKey(parent);
}

TEST_F(RegistryTest, NonAsciiNamesFoldToo) {
  RegCloseKey(Create("SOFTWARE\\Ärger\\Привет\\Ελλάδα"));
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_CURRENT_USER, "software\\ärger\\ПРИВЕТ\\ΕΛΛΆΔΑ", 0, KEY_READ, &key));
  RegCloseKey(key);
}

TEST_F(RegistryTest, SubkeysEnumerateInCaseInsensitiveOrder) {
  HKEY parent = Create("SOFTWARE\\Order");
  for (const char* name : {"beta", "Alpha", "_under", "Zulu", "alpha2", "10", "9", "ÉCOLE", "delta"})
    RegCloseKey(Create((std::string("SOFTWARE\\Order\\") + name).c_str()));
  // Windows compares upper-cased names: '_' (0x5F) sorts after 'Z' (0x5A); digits compare as text.
  const std::vector<std::string> expected{"10",    "9",    "Alpha",  "alpha2", "beta",
                                          "delta", "Zulu", "_under", "ÉCOLE"};
  EXPECT_EQ(expected, SubKeys(parent));
  char name[8];
  DWORD len = sizeof name;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExA(parent, 9, name, &len, nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(parent);
}

TEST_F(RegistryTest, ValueNamesIgnoreCaseKeepCaseAndInsertionOrder) {
  HKEY key = Create("SOFTWARE\\Values");
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, "Zeta", "1"));
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, "Alpha", "2"));
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, "Mid", "3"));
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, "ALPHA", "changed"));
  EXPECT_EQ((std::vector<std::string>{"Zeta", "Alpha", "Mid"}), ValueNames(key));
  char buf[32];
  DWORD size = sizeof buf, type = 0;
  ASSERT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(key, "alpha", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size));
  EXPECT_STREQ("changed", buf);
  EXPECT_EQ(8u, size);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  RegCloseKey(key);
}

TEST_F(RegistryTest, TypesRoundTrip) {
  HKEY key = Create("SOFTWARE\\Types");
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, "Path", "%HOME%/scans", REG_EXPAND_SZ));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(key, "Count", 0xDEADBEEF));
  const BYTE bin[] = {0, 1, 2, 0, 255};
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Bin", 0, REG_BINARY, bin, sizeof bin));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Empty", 0, REG_BINARY, nullptr, 0));
  const char multi[] = "a\0b\0";
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExA(key, "Multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), 5));
  const BYTE shortDword[] = {7, 0};
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Short", 0, REG_DWORD, shortDword, 2));

  BYTE buf[64];
  DWORD type = 0, size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Path", nullptr, &type, buf, &size));
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
  EXPECT_EQ(13u, size);
  EXPECT_STREQ("%HOME%/scans", reinterpret_cast<char*>(buf));

  DWORD value = 0;
  size = 4;
  ASSERT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(key, "Count", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  EXPECT_EQ(0xDEADBEEFu, value);
  EXPECT_EQ(4u, size);

  size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Bin", nullptr, &type, buf, &size));
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
  ASSERT_EQ(sizeof bin, size);
  EXPECT_EQ(0, std::memcmp(bin, buf, sizeof bin));

  size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Empty", nullptr, &type, buf, &size));
  EXPECT_EQ(0u, size);

  size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Multi", nullptr, &type, buf, &size));
  EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
  EXPECT_EQ(5u, size);
  EXPECT_EQ(0, std::memcmp(multi, buf, 5));

  size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Short", nullptr, &type, buf, &size));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  EXPECT_EQ(2u, size);
  RegCloseKey(key);
}

TEST_F(RegistryTest, StringWithoutZeroIsReturnedWithOne) {
  HKEY key = Create("SOFTWARE\\Strings");
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "NoZero", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Empty", 0, REG_SZ, nullptr, 0));
  char buf[8];
  DWORD size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(key, "NoZero", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size));
  EXPECT_EQ(4u, size);
  EXPECT_STREQ("abc", buf);
  size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(key, "Empty", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size));
  EXPECT_EQ(1u, size);
  EXPECT_STREQ("", buf);
  RegCloseKey(key);
}

TEST_F(RegistryTest, MoreDataGivesTheNeededSize) {
  HKEY key = Create("SOFTWARE\\Sizes");
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, "Text", "0123456789"));
  DWORD type = 0, size = 0;
  // No buffer: type and size only.
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Text", nullptr, &type, nullptr, &size));
  EXPECT_EQ(11u, size);
  char small[4];
  size = sizeof small;
  EXPECT_EQ(ERROR_MORE_DATA,
            RegQueryValueExA(key, "Text", nullptr, &type, reinterpret_cast<BYTE*>(small), &size));
  EXPECT_EQ(11u, size);

  RegCloseKey(Create("SOFTWARE\\Sizes\\LongSubkeyName"));
  char name[5];
  DWORD len = sizeof name;
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExA(key, 0, name, &len, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(5u, len);  // left as it was, like Windows

  char vname[64];
  DWORD vlen = sizeof vname;
  BYTE data[2];
  DWORD dsize = sizeof data;
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(key, 0, vname, &vlen, nullptr, &type, data, &dsize));
  EXPECT_EQ(11u, dsize);
  vlen = 2;
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(key, 0, vname, &vlen, nullptr, nullptr, nullptr, nullptr));

  DWORD subKeys = 0, maxSub = 0, values = 0, maxName = 0, maxValue = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, &maxSub, nullptr,
                                            &values, &maxName, &maxValue, nullptr, nullptr));
  EXPECT_EQ(1u, subKeys);
  EXPECT_EQ(14u, maxSub);
  EXPECT_EQ(1u, values);
  EXPECT_EQ(4u, maxName);
  EXPECT_EQ(11u, maxValue);
  RegCloseKey(key);
}

TEST_F(RegistryTest, MissingValueAndKey) {
  HKEY key = Create("SOFTWARE\\Missing");
  DWORD size = 0;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "Nope", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), platform::GetLastError());
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(key, "Nope"));
  HKEY other = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Missing\\No", 0, KEY_READ, &other));
  EXPECT_EQ(nullptr, other);
  RegCloseKey(key);
}

TEST_F(RegistryTest, HandlesEnforceAccessRights) {
  RegCloseKey(Create("SOFTWARE\\Access"));
  HKEY reader = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Access", 0, KEY_READ, &reader));
  EXPECT_EQ(ERROR_ACCESS_DENIED, SetString(reader, "X", "y"));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(reader, "X"));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(reader, "Sub"));
  HKEY sub = nullptr;
  EXPECT_EQ(ERROR_ACCESS_DENIED,
            RegCreateKeyExA(reader, "Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr));
  RegCloseKey(reader);

  HKEY writer = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Access", 0, KEY_WRITE, &writer));
  EXPECT_EQ(ERROR_SUCCESS, SetString(writer, "X", "y"));
  DWORD size = 0;
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExA(writer, "X", nullptr, nullptr, nullptr, &size));
  char name[32];
  DWORD len = sizeof name;
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegEnumKeyExA(writer, 0, name, &len, nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(writer);
}

TEST_F(RegistryTest, DeleteKeyRefusesSubkeysDeleteTreeDoesNot) {
  RegCloseKey(Create("SOFTWARE\\Del\\Child\\Grandchild"));
  HKEY key = Create("SOFTWARE\\Del");
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(key, "Child"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key, "child\\grandchild"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(key, "Child\\Grandchild"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key, "Child"));
  EXPECT_TRUE(SubKeys(key).empty());

  RegCloseKey(Create("SOFTWARE\\Del\\T\\A\\B"));
  HKEY b = Create("SOFTWARE\\Del\\T\\A\\B");
  ASSERT_EQ(ERROR_SUCCESS, SetString(b, "v", "1"));
  RegCloseKey(b);
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(key, "T"));
  HKEY gone = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(key, "T", 0, KEY_READ, &gone));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeA(key, "T"));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, ""));

  // A null subkey empties the key itself and keeps it.
  RegCloseKey(Create("SOFTWARE\\Del\\X"));
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, "own", "1"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(key, nullptr));
  EXPECT_TRUE(SubKeys(key).empty());
  EXPECT_TRUE(ValueNames(key).empty());
  RegCloseKey(key);
  HKEY still = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Del", 0, KEY_READ, &still));
  RegCloseKey(still);
}

TEST_F(RegistryTest, DefaultValueHasTheEmptyName) {
  HKEY key = Create("SOFTWARE\\Default");
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, nullptr, "by null"));
  char buf[32];
  DWORD size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size));
  EXPECT_STREQ("by null", buf);
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, "", "by empty"));
  size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size));
  EXPECT_STREQ("by empty", buf);
  EXPECT_EQ(std::vector<std::string>{""}, ValueNames(key));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, nullptr));
  EXPECT_TRUE(ValueNames(key).empty());
  RegCloseKey(key);
}

TEST_F(RegistryTest, HandleToDeletedKeyReportsKeyDeleted) {
  HKEY key = Create("SOFTWARE\\Doomed");
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\Doomed"));
  RegCloseKey(Create("SOFTWARE\\doomed"));  // a new key of the same name is another key
  EXPECT_EQ(ERROR_KEY_DELETED, SetString(key, "v", "1"));
  DWORD size = 0;
  EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size));
  char name[32];
  DWORD len = sizeof name;
  EXPECT_EQ(ERROR_KEY_DELETED, RegEnumKeyExA(key, 0, name, &len, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryTest, EmptyPathComponentsAreRejected) {
  HKEY key = nullptr;
  for (const char* path : {"A\\\\B", "\\A", "A\\", "\\"}) {
    EXPECT_EQ(ERROR_BAD_PATHNAME,
              RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr))
        << path;
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key)) << path;
  }
  // Null or empty opens the key itself, as a new handle.
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, &key));
  RegCloseKey(key);
  const std::string tooLong(256, 'k');
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyExA(HKEY_CURRENT_USER, tooLong.c_str(), 0, nullptr, 0,
                                                     KEY_ALL_ACCESS, nullptr, &key, nullptr));
}

TEST_F(RegistryTest, ValuesAboveOneMebibyteAreRefused) {
  HKEY key = Create("SOFTWARE\\Big");
  std::vector<BYTE> data(1024 * 1024 + 1, 0xAB);
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegSetValueExA(key, "TooBig", 0, REG_BINARY, data.data(), 1024 * 1024 + 1));
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Fits", 0, REG_BINARY, data.data(), 1024 * 1024));
  DWORD size = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Fits", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(1024u * 1024u, size);
  RegCloseKey(key);
}

TEST_F(RegistryTest, FaultHookFailsTheNamedOperation) {
  HKEY key = Create("SOFTWARE\\Faults");
  platform::registry::SetFaultHook(
      [](const char* op) -> LONG { return std::strcmp(op, "set") == 0 ? ERROR_DISK_FULL : ERROR_SUCCESS; });
  EXPECT_EQ(ERROR_DISK_FULL, SetString(key, "v", "1"));
  DWORD size = 0;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size));
  platform::registry::SetFaultHook([](const char* op) -> LONG {
    return std::strcmp(op, "open") == 0 ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
  });
  HKEY other = nullptr;
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE", 0, KEY_READ, &other));
  platform::registry::SetFaultHook(nullptr);
  EXPECT_EQ(ERROR_SUCCESS, SetString(key, "v", "1"));
  RegCloseKey(key);
}

TEST_F(RegistryTest, ClosedHandleIsInvalid) {
  HKEY key = Create("SOFTWARE\\Closed");
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
  EXPECT_EQ(ERROR_INVALID_HANDLE, SetString(key, "v", "1"));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CURRENT_USER));
}

TEST_F(RegistryTest, HiveFolderBehindAFileIsAStoreThatCannotBeOpened) {
  testutil::WriteFile(m_dir / "plainfile", "x");
  testutil::ScopedEnv env("MARLIN3_REGISTRY_DIR", (m_dir / "plainfile/hives").c_str());
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_REGISTRY_IO_FAILED,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nexora", 0, KEY_READ, &key));
  EXPECT_EQ(ERROR_REGISTRY_IO_FAILED, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nexora", 0, nullptr, 0,
                                                      KEY_WRITE, nullptr, &key, nullptr));
  EXPECT_EQ(ERROR_REGISTRY_IO_FAILED,
            RegSetValueExA(HKEY_LOCAL_MACHINE, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2));
  EXPECT_EQ(testutil::ReadFile(m_dir / "plainfile"), "x");
}

TEST(RegistryDirectoryTest, DefaultsFollowXdgConfigHome) {
  testutil::ScopedEnv noOverride("MARLIN3_REGISTRY_DIR", nullptr);
  testutil::ScopedEnv xdg("XDG_CONFIG_HOME", "/some/config");
  EXPECT_EQ("/some/config/marlin3/", platform::registry::HiveDirectory(HKEY_CURRENT_USER));
  EXPECT_EQ("/var/lib/marlin3/", platform::registry::HiveDirectory(HKEY_LOCAL_MACHINE));
  testutil::ScopedEnv noXdg("XDG_CONFIG_HOME", nullptr);
  testutil::ScopedEnv home("HOME", "/home/someone");
  EXPECT_EQ("/home/someone/.config/marlin3/", platform::registry::HiveDirectory(HKEY_CURRENT_USER));
  testutil::ScopedEnv relative("XDG_CONFIG_HOME", "config");  // not absolute: ignored
  EXPECT_EQ("/home/someone/.config/marlin3/", platform::registry::HiveDirectory(HKEY_CURRENT_USER));
}

}  // namespace
