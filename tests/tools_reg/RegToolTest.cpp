// marlin3-reg run as a program: reg.exe's output shapes and exit codes, prompts on standard input, and
// export -> import into an empty hive folder -> export giving the same bytes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry/Registry.h"

extern char** environ;

namespace {

struct Result {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

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
    const std::string in = m_dir + "/stdin", out = m_dir + "/stdout", err = m_dir + "/stderr";
    WriteAll(in, input.value_or(""));
    std::vector<std::string> all;
    if (asNobody) all = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    all.push_back(std::string(MARLIN3_BIN_DIR) + "/marlin3-reg");
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input ? in.c_str() : "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    Result r;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
      int status = 0;
      waitpid(pid, &status, 0);
      r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    r.out = ReadAll(out);
    r.err = ReadAll(err);
    return r;
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
  const std::string text = ReadAll(first);
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
  EXPECT_EQ(text, ReadAll(second));

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
  WriteAll(m_dir + "/in.reg", utf16);
  ASSERT_EQ(kOk, Reg({"import", m_dir + "/in.reg"}).out);
  EXPECT_EQ(1, Reg({"query", "HKCU\\SOFTWARE\\Gone"}).exitCode);
  EXPECT_EQ(
      "\nHKEY_CURRENT_USER\\SOFTWARE\\Keep\n"
      "    Name    REG_SZ    Grüße \"x\"\n"
      "    Count    REG_DWORD    0x20\n"
      "    Exp    REG_EXPAND_SZ    %A%\n\n",
      Reg({"query", "HKCU\\SOFTWARE\\Keep"}).out);

  WriteAll(m_dir + "/bad.reg", "not a registry file\n");
  const Result bad = Reg({"import", m_dir + "/bad.reg"});
  EXPECT_EQ(1, bad.exitCode);
  EXPECT_EQ(0u, bad.err.find("ERROR: The specified file is not a registry script."));
  EXPECT_EQ(1, Reg({"import", m_dir + "/missing.reg"}).exitCode);
}

TEST_F(RegToolTest, ExportAsksBeforeReplacingAFile) {
  Reg({"add", "HKCU\\SOFTWARE\\E", "/v", "a", "/d", "1"});
  const std::string file = m_dir + "/e.reg";
  WriteAll(file, "old");
  EXPECT_EQ(1, Reg({"export", "HKCU\\SOFTWARE\\E", file}).exitCode);
  EXPECT_EQ("old", ReadAll(file));
  EXPECT_EQ(0, Reg({"export", "HKCU\\SOFTWARE\\E", file, "/y"}).exitCode);
  EXPECT_EQ(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\E]\r\n"
      "\"a\"=\"1\"\r\n\r\n",
      ReadAll(file));
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
    WriteAll(m_dir + "/bad.reg", c.text);
    const Result r = Reg({"import", m_dir + "/bad.reg"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(0u, r.err.find(c.message)) << r.err;
    ASSERT_EQ(0, Reg({"export", "HKCU\\SOFTWARE", after, "/y"}).exitCode);
    ASSERT_EQ(0, Reg({"export", "HKLM\\SOFTWARE", afterLm, "/y"}).exitCode);
    EXPECT_EQ(ReadAll(before), ReadAll(after));
    EXPECT_EQ(ReadAll(beforeLm), ReadAll(afterLm));
  }

  // The same operations without the bad line go through, across both hives.
  WriteAll(m_dir + "/good.reg", head + good);
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
  WriteAll(hive, noise);

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
  EXPECT_EQ(noise, ReadAll(hive));  // never written over

  const Result repaired = Reg({"repair", "HKCU"});
  EXPECT_EQ(0, repaired.exitCode) << repaired.err;
  EXPECT_NE(std::string::npos, repaired.out.find("The damaged file is kept as '" + hive + ".damaged'."));
  EXPECT_EQ(noise, ReadAll(hive + ".damaged"));
  EXPECT_EQ(0, Reg({"add", "HKCU\\SOFTWARE\\Nexora", "/v", "Qs", "/d", "x"}).exitCode);
  EXPECT_EQ("The hive HKEY_CURRENT_USER is not damaged; nothing to repair.\n", Reg({"repair", "HKCU"}).out);
}

}  // namespace
