// The start-up chain of the real marlin3 executable: first-run defaults, the second run, the device
// address check, task 15, log levels, the one error box of "ShowDebug", the message review and the
// missing resource library. Each run uses the scratch registry and temporary folder and the scripted
// ui host, whose transcript records every message box.
#include <spawn.h>
#include <sys/wait.h>

#include <sstream>
#include <vector>

#include "AppFixture.h"

extern char** environ;

namespace app_test {
namespace {

struct RunResult {
  int exitCode = -1;
  std::string log;
  std::string transcript;
};

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearRegistry();
    m_tmp = Scratch() / "tmp";
    fs::create_directories(m_tmp);
    m_s89 = ResString(89);
    m_s88 = ResString(88);
    m_s186 = ResString(186);
    m_mainKey = MainKey();
  }

  RunResult Start(const std::vector<std::string>& args, const std::string& script = "",
                  const std::string& exe = MARLIN3_BIN_DIR "/marlin3",
                  const std::vector<std::string>& extraEnv = {}) {
    const fs::path scriptPath = Scratch() / "script.txt";
    const fs::path transcriptPath = Scratch() / "transcript.txt";
    { std::ofstream(scriptPath) << script; }
    fs::remove(transcriptPath);

    std::vector<std::string> env(extraEnv);  // first, so they win over the defaults below
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::strncmp(*e, "MARLIN3_", 8) == 0 || std::strncmp(*e, "TMPDIR=", 7) == 0) continue;
      if (std::strncmp(*e, "LANG=", 5) == 0 || std::strncmp(*e, "LC_", 3) == 0) continue;
      env.emplace_back(*e);
    }
    env.push_back("MARLIN3_REGISTRY_DIR=" + Scratch().string());
    // No device answers in these runs: the device tasks fail at once instead of retrying the channel.
    env.push_back("MARLIN3_MODULE_DIR=" + NoChannelLibrary().string());
    env.push_back("TMPDIR=" + m_tmp.string() + "/");
    env.push_back("MARLIN3_UI=scripted");
    env.push_back("MARLIN3_UI_SCRIPT=" + scriptPath.string());
    env.push_back("MARLIN3_UI_TRANSCRIPT=" + transcriptPath.string());
    env.push_back("LANG=C");
    env.push_back("SANE_CONFIG_DIR=" + NoScanners().string());  // never the machine's SANE set-up
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    std::vector<std::string> argText{exe};
    argText.insert(argText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argText) argv.push_back(a.data());
    argv.push_back(nullptr);

    RunResult run;
    pid_t pid = 0;
    if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) {
      ADD_FAILURE() << "cannot start " << exe;
      return run;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.log = ReadFile(m_tmp / "marlin3.log");
    run.transcript = ReadFile(transcriptPath);
    return run;
  }

  static fs::path NoChannelLibrary() {
    const fs::path dir = Scratch() / "nobridge";
    fs::create_directories(dir);
    if (!fs::exists(dir / "libDvPortBridge.so")) std::ofstream(dir / "libDvPortBridge.so") << "";
    return dir;
  }

  // A SANE set-up of the test's own with no backend at all.
  static fs::path NoScanners() {
    const fs::path dir = Scratch() / "sane-none";
    fs::create_directories(dir);
    if (!fs::exists(dir / "dll.conf")) std::ofstream(dir / "dll.conf") << "";
    return dir;
  }

  std::string Qs(const std::string& name) const { return m_mainKey + "\\" + name; }

  void MakeNetworked() {
    SetString(HKEY_LOCAL_MACHINE, kProductKey, "Connection Type", "Network");
    SetString(HKEY_LOCAL_MACHINE, kProductKey, "IP Address", "127.77.250.20");
    SetString(HKEY_LOCAL_MACHINE, kProductKey, "Hostname", "MyPrinter");
    SetString(HKEY_LOCAL_MACHINE, kProductKey, "Port", "usb:0001");
  }

  static std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
      switch (c) {
        case '\\':
          out += "\\\\";
          break;
        case '"':
          out += "\\\"";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        default:
          out += c;
      }
    }
    return out;
  }

  static std::string Box(const std::string& caption, const std::string& text, const char* buttons,
                         const char* icon, const char* answer) {
    return "msgbox caption=\"" + Escaped(caption) + "\" text=\"" + Escaped(text) + "\" buttons=" + buttons +
           " icon=" + icon + " answer=" + answer + "\n";
  }

  static bool Has(const std::string& log, const std::string& line) {
    return log.find(line) != std::string::npos;
  }

  fs::path m_tmp;
  std::string m_s89, m_s88, m_s186, m_mainKey;
};

