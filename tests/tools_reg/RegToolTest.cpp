// marlin3-reg run as a program: reg.exe's output shapes and exit codes, prompts on standard input, and
// export -> import into an empty hive folder -> export giving the same bytes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry/Registry.h"
#include "tests/common/RunProgram.h"
#include "tests/common/TestFiles.h"

extern char** environ;

namespace {

struct Result {
  int exitCode = -1;
  std::string out;
  std::string err;
};

using test_common::ReadFile;
using test_common::WriteFile;

class RegToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "m3reg-XXXXXX").string();
    m_dir = mkdtemp(pattern.data());
    UseHives(m_dir + "/hives");
  }
  void TearDown() override {
    unsetenv("MARLIN3_REGISTRY_DIR");
    std::filesystem::remove_all(m_dir);
  }
  void UseHives(const std::string& dir) { setenv("MARLIN3_REGISTRY_DIR", dir.c_str(), 1); }

  // Runs marlin3-reg with the arguments; input (if any) is its standard input, else /dev/null.
  // asNobody: run as the unprivileged user "nobody" (through setpriv; the test must run as root).
  Result Reg(const std::vector<std::string>& args, const std::optional<std::string>& input = std::nullopt,
             bool asNobody = false) {
    std::vector<std::string> all;
    if (asNobody) all = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    all.push_back(std::string(MARLIN3_BIN_DIR) + "/marlin3-reg");
    all.insert(all.end(), args.begin(), args.end());
    const test_common::ProgramRun run = test_common::RunProgram(all, input);
    return Result{run.exitCode, run.out, run.err};
  }

  std::string m_dir;
};

const char* kOk = "The operation completed successfully.\n";

TEST_F(RegToolTest, AddThenQueryLikeRegExe) {
  EXPECT_EQ(kOk, Reg({"add", "HKCU\\SOFTWARE\\Nexora\\Scan", "/v", "Qs", "/d", "My Set"}).out);
  EXPECT_EQ(
      0,
      Reg({"add", "HKCU\\SOFTWARE\\Nexora\\Scan", "/v", "ScanToOn", "/t", "REG_DWORD", "/d", "10"}).exitCode);
  EXPECT_EQ(
      0,
      Reg({"add", "HKCU\\SOFTWARE\\Nexora\\Scan", "/v", "Mask", "/t", "REG_DWORD", "/d", "0x10"}).exitCode);
  EXPECT_EQ(0, Reg({"add", "HKCU\\SOFTWARE\\Nexora\\Scan", "/ve", "/d", "default"}).exitCode);
  EXPECT_EQ(0, Reg({"add", "HKCU\\SOFTWARE\\Nexora\\Scan", "/v", "Dir", "/t", "REG_EXPAND_SZ", "/d",
                    "%HOME%/scans"})
                   .exitCode);
  EXPECT_EQ(
      0,
      Reg({"add", "HKCU\\SOFTWARE\\Nexora\\Scan", "/v", "Bin", "/t", "REG_BINARY", "/d", "00ff10"}).exitCode);
  EXPECT_EQ(0, Reg({"add", "HKCU\\SOFTWARE\\Nexora\\Scan\\Photo"}).exitCode);
  EXPECT_EQ(0, Reg({"add", "HKEY_CURRENT_USER\\SOFTWARE\\Nexora\\Scan\\archive"}).exitCode);

  const Result q = Reg({"query", "HKCU\\SOFTWARE\\Nexora\\Scan"});
  EXPECT_EQ(0, q.exitCode);
  EXPECT_EQ(
      "\n"
      "HKEY_CURRENT_USER\\SOFTWARE\\Nexora\\Scan\n"
      "    Qs    REG_SZ    My Set\n"
      "    ScanToOn    REG_DWORD    0xa\n"
      "    Mask    REG_DWORD    0x10\n"
      "    (Default)    REG_SZ    default\n"
      "    Dir    REG_EXPAND_SZ    %HOME%/scans\n"
      "    Bin    REG_BINARY    00FF10\n"
      "\n"
      "HKEY_CURRENT_USER\\SOFTWARE\\Nexora\\Scan\\archive\n"
      "HKEY_CURRENT_USER\\SOFTWARE\\Nexora\\Scan\\Photo\n",
      q.out);

  EXPECT_EQ("\nHKEY_CURRENT_USER\\SOFTWARE\\Nexora\\Scan\n    ScanToOn    REG_DWORD    0xa\n\n",
            Reg({"query", "HKCU\\SOFTWARE\\Nexora\\Scan", "/v", "scantoon"}).out);
  EXPECT_EQ(
      "\nHKEY_CURRENT_USER\\SOFTWARE\\Nexora\\Scan\\Photo\n    (Default)    REG_SZ    (value not set)\n\n",
      Reg({"query", "HKCU\\SOFTWARE\\Nexora\\Scan\\Photo", "/ve"}).out);

  // What the program itself reads back.
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Nexora\\Scan", 0, KEY_READ, &key));
  DWORD value = 0, size = 4, type = 0;
  EXPECT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(key, "Mask", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size));
  EXPECT_EQ(16u, value);
  RegCloseKey(key);
}

TEST_F(RegToolTest, RecursiveQuery) {
  Reg({"add", "HKLM\\SOFTWARE\\Nexora\\NX\\Port", "/v", "Connection Type", "/d", "Network"});
  Reg({"add", "HKLM\\SOFTWARE\\Nexora\\NX\\Port", "/v", "IP Address", "/d", "127.0.0.1"});
  Reg({"add", "HKLM\\SOFTWARE\\Nexora\\Other", "/v", "IP Address", "/d", "::1"});
  EXPECT_EQ(
      "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Nexora\n"
      "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Nexora\\NX\n"
      "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Nexora\\NX\\Port\n"
      "    Connection Type    REG_SZ    Network\n"
      "    IP Address    REG_SZ    127.0.0.1\n"
      "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Nexora\\Other\n"
      "    IP Address    REG_SZ    ::1\n"
      "\n",
      Reg({"query", "HKLM\\SOFTWARE\\Nexora", "/s"}).out);
  const Result search = Reg({"query", "HKLM\\SOFTWARE\\Nexora", "/v", "ip address", "/s"});
  EXPECT_EQ(
      "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Nexora\\NX\\Port\n"
      "    IP Address    REG_SZ    127.0.0.1\n"
      "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Nexora\\Other\n"
      "    IP Address    REG_SZ    ::1\n"
      "\nEnd of search: 2 match(es) found.\n",
      search.out);
}

