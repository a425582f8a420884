// DebugTrace against the real log file: line format, levels, the numbered convention, system errors,
// the one error box per run (through the scripted ui host's transcript) and the failed-open rule.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "log/DebugTrace.h"
#include "platform/base/WinTypes.h"
#include "platform/framework/WinApp.h"
#include "tests/common/TestFiles.h"

namespace fs = std::filesystem;

namespace {

fs::path g_scratch;

// The ui host and the debugger output read their switches once per process, so they are set before
// any test runs.
struct ProcessSetup {
  ProcessSetup() {
    char pattern[] = "/tmp/m3logtest.XXXXXX";
    g_scratch = mkdtemp(pattern);
    std::ofstream script(g_scratch / "script.txt");
    // Exactly the one box of OnlyTheFirstErrorOfARunIsShownInABox: the scripted host treats answers
    // left over at exit as a script error.
    script << "msgbox OK\n";
    setenv("MARLIN3_UI", "scripted", 1);
    setenv("MARLIN3_UI_SCRIPT", (g_scratch / "script.txt").c_str(), 1);
    setenv("MARLIN3_UI_TRANSCRIPT", (g_scratch / "transcript.txt").c_str(), 1);
    setenv("MARLIN3_DEBUGOUT", "1", 1);
  }
  ~ProcessSetup() {
    std::error_code ec;
    fs::remove_all(g_scratch, ec);
  }
} g_setup;

using test_common::ReadFile;

class DebugTraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DebugTrace::ResetForTest();
    m_path =
        g_scratch / (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".log");
    fs::remove(m_path);
  }
  void TearDown() override { DebugTrace::ResetForTest(); }

  std::string Log() const { return ReadFile(m_path); }

  fs::path m_path;
};

TEST_F(DebugTraceTest, PlainLineFormatAndSourceNameAfterLastSlash) {
  {
    DebugTrace trace("InitInstance", "/src/app/halyard.cpp", m_path.c_str());
    trace.Write("hello world");
    // Written through at once: visible while the tracer is alive.
    EXPECT_EQ(Log(), "halyard.cpp: InitInstance> hello world\r\n");
  }
  EXPECT_EQ(Log(), "halyard.cpp: InitInstance> hello world\r\n");  // no "Exiting" at level 1
}

TEST_F(DebugTraceTest, SourcePathWithoutSlashIsUsedWhole) {
  DebugTrace trace("F", "plain.cpp", m_path.c_str());
  trace.Write("x");
  EXPECT_EQ(Log(), "plain.cpp: F> x\r\n");
}

