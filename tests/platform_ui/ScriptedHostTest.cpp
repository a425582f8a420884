// The scripted host, run as a child process (a script that fails ends the process with 70): message
// boxes, every control action of a dialog, the wizard's buttons and jumps, file dialogs, and the loud
// failures on a script that runs out or names what is not there.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/common/TestFiles.h"

namespace {

struct ChildRun {
  int exitCode = -1;
  std::string out;
  std::string transcript;
};

using test_common::ReadFile;

class ScriptedHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = std::filesystem::temp_directory_path() /
            ("m3ui-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
             std::to_string(::getpid()));
    std::filesystem::create_directories(m_dir);
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }

  ChildRun Start(const std::string& scenario, const std::string& script, const std::string& extra = "") {
    std::ofstream(m_dir / "script.txt") << script;
    const std::string command = "MARLIN3_UI=scripted MARLIN3_UI_SCRIPT='" + (m_dir / "script.txt").string() +
                                "' MARLIN3_UI_TRANSCRIPT='" + (m_dir / "transcript.txt").string() + "' '" +
                                MARLIN3_BIN_DIR + "/platform_ui_script_runner' " + scenario + " " + extra +
                                " > '" + (m_dir / "out.txt").string() + "' 2>/dev/null";
    ChildRun run;
    const int status = std::system(command.c_str());
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFile(m_dir / "out.txt");
    run.transcript = ReadFile(m_dir / "transcript.txt");
    return run;
  }

  std::filesystem::path m_dir;
};