TEST_F(RegToolTest, ErrorsAndExitCodes) {
  Result r = Reg({"query", "HKCU\\SOFTWARE\\Missing"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ("ERROR: The system was unable to find the specified registry key or value.\n", r.err);
  Reg({"add", "HKCU\\SOFTWARE\\There"});
  r = Reg({"query", "HKCU\\SOFTWARE\\There", "/v", "Nope"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ("ERROR: The system was unable to find the specified registry key or value.\n", r.err);
  r = Reg({"query", "HKCR\\Anything"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ("ERROR: Invalid key name.\nType \"REG QUERY /?\" for usage.\n", r.err);
  r = Reg({"add", "HKCU\\SOFTWARE\\There", "/v", "N", "/t", "REG_DWORD", "/d", "not-a-number"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ("ERROR: Invalid syntax.\nType \"REG ADD /?\" for usage.\n", r.err);
  r = Reg({"frobnicate"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ(1, Reg({}).exitCode);
  EXPECT_EQ(1, Reg({"delete", "HKCU", "/f"}).exitCode);
  EXPECT_EQ(0, Reg({"/?"}).exitCode);
}

TEST_F(RegToolTest, DeleteAsksAndOnlyYesDeletes) {
  Reg({"add", "HKCU\\SOFTWARE\\Doomed\\Child", "/v", "v", "/d", "1"});
  Result r = Reg({"delete", "HKCU\\SOFTWARE\\Doomed"});  // no input at all
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ(0u,
            r.out.find("Permanently delete the registry key HKEY_CURRENT_USER\\SOFTWARE\\Doomed (Yes/No)? "));
  EXPECT_EQ(0, Reg({"query", "HKCU\\SOFTWARE\\Doomed\\Child"}).exitCode);
  r = Reg({"delete", "HKCU\\SOFTWARE\\Doomed"}, "no\n");
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ(0, Reg({"query", "HKCU\\SOFTWARE\\Doomed"}).exitCode);
  r = Reg({"delete", "HKCU\\SOFTWARE\\Doomed\\Child", "/v", "v"}, "maybe\ny\n");
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ("Delete the registry value v (Yes/No)? Delete the registry value v (Yes/No)? " + std::string(kOk),
            r.out);
  r = Reg({"delete", "HKCU\\SOFTWARE\\Doomed"}, "Yes\n");
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(1, Reg({"query", "HKCU\\SOFTWARE\\Doomed"}).exitCode);

  Reg({"add", "HKCU\\SOFTWARE\\Vals", "/v", "a", "/d", "1"});
  Reg({"add", "HKCU\\SOFTWARE\\Vals", "/v", "b", "/d", "2"});
  Reg({"add", "HKCU\\SOFTWARE\\Vals\\Sub"});
  EXPECT_EQ(kOk, Reg({"delete", "HKCU\\SOFTWARE\\Vals", "/va", "/f"}).out);
  EXPECT_EQ("\nHKEY_CURRENT_USER\\SOFTWARE\\Vals\n\nHKEY_CURRENT_USER\\SOFTWARE\\Vals\\Sub\n",
            Reg({"query", "HKCU\\SOFTWARE\\Vals"}).out);
}

TEST_F(RegToolTest, AddAsksBeforeOverwriting) {
  Reg({"add", "HKCU\\SOFTWARE\\Over", "/v", "a", "/d", "1"});
  Result r = Reg({"add", "HKCU\\SOFTWARE\\Over", "/v", "a", "/d", "2"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ("\nHKEY_CURRENT_USER\\SOFTWARE\\Over\n    a    REG_SZ    1\n\n",
            Reg({"query", "HKCU\\SOFTWARE\\Over", "/v", "a"}).out);
  EXPECT_EQ(0, Reg({"add", "HKCU\\SOFTWARE\\Over", "/v", "a", "/d", "3", "/f"}).exitCode);
  EXPECT_EQ(0, Reg({"add", "HKCU\\SOFTWARE\\Over", "/v", "a", "/d", "4"}, "y\n").exitCode);
  EXPECT_EQ("\nHKEY_CURRENT_USER\\SOFTWARE\\Over\n    a    REG_SZ    4\n\n",
            Reg({"query", "HKCU\\SOFTWARE\\Over", "/v", "a"}).out);
}

// Fills a hive with every kind of value the format must carry.
void BuildVariedHive() {
  HKEY key = nullptr;
  auto set = [&](const char* name, DWORD type, const std::string& bytes) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                            static_cast<DWORD>(bytes.size())));
  };
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Nexora\\Scan To", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  set("Qs", REG_SZ, std::string("My \"quoted\" set\\with\\backslashes") + '\0');
  set("", REG_SZ, std::string("the default") + '\0');
  set("Multi\nLine", REG_SZ, std::string("line one\r\nline two") + '\0');
  set("Path", REG_EXPAND_SZ, std::string("%HOME%/Dokumente/Übersicht €") + '\0');
  const DWORD dword = 0xA;
  set("ScanToOn", REG_DWORD, std::string(reinterpret_cast<const char*>(&dword), 4));
  std::string big;
  for (int i = 0; i < 300; ++i) big += static_cast<char>(i * 7);
  set("Blob", REG_BINARY, big);
  set("Empty", REG_BINARY, "");
  set("List", REG_MULTI_SZ, std::string("a\0bc\0\0", 6));
  set("Quad", REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
  set("Невидимый", REG_SZ, std::string("кириллица") + '\0');
  RegCloseKey(key);
  for (const char* path : {"SOFTWARE\\Nexora\\Scan To\\zeta", "SOFTWARE\\Nexora\\Scan To\\Alpha\\Deep",
                           "SOFTWARE\\Nexora\\Scan To\\_under", "SOFTWARE\\Nexora\\Empty Key"}) {
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &key, nullptr));
    set("v", REG_SZ, std::string(path) + '\0');
    RegCloseKey(key);
  }
}

TEST_F(RegToolTest, ExportImportRoundTripIsByteIdentical) {
  BuildVariedHive();
  const std::string first = m_dir + "/first.reg", second = m_dir + "/second.reg";
  ASSERT_EQ(0, Reg({"export", "HKCU\\SOFTWARE\\Nexora", first}).exitCode);
  const std::string text = ReadFile(first);
  EXPECT_EQ(
      0u, text.find("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Nexora]\r\n"));
  EXPECT_NE(std::string::npos, text.find("\"Qs\"=\"My \\\"quoted\\\" set\\\\with\\\\backslashes\"\r\n"));
  EXPECT_NE(std::string::npos, text.find("@=\"the default\"\r\n"));
  EXPECT_NE(std::string::npos, text.find("\"ScanToOn\"=dword:0000000a\r\n"));
  EXPECT_NE(std::string::npos, text.find("\"Empty\"=hex:\r\n"));
  EXPECT_NE(std::string::npos, text.find("\"List\"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00\r\n"));
  EXPECT_NE(std::string::npos, text.find("\"Quad\"=hex(b):01,02,03,04,05,06,07,08\r\n"));
  // Long hex data wraps like regedit's: no line longer than 80 characters.
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 81u) << line;

  UseHives(m_dir + "/empty-hives");
  ASSERT_EQ(0, Reg({"import", first}).exitCode);
  ASSERT_EQ(0, Reg({"export", "HKCU\\SOFTWARE\\Nexora", second}).exitCode);
  EXPECT_EQ(text, ReadFile(second));

  // The values themselves, read through the registry API of the new hive.
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Nexora\\Scan To", 0, KEY_READ, &key));
  char buf[64];
  DWORD size = sizeof buf, type = 0;
  ASSERT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(key, "Multi\nLine", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size));
  EXPECT_STREQ("line one\r\nline two", buf);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(key, "Path", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size));
  EXPECT_STREQ("%HOME%/Dokumente/Übersicht €", buf);
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
  RegCloseKey(key);
}

TEST_F(RegToolTest, ImportReadsUtf16WithBomAndDeletions) {
  Reg({"add", "HKCU\\SOFTWARE\\Gone", "/v", "x", "/d", "1"});
  Reg({"add", "HKCU\\SOFTWARE\\Keep", "/v", "drop", "/d", "1"});
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[-HKEY_CURRENT_USER\\SOFTWARE\\Gone]\r\n\r\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Keep]\r\n"
      "\"drop\"=-\r\n"
      "\"Name\"=\"Grüße \\\"x\\\"\"\r\n"
      "\"Count\"=dword:00000020\r\n"
      "\"Exp\"=hex(2):25,00,41,00,25,00,\\\r\n"
      "  00,00\r\n"
      "; a comment\r\n";
  // UTF-16LE with a byte-order mark, as Windows' regedit writes.
  std::string utf16 = "\xFF\xFE";
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = static_cast<unsigned char>(text[i]);
    int n = 1;
    if (cp >= 0xC0) {
      cp = ((cp & 0x1F) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F);
      n = 2;
    }
    utf16 += static_cast<char>(cp & 0xFF);
    utf16 += static_cast<char>(cp >> 8);
    i += static_cast<size_t>(n);
  }
  WriteFile(m_dir + "/in.reg", utf16);
  ASSERT_EQ(kOk, Reg({"import", m_dir + "/in.reg"}).out);
  EXPECT_EQ(1, Reg({"query", "HKCU\\SOFTWARE\\Gone"}).exitCode);
  EXPECT_EQ(
      "\nHKEY_CURRENT_USER\\SOFTWARE\\Keep\n"
      "    Name    REG_SZ    Grüße \"x\"\n"
      "    Count    REG_DWORD    0x20\n"
      "    Exp    REG_EXPAND_SZ    %A%\n\n",
      Reg({"query", "HKCU\\SOFTWARE\\Keep"}).out);

  WriteFile(m_dir + "/bad.reg", "not a registry file\n");
  const Result bad = Reg({"import", m_dir + "/bad.reg"});
  EXPECT_EQ(1, bad.exitCode);
  EXPECT_EQ(0u, bad.err.find("ERROR: The specified file is not a registry script."));
  EXPECT_EQ(1, Reg({"import", m_dir + "/missing.reg"}).exitCode);
}

TEST_F(RegToolTest, ExportAsksBeforeReplacingAFile) {
  Reg({"add", "HKCU\\SOFTWARE\\E", "/v", "a", "/d", "1"});
  const std::string file = m_dir + "/e.reg";
  WriteFile(file, "old");
  EXPECT_EQ(1, Reg({"export", "HKCU\\SOFTWARE\\E", file}).exitCode);
  EXPECT_EQ("old", ReadFile(file));
  EXPECT_EQ(0, Reg({"export", "HKCU\\SOFTWARE\\E", file, "/y"}).exitCode);
  EXPECT_EQ(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\E]\r\n"
      "\"a\"=\"1\"\r\n\r\n",
      ReadFile(file));
  EXPECT_EQ(1, Reg({"export", "HKCU\\SOFTWARE\\NotThere", m_dir + "/n.reg"}).exitCode);
}

