// Command-line splitting and quoting, CreateProcessA against a recorder program (no shell ever runs),
// reaping, ShellExecuteOpen, and process/module snapshots.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "TestUtil.h"
#include "platform/process/Process.h"

namespace {

using Args = std::vector<std::string>;

TEST(CommandLineTest, SplitsByTheWindowsRules) {
  struct Case {
    const char* line;
    Args args;
  } cases[] = {
      // Microsoft's documented examples, after a program name.
      {R"(p "abc" d e)", {"p", "abc", "d", "e"}},
      {R"(p a\\\b d"e f"g h)", {"p", R"(a\\\b)", "de fg", "h"}},
      {R"(p a\\\"b c d)", {"p", R"(a\"b)", "c", "d"}},
      {R"(p a\\\\"b c" d e)", {"p", R"(a\\b c)", "d", "e"}},
      {R"(p a"b"" c d)", {"p", R"(ab" c d)"}},
      // The program name: quotes toggle, backslashes are plain.
      {R"("C:\Program Files\x.exe" /a)", {R"(C:\Program Files\x.exe)", "/a"}},
      {R"(C:\dir\"x y"z a)", {R"(C:\dir\x yz)", "a"}},
      {R"(/usr/bin/marlin3 /Qs "My Set")", {"/usr/bin/marlin3", "/Qs", "My Set"}},
      {"p  \t a   b  ", {"p", "a", "b"}},
      {R"(p "" "")", {"p", "", ""}},
      {R"(p "unterminated arg)", {"p", "unterminated arg"}},
      {R"(p \\server\share\)", {"p", R"(\\server\share\)"}},
      {" leading", {"", "leading"}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.args, SplitCommandLine(c.line)) << c.line;
}

const Args kHostile = {
    "",
    " ",
    "plain",
    "two words",
    "tab\there",
    "new\nline",
    "quote\"inside",
    "\"",
    "\"\"",
    "\\",
    "trailing\\",
    "trailing\\\\",
    "C:\\Program Files\\",
    "\\\"",
    "a\\\\\"b",
    "$(touch /tmp/m3-pwned)",
    "`touch /tmp/m3-pwned`",
    "; rm -rf / ;",
    "a && b || c | d > e < f",
    "'single quoted'",
    "%PATH%",
    "100%",
    "é€ Привет",
    "/Qs",
    "/Dir /home/me/scans/",
};

TEST(CommandLineTest, BuildThenSplitGivesTheArgumentsBack) {
  Args args{"/usr/bin/program"};
  args.insert(args.end(), kHostile.begin(), kHostile.end());
  EXPECT_EQ(args, SplitCommandLine(BuildCommandLine(args)));
  for (const std::string& one : kHostile) {
    const Args pair{"prog", one};
    EXPECT_EQ(pair, SplitCommandLine(BuildCommandLine(pair))) << one;
  }
  const Args spaced{"/opt/My Tool/run", "x"};
  EXPECT_EQ("\"/opt/My Tool/run\" x", BuildCommandLine(spaced));
  EXPECT_EQ(spaced, SplitCommandLine(BuildCommandLine(spaced)));
  EXPECT_EQ("marlin3 /Qs \"My Set\"", BuildCommandLine({"marlin3", "/Qs", "My Set"}));
}

struct Record {
  std::string cwd;
  std::string argv0;
  Args args;
};

// Reads the recorder's file: "cwd LEN TEXT", "argv0 LEN TEXT", "arg LEN TEXT" lines (TEXT may hold \n).
std::optional<Record> ReadRecord(const std::string& path) {
  const std::string text = testutil::ReadFile(path);
  if (text.empty()) return std::nullopt;
  Record r;
  size_t i = 0;
  while (i < text.size()) {
    const size_t space = text.find(' ', i);
    const std::string tag = text.substr(i, space - i);
    size_t pos = 0;
    const size_t len = std::stoul(text.substr(space + 1), &pos);
    const std::string value = text.substr(space + 1 + pos + 1, len);
    i = space + 1 + pos + 1 + len + 1;
    if (tag == "cwd")
      r.cwd = value;
    else if (tag == "argv0")
      r.argv0 = value;
    else
      r.args.push_back(value);
  }
  return r;
}

class CreateProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_record = m_dir / "record.txt";
    m_env.emplace("M3_RECORD_FILE", m_record.c_str());
  }
  // Runs a command line, waits for the child and returns what it recorded.
  std::optional<Record> Run(const std::string& commandLine, const char* dir = nullptr,
                            const char* app = nullptr, void* env = nullptr) {
    std::filesystem::remove(m_record);
    std::string buffer = commandLine;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(app, buffer.data(), nullptr, nullptr, FALSE, 0, env, dir, &si, &pi))
      return std::nullopt;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 10000));
    DWORD code = 99;
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(0u, code);
    EXPECT_TRUE(CloseHandle(pi.hProcess));
    EXPECT_TRUE(CloseHandle(pi.hThread));
    return ReadRecord(m_record);
  }
  std::string Recorder() const { return testutil::BinDir() + "/platform_arg_recorder"; }

  testutil::TempDir m_dir;
  std::string m_record;
  std::optional<testutil::ScopedEnv> m_env;
};