TEST_F(DebugTraceTest, LevelsDecideEntryExitAndDetailLines) {
  struct Case {
    int level;
    std::string expected;
  };
  const Case cases[] = {
      {1, "s.cpp: F> plain\r\ns.cpp: F> err\r\n"},
      {2, "s.cpp: F> plain\r\ns.cpp: F> detail\r\ns.cpp: F> err\r\n"},
      {3,
       "s.cpp: F> Entered\r\ns.cpp: F> plain\r\ns.cpp: F> detail\r\ns.cpp: F> err\r\n"
       "s.cpp: F> Exiting\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    DebugTrace::ResetForTest();
    fs::remove(m_path);
    { DebugTrace opener("Open", "o.cpp", m_path.c_str()); }  // opens the log at level 1, writes nothing
    DebugTrace::SetLevel(c.level);
    {
      DebugTrace trace("F", "dir/s.cpp");
      trace.Write("plain");
      trace.Detail("detail");
      trace.Error("err");
    }
    EXPECT_EQ(Log(), c.expected);
  }
}

TEST_F(DebugTraceTest, EntryLineOfTheFirstTracerGoesToTheDebuggerOnly) {
  // The first tracer writes "Entered" before the log is open; later tracers reach the file.
  DebugTrace::SetLevel(3);
  {
    DebugTrace first("First", "a.cpp", m_path.c_str());
    DebugTrace second("Second", "b.cpp");
  }
  EXPECT_EQ(Log(), "b.cpp: Second> Entered\r\nb.cpp: Second> Exiting\r\na.cpp: First> Exiting\r\n");
}

TEST_F(DebugTraceTest, FormattedForms) {
  DebugTrace trace("F", "s.cpp", m_path.c_str());
  trace.Write("count %d pages", 5);
  trace.Write("100% sure");  // no number: the text is not a format
  trace.WriteFormat("Open failed as %s doesn't exist", std::string("SOFTWARE\\X"));
  trace.ErrorFormat("code %d", 42LL);
  trace.Error("line %d", 7);
  EXPECT_EQ(Log(),
            "s.cpp: F> count 5 pages\r\n"
            "s.cpp: F> 100% sure\r\n"
            "s.cpp: F> Open failed as SOFTWARE\\X doesn't exist\r\n"
            "s.cpp: F> code 42\r\n"
            "s.cpp: F> line 7\r\n");
}

TEST_F(DebugTraceTest, NumberedConventionEndsWithLineFeedBeforeTheLineEnd) {
  DebugTrace trace("F", "s.cpp", m_path.c_str());
  trace.Error(DebugTrace::Numbered(123, "LoadString failed"));
  EXPECT_EQ(Log(), "s.cpp: F> 123->LoadString failed\n\r\n");
}

TEST_F(DebugTraceTest, SystemErrorCarriesCodeAndSystemText) {
  DebugTrace trace("F", "s.cpp", m_path.c_str());
  platform::SetLastError(ERROR_FILE_NOT_FOUND);
  trace.SystemError("Creating directory failed");
  // The system text's own line end is not written into the middle of the log line.
  EXPECT_EQ(Log(), "s.cpp: F> Creating directory failed: (2) The system cannot find the file specified.\r\n");
}

TEST_F(DebugTraceTest, FormatOneNeverReadsAMissingArgument) {
  struct Case {
    const char* format;
    std::string text;
    long long number;
    std::string expectedText;
    std::string expectedNumber;
  };
  const Case cases[] = {
      {"%s", "abc", 5, "abc", "5"},
      {"%d items", "7", 7, "7 items", "7 items"},
      {"%s and %d and %s", "x", 1, "x and %d and %s", "1 and %d and %s"},
      {"100%% of %s", "it", 3, "100% of it", "100% of 3"},
      {"%5d|", "ab", 42, "ab|", "   42|"},
      {"%ld", "t", -9, "t", "-9"},
      {"no placeholder", "t", 1, "no placeholder", "no placeholder"},
      {"trailing %", "t", 1, "trailing %", "trailing %"},
      {"%*d", "t", 1, "%*d", "%*d"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(DebugTrace::FormatOne(c.format, c.text), c.expectedText);
    EXPECT_EQ(DebugTrace::FormatOne(c.format, c.number), c.expectedNumber);
  }
}

TEST_F(DebugTraceTest, OnlyTheFirstErrorOfARunIsShownInABox) {
  CWinApp app("marlin3test");
  const fs::path transcript = g_scratch / "transcript.txt";
  std::string before = ReadFile(transcript);
  DebugTrace::SetShowErrors(true);
  {
    DebugTrace trace("Func", "x/s.cpp", m_path.c_str());
    trace.Write("plain lines never show a box");
    trace.Error("first");
    trace.ErrorFormat("second %s", std::string("one"));
  }
  std::string added = ReadFile(transcript).substr(before.size());
  EXPECT_EQ(added,
            "msgbox caption=\"marlin3test\" text=\"s.cpp:Func> first\" buttons=OK icon=none answer=OK\n");
  EXPECT_EQ(Log(),
            "s.cpp: Func> plain lines never show a box\r\ns.cpp: Func> first\r\ns.cpp: Func> second one\r\n");
}

TEST_F(DebugTraceTest, ErrorBoxesOffWritesOnly) {
  const fs::path transcript = g_scratch / "transcript.txt";
  std::string before = ReadFile(transcript);
  DebugTrace::SetShowErrors(false);
  {
    DebugTrace trace("Func", "s.cpp", m_path.c_str());
    trace.Error("quiet");
  }
  EXPECT_EQ(ReadFile(transcript), before);
  EXPECT_EQ(Log(), "s.cpp: Func> quiet\r\n");
}

TEST_F(DebugTraceTest, FailedOpenIsReportedOnceAndNeverRetried) {
  const fs::path missing = g_scratch / "missing-dir";
  const fs::path path = missing / "marlin3.log";
  ::testing::internal::CaptureStderr();
  {
    DebugTrace trace("F", "s.cpp", path.c_str());
    trace.Write("lost");
  }
  fs::create_directory(missing);  // the folder appears, but no later tracer tries again
  {
    DebugTrace trace("G", "s.cpp");
    trace.Write("still lost");
  }
  std::string debugOut = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(debugOut.find("***'" + path.string() + "' could not be created or opened\n"), std::string::npos);
  EXPECT_NE(debugOut.find("***s.cpp: G> still lost\r\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(DebugTraceTest, WritingStartsAtTheBeginningOfAnExistingFile) {
  const std::string old = "0123456789012345678901234567890123456789TAIL";
  { std::ofstream(m_path, std::ios::binary) << old; }
  {
    DebugTrace trace("F", "s.cpp", m_path.c_str());
    trace.Write("new");
  }
  const std::string line = "s.cpp: F> new\r\n";
  EXPECT_EQ(Log(), line + old.substr(line.size()));
}

}  // namespace

TEST_F(DebugTraceTest, ControlCharactersInsideAMessageCannotForgeALine) {
  DebugTrace trace("F", "s.cpp", m_path.c_str());
  trace.WriteFormat("Using source '%s'", std::string("A\r\ns.cpp: F> forged\tline\x01\x7F"));
  trace.Error(DebugTrace::Numbered(7, "name\nwith break"));  // the program's own trailing "\n" stays
  EXPECT_EQ(Log(),
            "s.cpp: F> Using source 'A\\r\\ns.cpp: F> forged\\tline\\x01\\x7F'\r\n"
            "s.cpp: F> 7->name\\nwith break\n\r\n");
}

TEST_F(DebugTraceTest, HeldErrorBoxShowsOnReleaseOnlyWhileBoxesAreOn) {
  CWinApp app("marlin3test");
  const fs::path transcript = g_scratch / "transcript.txt";
  const std::string before = ReadFile(transcript);
  DebugTrace::SetShowErrors(true);
  DebugTrace::HoldErrorBoxes();
  {
    DebugTrace trace("Func", "s.cpp", m_path.c_str());
    trace.Error("held");
    trace.Error("second");
  }
  EXPECT_EQ(ReadFile(transcript), before);  // nothing shown while held
  DebugTrace::ReleaseErrorBoxes();
  EXPECT_EQ(ReadFile(transcript).substr(before.size()),
            "msgbox caption=\"marlin3test\" text=\"s.cpp:Func> held\" buttons=OK icon=none answer=OK\n");

  // A run that turns boxes off before the release (task 8, every hide bit) shows nothing at all.
  DebugTrace::ResetForTest();
  const std::string mid = ReadFile(transcript);
  DebugTrace::SetShowErrors(true);
  DebugTrace::HoldErrorBoxes();
  {
    DebugTrace trace("Func", "s.cpp", m_path.c_str());
    trace.Error("never shown");
  }
  DebugTrace::SetShowErrors(false);
  DebugTrace::ReleaseErrorBoxes();
  EXPECT_EQ(ReadFile(transcript), mid);
  EXPECT_NE(Log().find("s.cpp: Func> never shown\r\n"), std::string::npos);
}