TEST_F(RegToolTest, MachineHiveIsReadOnlyForOtherUsers) {
  if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs root and setpriv";
  ASSERT_EQ(0, Reg({"add", "HKLM\\SOFTWARE\\Nexora\\Port", "/v", "IP Address", "/d", "127.0.0.1"}).exitCode);
  std::filesystem::permissions(m_dir, std::filesystem::perms(0755));
  std::filesystem::permissions(m_dir + "/hives", std::filesystem::perms(0755));
  const std::string expected =
      "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Nexora\\Port\n    IP Address    REG_SZ    127.0.0.1\n\n";
  EXPECT_EQ(expected, Reg({"query", "HKLM\\SOFTWARE\\Nexora\\Port"}, std::nullopt, true).out);
  Result denied =
      Reg({"add", "HKLM\\SOFTWARE\\Nexora\\Port", "/v", "X", "/d", "1", "/f"}, std::nullopt, true);
  EXPECT_EQ(1, denied.exitCode);
  EXPECT_EQ("ERROR: Access is denied.\n", denied.err);
  // Once the installer's last connection has folded the WAL back and closed, no -shm file is left that
  // the reader could use; it still reads the hive.
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open((m_dir + "/hives/HKLM.db").c_str(), &db));
  sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  EXPECT_FALSE(std::filesystem::exists(m_dir + "/hives/HKLM.db-shm"));
  EXPECT_EQ(expected, Reg({"query", "HKLM\\SOFTWARE\\Nexora\\Port"}, std::nullopt, true).out);
}

}  // namespace

