// Starting programs and finding running ones, with a real child: the argument recorder receives hostile
// file names as data (nothing is run by a shell), long commands work whole, too long ones fail with a
// log line, and FindPathFromExe finds the recorder in the process list while it runs.
#include <chrono>
#include <thread>
#include <vector>

#include "UtilsFixture.h"
#include "platform/process/Process.h"

namespace utils_test {
namespace {

// Windows quoting of one argument (the rules CommandLineToArgvW undoes), written here independently of
// the process layer so the test checks the layer rather than restating it.
std::string QuoteArg(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  for (size_t i = 0;; ++i) {
    size_t backslashes = 0;
    while (i < arg.size() && arg[i] == '\\') ++i, ++backslashes;
    if (i == arg.size()) {
      out.append(backslashes * 2, '\\');
      break;
    }
    if (arg[i] == '"') {
      out.append(backslashes * 2 + 1, '\\');
      out += '"';
    } else {
      out.append(backslashes, '\\');
      out += arg[i];
    }
  }
  return out + "\"";
}

class ProcessTest : public UtilsTest {
 protected:
  void SetUp() override {
    UtilsTest::SetUp();
    m_recorder = std::string(MARLIN3_BIN_DIR) + "/m3utils_argrecorder";
    m_out = (m_dir / "args.txt").string();
    setenv("MARLIN3_RECORDER_OUT", m_out.c_str(), 1);
    unsetenv("MARLIN3_RECORDER_HOLD");
  }
  void TearDown() override {
    unsetenv("MARLIN3_RECORDER_OUT");
    unsetenv("MARLIN3_RECORDER_HOLD");
    UtilsTest::TearDown();
  }

  // The arguments the recorder wrote, once it has written them (at most 30 s); false if it never did.
  bool Recorded(std::vector<std::string>& args) {
    for (int i = 0; i < 1500 && !fs::exists(m_out); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!fs::exists(m_out)) return false;
    const std::string text = ReadFile(m_out);
    size_t pos = text.find('\n');
    if (pos == std::string::npos) return false;
    args.clear();
    for (++pos; pos < text.size();) {
      const size_t colon = text.find(':', pos);
      if (colon == std::string::npos) return false;
      const size_t length = std::stoul(text.substr(pos, colon - pos));
      args.push_back(text.substr(colon + 1, length));
      pos = colon + 1 + length + 1;
    }
    return true;
  }