TEST_F(CreateProcessTest, HostileArgumentsArriveAsDataAndNothingRunsThemThroughAShell) {
  const std::string pwned = m_dir / "pwned";
  Args args{Recorder()};
  args.insert(args.end(), kHostile.begin(), kHostile.end());
  args.push_back("$(touch " + pwned + "1)");
  args.push_back("`touch " + pwned + "2`");
  args.push_back("; touch " + pwned + "3");
  args.push_back("| touch " + pwned + "4");
  auto record = Run(BuildCommandLine(args));
  ASSERT_TRUE(record) << platform::GetLastError();
  EXPECT_EQ(Args(args.begin() + 1, args.end()), record->args);
  for (int i = 1; i <= 4; ++i) EXPECT_FALSE(std::filesystem::exists(pwned + std::to_string(i)));
}

TEST_F(CreateProcessTest, ExeNamesRunTheLinuxExecutableEvenWithBlanksInThePath) {
  const std::string tool = m_dir / "My Tool";
  std::filesystem::copy_file(Recorder(), tool);
  auto record = Run("\"" + tool + ".exe\" \"a b\" c");
  ASSERT_TRUE(record) << platform::GetLastError();
  EXPECT_EQ((Args{"a b", "c"}), record->args);
  EXPECT_EQ(tool, record->argv0);
  // Unquoted, as Windows reads it: "/…/My" is tried first, then "/…/My Tool.exe".
  record = Run(tool + ".exe d");
  ASSERT_TRUE(record) << platform::GetLastError();
  EXPECT_EQ((Args{"d"}), record->args);
}

TEST_F(CreateProcessTest, SearchesTheExecutableFolderThenPath) {
  // platform_arg_recorder lies beside the test program.
  testutil::ScopedEnv path("PATH", "/nonexistent");
  auto record = Run("platform_arg_recorder.exe one");
  ASSERT_TRUE(record) << platform::GetLastError();
  EXPECT_EQ((Args{"one"}), record->args);
  EXPECT_EQ("platform_arg_recorder", record->argv0);

  std::filesystem::create_directory(m_dir / "bin");
  std::filesystem::copy_file(Recorder(), m_dir / "bin/m3rec");
  testutil::ScopedEnv path2("PATH", ("/nonexistent:" + (m_dir / "bin")).c_str());
  record = Run("m3rec.exe two");
  ASSERT_TRUE(record) << platform::GetLastError();
  EXPECT_EQ((Args{"two"}), record->args);
}

TEST_F(CreateProcessTest, WorkingFolderAndEnvironmentBlock) {
  auto record = Run("\"" + Recorder() + "\" x", m_dir.path().c_str());
  ASSERT_TRUE(record);
  EXPECT_EQ(std::filesystem::canonical(m_dir.path()).string(), record->cwd);

  const std::string block =
      "M3_RECORD_FILE=" + m_record + std::string(1, '\0') + "OTHER=1" + std::string(2, '\0');
  record = Run("\"" + Recorder() + "\" y", nullptr, nullptr, const_cast<char*>(block.data()));
  ASSERT_TRUE(record);
  EXPECT_EQ((Args{"y"}), record->args);
}

TEST_F(CreateProcessTest, ApplicationNameIsNotSearched) {
  auto record = Run("ignored-name z", nullptr, Recorder().c_str());
  ASSERT_TRUE(record) << platform::GetLastError();
  EXPECT_EQ((Args{"z"}), record->args);
}