TEST_F(StartupTest, FirstRunCreatesTheDefaultQuickSets) {
  // No options: task 3, the main dialog; closing it ends the run without a scan.
  RunResult run = Start({}, "dialog 102\ncancel\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Has(run.transcript, "end dialog 102 result=2\n")) << run.transcript;
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "Qs"), m_s89);
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "ProductToUse"), "Kyte");
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "DestPrefix"), "");

  struct Expected {
    std::string name;
    UINT devDest;
    const char *res, *dest, *type;
  };
  const Expected sets[] = {
      {m_s186, 212, "300", "1", "146"}, {m_s88, 211, "150", "1", "10"}, {m_s89, 210, "150", "0", "17"}};
  for (const Expected& e : sets) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(Stored(HKEY_CURRENT_USER, Qs(e.name), "Task"), "dword:2");
    EXPECT_EQ(Stored(HKEY_CURRENT_USER, Qs(e.name), "DevDest"), ResString(e.devDest));
    EXPECT_EQ(Stored(HKEY_CURRENT_USER, Qs(e.name), "Res"), e.res);
    EXPECT_EQ(Stored(HKEY_CURRENT_USER, Qs(e.name), "BitDepth"), "24");
    EXPECT_EQ(Stored(HKEY_CURRENT_USER, Qs(e.name), "Dest"), e.dest);
    EXPECT_EQ(Stored(HKEY_CURRENT_USER, Qs(e.name), "Type"), e.type);
    EXPECT_EQ(Stored(HKEY_CURRENT_USER, Qs(e.name), "AddToDevice"), "1");  // directly connected
  }
}

TEST_F(StartupTest, FirstRunOnANetworkedProductPrefixesTheDestinations) {
  MakeNetworked();
  RunResult run = Start({"/Task", "15"});
  EXPECT_EQ(run.exitCode, 0);
  const std::string prefix = Stored(HKEY_CURRENT_USER, m_mainKey, "DestPrefix");
  ASSERT_FALSE(prefix.empty());
  EXPECT_EQ(prefix.back(), ':');
  EXPECT_LE(prefix.size(), 5u);
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, Qs(m_s186), "DevDest"), prefix + ResString(212));
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, Qs(m_s89), "DevDest"), prefix + ResString(210));
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, Qs(m_s89), "AddToDevice"), "0");
}

TEST_F(StartupTest, SecondRunKeepsQuickSetsButRewritesProductToUse) {
  ASSERT_EQ(Start({"/Task", "15"}).exitCode, 0);
  RegDeleteTreeA(HKEY_CURRENT_USER, Qs(m_s88).c_str());
  SetString(HKEY_CURRENT_USER, Qs(m_s89), "Res", "600");
  SetString(HKEY_CURRENT_USER, m_mainKey, "ProductToUse", "Other");
  SetString(HKEY_CURRENT_USER, m_mainKey, "Qs", "Mine");

  RunResult run = Start({"/Task", "10", "/Poll", "1"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Qs(m_s88)));
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, Qs(m_s89), "Res"), "600");
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "Qs"), "Mine");
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "ProductToUse"), "Kyte");
  // Task 10 stores "Poll" as "ScanToOn", then talks to the device (here: no channel library).
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "ScanToOn"), "dword:1");
  EXPECT_TRUE(Has(run.log, "Failed to initialize in GetList")) << run.log;
}