namespace {

TEST_F(RegToolTest, ImportIsAllOrNothingAndNamesTheBadLine) {
  ASSERT_EQ(0, Reg({"add", "HKCU\\SOFTWARE\\Nexora\\Kept", "/v", "x", "/d", "before"}).exitCode);
  ASSERT_EQ(0, Reg({"add", "HKLM\\SOFTWARE\\Nexora\\Product", "/v", "Port", "/d", "old"}).exitCode);
  const std::string before = m_dir + "/before.reg", after = m_dir + "/after.reg";
  const std::string beforeLm = m_dir + "/before-lm.reg", afterLm = m_dir + "/after-lm.reg";
  ASSERT_EQ(0, Reg({"export", "HKCU\\SOFTWARE", before}).exitCode);
  ASSERT_EQ(0, Reg({"export", "HKLM\\SOFTWARE", beforeLm}).exitCode);

  const std::string head = "Windows Registry Editor Version 5.00\r\n\r\n";
  const std::string good =
      "[HKEY_CURRENT_USER\\SOFTWARE\\Nexora\\Kept]\r\n\"x\"=\"changed\"\r\n"
      "[-HKEY_CURRENT_USER\\SOFTWARE\\Nexora\\Kept]\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Nexora\\Product]\r\n\"Port\"=\"new\"\r\n";
  struct Case {
    const char* name;
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {"first line", head + "[HKEY_CURRENT_USER\\SOFTWARE\\Nexora\\New\r\n" + good,
       "ERROR: Line 3: the key line has no closing \"]\". Nothing was imported.\n"},
      {"middle line", head + good + "\"y\"=dword:123456789\r\n" + good,
       "ERROR: Line 8: a dword needs 1 to 8 hexadecimal digits. Nothing was imported.\n"},
      {"last line", head + good + "[HKEY_CLASSES_ROOT\\x]",
       "ERROR: Line 8: \"[HKEY_CLASSES_ROOT\\x]\" is not a key of HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE. "
       "Nothing was imported.\n"},
      {"unterminated text", head + good + "\"z\"=\"no end\r\n", "ERROR: Line 8: the text has no closing quote."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(m_dir + "/bad.reg", c.text);
    const Result r = Reg({"import", m_dir + "/bad.reg"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(0u, r.err.find(c.message)) << r.err;
    ASSERT_EQ(0, Reg({"export", "HKCU\\SOFTWARE", after, "/y"}).exitCode);
    ASSERT_EQ(0, Reg({"export", "HKLM\\SOFTWARE", afterLm, "/y"}).exitCode);
    EXPECT_EQ(ReadFile(before), ReadFile(after));
    EXPECT_EQ(ReadFile(beforeLm), ReadFile(afterLm));
  }

  // The same operations without the bad line go through, across both hives.
  WriteFile(m_dir + "/good.reg", head + good);
  EXPECT_EQ(0, Reg({"import", m_dir + "/good.reg"}).exitCode);
  EXPECT_EQ(1, Reg({"query", "HKCU\\SOFTWARE\\Nexora\\Kept"}).exitCode);
  EXPECT_NE(std::string::npos, Reg({"query", "HKLM\\SOFTWARE\\Nexora\\Product"}).out.find("new"));
}

TEST_F(RegToolTest, DamagedHiveIsNamedAndRepairRescuesIt) {
  ASSERT_EQ(0, Reg({"add", "HKCU\\SOFTWARE\\Nexora", "/v", "Qs", "/d", "Default"}).exitCode);
  const std::string hive = m_dir + "/hives/HKCU.db";
  std::filesystem::remove(hive + "-wal");
  std::filesystem::remove(hive + "-shm");
  std::string noise(8192, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 7919 % 251);
  WriteFile(hive, noise);

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"query", "HKCU\\SOFTWARE\\Nexora"},
        std::vector<std::string>{"add", "HKCU\\SOFTWARE\\Nexora", "/v", "Qs", "/d", "x", "/f"}}) {
    SCOPED_TRACE(args[0]);
    const Result r = Reg(args);
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ(0u, r.err.find("ERROR: The registry file '" + hive + "' is damaged: file is not a database\n"
                             "Nothing was changed. \"marlin3-reg repair HKCU\" rescues what can still be read.\n"))
        << r.err;
  }
  EXPECT_EQ(noise, ReadFile(hive));  // never written over

  const Result repaired = Reg({"repair", "HKCU"});
  EXPECT_EQ(0, repaired.exitCode) << repaired.err;
  EXPECT_NE(std::string::npos, repaired.out.find("The damaged file is kept as '" + hive + ".damaged'."));
  EXPECT_EQ(noise, ReadFile(hive + ".damaged"));
  EXPECT_EQ(0, Reg({"add", "HKCU\\SOFTWARE\\Nexora", "/v", "Qs", "/d", "x"}).exitCode);
  EXPECT_EQ("The hive HKEY_CURRENT_USER is not damaged; nothing to repair.\n", Reg({"repair", "HKCU"}).out);
}

}  // namespace