TEST_F(CreateProcessTest, FailuresSetWindowsCodes) {
  std::string line = "no-such-program-m3.exe a";
  STARTUPINFOA si{};
  PROCESS_INFORMATION pi{};
  EXPECT_FALSE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), platform::GetLastError());
  line = "\"" + Recorder() + "\"";
  EXPECT_FALSE(
      CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, "/no/such/dir", &si, &pi));
  EXPECT_EQ(static_cast<DWORD>(ERROR_DIRECTORY), platform::GetLastError());
  // A file that is not executable is not run.
  testutil::WriteFile(m_dir / "notexe", "#!/bin/sh\ntouch " + (m_dir / "ran") + "\n");
  line = m_dir / "notexe";
  EXPECT_FALSE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
}

char ProcessState(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return '-';  // gone: reaped
  const size_t close = line.rfind(')');
  return close + 2 < line.size() ? line[close + 2] : '?';
}

TEST_F(CreateProcessTest, ChildrenAreReapedWithoutWaiting) {
  std::string line = "\"" + Recorder() + "\" reap";
  STARTUPINFOA si{};
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  const pid_t pid = static_cast<pid_t>(pi.dwProcessId);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  char state = '?';
  for (int i = 0; i < 200; ++i) {
    state = ProcessState(pid);
    if (state == '-') break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ('-', state) << "left as a zombie";
}

TEST_F(CreateProcessTest, ShellExecuteOpenUsesXdgOpen) {
  std::filesystem::create_directory(m_dir / "bin");
  std::filesystem::copy_file(Recorder(), m_dir / "bin/xdg-open");
  testutil::ScopedEnv path("PATH", (m_dir / "bin").c_str());
  ASSERT_TRUE(ShellExecuteOpen("/home/me/My Scans/scan 1.pdf"));
  std::optional<Record> record;
  for (int i = 0; i < 500 && !record; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    record = ReadRecord(m_record);
  }
  ASSERT_TRUE(record);
  EXPECT_EQ((Args{"/home/me/My Scans/scan 1.pdf"}), record->args);
}

TEST(SnapshotTest, ProcessesAndModules) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  ASSERT_NE(INVALID_HANDLE_VALUE, snap);
  PROCESSENTRY32 pe{};
  EXPECT_FALSE(Process32First(snap, &pe));  // dwSize not set
  EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_LENGTH), platform::GetLastError());
  pe.dwSize = sizeof pe;
  bool foundSelf = false;
  for (BOOL ok = Process32First(snap, &pe); ok; ok = Process32Next(snap, &pe)) {
    if (pe.th32ProcessID == GetCurrentProcessId()) {
      foundSelf = true;
      EXPECT_STREQ("platform_tests", pe.szExeFile);
      EXPECT_EQ(static_cast<DWORD>(getppid()), pe.th32ParentProcessID);
    }
  }
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), platform::GetLastError());
  EXPECT_TRUE(foundSelf);
  CloseHandle(snap);

  snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
  ASSERT_NE(INVALID_HANDLE_VALUE, snap);
  MODULEENTRY32 me{};
  me.dwSize = sizeof me;
  ASSERT_TRUE(Module32First(snap, &me));
  EXPECT_EQ(testutil::BinDir() + "/platform_tests", me.szExePath);
  EXPECT_STREQ("platform_tests", me.szModule);
  bool sawLibc = false;
  while (Module32Next(snap, &me)) sawLibc |= std::string(me.szModule).find("libc.so") == 0;
  EXPECT_TRUE(sawLibc);
  CloseHandle(snap);

  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0x7FFFFFF0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), platform::GetLastError());
}

TEST(SnapshotTest, UnreadableExecutableIsAccessDenied) {
  // A zombie's executable cannot be read, like a process of another user.
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  for (int i = 0; i < 200 && ProcessState(pid) != 'Z'; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, static_cast<DWORD>(pid));
  ASSERT_NE(INVALID_HANDLE_VALUE, snap);
  MODULEENTRY32 me{};
  me.dwSize = sizeof me;
  EXPECT_FALSE(Module32First(snap, &me));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), platform::GetLastError());
  CloseHandle(snap);
  testutil::Wait(pid);
}

TEST(SnapshotTest, ExecutableNames) {
  EXPECT_EQ("DEVWATCH", platform::process::ExecutableName("DEVWATCH.exe"));
  EXPECT_EQ("Tool", platform::process::ExecutableName("Tool.EXE"));
  EXPECT_EQ("marlin3", platform::process::ExecutableName("marlin3"));
}

}  // namespace