TEST_F(StartupTest, DeviceAddressMustMatchExactly) {
  struct Case {
    bool networked;
    const char* address;
    bool selected;
  };
  const Case cases[] = {
      {true, "MyPrinter", true},       {true, "127.77.250.20", true}, {true, "usb:0001", true},
      {true, "myprinter", false},      {true, "MyPrinter2", false},   {false, "usb:0001", true},
      {false, "127.77.250.20", false}, {false, "USB:0001", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    ClearRegistry();
    MakeNetworked();
    if (!c.networked) SetString(HKEY_LOCAL_MACHINE, kProductKey, "Connection Type", "Direct");
    ASSERT_EQ(Start({"/Task", "15"}).exitCode, 0);  // first run, main key exists

    RunResult run = Start({"/DevAddr", c.address, "/Task", "10", "/Poll", "1"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.transcript, "");
    EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "ToolboxId"), c.selected ? c.address : "<absent>");
    // A foreign device ends the run before the task.
    EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "ScanToOn"), c.selected ? "dword:1" : "<absent>");
  }
}

TEST_F(StartupTest, DeviceAddressIsStoredOnAFirstRunToo) {
  SetString(HKEY_LOCAL_MACHINE, kProductKey, "Connection Type", "Direct");
  SetString(HKEY_LOCAL_MACHINE, kProductKey, "Port", "usb:0001");
  // The first-run defaults create the main key before the address is checked and stored.
  RunResult run = Start({"/DevAddr", "usb:0001", "/Task", "10"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "ToolboxId"), "usb:0001");
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "ScanToOn"), "dword:0");
}

TEST_F(StartupTest, Task15DeletesExactlyFourValues) {
  MakeNetworked();
  ASSERT_EQ(Start({"/Task", "15"}).exitCode, 0);
  SetString(HKEY_CURRENT_USER, m_mainKey, "DestPrefix", "AB:");
  SetString(HKEY_CURRENT_USER, m_mainKey, "UniquePcName", "host-one");
  SetDword(HKEY_CURRENT_USER, m_mainKey, "LastTmpNum", 7);
  SetDword(HKEY_CURRENT_USER, m_mainKey, "ScanToOn", 1);
  SetString(HKEY_CURRENT_USER, m_mainKey, "ToolboxExe", "/opt/nx/DEVWATCH");
  SetString(HKEY_CURRENT_USER, m_mainKey, "ToolboxId", "127.77.250.20");

  RunResult run = Start({"/Task", "15"});
  EXPECT_EQ(run.exitCode, 0);
  for (const char* gone : {"ProductToUse", "ScanToOn", "ToolboxExe", "ToolboxId"})
    EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, gone), "<absent>") << gone;
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "Qs"), m_s89);
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "DestPrefix"), "AB:");
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "UniquePcName"), "host-one");
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "LastTmpNum"), "dword:7");
  for (const std::string& qs : {m_s186, m_s88, m_s89})
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Qs(qs))) << qs;
  EXPECT_FALSE(Has(run.log, "DeleteValue() failed")) << run.log;

  // Again: the values are gone (ProductToUse is rewritten at start-up), so three deletes fail and are logged.
  run = Start({"/Task", "15"});
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "ProductToUse"), "<absent>");
  size_t failures = 0;
  const std::string failure = "MyReg.cpp: DeleteValue> m_RegKey.DeleteValue() failed\r\n";
  for (size_t pos = run.log.find(failure); pos != std::string::npos; pos = run.log.find(failure, pos + 1))
    ++failures;
  EXPECT_EQ(failures, 3u) << run.log;
}