namespace {

namespace fs = std::filesystem;

// One argument for the shell, whatever it holds.
std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Bin(const char* name) {
  return std::string(MARLIN3_BIN_DIR) + "/" + name;
}

// What marlin3 needs to start here without a device, a scanner or a person: its environment as shell
// assignments, with the temporary folder (and so its log) in tmp.
std::string MarlinEnv(const std::string& scratch, const std::string& tmp) {
  fs::create_directories(scratch + "/nobridge");
  fs::create_directories(scratch + "/sane");
  fs::create_directories(tmp);
  WriteFile(scratch + "/nobridge/libDvPortBridge.so", "");
  WriteFile(scratch + "/sane/dll.conf", "");
  WriteFile(scratch + "/script.txt", "");
  return "MARLIN3_MODULE_DIR=" + Quote(scratch + "/nobridge") +
         " SANE_CONFIG_DIR=" + Quote(scratch + "/sane") + " TMPDIR=" + Quote(tmp + "/") +
         " MARLIN3_UI=scripted MARLIN3_UI_SCRIPT=" + Quote(scratch + "/script.txt") + " LANG=C ";
}

// marlin3's log below tmp (wherever in it the run put it).
std::string MarlinLog(const std::string& tmp) {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(tmp, ec); it != fs::recursive_directory_iterator(); ++it) {
    if (it->path().filename() == "marlin3.log") return ReadFile(it->path().string());
  }
  return std::string();
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

size_t CountLines(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Four processes write into a hive folder none of them has seen yet, over and over: no write may fail or
// be lost because another process is creating the same hive. The same for four first starts of marlin3.
TEST_F(RegToolTest, FourProcessesCreatingOneHiveLoseNothing) {
  const std::string reg = Bin("marlin3-reg");
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string hives = m_dir + "/race" + std::to_string(round) + "/hives";
    std::string script = "export MARLIN3_REGISTRY_DIR=" + Quote(hives) + "\n";
    for (int p = 0; p < 4; ++p) {
      script += "(for i in 1 2 3 4 5; do " + reg + " add 'HKCU\\Software\\P" + std::to_string(p) +
                "' /v v$i /d $i /f >/dev/null || echo failed; done) >" +
                Quote(m_dir + "/race.err" + std::to_string(p)) + " 2>&1 &\n";
    }
    script += "wait\n";
    WriteFile(m_dir + "/race.sh", script);
    ASSERT_EQ(0, Shell("sh " + Quote(m_dir + "/race.sh")));
    for (int p = 0; p < 4; ++p) EXPECT_EQ("", ReadFile(m_dir + "/race.err" + std::to_string(p))) << p;
    UseHives(hives);
    const Result all = Reg({"query", "HKCU\\Software", "/s"});
    EXPECT_EQ(20u, CountLines(all.out, "REG_SZ")) << all.out;
    // Private: the user's folder and hive, and the files SQLite keeps beside it.
    EXPECT_EQ(0700u, ModeOf(hives));
    for (const char* suffix : {"", "-wal", "-shm"})
      EXPECT_EQ(0600u, ModeOf(hives + "/HKCU.db" + suffix)) << suffix;
    if (HasFailure()) break;
  }

  const std::string hives = m_dir + "/first-starts/hives";
  std::string script;
  for (int p = 0; p < 4; ++p) {
    const std::string tmp = m_dir + "/first-starts/tmp" + std::to_string(p);
    script += "MARLIN3_REGISTRY_DIR=" + Quote(hives) + " " + MarlinEnv(m_dir + "/first-starts", tmp) +
              Bin("marlin3") + " /Task 15 >/dev/null 2>&1 &\n";
  }
  WriteFile(m_dir + "/starts.sh", script + "wait\n");
  ASSERT_EQ(0, Shell("sh " + Quote(m_dir + "/starts.sh")));
  for (int p = 0; p < 4; ++p) {
    const std::string log = MarlinLog(m_dir + "/first-starts/tmp" + std::to_string(p));
    EXPECT_NE("", log) << p;
    // (Task 15's deletions of values a first run does not have yet fail, as on any first run.)
    for (const char* failure :
         {"Create() failed", "SetValue() failed", "Opening the main key", "(5) ", "(1009) "})
      EXPECT_EQ(std::string::npos, log.find(failure)) << log;
  }
  UseHives(hives);
  EXPECT_EQ(0, Reg({"query", "HKCU\\SOFTWARE\\Nexora\\marlin3", "/v", "Qs"}).exitCode);
}

// The steps of a script run in a mount namespace of its own, with a small tmpfs at mnt (root in CI;
// otherwise a user namespace maps this user to root in it, as the other namespace tests do).
int RunWithTmpfs(const std::string& dir, const std::string& body) {
  const std::string mnt = dir + "/mnt";
  fs::create_directories(mnt);
  WriteFile(dir + "/ns.sh",
            "set -u\nM=" + Quote(mnt) + "\nmount -t tmpfs -o size=1m none \"$M\" || exit 97\n" + body);
  return Shell(std::string(geteuid() == 0 ? "unshare -m" : "unshare -rm") + " sh " + Quote(dir + "/ns.sh"));
}

// A full disk is not damage: reads go on, writes say there is no space, repair leaves the healthy hive
// where it is, and marlin3 reads its settings. A damaged hive on a full disk is repaired only once there
// is room for the rescued copy beside it, and until then it stays exactly as it was.
TEST_F(RegToolTest, FullDiskIsNoDamageAndRepairNeverTakesAway) {
  const std::string out = m_dir + "/out";
  fs::create_directories(out);
  const std::string reg = Bin("marlin3-reg");
  // Each step: its standard output, error and exit code in out/<step>.
  auto step = [&](const std::string& name, const std::string& command) {
    return command + " >" + Quote(out + "/" + name + ".out") + " 2>" + Quote(out + "/" + name + ".err") +
           "; echo $? >" + Quote(out + "/" + name + ".rc") + "\n";
  };
  const std::string marlin =
      MarlinEnv(m_dir + "/marlin", m_dir + "/marlin/tmp") + Bin("marlin3") + " /Task 15";
  std::string body =
      "export MARLIN3_REGISTRY_DIR=\"$M/hives\"\n" + step("first", marlin) + reg +
      " add 'HKCU\\SOFTWARE\\Nexora\\marlin3' /v Qs /d Kept /f >/dev/null\n" +
      // No -wal or -shm left, as after a clean close: a reader must make the -shm index anew.
      "sqlite3 \"$M/hives/HKCU.db\" 'PRAGMA wal_checkpoint(TRUNCATE)' >/dev/null\n"
      "ls \"$M/hives\" >" +
      Quote(out + "/before.ls") +
      "\n"
      "cp \"$M/hives/HKCU.db\" " +
      Quote(out + "/healthy.db") +
      "\n"
      "dd if=/dev/zero of=\"$M/fill\" bs=4k 2>/dev/null\n" +
      step("query", reg + " query 'HKCU\\SOFTWARE\\Nexora\\marlin3' /v Qs") +
      step("add", reg + " add 'HKCU\\SOFTWARE\\Nexora\\marlin3' /v New /d 1 /f") +
      step("repair-healthy", reg + " repair HKCU") + "rm -f " + Quote(m_dir + "/marlin/tmp") +
      "/marlin3.log\n" + step("marlin", marlin) + "ls \"$M/hives\" >" + Quote(out + "/after.ls") +
      "\n"
      "cp \"$M/hives/HKCU.db\" " +
      Quote(out + "/after.db") +
      "\n"
      // Now a page of the hive broken, the disk still full.
      "rm -f \"$M/fill\" \"$M/hives/HKCU.db-wal\" \"$M/hives/HKCU.db-shm\"\n"
      "dd if=/dev/urandom of=\"$M/hives/HKCU.db\" bs=4096 seek=2 count=1 conv=notrunc 2>/dev/null\n"
      "cp \"$M/hives/HKCU.db\" " +
      Quote(out + "/damaged.db") +
      "\n"
      "dd if=/dev/zero of=\"$M/fill\" bs=1k 2>/dev/null\n" +
      step("repair-full", reg + " repair HKCU") + "ls \"$M/hives\" >" + Quote(out + "/full.ls") +
      "\n"
      "cp \"$M/hives/HKCU.db\" " +
      Quote(out + "/full.db") +
      "\n"
      "rm -f \"$M/fill\"\n" +
      step("repair", reg + " repair HKCU") + "ls \"$M/hives\" >" + Quote(out + "/repaired.ls") +
      "\n"
      "cp \"$M/hives/HKCU.db.damaged\" " +
      Quote(out + "/kept.db") + "\n" + step("query-repaired", reg + " query HKCU");
  ASSERT_EQ(0, RunWithTmpfs(m_dir, body));
  auto text = [&](const std::string& name) { return ReadFile(out + "/" + name); };

  EXPECT_EQ("0\n", text("first.rc"));
  EXPECT_EQ(std::string::npos, text("before.ls").find("HKCU.db-")) << text("before.ls");
  EXPECT_EQ("0\n", text("query.rc")) << text("query.err");
  EXPECT_NE(std::string::npos, text("query.out").find("    Qs    REG_SZ    Kept")) << text("query.out");
  EXPECT_EQ("1\n", text("add.rc"));
  EXPECT_EQ("ERROR: There is not enough space on the disk.\n", text("add.err"));
  EXPECT_EQ("0\n", text("repair-healthy.rc")) << text("repair-healthy.err");
  EXPECT_EQ("The hive HKEY_CURRENT_USER is not damaged; nothing to repair.\n", text("repair-healthy.out"));
  const std::string log = MarlinLog(m_dir + "/marlin/tmp");
  EXPECT_EQ("0\n", text("marlin.rc"));
  EXPECT_EQ(std::string::npos, log.find("1009")) << log;
  EXPECT_EQ(std::string::npos, log.find("damaged")) << log;
  EXPECT_EQ(std::string::npos, log.find("Opening the main key")) << log;  // the settings were read
  EXPECT_EQ(ReadFile(out + "/healthy.db"), ReadFile(out + "/after.db"));
  EXPECT_EQ(std::string::npos, text("after.ls").find("damaged")) << text("after.ls");

  // Damaged and no room for the rescued copy: nothing moved, nothing left behind.
  EXPECT_EQ("1\n", text("repair-full.rc"));
  EXPECT_NE(std::string::npos, text("repair-full.err").find("is damaged")) << text("repair-full.err");
  EXPECT_NE(std::string::npos, text("repair-full.err").find("Nothing was changed."))
      << text("repair-full.err");
  EXPECT_NE(std::string::npos, text("repair-full.err").find("There is not enough space on the disk."))
      << text("repair-full.err");
  EXPECT_EQ(ReadFile(out + "/damaged.db"), ReadFile(out + "/full.db"));
  EXPECT_EQ(std::string::npos, text("full.ls").find("damaged")) << text("full.ls");
  EXPECT_EQ(std::string::npos, text("full.ls").find("rescued")) << text("full.ls");

  // With room: the rescued hive in place, the damaged one beside it as it was.
  EXPECT_EQ("0\n", text("repair.rc")) << text("repair.err");
  EXPECT_EQ(ReadFile(out + "/damaged.db"), ReadFile(out + "/kept.db"));
  EXPECT_EQ(std::string::npos, text("repaired.ls").find("rescued")) << text("repaired.ls");
  EXPECT_NE(std::string::npos, text("repair.out").find("The damaged file is kept as '"))
      << text("repair.out");
  EXPECT_EQ("0\n", text("query-repaired.rc")) << text("query-repaired.err");
}

}  // namespace