  std::string m_recorder;
  std::string m_out;
};

TEST_F(ProcessTest, HostileFileNamesArriveAsData) {
  const std::string trap = (m_dir / "ran").string();  // any file named ran* means a shell ran something
  const std::vector<std::string> args = {
      "my scan.jpg",
      "a\"b.jpg",
      "x;touch " + trap + "1",
      "$(touch " + trap + "2)",
      "`touch " + trap + "3`",
      "a|touch " + trap + "4",
      "a&&touch " + trap + "5",
      "a>" + trap + "6",
      "line1\ntouch " + trap + "7",
      "trailing\\",
      "back\\\"slash",
      "*",
      "$HOME",
      "%PATH%",
      "",
      "caf\xC3\xA9 \xE2\x82\xAC",
  };
  std::string command = QuoteArg(m_recorder);
  for (const std::string& a : args) command += " " + QuoteArg(a);
  ValueGetter vg("");
  ASSERT_TRUE(vg.CreateProcess(command, "Failed to launch app"));
  std::vector<std::string> got;
  ASSERT_TRUE(Recorded(got));
  EXPECT_EQ(got, args);
  for (int i = 1; i <= 7; ++i) EXPECT_FALSE(fs::exists(trap + std::to_string(i))) << i;
  EXPECT_TRUE(Logged("ProcessUtils.cpp", "CreateProcess", "CreateProcess on: ..........................."));
  // The log writes the line break inside the argument escaped: one log line stays one line.
  std::string logged = command;
  logged.replace(logged.find('\n'), 1, "\\n");
  EXPECT_TRUE(Logged("ProcessUtils.cpp", "CreateProcess", logged));
}

TEST_F(ProcessTest, UnquotedShellSyntaxIsSplitNotRun) {
  const std::string trap = (m_dir / "ran").string();
  const std::string command = m_recorder + " one;touch " + trap + " $(touch " + trap + ") | tee " + trap;
  ValueGetter vg("");
  ASSERT_TRUE(vg.CreateProcess(command, "Failed to launch app"));
  std::vector<std::string> got;
  ASSERT_TRUE(Recorded(got));
  const std::vector<std::string> expected = {"one;touch", trap, "$(touch", trap + ")", "|", "tee", trap};
  EXPECT_EQ(got, expected);
  EXPECT_FALSE(fs::exists(trap));
}

TEST_F(ProcessTest, LongCommandRunsWhole) {
  std::string path = "/";
  while (path.size() < 600) path += "a folder with a long name/";
  path += "scan.jpg";
  const std::string command = QuoteArg(m_recorder) + " " + QuoteArg(path);
  ASSERT_GT(command.size(), 260u);
  ValueGetter vg("");
  ASSERT_TRUE(vg.CreateProcess(command, "Failed to launch app"));
  std::vector<std::string> got;
  ASSERT_TRUE(Recorded(got));
  EXPECT_EQ(got, std::vector<std::string>{path});
}

TEST_F(ProcessTest, FailuresAreLoggedWithFailureText) {
  struct Case {
    std::string strCommand;
    DWORD nError;
  };
  const Case cases[] = {
      {QuoteArg(m_recorder) + " " + std::string(40000, 'x'), ERROR_FILENAME_EXCED_RANGE},
      {m_recorder + std::string(" a\0b", 4), ERROR_INVALID_PARAMETER},
      {(m_dir / "no such program").string() + " x", ERROR_FILE_NOT_FOUND},
      {"", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.strCommand.substr(0, 80));
    const size_t logged = Log().size();
    ValueGetter vg("");
    EXPECT_FALSE(vg.CreateProcess(c.strCommand, "Notifying toolbox failed"));
    const std::string log = Log().substr(logged);
    EXPECT_NE(log.find("ProcessUtils.cpp: CreateProcess> Notifying toolbox failed ("), std::string::npos)
        << log;
    if (c.nError != 0) {
      // The system text's own line end is left out: it would sit inside the line.
      std::string text = platform::FormatMessageText(c.nError);
      text.resize(text.size() - 2);
      EXPECT_NE(log.find("Notifying toolbox failed (" + text + ")"),
                std::string::npos)
          << log;
    }
  }
  EXPECT_FALSE(fs::exists(m_out));  // nothing was started
}

TEST_F(ProcessTest, FindPathFromExeFindsRunningChild) {
  const std::string hold = (m_dir / "hold").string();
  Touch(hold);
  setenv("MARLIN3_RECORDER_HOLD", hold.c_str(), 1);
  ValueGetter vg("");
  ASSERT_TRUE(vg.CreateProcess(QuoteArg(m_recorder) + " running", "Failed to launch app"));
  std::vector<std::string> got;
  ASSERT_TRUE(Recorded(got));  // it runs and waits for the hold file to go

  const std::string expected = fs::canonical(m_recorder).string();
  std::string path;
  EXPECT_TRUE(vg.FindPathFromExe(path, "m3utils_argrecorder.exe", "ToolboxExe"));
  EXPECT_EQ(path, expected);
  EXPECT_EQ(Main("ToolboxExe"), expected);
  // A part of the name is enough; without a value name nothing is stored.
  SetString(HKEY_CURRENT_USER, m_mainKey, "ToolboxExe", "");
  EXPECT_TRUE(vg.FindPathFromExe(path, "utils_argrec", ""));
  EXPECT_EQ(path, expected);
  EXPECT_EQ(Main("ToolboxExe"), "");
  fs::remove(hold);
}

TEST_F(ProcessTest, FindPathFromExeUsesStoredValueWhileFileExists) {
  const std::string tool = (m_dir / "DEVWATCH").string();
  Touch(tool, "#!");
  SetString(HKEY_CURRENT_USER, m_mainKey, "ToolboxExe", tool);
  ValueGetter vg("");
  std::string path;
  EXPECT_TRUE(vg.FindPathFromExe(path, "m3utils_nosuchprogram.exe", "ToolboxExe"));
  EXPECT_EQ(path, tool);  // not running, but the stored file exists

  fs::remove(tool);
  EXPECT_TRUE(vg.FindPathFromExe(path, "m3utils_nosuchprogram.exe", "ToolboxExe"));
  EXPECT_EQ(path, "");
  EXPECT_EQ(Main("ToolboxExe"), "");  // cleared, then stored empty
}

TEST_F(ProcessTest, ScanToAvailability) {
  const std::string tool = (m_dir / "DEVWATCH").string();
  Touch(tool, "#!");
  struct Case {
    const char* product;  // nullptr: value absent
    bool bToolThere;
    bool bAvailable;
  };
  const Case cases[] = {
      {"Kyte", true, true},   {"Kyte", false, false}, {"kyte", true, false},
      {"Other", true, false}, {nullptr, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.product ? c.product : "<absent>") + (c.bToolThere ? " with" : " without"));
    RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Nexora");
    SetString(HKEY_CURRENT_USER, m_mainKey, "ToolboxExe", c.bToolThere ? tool : (m_dir / "gone").string());
    if (c.product != nullptr) SetString(HKEY_CURRENT_USER, m_mainKey, "ProductToUse", c.product);
    EXPECT_EQ(ValueGetter("").IsScanToAvailable(), c.bAvailable);
  }
}

}  // namespace
}  // namespace utils_test