TEST_F(StartupTest, LogLevelsAndTheCommandLineLine) {
  SetString(HKEY_LOCAL_MACHINE, kProductKey, "Connection Type", "Direct");
  RunResult quiet = Start({"/Task", "15"});
  EXPECT_EQ(quiet.log.rfind("halyard.cpp: SetupLogging> /Task 15\r\n", 0), 0u) << quiet.log;
  EXPECT_FALSE(Has(quiet.log, "Entered")) << quiet.log;
  EXPECT_FALSE(Has(quiet.log, "Exiting")) << quiet.log;

  RunResult verbose = Start({"/LogDebug", "3", "/Task", "15"});
  // SetupLogging's tracer starts at level 1 (no entry line) and ends at level 3 (exit line); reading
  // "ShowDebug" already runs at level 3.
  EXPECT_EQ(verbose.log.rfind("ValueGetter.cpp: GetFromCmdLine (int)> Entered\r\n"
                              "ValueGetter.cpp: GetFromCmdLine (str)> Entered\r\n"
                              "ValueGetter.cpp: GetFromCmdLine (str)> Exiting\r\n"
                              "ValueGetter.cpp: GetFromCmdLine (int)> Exiting\r\n"
                              "halyard.cpp: SetupLogging> /LogDebug 3 /Task 15\r\n"
                              "halyard.cpp: SetupLogging> Exiting\r\n"
                              "halyard.cpp: InitInstance> Entered\r\n",
                              0),
            0u)
      << verbose.log;
  EXPECT_TRUE(Has(verbose.log, "halyard.cpp: ClearMainRegistry> Entered\r\n"));
  EXPECT_TRUE(Has(verbose.log, "MyReg.cpp: Open> Entered\r\nMyReg.cpp: Open> Exiting\r\n"));
  const std::string tail = "halyard.cpp: InitInstance> Exiting\r\n";
  ASSERT_GE(verbose.log.size(), tail.size());
  EXPECT_EQ(verbose.log.substr(verbose.log.size() - tail.size()), tail);

  RunResult quoted = Start({"/Qs", "My Set", "/Task", "15"});
  EXPECT_TRUE(Has(quoted.log, "halyard.cpp: SetupLogging> /Qs \"My Set\" /Task 15\r\n")) << quoted.log;
}

TEST_F(StartupTest, ShowDebugShowsTheFirstErrorOnly) {
  // No product key: IsNetworked's error is the first of the run; later errors are only logged.
  RunResult run = Start({"/ShowDebug", "0", "/Task", "15"}, "msgbox OK\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.transcript, Box(ResString(230),
                                "NetworkIdentity.cpp:IsNetworked> HKLM product Connection Type unknown (), "
                                "defaulting to direct",
                                "OK", "none", "OK"));
  EXPECT_TRUE(Has(run.log, "m_RegKey.DeleteValue() failed")) << run.log;  // a second error, logged only
}

TEST_F(StartupTest, AllHideBitsAndTheConvertTaskSilenceErrorBoxes) {
  SetString(HKEY_LOCAL_MACHINE, kProductKey, "Connection Type", "Direct");
  ASSERT_EQ(Start({"/Task", "15"}).exitCode, 0);

  // Errors after start-up: ScanToOn, ToolboxExe and ToolboxId are absent, so task 15 logs failures.
  RunResult shown = Start({"/ShowDebug", "/Task", "15"}, "msgbox OK\n");
  EXPECT_EQ(shown.exitCode, 0);
  EXPECT_EQ(shown.transcript,
            Box(ResString(230), "MyReg.cpp:DeleteValue> m_RegKey.DeleteValue() failed", "OK", "none", "OK"));

  // An empty script: any box would fail the run with code 70.
  RunResult hidden = Start({"/ShowDebug", "/Hide", "286331153", "/Task", "15"});
  EXPECT_EQ(hidden.exitCode, 0);
  EXPECT_EQ(hidden.transcript, "");
  EXPECT_TRUE(Has(hidden.log, "m_RegKey.DeleteValue() failed"));

  RunResult convert = Start({"/ShowDebug", "/Task", "8"});
  EXPECT_EQ(convert.exitCode, 0);
  EXPECT_EQ(convert.transcript, "");
  EXPECT_TRUE(Has(convert.log, "GetInFileNames> No filename given, hide level prevents user prompt"))
      << convert.log;
}