namespace {

// .reg text of one chain of `levels` nested keys below HKCU\Software\Deep, a value in the deepest.
std::string Chain(size_t levels) {
  std::string key = "HKEY_CURRENT_USER\\Software\\Deep";
  for (size_t i = 2; i < levels; ++i) key += "\\k";
  return "Windows Registry Editor Version 5.00\r\n\r\n[" + key + "]\r\n\"v\"=\"bottom\"\r\n";
}

// Keys deeper than 512 levels are refused by import and add; a hive that holds deeper ones anyway (an
// older one, or written by something else) is queried, exported and deleted without recursion, and the
// export is bounded.
TEST_F(RegToolTest, KeysDeeperThan512LevelsAreRefusedAndNeverCrash) {
  WriteFile(m_dir + "/512.reg", Chain(512));
  EXPECT_EQ(0, Reg({"import", m_dir + "/512.reg"}).exitCode);
  WriteFile(m_dir + "/513.reg", Chain(513));
  Result r = Reg({"import", m_dir + "/513.reg"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ(
      "ERROR: Line 3: the key is deeper than 512 levels, which the registry does not allow. Nothing was "
      "imported.\n",
      r.err);
  std::string path = "HKCU\\Software\\Deep";
  for (size_t i = 2; i < 513; ++i) path += "\\k";
  r = Reg({"add", path, "/v", "x", "/d", "1"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ("ERROR: The key is deeper than 512 levels, which the registry does not allow.\n", r.err);
  EXPECT_EQ(0, Reg({"add", path.substr(0, path.size() - 2), "/v", "x", "/d", "1"}).exitCode);  // 512
  // The 512-level chain exports and imports back the same.
  ASSERT_EQ(0, Reg({"export", "HKCU\\Software\\Deep", m_dir + "/deep.reg"}).exitCode);
  UseHives(m_dir + "/again");
  ASSERT_EQ(0, Reg({"import", m_dir + "/deep.reg"}).exitCode);
  ASSERT_EQ(0, Reg({"export", "HKCU\\Software\\Deep", m_dir + "/deep2.reg"}).exitCode);
  EXPECT_EQ(ReadFile(m_dir + "/deep.reg"), ReadFile(m_dir + "/deep2.reg"));

  // 100,000 levels written into the hive file directly.
  UseHives(m_dir + "/deep");
  ASSERT_EQ(0, Reg({"add", "HKCU\\Software\\Deep", "/v", "top", "/d", "1"}).exitCode);
  ASSERT_EQ(0, Reg({"add", "HKCU\\Software\\Other", "/v", "kept", "/d", "1"}).exitCode);
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open((m_dir + "/deep/HKCU.db").c_str(), &db));
  ASSERT_EQ(
      SQLITE_OK,
      sqlite3_exec(db,
                   "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
                   "INSERT INTO keys(id, parent, name, fold) SELECT 1000 + i, CASE i WHEN 1 THEN "
                   "(SELECT id FROM keys WHERE fold = 'DEEP') ELSE 999 + i END, 'k', 'K' FROM n;"
                   "INSERT INTO vals(key, name, fold, type, data) VALUES(101000, 'v', 'V', 1, 'bottom');",
                   nullptr, nullptr, nullptr));
  sqlite3_close(db);

  for (const std::string& top : {std::string("HKCU"), std::string("HKCU\\Software\\Deep")}) {
    SCOPED_TRACE(top);
    r = Reg({"query", top, "/s"});
    EXPECT_EQ(1, r.exitCode);  // not a signal
    EXPECT_EQ("ERROR: Keys deeper than 512 levels were left out; the registry does not allow them.\n", r.err);
    EXPECT_EQ(std::string::npos, r.out.find("bottom"));
    EXPECT_LT(r.out.size(), 512u * 512u * 4u);
    r = Reg({"export", top, m_dir + "/too-deep.reg"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ(0u, r.err.find("ERROR: The key holds keys deeper than 512 levels")) << r.err;
    EXPECT_FALSE(fs::exists(m_dir + "/too-deep.reg"));
  }
  r = Reg({"delete", "HKCU\\Software\\Deep", "/f"});
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ(1, Reg({"query", "HKCU\\Software\\Deep"}).exitCode);
  EXPECT_EQ("\nHKEY_CURRENT_USER\\Software\\Other\n    kept    REG_SZ    1\n\n",
            Reg({"query", "HKCU\\Software\\Other"}).out);
  ASSERT_EQ(SQLITE_OK, sqlite3_open((m_dir + "/deep/HKCU.db").c_str(), &db));
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT (SELECT count(*) FROM keys), (SELECT count(*) FROM vals)", -1, &st, nullptr);
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(st));
  EXPECT_EQ(3, sqlite3_column_int(st, 0));  // the root, Software, Other
  EXPECT_EQ(1, sqlite3_column_int(st, 1));
  sqlite3_finalize(st);
  sqlite3_close(db);
}

}  // namespace

namespace {

// Values of a hive file that a reader looking up each row id in turn gets (the measure repair must meet).
size_t ReadRowByRow(const std::string& file, int64_t maxRowid) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(("file:" + file + "?immutable=1").c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                      nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return 0;
  }
  sqlite3_exec(db, "PRAGMA writable_schema=ON", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT key, name, type, data FROM vals WHERE rowid = ?1", -1, &st, nullptr);
  size_t read = 0;
  for (int64_t rowid = 1; st && rowid <= maxRowid; ++rowid) {
    sqlite3_reset(st);
    sqlite3_bind_int64(st, 1, rowid);
    if (sqlite3_step(st) == SQLITE_ROW) ++read;
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return read;
}

size_t NumberAfter(const std::string& text, const std::string& before) {
  const size_t at = text.find(before);
  return at == std::string::npos ? 0 : std::stoul(text.substr(at + before.size()));
}

// Three 4 KB blocks of random bytes in a 7.5 MB hive of 102,001 values: repair rescues at least what a
// row-by-row reader reads, every rescued value is one the hive held, and the damaged file is kept.
TEST_F(RegToolTest, RepairRescuesEveryRowThatCanBeRead) {
  const std::string built = m_dir + "/built";
  UseHives(built);
  ASSERT_EQ(ERROR_SUCCESS, platform::registry::BeginBatch(HKEY_CURRENT_USER));
  for (int k = 0; k < 1000; ++k) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_CURRENT_USER, ("Software\\Nexora\\Set" + std::to_string(k)).c_str(), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    for (int v = 0; v < 102; ++v) {
      const std::string data = "value " + std::to_string(v) + " of set " + std::to_string(k);
      ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, ("Value" + std::to_string(v)).c_str(), 0, REG_SZ,
                                              reinterpret_cast<const BYTE*>(data.c_str()),
                                              static_cast<DWORD>(data.size() + 1)));
    }
    RegCloseKey(key);
  }
  HKEY last = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Nexora", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &last, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(last, "Last", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2));
  ASSERT_EQ(ERROR_SUCCESS,
            platform::registry::EndBatch(HKEY_CURRENT_USER, platform::registry::BatchEnd::Commit));
  ASSERT_EQ(ERROR_SUCCESS, RegFlushKey(last));
  RegCloseKey(last);

  std::string bytes = ReadFile(built + "/HKCU.db");
  ASSERT_GT(bytes.size(), 7000000u);
  std::mt19937 rng(28);
  const size_t blocks = bytes.size() / 4096;
  for (int n = 0; n < 3; ++n) {
    const size_t block = 1 + rng() % (blocks - 1);  // not the first: without it nothing at all can be read
    for (size_t i = 0; i < 4096; ++i) bytes[block * 4096 + i] = static_cast<char>(rng());
  }
  const std::string damaged = m_dir + "/damaged";
  fs::create_directories(damaged);
  WriteFile(damaged + "/HKCU.db", bytes);
  WriteFile(m_dir + "/reader.db", bytes);
  const size_t rowByRow = ReadRowByRow(m_dir + "/reader.db", 102001);
  ASSERT_GT(rowByRow, 90000u);
  ASSERT_LT(rowByRow, 102001u);  // the damage hit values

  UseHives(damaged);
  const Result r = Reg({"repair", "HKCU"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  const size_t rescued = NumberAfter(r.out, "keys and ");
  const size_t lost =
      NumberAfter(r.out, "Lost ") ? NumberAfter(r.out.substr(r.out.find("Lost ")), "keys and ") : 0;
  EXPECT_GE(rescued + lost, rowByRow) << r.out;
  RecordProperty("row_by_row", static_cast<int>(rowByRow));
  RecordProperty("rescued", static_cast<int>(rescued));
  EXPECT_EQ(bytes, ReadFile(damaged + "/HKCU.db.damaged"));

  // Every rescued value is the one the hive held under the same key.
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open((damaged + "/HKCU.db").c_str(), &db));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, ("ATTACH " + std::string("'") + built + "/HKCU.db' AS built").c_str(),
                                    nullptr, nullptr, nullptr));
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(SQLITE_OK,
            sqlite3_prepare_v2(db,
                               "SELECT count(*), sum(NOT EXISTS (SELECT 1 FROM built.vals b WHERE b.key = "
                               "v.key AND b.fold = v.fold AND b.data IS v.data)) FROM main.vals v",
                               -1, &st, nullptr));
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(st));
  EXPECT_EQ(static_cast<int64_t>(rescued), sqlite3_column_int64(st, 0));
  EXPECT_EQ(0, sqlite3_column_int64(st, 1));
  sqlite3_finalize(st);
  sqlite3_close(db);
  EXPECT_EQ(0, Reg({"add", "HKCU\\Software\\Nexora", "/v", "After", "/d", "repair"}).exitCode);
}

}  // namespace

namespace {

// A relative XDG_CONFIG_HOME is ignored the same way by every program: the settings hive and the mail
// profile both land in the home folder's .config.
TEST_F(RegToolTest, RelativeXdgConfigHomeIsIgnoredByEveryProgram) {
  const std::string home = m_dir + "/home";
  fs::create_directories(home);
  const std::string env = "cd " + Quote(m_dir) + " && env -u MARLIN3_REGISTRY_DIR HOME=" + Quote(home) +
                          " XDG_CONFIG_HOME=relative-config ";
  EXPECT_EQ(0, Shell(env + Bin("marlin3-reg") + " add 'HKCU\\Software\\X' /v v /d 1 >/dev/null"));
  EXPECT_TRUE(fs::exists(home + "/.config/marlin3/HKCU.db"));
  EXPECT_FALSE(fs::exists(m_dir + "/relative-config"));
  EXPECT_EQ(0, Shell(env + Bin("marlin3-mail") + " path >" + Quote(m_dir + "/mail-path")));
  EXPECT_EQ(home + "/.config/marlin3/mail-profile.conf\n", ReadFile(m_dir + "/mail-path"));
}

}  // namespace