TEST_F(ScriptedHostTest, MessageBoxesAnswerAndTranscribe) {
  const ChildRun run = Start("msgbox", "# answers\n\nmsgbox NO Replace\n   msgbox OK\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "first=7\nsecond=1\n");
  EXPECT_EQ(
      run.transcript,
      "msgbox caption=\"Question\" text=\"Replace \\\"a\\\\b\\\"?\\nSure\" buttons=YESNOCANCEL icon=question "
      "answer=NO\n"
      "msgbox caption=\"Error\" text=\"Done\" buttons=OK icon=none answer=OK\n");
}

TEST_F(ScriptedHostTest, ScriptFaultsExitWith70) {
  const struct {
    const char* scenario;
    const char* script;
    const char* error;
  } cases[] = {
      {"msgbox", "msgbox NO\n", "the script ran out"},
      {"msgbox", "msgbox OK\n", "OK is not a button of the box"},
      {"msgbox", "msgbox YES Delete\n", "does not contain"},
      {"msgbox", "click 1\n", "does not answer the message box"},
      {"dialog", "dialog 501\n", "does not expect dialog 500"},
      {"dialog", "dialog 500\nclick 999\n", "control 999 of dialog 500 does not exist"},
      {"dialog", "dialog 500\ncheck 100\n", "is not a check box"},
      {"dialog", "dialog 500\nselect 140 nothing\n", "has no entry \"nothing\""},
      {"dialog", "dialog 500\nexpand 160 Top|Nope\n", "has no item"},
      {"dialog", "dialog 500\n", "the script ran out; dialog 500 waits for an action"},
      {"dialog", "dialog 500\nfrobnicate\n", "is not an action"},
      {"wizard", "wizard\nback\n", "back button is not available"},
      {"wizard", "wizard\nnext\nnext\nnext\n", "next button is not available"},
      // Extra words, blanks after numbers, bad numbers and unterminated quotes are refused.
      {"dialog", "dialog 500\nok now\n", "extra text after \"ok\""},
      {"dialog", "dialog 500\nclick 101 twice\n", "extra text after the control number 101"},
      {"dialog", "dialog 500\nclick 101 \n", "blank after the control number 101"},
      {"dialog", "dialog 500\nslide 150 5 \n", "blank after the position 5"},
      {"dialog", "dialog 500 \n", "blank after the dialog number 500"},
      {"dialog", "dialog 500\nclick 1x\n", "\"1x\" is not a number"},
      {"dialog", "dialog 500\nslide 150 +5\n", "\"+5\" is not a number"},
      {"dialog", "dialog 500\nshow all\n", "extra text after \"show\""},
      {"dialog", "dialog 500\ntype 100 \"a\" b\n", "extra text after the closing quote"},
      {"wizard", "wizard\nnext please\n", "extra text after \"next\""},
      {"msgbox", "msgbox NO \"Replace\n", "unterminated quoted text"},
      // Lines the program never asked for.
      {"msgbox", "msgbox NO\nmsgbox OK\nmsgbox OK\n", "1 script line(s) left, the first is line 3"},
      // ... also when the program showed nothing at all.
      {"none", "msgbox OK\n", "1 script line(s) left, the first is line 1 \"msgbox OK\""},
  };
  for (const auto& c : cases) {
    const ChildRun run = Start(c.scenario, c.script);
    EXPECT_EQ(run.exitCode, 70) << c.script;
    EXPECT_NE(run.transcript.find("error: "), std::string::npos) << c.script;
    EXPECT_NE(run.transcript.find(c.error), std::string::npos) << c.script << "\n" << run.transcript;
    // The error is a whole line: a reader of the transcript (or one appending to it) sees its end.
    EXPECT_TRUE(!run.transcript.empty() && run.transcript.back() == '\n') << c.script;
    std::filesystem::remove(m_dir / "transcript.txt");
  }
}

TEST_F(ScriptedHostTest, DialogActionsReachTheModel) {
  const ChildRun run = Start("dialog",
                             "dialog 500\n"
                             "type 100 a name that is far too long\n"
                             "show\n"
                             "type 100 Fred\n"
                             "check 101\n"
                             "check 101\n"  // already checked: no second click
                             "radio 111\n"
                             "select 130 Beta\n"
                             "dblclick 140 beta\n"
                             "slide 150 999\n"
                             "type 170 4x2\n"
                             "expand 160 Top\n"
                             "treeselect 160 Top|Child B\n"
                             "tooltip 180\n"
                             "show\n"
                             "ok\n");
  ASSERT_EQ(run.exitCode, 0) << run.transcript;
  EXPECT_NE(run.out.find("result=1\n"), std::string::npos);
  EXPECT_NE(run.out.find("name=Fred\n"), std::string::npos);
  EXPECT_NE(run.out.find("check=1\nradio=1\ndrop=Beta\nslider=255\nnumber=42\n"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("events=check;radio111;combo;dblclk beta;slider;tree;"), std::string::npos)
      << run.out;
  // The typed text is cut at the edit's limit (12, from DDV_MaxChars).
  EXPECT_NE(run.transcript.find("100 edit limit=12 text=\"a name that \""), std::string::npos)
      << run.transcript;
  EXPECT_NE(run.transcript.find("    item \"Alpha\" data=0\n    item \"beta\" data=0\n    item \"zeta\""),
            std::string::npos);
  EXPECT_NE(run.transcript.find("tooltip 180 text=\"Press to rename\""), std::string::npos);
  EXPECT_NE(run.transcript.find(
                "    item \"Top\" expanded\n      item \"Child A\"\n      item \"Child B\" selected"),
            std::string::npos)
      << run.transcript;
  EXPECT_NE(run.transcript.find("end dialog 500 result=1"), std::string::npos);
}

TEST_F(ScriptedHostTest, AFifoScriptFailsInsteadOfWaiting) {
  const std::string fifo = (m_dir / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string command = "timeout 20 env MARLIN3_UI=scripted MARLIN3_UI_SCRIPT='" + fifo +
                              "' MARLIN3_UI_TRANSCRIPT='" + (m_dir / "t.txt").string() + "' '" +
                              MARLIN3_BIN_DIR + "/platform_ui_script_runner' msgbox >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 70);  // 124 would be the timeout: a hang
  EXPECT_NE(ReadFile(m_dir / "t.txt").find("is not a regular file"), std::string::npos);
}

TEST_F(ScriptedHostTest, TreePathEscapesTheBar) {
  const ChildRun run = Start("dialog", "dialog 500\nexpand 160 Top\ntreeselect 160 Top|a\\|b\nshow\nok\n");
  ASSERT_EQ(run.exitCode, 0) << run.transcript;
  EXPECT_NE(run.transcript.find("      item \"a|b\" selected"), std::string::npos) << run.transcript;
  // The dialog opens with the focus on its first tab stop.
  EXPECT_NE(run.transcript.find("dialog 500 caption=\"Every Control\" focus=100\n"), std::string::npos)
      << run.transcript;
}

TEST_F(ScriptedHostTest, ExchangeFailureShowsTheMessageAndFocusesTheField) {
  const ChildRun run =
      Start("dialog", "dialog 500\ntype 170 \"\"\nok\nmsgbox OK integer\nshow\ntype 170 5\nok\n");
  ASSERT_EQ(run.exitCode, 0) << run.transcript;
  EXPECT_NE(run.transcript.find("text=\"Please enter an integer.\" buttons=OK icon=exclamation answer=OK\n"
                                "> show\nstate 500 caption=\"Every Control\" focus=170"),
            std::string::npos)
      << run.transcript;
  EXPECT_NE(run.out.find("result=1\n"), std::string::npos);
  EXPECT_NE(run.out.find("number=5\n"), std::string::npos);
}

TEST_F(ScriptedHostTest, WindowMenuAndIcon) {
  const ChildRun run = Start("sysmenu", "dialog 500\nsysmenu About Test...\nsysmenu \"&Close\tAlt+F4\"\n");
  ASSERT_EQ(run.exitCode, 0) << run.transcript;
  EXPECT_EQ(run.out, "result=2\nevents=about;\n");
  EXPECT_NE(run.transcript.find(
                "focus=100 icon=32515\n  sysmenu separator\n  sysmenu 16 text=\"&About Test...\"\n"),
            std::string::npos)
      << run.transcript;
  const ChildRun missing = Start("sysmenu", "dialog 500\nsysmenu Help\n");
  EXPECT_EQ(missing.exitCode, 70);
}

TEST_F(ScriptedHostTest, ModelessDialogAndWaitCursorInTheTranscript) {
  const ChildRun run = Start("modeless", "");
  ASSERT_EQ(run.exitCode, 0) << run.transcript;
  EXPECT_EQ(run.out, "created=1 window=1\ndestroyed=1 window=0 again=0\n");
  EXPECT_EQ(run.transcript.rfind("modeless 500 hidden caption=\"Every Control\"", 0), 0u) << run.transcript;
  // Nested levels show one change each way; the extra end changes nothing.
  const std::string tail = run.transcript.substr(run.transcript.find("cursor"));
  EXPECT_EQ(tail, "cursor wait\ncursor normal\nend modeless 500\n");
}

TEST_F(ScriptedHostTest, AModelessDialogTakesItsLinesWhileTheProgramPumps) {
  const ChildRun run =
      Start("pump", "modeless 500\nclick 101\nwaitfor 100 \"step 3\"\nclick 180\nmsgbox OK\n");
  ASSERT_EQ(run.exitCode, 0) << run.transcript;
  EXPECT_EQ(run.out,
            "hidden events=\nstep1 events=check;\nstep2 events=check;\nstep3 events=check;push;\n"
            "step4 events=check;push;\nbox=1\n");
  EXPECT_NE(run.transcript.find("> click 101\n> waitfor 100 \"step 3\"\n> click 180\nend modeless 500\n"),
            std::string::npos)
      << run.transcript;
  struct Case {
    const char* script;
    const char* why;
  } const failing[] = {
      {"modeless 500\nwaitfor 100 \"step 9\"\nclick 180\nmsgbox OK\n", "a text that never comes"},
      {"modeless 500\nwaitfor 999 x\n", "no such control"},
      {"modeless 500\nwaitfor 100 \"step\" more\n", "extra text"},
      {"modeless 501\nmsgbox OK\n", "no such window"},
  };
  for (const Case& c : failing) {
    const ChildRun bad = Start("pump", c.script);
    EXPECT_EQ(bad.exitCode, 70) << c.why << "\n" << bad.transcript;
    EXPECT_NE(bad.transcript.find("error: "), std::string::npos) << c.why;
  }
}

TEST_F(ScriptedHostTest, WizardLetsThePageGoBeforeItsNextHandler) {
  const ChildRun refused = Start("wizardorder", "wizard\ntype 300 abc\nnext\nmsgbox OK\ncancel\n");
  ASSERT_EQ(refused.exitCode, 0) << refused.transcript;
  EXPECT_EQ(refused.out, "result=2\norder=kill;\n");
  std::filesystem::remove(m_dir / "transcript.txt");
  const ChildRun ok = Start("wizardorder", "wizard\nnext\nfinish\n");
  ASSERT_EQ(ok.exitCode, 0) << ok.transcript;
  EXPECT_EQ(ok.out, "result=12325\norder=kill;next;kill;finish;\n");
}

TEST_F(ScriptedHostTest, DialogCancelKeepsFieldsAndPushRuns) {
  const ChildRun run = Start("dialog", "dialog 500\nclick 180\ntype 100 changed\ncancel\n");
  ASSERT_EQ(run.exitCode, 0) << run.transcript;
  EXPECT_NE(run.out.find("result=2\nname=start\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("events=push;"), std::string::npos);
}

TEST_F(ScriptedHostTest, WizardRoutes) {
  const struct {
    const char* script;
    const char* out;
  } cases[] = {
      // Next, Next, Finish.
      {"wizard\nnext\nnext\nfinish\n", "result=12325\nactivations=1,1,1\n"},
      // Next, Back, then stay (-1) with the check box, then jump from page 1 to page 3 by number.
      {"wizard\nnext\nback\ncheck 301\nnext\nuncheck 301\ntype 300 jump 512\nnext\nfinish\n",
       "result=12325\nactivations=2,1,1\n"},
      // A jump to a template the sheet does not hold stays on the page.
      {"wizard\ntype 300 jump 999\nnext\ntype 300\nnext\ncancel\n", "result=2\nactivations=1,1,0\n"},
      // A page ends the sheet with -10.
      {"wizard\nnext\ntype 300 end\nnext\n", "result=-10\nactivations=1,1,0\n"},
      // Finish refused by the page (check box) keeps the wizard open.
      {"wizard\nnext\nnext\ncheck 301\nfinish\nuncheck 301\nfinish\n", "result=12325\nactivations=1,1,1\n"},
  };
  for (const auto& c : cases) {
    const ChildRun run = Start("wizard", c.script);
    EXPECT_EQ(run.exitCode, 0) << c.script << run.transcript;
    EXPECT_EQ(run.out, c.out) << c.script;
    std::filesystem::remove(m_dir / "transcript.txt");
  }
  const ChildRun run = Start("wizard", "wizard\nnext\nnext\nfinish\n");
  EXPECT_NE(run.transcript.find("wizard caption=\"Test Wizard\"\npage 510 buttons=NEXT caption=\"Page 510\""),
            std::string::npos)
      << run.transcript;
  EXPECT_NE(run.transcript.find("page 512 buttons=BACK|FINISH finish=\"Done\""), std::string::npos);
  EXPECT_NE(run.transcript.find("end wizard result=12325"), std::string::npos);
}

TEST_F(ScriptedHostTest, FileDialogs) {
  std::ofstream(m_dir / "old.tif") << "x";
  const std::string dir = m_dir.string() + "/";
  const struct {
    std::string script;
    int exitCode;
    std::string out;
  } cases[] = {
      {"file cancel\n", 0, "result=2\npath=\nfilter=1\n"},
      {"file filter=2 " + dir + "new\n", 0, "result=1\npath=" + dir + "new.tif\nfilter=2\n"},
      // Relative to the initial folder; an existing file asks first, No keeps the dialog open.
      {"file old.tif\nmsgbox NO\nfile other.jpg\n", 0, "result=1\npath=" + dir + "other.jpg\nfilter=1\n"},
      {"file old\nmsgbox YES replace\n", 0, "result=1\npath=" + dir + "old.tif\nfilter=1\n"},
      {"file filter=4 x\n", 70, ""},
  };
  for (const auto& c : cases) {
    const ChildRun run = Start("file", c.script, "'" + dir + "scan.tif'");
    EXPECT_EQ(run.exitCode, c.exitCode) << c.script << run.transcript;
    EXPECT_EQ(run.out, c.out) << c.script;
  }
}

}  // namespace