TEST_F(StartupTest, DeviceSetupTasksRunTheSetupDialog) {
  SetString(HKEY_LOCAL_MACHINE, kProductKey, "Connection Type", "Direct");
  ASSERT_EQ(Start({"/Task", "15"}).exitCode, 0);
  // Scan-to off: the dialog opens without reading the device.
  SetDword(HKEY_CURRENT_USER, m_mainKey, "ScanToOn", 0);
  struct Case {
    std::vector<std::string> args;
    bool setup;
  };
  const Case cases[] = {
      {{"/Task", "7"}, true},
      {{"/Task", "13", "/DevDest", "[Setup] on PC"}, true},
      // Only the scratch Quick Set opens it: a Quick Set's own name runs its scan.
      {{"/Task", "13", "/Qs", "Scan", "/DevDest", "[Setup] on PC"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.size());
    RunResult run = Start(c.args, c.setup ? "dialog 129\ncancel\n" : "dialog 143\ncancel\n");
    EXPECT_EQ(run.exitCode, 0) << run.transcript;
    EXPECT_EQ(Has(run.log, "halyard.cpp: InitInstance> SetupDevice dialog cancelled"), c.setup) << run.log;
    EXPECT_FALSE(Has(run.log, "not available yet")) << run.log;
  }
}

TEST_F(StartupTest, ScanTasksRunTheScanJob) {
  SetString(HKEY_LOCAL_MACHINE, kProductKey, "Connection Type", "Direct");
  ASSERT_EQ(Start({"/Task", "15"}).exitCode, 0);
  // No scanner here: the scan job offers the source choice, and its Cancel ends the run quietly.
  const std::vector<std::vector<std::string>> scans = {
      {"/Task", "3", "/Hide", "1"},
      {"/Task", "13", "/DevDest", "Nothing"},  // no Quick Set of that name: the scratch Quick Set
  };
  for (const auto& args : scans) {
    SCOPED_TRACE(args[1]);
    RunResult run = Start(args, "dialog 143\ncancel\n");
    EXPECT_EQ(run.exitCode, 0) << run.transcript;
    EXPECT_TRUE(Has(run.log, "TwainScan.cpp: SelectSource> user canceled from scanner selection dialog"))
        << run.log;
    EXPECT_FALSE(Has(run.log, "not available yet")) << run.log;
  }
}

TEST_F(StartupTest, DeviceDestinationSelectsTheQuickSet) {
  SetString(HKEY_LOCAL_MACHINE, kProductKey, "Connection Type", "Direct");
  ASSERT_EQ(Start({"/Task", "15"}).exitCode, 0);
  // Two Quick Sets with the same name on the device: the first in enumeration order wins.
  SetString(HKEY_CURRENT_USER, Qs("AAA copy"), "DevDest", ResString(210));
  RunResult run = Start({"/Task", "15", "/DevDest", ResString(210)});
  EXPECT_TRUE(Has(run.log, "halyard.cpp: GetQsFromDeviceName> Matched " + ResString(210) +
                               " deviceName with AAA copy\r\n"))
      << run.log;

  // "Qs" given: no lookup.
  run = Start({"/Task", "15", "/Qs", m_s89, "/DevDest", ResString(210)});
  EXPECT_FALSE(Has(run.log, "Matched")) << run.log;
}

TEST_F(StartupTest, MessageReviewShowsEveryBoxInOrder) {
  SetString(HKEY_LOCAL_MACHINE, kProductKey, "Connection Type", "Direct");
  // The main dialog in review mode first; closing it starts the boxes.
  const std::string script =
      "dialog 102\ncancel\n"
      "msgbox OK\nmsgbox OK\nmsgbox OK\nmsgbox OK\nmsgbox OK\n"
      "msgbox YES\nmsgbox NO\n"
      "msgbox NO\ndialog 143\nok\nmsgbox OK\n"
      "msgbox OK\nmsgbox OK\ndialog 148\nok\nmsgbox NO\n";
  RunResult run = Start({"/Task", "9"}, script);
  EXPECT_EQ(run.exitCode, 0) << run.transcript;
  const std::string closed = "end dialog 102 result=2\n";
  ASSERT_NE(run.transcript.find(closed), std::string::npos) << run.transcript;
  run.transcript = run.transcript.substr(run.transcript.find(closed) + closed.size());
  const std::string caption = ResString(193);
  std::string start;
  for (UINT id : {221u, 191u, 199u, 200u, 201u})
    start += Box(caption, ResString(id), "OK", "exclamation", "OK");
  start += Box(ResString(230), ResString(245), "YESNO", "none", "YES");
  start += Box(ResString(230), ResString(192), "YESNO", "none", "NO");
  EXPECT_EQ(run.transcript.substr(0, start.size()), start);

  // Then the acquisition's review: the more-pages question and the source choice in preview mode,
  // whose OK shows its "nothing chosen" box.
  const std::string rest = run.transcript.substr(start.size());
  const size_t more = rest.find(Box(ResString(230), ResString(146), "YESNO", "question", "NO"));
  const size_t sources = rest.find("dialog 143 caption=");
  const size_t preview = rest.find("item \"SCAN SOURCE 1\"");
  const size_t mail = rest.find(Box(caption, ResString(215), "OK", "exclamation", "OK"));
  std::string s216 = ResString(216);
  s216.replace(s216.find("%1"), 2, "USER_DEFINED");
  const size_t app = rest.find(Box(caption, s216, "OK", "exclamation", "OK"));
  const size_t multi = rest.find("dialog 148 caption=");
  EXPECT_EQ(more, 0u) << rest;
  EXPECT_LT(more, sources);
  EXPECT_LT(sources, preview);
  EXPECT_LT(preview, mail);
  EXPECT_LT(mail, app);
  EXPECT_LT(app, multi);
  ASSERT_NE(multi, std::string::npos) << rest;
  const std::string dialog = rest.substr(multi);
  EXPECT_TRUE(Has(dialog, "  1058 static text=\"" + ResString(218) + "\"\n")) << dialog;
  EXPECT_TRUE(Has(dialog, "  1057 check unchecked")) << dialog;
  EXPECT_TRUE(Has(dialog, "> ok\nend dialog 148 result=1\n")) << dialog;
  std::string s219 = ResString(219);
  s219.replace(s219.find("%1"), 2, "USER_DEFINED");
  const std::string last = Box(ResString(220), s219, "YESNO", "none", "NO");
  EXPECT_EQ(run.transcript.substr(run.transcript.size() - last.size()), last);
  EXPECT_FALSE(Has(run.log, "TWAIN acquisition review not available yet")) << run.log;
  EXPECT_FALSE(Has(run.log, "Multi-file warning dialog (MultiFileWarnDialog) not available yet")) << run.log;
}

TEST_F(StartupTest, MissingResourceLibraryShowsTheProgramsOwnMessage) {
  const fs::path lonely = Scratch() / "lonely";
  fs::create_directories(lonely);
  fs::copy_file(MARLIN3_BIN_DIR "/marlin3", lonely / "marlin3", fs::copy_options::overwrite_existing);

  struct Case {
    const char* lang;
    const char* expected;
  };
  const Case cases[] = {
      {"LANG=C", "Error: English language resources not found - Reinstall nx Printer Software."},
      {"LANG=de_DE.UTF-8",
       "Fehler: Englische Sprachressourcen nicht gefunden - Installieren Sie die nx Printer Software neu."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lang);
    ClearRegistry();
    RunResult run = Start({"/Task", "15"}, "msgbox OK\n", (lonely / "marlin3").string(), {c.lang});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.transcript, Box("marlin3", c.expected, "OK", "none", "OK"));
    EXPECT_TRUE(Has(run.log, "halyard.cpp: LoadResourceDll> Can't find Resource DLL\r\n")) << run.log;
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "SOFTWARE\\Nexora"));  // the run ended before the registry
  }
}

TEST_F(StartupTest, UnattendedRunsShowNoBoxEvenForErrorsBeforeTheMaskIsRead) {
  // No product key: IsNetworked's error comes before the hide mask is known. An empty script fails
  // the run (exit 70) at the first box.
  const std::vector<std::vector<std::string>> quiet = {
      {"/ShowDebug", "1", "/Task", "8"},
      {"/ShowDebug", "1", "/Task", "15", "/Hide", "286331153"},
  };
  for (const auto& args : quiet) {
    SCOPED_TRACE(args[3]);
    RunResult run = Start(args);
    EXPECT_EQ(run.exitCode, 0) << run.log;
    EXPECT_EQ(run.transcript, "");
    EXPECT_TRUE(Has(run.log, "HKLM product Connection Type unknown")) << run.log;
  }

  // Every hide bit set in the Quick Set record itself, not on the command line.
  ASSERT_EQ(Start({"/Task", "15"}).exitCode, 0);
  SetString(HKEY_CURRENT_USER, Qs(m_s89), "Hide", "286331153");
  RunResult run = Start({"/ShowDebug", "1", "/Task", "15"});
  EXPECT_EQ(run.exitCode, 0) << run.log;
  EXPECT_EQ(run.transcript, "");

  // Without the quiet mask the same early error is still shown, once.
  SetString(HKEY_CURRENT_USER, Qs(m_s89), "Hide", "16");
  run = Start({"/ShowDebug", "1", "/Task", "15"}, "msgbox OK\n");
  EXPECT_EQ(run.exitCode, 0) << run.log;
  EXPECT_NE(run.transcript.find("Connection Type unknown"), std::string::npos) << run.transcript;
}

TEST_F(StartupTest, DamagedSettingsStoreIsNamedAndLeftAlone) {
  const fs::path dir = Scratch() / "damaged-store";
  fs::create_directories(dir);
  std::string noise(4096, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 131 + 7) % 256);
  { std::ofstream(dir / "HKCU.db", std::ios::binary) << noise; }

  RunResult run =
      Start({"/Task", "15"}, "", MARLIN3_BIN_DIR "/marlin3", {"MARLIN3_REGISTRY_DIR=" + dir.string()});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Has(run.log, "halyard.cpp: SetupRegistry> The registry file '" + (dir / "HKCU.db").string() +
                               "' is damaged: file is not a database\r\n"))
      << run.log;
  EXPECT_TRUE(Has(run.log, "Opening the main key")) << run.log;
  EXPECT_EQ(ReadFile(dir / "HKCU.db"), noise);
  EXPECT_FALSE(fs::exists(dir / "HKCU.db-wal"));
}

TEST_F(StartupTest, ValuesCannotForgeLogLines) {
  SetString(HKEY_LOCAL_MACHINE, kProductKey, "Connection Type", "Direct");
  ASSERT_EQ(Start({"/Task", "15"}).exitCode, 0);
  SetString(HKEY_CURRENT_USER, Qs("Evil\r\nhalyard.cpp: InitInstance> forged"), "DevDest", "Dest 1");

  RunResult run =
      Start({"/Qs", "A\r\nhalyard.cpp: InitInstance> forged too", "/Task", "15", "/LogDebug", "3"});
  RunResult byDevice = Start({"/DevDest", "Dest 1", "/Task", "15"});
  for (const RunResult* r : {&run, &byDevice}) {
    EXPECT_EQ(r->exitCode, 0);
    std::istringstream lines(r->log);
    for (std::string line; std::getline(lines, line);)
      EXPECT_NE(line.rfind("halyard.cpp: InitInstance> forged", 0), 0u) << line;
  }
  EXPECT_TRUE(Has(run.log, "A\\r\\nhalyard.cpp: InitInstance> forged too")) << run.log;
  EXPECT_TRUE(Has(byDevice.log, "with Evil\\r\\nhalyard.cpp: InitInstance> forged\r\n")) << byDevice.log;
}

}  // namespace
}  // namespace app_test
