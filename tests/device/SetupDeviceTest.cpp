// The device setup dialog and the device name prompt in whole runs of the real marlin3 (task 7) on the
// scripted host against the device simulator, over HTTP and over the USB channel: a person publishes
// Quick Sets and withdraws them, other PCs' entries stay, the slot limit, an unreachable device, the
// name checks. What reached the device is read from the simulator's state file.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "MarlinRunFixture.h"

namespace device_test {
namespace {

class SetupDeviceRun : public SimulatorRun {
 protected:
  std::string QsKey(const std::string& qs) { return m_mainKey + "\\" + qs; }
  std::string DevDest(const std::string& qs) {
    return test_common::Stored(HKEY_CURRENT_USER, QsKey(qs), "DevDest");
  }
  std::string Pc(const std::string& qs) { return qs + " (" + DevDest(qs) + ")"; }
  std::string Dev(const std::string& qs) { return DevDest(qs) + " (" + qs + ")"; }
  std::string Box(UINT id) { return "msgbox OK \"" + ResString(id).substr(0, 20) + "\"\n"; }
  // The simulator's lines "ID^HOST^NAME^TYPE" as "HOST^NAME", sorted.
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const std::string& line : State()) {
      const std::size_t first = line.find('^');
      const std::size_t last = line.rfind('^');
      names.push_back(line.substr(first + 1, last - first - 1));
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // A person at the device's panel picks a destination: the simulator's control path, over its USB
  // endpoint. Gives the simulator's answer ("" when it could not be reached).
  std::string PressPanel(const std::string& destination) {
    const std::string dest = "dest=" + DeviceTalk().UrlAndUtf8Encode(destination);
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, m_socket.c_str(), sizeof address.sun_path - 1);
    char answer[64] = {};
    if (connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      const std::string request =
          "POST /sim/panel HTTP/1.1\r\nContent-Length: " + std::to_string(dest.size()) +
          "\r\nConnection: close\r\n\r\n" + dest;
      if (write(sock, request.data(), request.size()) == static_cast<ssize_t>(request.size()))
        (void)!read(sock, answer, sizeof answer - 1);
    }
    close(sock);
    return answer;
  }
  // What a panel scan through DEVWATCH needs, in base: the product (its device reached over USB or the
  // network) with SANE's test backend as its scanner, the Quick Set qsKey scanning into out/ without
  // dialogs, DEVWATCH as the monitor (ending lifetime seconds after its last work), and the marlin3 it
  // starts, in second/, answering no person.
  void PrepareMonitoredProduct(const fs::path& base, bool usb, const std::string& qsKey, int lifetime);
  // A scan started at the device's panel, with the device reached over USB or the network.
  void PanelScanArrives(bool usb);
  bool Shown(const std::string& text) {
    return m_transcript.find("item \"" + text + "\"") != std::string::npos;
  }
};

TEST_F(SetupDeviceRun, PublishTwoWithdrawOneOtherPcsStay) {
  for (bool usb : {false, true}) {
    SCOPED_TRACE(usb ? "usb" : "http");
    test_common::ClearNexoraKeys();
    Connect(usb);
    ASSERT_TRUE(StartSimulator({"--entry", "0^OTHER^Theirs^1", "--entry", "3^PC7^Ghost^1"}));
    Prepare();
    const std::string a = ResString(89);
    const std::string b = ResString(186);
    // A networked product starts with scan-to off: the person switches it on.
    std::string script = usb ? "dialog 129\n" : "dialog 129\ncheck 1049\n";
    script += "select 1004 " + Pc(a) + "\nclick 1007\n";
    script += "dblclick 1004 " + Pc(b) + "\n";
    script += "click 1\n";
    script += "select 1005 " + Dev(a) + "\nclick 1008\nclick 1\n";
    // Remove All leaves the other PC's entry; removing it by hand is refused.
    script += "select 1005 Theirs\nclick 1008\n";
    if (!usb) script += Box(196);
    script += Box(214) + "click 1009\nclick 1\nshow\ncancel\n";
    std::string log = Run({"/Task", "7"}, script);

    std::vector<std::string> expected{"OTHER^Theirs"};
    // A direct product gets the special destination when scan-to is first decided.
    if (usb) expected.push_back("PC7^" + ResString(244));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(), expected) << log << m_transcript;
    EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, QsKey(a), "AddToDevice"), "0");
    EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, QsKey(b), "AddToDevice"), "0");
    // Between the updates the device held both Quick Sets, then only the second.
    for (const std::string& sent :
         {Encoded("PC7^" + DevDest(a) + "^DestFolder"), Encoded("PC7^" + DevDest(b) + "^DestFolder"),
          "RemoveScanToDest_1=" + Encoded(DevDest(a))})
      EXPECT_NE(log.find(sent), std::string::npos) << sent;
    EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, m_mainKey, "ScanToOn"), "dword:1");
    EXPECT_NE(WaitForRecord().find("DevMon=On"), std::string::npos);
    fs::remove(m_record);
    EXPECT_TRUE(Shown("Theirs")) << m_transcript;
    EXPECT_NE(log.find("SetupDevice dialog cancelled"), std::string::npos) << log;
  }
}

// Switching scan-to on and off enables and disables the monitor's user unit; without a working user
// systemd the autostart entry does it, and the dialog goes on either way. The systemctl here is a mock
// (a script that records its arguments): the real one would change the session of whoever runs the tests.
TEST_F(SetupDeviceRun, ScanToSwitchStartsTheMonitorWithTheSession) {
  const fs::path calls = Scratch() / "systemctl.calls";
  const fs::path entry = Scratch() / "config/autostart/marlin3-devwatch.desktop";
  struct Case {
    const char* name;
    int exitCode;  // of the mock; -1: no systemctl at all
    bool unit;     // the unit does the work, no autostart entry
  };
  const Case cases[] = {
      {"user systemd", 0, true}, {"no user manager", 1, false}, {"no systemctl", -1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test_common::ClearNexoraKeys();
    fs::remove(calls);
    fs::remove(entry);
    const fs::path mock = Scratch() / "systemctl-mock";
    std::ofstream(mock) << "#!/bin/sh\necho \"$@\" >> '" << calls.string() << "'\nexit " << c.exitCode
                        << "\n";
    fs::permissions(mock, fs::perms::owner_all);
    m_extraEnv = {"MARLIN3_SYSTEMCTL=" + (c.exitCode < 0 ? (Scratch() / "absent").string() : mock.string())};
    Connect(false);
    ASSERT_TRUE(StartSimulator({}));
    Prepare();

    std::string log = Run({"/Task", "7"}, "dialog 129\ncheck 1049\nclick 1\ncancel\n");
    EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, m_mainKey, "ScanToOn"), "dword:1") << log;
    EXPECT_NE(log.find("SetupDevice dialog cancelled"), std::string::npos) << log;
    if (c.exitCode >= 0) {
      EXPECT_EQ(test_common::ReadFile(calls), "--user enable --now marlin3-devwatch.service\n");
    }
    if (c.unit) {
      EXPECT_FALSE(fs::exists(entry));
    } else {
      const std::string text = test_common::ReadFile(entry);
      EXPECT_NE(text.find("\nExec=" MARLIN3_BIN_DIR "/platform_arg_recorder\n"), std::string::npos)
          << text << log;
    }

    fs::remove(calls);
    log = Run({"/Task", "7"}, "dialog 129\nuncheck 1049\nclick 1\ncancel\n");
    EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, m_mainKey, "ScanToOn"), "dword:0") << log;
    EXPECT_NE(log.find("SetupDevice dialog cancelled"), std::string::npos) << log;
    if (c.exitCode >= 0) {
      EXPECT_EQ(test_common::ReadFile(calls), "--user disable --now marlin3-devwatch.service\n");
    }
    EXPECT_FALSE(fs::exists(entry));
  }
  m_extraEnv.clear();
}

TEST_F(SetupDeviceRun, MoveAllStopsAtTheSlotLimitAndRemoveAllKeepsOtherPcs) {
  Connect(false);
  ASSERT_TRUE(StartSimulator({"--slots", "4", "--entry", "0^OTHER^A^1", "--entry", "1^OTHER^B^1"}));
  Prepare();
  test_common::SetDword(HKEY_CURRENT_USER, m_mainKey, "ScanToOn", 1);
  // Three Quick Sets, room for two: two move, then the device-full message, also for one more.
  std::string script = "dialog 129\nclick 1006\n" + Box(235);
  script += "select 1004 " + Pc(ResString(89)) + "\nclick 1007\n" + Box(235) + "click 1\ncancel\n";
  std::string log = Run({"/Task", "7"}, script);
  std::vector<std::string> names = Names();
  ASSERT_EQ(names.size(), 4u) << log << m_transcript;
  EXPECT_EQ(names[0], "OTHER^A");
  EXPECT_EQ(names[1], "OTHER^B");
  int marked = 0;
  for (UINT qs : {88u, 89u, 186u})
    marked += test_common::Stored(HKEY_CURRENT_USER, QsKey(ResString(qs)), "AddToDevice") == "1";
  EXPECT_EQ(marked, 2);

  log = Run({"/Task", "7"}, "dialog 129\nclick 1009\nclick 1\ncancel\n");
  EXPECT_EQ(Names(), (std::vector<std::string>{"OTHER^A", "OTHER^B"})) << log << m_transcript;
  for (UINT qs : {88u, 89u, 186u})
    EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, QsKey(ResString(qs)), "AddToDevice"), "0");
}

TEST_F(SetupDeviceRun, UnreachableDeviceSaysSoAndChangesNothing) {
  for (bool usb : {false, true}) {
    SCOPED_TRACE(usb ? "usb" : "http");
    test_common::ClearNexoraKeys();
    Connect(usb);
    Prepare();
    // Over the network nothing listens; over USB (whose channel retries a missing endpoint for ten
    // seconds) the device answers every list request with an error page.
    if (usb)
      ASSERT_TRUE(StartSimulator({"--entry", "0^PC7^Kept^1", "--fault", "on=list,status=500"}));
    else
      test_common::SetString(HKEY_LOCAL_MACHINE, test_common::kProductKey, "IP Address", "127.78.250.250");
    test_common::SetDword(HKEY_CURRENT_USER, m_mainKey, "ScanToOn", 1);
    const std::string before = test_common::Stored(HKEY_CURRENT_USER, QsKey(ResString(89)), "AddToDevice");
    // The message comes before the dialog shows; its lists stay disabled. Switching scan-to on again
    // tries once more (over the network only: the USB channel's retries take seconds).
    std::string script = Box(195) + "dialog 129\n";
    if (!usb) script += "check 1049\n" + Box(195);
    std::string log = Run({"/Task", "7"}, script + "show\ncancel\n");
    EXPECT_NE(m_transcript.find("1004 list count=0 sel=-1 disabled"), std::string::npos) << m_transcript;
    EXPECT_EQ(m_transcript.find("1049 check checked"), std::string::npos) << m_transcript;
    EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, m_mainKey, "ScanToOn"), "dword:1");
    EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, QsKey(ResString(89)), "AddToDevice"), before);
    EXPECT_EQ(fs::exists(m_record), false);
    if (usb) {
      EXPECT_EQ(Names(), std::vector<std::string>{"PC7^Kept"});
    }
    EXPECT_NE(log.find("SetupDevice dialog cancelled"), std::string::npos) << log;
  }
}

TEST_F(SetupDeviceRun, RefusedUpdateSaysSoAndTheListsShowTheDevice) {
  Connect(false);
  ASSERT_TRUE(StartSimulator({"--fault", "on=update,status=500"}));
  Prepare();
  test_common::SetDword(HKEY_CURRENT_USER, m_mainKey, "ScanToOn", 1);
  const std::string qs = ResString(89);
  std::string log = Run({"/Task", "7"}, "dialog 129\nselect 1004 " + Pc(qs) + "\nclick 1007\nclick 1\n" +
                                            Box(108) + "show\ncancel\n");
  EXPECT_NE(log.find("Failed to add dests when user pressed update"), std::string::npos) << log;
  EXPECT_TRUE(Names().empty());
  // Reloaded from the device: the Quick Set is back on the left.
  const std::size_t shown = m_transcript.rfind("state 129");
  ASSERT_NE(shown, std::string::npos) << m_transcript;
  EXPECT_NE(m_transcript.find("item \"" + Pc(qs) + "\"", shown), std::string::npos) << m_transcript;
}

// The device answers 200 but its list shows the name did not take (its list full, the name too long
// for it): a failed update, message 108, and the Quick Set is not marked as on the device. The list
// fills on a direct product, where switching scan-to on adds the special destination too.
TEST_F(SetupDeviceRun, NameTheDeviceDidNotTakeIsAFailedUpdate) {
  for (bool full : {true, false}) {
    SCOPED_TRACE(full ? "full list" : "name too long");
    test_common::ClearNexoraKeys();
    Connect(full);
    ASSERT_TRUE(full ? StartSimulator({"--slots", "2", "--entry", "0^OTHER^A^1"}) : StartSimulator({}));
    Prepare();
    if (!full) test_common::SetDword(HKEY_CURRENT_USER, m_mainKey, "ScanToOn", 1);
    const std::string qs = ResString(89);
    if (!full)
      test_common::SetString(HKEY_CURRENT_USER, QsKey(qs), "DevDest", DevDest(qs) + std::string(300, 'n'));
    std::string log = Run({"/Task", "7"}, "dialog 129\nselect 1004 " + Pc(qs) + "\nclick 1007\nclick 1\n" +
                                              Box(108) + "show\ncancel\n");
    EXPECT_NE(m_transcript.find(ResString(108).substr(0, 20)), std::string::npos) << m_transcript;
    EXPECT_NE(log.find("Device did not take \"" + DevDest(qs) + "\""), std::string::npos) << log;
    EXPECT_NE(log.find("Failed to add dests when user pressed update"), std::string::npos) << log;
    EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, QsKey(qs), "AddToDevice"), "0");
    std::vector<std::string> expected;
    if (full) expected = {"OTHER^A", "PC7^" + ResString(244)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(), expected);
  }
}

TEST_F(SetupDeviceRun, NamePromptChecksTheNameAndPrefixesIt) {
  Connect(false);
  ASSERT_TRUE(StartSimulator({}));
  Prepare();
  test_common::SetDword(HKEY_CURRENT_USER, m_mainKey, "ScanToOn", 1);
  // A Quick Set without a device name whose own name holds parentheses.
  const std::string photo = "Photo (A4)";
  test_common::SetDword(HKEY_CURRENT_USER, QsKey(photo), "Task", 2);
  const std::string prefix = test_common::Stored(HKEY_CURRENT_USER, m_mainKey, "DestPrefix");
  const std::string taken = DevDest(ResString(89)).substr(prefix.size());
  std::string script = "dialog 129\nselect 1004 " + photo + "\nclick 1007\ndialog 147\n";
  script += "type 1021 \"   \"\nok\n" + Box(181);
  script += "type 1021 a|b\nok\nmsgbox OK \"" + ResString(232).substr(0, 10) + "\"\n";
  script += "type 1021 " + taken + "\nok\n" + Box(231) + "cancel\n";
  // Cancelled: nothing moved. Then a long name: nine characters reach the box, blanks are trimmed.
  script += "show\nselect 1004 " + photo + "\nclick 1007\ndialog 147\n";
  script += "type 1021 \"Photo A4 long name\"\nok\nclick 1\ncancel\n";
  std::string log = Run({"/Task", "7"}, script);
  EXPECT_EQ(DevDest(photo), prefix + "Photo A4") << log << m_transcript;
  EXPECT_EQ(Names(), std::vector<std::string>{"PC7^" + prefix + "Photo A4"});
  EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, QsKey(photo), "AddToDevice"), "1");
  EXPECT_NE(log.find("Duplicate device name"), std::string::npos) << log;
  EXPECT_NE(m_transcript.find("1061 static text=\"" + prefix + "\""), std::string::npos) << m_transcript;
}

TEST_F(SetupDeviceRun, NewQuickSetFromTheDialogGoesOnTheDevice) {
  Connect(false);
  ASSERT_TRUE(StartSimulator({}));
  Prepare();
  test_common::SetDword(HKEY_CURRENT_USER, m_mainKey, "ScanToOn", 1);
  const std::string prefix = test_common::Stored(HKEY_CURRENT_USER, m_mainKey, "DestPrefix");
  const std::string script = "dialog 129\nclick 1045\nwizard\ncheck 40\nnext\nradio 1062\ntype 57 " +
                             Scratch().string() + "/\nnext\ntype 1021 Ledger\ncheck 1029\ntype 1030 Books\n" +
                             "next\nfinish\nshow\nclick 1\ncancel\n";
  std::string log = Run({"/Task", "7"}, script);
  EXPECT_NE(m_transcript.find("item \"" + prefix + "Books (Ledger)\""), std::string::npos) << m_transcript;
  EXPECT_EQ(Names(), std::vector<std::string>{"PC7^" + prefix + "Books"}) << log;
  EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, QsKey("Ledger"), "AddToDevice"), "1");
}

// From the main dialog: the wizard's device choice opens the dialog; a Quick Set made there whose name
// begins an existing one ("Sav", "Save as TIFF") is still added to the main dialog's list.
TEST_F(SetupDeviceRun, MainDialogListsAQuickSetMadeInTheDialog) {
  Connect(false);
  ASSERT_TRUE(StartSimulator({}));
  Prepare();
  test_common::SetDword(HKEY_CURRENT_USER, m_mainKey, "ScanToOn", 1);
  const std::string script =
      "dialog 102\nclick 3\nwizard\nradio 1047\nnext\ndialog 129\nclick 1045\n"
      "wizard\ncheck 40\nnext\nradio 1062\ntype 57 " +
      Scratch().string() + "/\nnext\ntype 1021 Sav\nnext\nfinish\ncancel\nshow\ncancel\n";
  std::string log = Run({}, script);
  const std::size_t shown = m_transcript.rfind("> show");
  ASSERT_NE(shown, std::string::npos) << m_transcript << log;
  EXPECT_NE(m_transcript.find("item \"Sav\"", shown), std::string::npos) << m_transcript.substr(shown);
  EXPECT_NE(m_transcript.find("item \"" + ResString(89) + "\"", shown), std::string::npos);
}

// The special destination end to end: the dialog publishes it and starts the real device monitor;
// a user at the panel picks it; DEVWATCH starts marlin3 with task 13, which opens the dialog again.
TEST_F(SetupDeviceRun, PanelPickOfTheSpecialDestinationOpensTheDialogThroughDevwatch) {
  Connect(true);
  ASSERT_TRUE(StartSimulator({}));
  Prepare();
  const fs::path run = Scratch() / "run";
  const fs::path state = Scratch() / "state";
  const fs::path second = Scratch() / "second";
  fs::remove_all(state);
  fs::remove_all(second);
  fs::create_directories(run);
  fs::permissions(run, fs::perms::owner_all, fs::perm_options::replace);
  fs::create_directories(second);
  test_common::SetString(HKEY_CURRENT_USER, m_mainKey, "ToolboxExe", MARLIN3_BIN_DIR "/DEVWATCH");
  test_common::SetString(HKEY_CURRENT_USER, m_mainKey, "ToolboxId", "unix:" + m_socket);
  // The marlin3 that DEVWATCH starts answers its own script and keeps its own log.
  const fs::path wrapper = second / "marlin3";
  std::ofstream(wrapper) << "#!/bin/sh\nMARLIN3_UI_SCRIPT=" << (second / "script").string()
                         << " MARLIN3_UI_TRANSCRIPT=" << (second / "transcript").string()
                         << " TMPDIR=" << second.string()
                         << "/ exec " MARLIN3_BIN_DIR "/marlin3 \"$@\" /LogDebug 2\n";
  fs::permissions(wrapper, fs::perms::owner_all);
  std::ofstream(second / "script") << "dialog 129\nshow\ncancel\n";
  m_extraEnv = {"XDG_RUNTIME_DIR=" + run.string(),
                "XDG_STATE_HOME=" + state.string(),
                "DEVWATCH_MARLIN3=" + wrapper.string(),
                "DEVWATCH_POLL_MS=50",
                "DEVWATCH_LIFETIME=20",
                "DEVWATCH_TIMEOUT_MS=400"};
  std::string log =
      Run({"/Task", "7"}, "dialog 129\nselect 1004 " + Pc(ResString(89)) + "\nclick 1007\nclick 1\ncancel\n");
  ASSERT_NE(log.find("DevMon=On DevHostId=PC7"), std::string::npos) << log;
  EXPECT_EQ(Names(), (std::vector<std::string>{"PC7^" + DevDest(ResString(89)), "PC7^" + ResString(244)}));

  // The panel: a POST to the simulator's control path over its USB endpoint.
  const std::string answer = PressPanel(ResString(244));
  EXPECT_EQ(answer.compare(0, 12, "HTTP/1.1 200"), 0) << answer;

  std::string transcript;
  for (int i = 0; i < 250 && transcript.find("end dialog 129") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    transcript = test_common::ReadFile(second / "transcript");
  }
  const std::string secondLog = test_common::ReadFile(second / "marlin3.log");
  EXPECT_NE(transcript.find("item \"" + Dev(ResString(89)) + "\""), std::string::npos) << transcript;
  EXPECT_NE(secondLog.find("/Task 13 /DevAddr"), std::string::npos) << secondLog;
  EXPECT_NE(secondLog.find("SetupDevice dialog cancelled"), std::string::npos) << secondLog;

  // Switching scan-to off tells the monitor, which ends; the device keeps no destination of this PC.
  log = Run({"/Task", "7"}, "dialog 129\nuncheck 1049\nclick 1\ncancel\n");
  EXPECT_NE(log.find("DevMon=Off DevHostId=PC7"), std::string::npos) << log;
  EXPECT_TRUE(Names().empty()) << log;
}

// A scan started at the panel for one of this PC's destinations: DEVWATCH starts marlin3 with task 13,
// which finds the Quick Set by its device name and scans (SANE's test backend) into its folder.
void SetupDeviceRun::PrepareMonitoredProduct(const fs::path& base, bool usb, const std::string& qsKey,
                                             int lifetime) {
  for (const char* sub : {"run", "state", "sane", "out", "second"}) fs::create_directories(base / sub);
  fs::permissions(base / "run", fs::perms::owner_all, fs::perm_options::replace);
  test_common::WriteSaneConfig(base / "sane", test_common::kProductTestDevice);
  // The device's address as DEVWATCH and marlin3 know it: the USB endpoint, or the network address.
  const std::string port = usb ? "unix:" + m_socket : m_simAddress;
  const std::string product =
      "SANE_CONFIG_DIR=" + (base / "sane").string() + " MARLIN3_REGISTRY_DIR=" + Scratch().string() +
      " " MARLIN3_BIN_DIR "/marlin3-product " +
      (usb ? "direct --port " + port : "network --ip " + port + " --hostname mfp-sim") +
      " --device test:0 >/dev/null";
  ASSERT_EQ(std::system(product.c_str()), 0);
  test_common::SetString(HKEY_CURRENT_USER, qsKey, "Dir", (base / "out").string() + "/");
  test_common::SetString(HKEY_CURRENT_USER, qsKey, "Hide", "4112");
  test_common::SetString(HKEY_CURRENT_USER, m_mainKey, "ToolboxExe", MARLIN3_BIN_DIR "/DEVWATCH");
  test_common::SetString(HKEY_CURRENT_USER, m_mainKey, "ToolboxId", port);
  const fs::path second = base / "second";
  // Nothing may ask a person: the started marlin3 gets an empty script. SANE leaks a little at every
  // start from libraries unloaded before the leak check, which then cannot be named in a suppression:
  // leak checking is off for this scanning child only (the dialog runs keep it).
  std::ofstream(second / "script") << "";
  std::ofstream(second / "marlin3") << "#!/bin/sh\nMARLIN3_UI_SCRIPT=" << (second / "script").string()
                                    << " MARLIN3_UI_TRANSCRIPT=" << (second / "transcript").string()
                                    << " TMPDIR=" << second.string()
                                    << "/ ASAN_OPTIONS=detect_leaks=0 exec " MARLIN3_BIN_DIR
                                    << "/marlin3 \"$@\" /LogDebug 2\n";
  fs::permissions(second / "marlin3", fs::perms::owner_all);
  m_extraEnv = {
      "XDG_RUNTIME_DIR=" + (base / "run").string(),        "XDG_STATE_HOME=" + (base / "state").string(),
      "DEVWATCH_MARLIN3=" + (second / "marlin3").string(), "DEVWATCH_POLL_MS=50",
      "DEVWATCH_LIFETIME=" + std::to_string(lifetime),     "DEVWATCH_TIMEOUT_MS=400",
      "SANE_CONFIG_DIR=" + (base / "sane").string()};
}

void SetupDeviceRun::PanelScanArrives(bool usb) {
  Connect(usb);
  ASSERT_TRUE(StartSimulator({}));
  Prepare();
  const fs::path base = Scratch() / "panelscan";
  fs::remove_all(base);
  const std::string qs = ResString(89);
  ASSERT_NO_FATAL_FAILURE(PrepareMonitoredProduct(base, usb, QsKey(qs), 20));
  const fs::path second = base / "second";
  // A networked product starts with scan-to off: the person switches it on.
  std::string log = Run({"/Task", "7"}, std::string("dialog 129\n") + (usb ? "" : "check 1049\n") +
                                            "select 1004 " + Pc(qs) + "\nclick 1007\nclick 1\ncancel\n");
  ASSERT_NE(log.find("DevMon=On DevHostId=PC7"), std::string::npos) << log;

  ASSERT_FALSE(PressPanel(DevDest(qs)).empty());

  std::vector<fs::path> files;
  for (int i = 0; i < 500 && files.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (const auto& entry : fs::directory_iterator(base / "out")) files.push_back(entry.path());
  }
  const std::string secondLog = test_common::ReadFile(second / "marlin3.log");
  ASSERT_EQ(files.size(), 1u) << secondLog;
  EXPECT_NE(secondLog.find("Matched " + DevDest(qs) + " deviceName with " + qs), std::string::npos)
      << secondLog;
  EXPECT_EQ(files[0].extension(), ".tif");
  std::string monitor;
  for (int i = 0; i < 250 && monitor.find(") ended with code") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    monitor = test_common::ReadFile(base / "state" / "marlin3" / "devwatch.log");
  }
  EXPECT_NE(monitor.find(") ended with code 0"), std::string::npos) << monitor;
  Run({"/Task", "7"}, "dialog 129\nuncheck 1049\nclick 1\ncancel\n");  // the monitor ends
}

TEST_F(SetupDeviceRun, PanelScanArrivesInTheQuickSetsFolderOverUsb) {
  PanelScanArrives(true);
}

TEST_F(SetupDeviceRun, PanelScanArrivesInTheQuickSetsFolderOverTheNetwork) {
  PanelScanArrives(false);
}

}  // namespace
}  // namespace device_test

namespace device_test {
namespace {

// A destination name is data. Anyone on the network can add entries under this PC's host ID; a panel
// request for one whose name holds options (" /AppExe ...", " /OverWrite 1 /OutFile ...") reaches
// marlin3 through DEVWATCH as one value, matches no Quick Set and so scans with the scratch Quick Set:
// nothing is started and no file is replaced. A name that would not stay one value is never passed.
TEST_F(SetupDeviceRun, DestinationNamesHoldingOptionsStayData) {
  Connect(true);
  const fs::path base = Scratch() / "inject";
  fs::remove_all(base);
  fs::create_directories(base);
  const fs::path prog = base / "prog";
  const fs::path ran = base / "ran";
  std::ofstream(prog) << "#!/bin/sh\ntouch '" << ran.string() << "'\n";
  fs::permissions(prog, fs::perms::owner_all);
  const fs::path photo = base / "photo.jpg";
  std::ofstream(photo) << "precious";
  const std::string runs = "x /Hide 286331153 /Dest 2 /AppExe " + prog.string();
  const std::string replaces = "x /Hide 286331153 /OverWrite 1 /OutFile " + photo.string() + " /Res 75";
  const std::string quoted = "y\" /AppExe " + prog.string() + " \"";
  ASSERT_TRUE(StartSimulator({"--entry", "10^PC7^" + runs + "^1", "--entry", "11^PC7^" + replaces + "^1",
                              "--entry", "12^PC7^" + quoted + "^1"}));
  Prepare();
  // The scratch Quick Set a name without a match scans with: no dialogs, into out/.
  ASSERT_NO_FATAL_FAILURE(PrepareMonitoredProduct(base, true, QsKey(ResString(104)), 40));
  const fs::path second = base / "second";
  // Task 14 on a direct product: polling on, the monitor started.
  std::string log = Run({"/Task", "14"});
  ASSERT_NE(log.find("DevMon=On  DevHostId=PC7"), std::string::npos) << log;

  const fs::path monitorLog = base / "state" / "marlin3" / "devwatch.log";
  auto waitFor = [&](const std::string& text, int count) {
    std::string monitor;
    for (int i = 0; i < 1000; ++i) {
      monitor = test_common::ReadFile(monitorLog);
      int seen = 0;
      for (std::size_t at = monitor.find(text); at != std::string::npos; at = monitor.find(text, at + 1))
        ++seen;
      if (seen >= count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return monitor;
  };
  ASSERT_FALSE(PressPanel(runs).empty());
  std::string monitor = waitFor(") ended with code", 1);
  ASSERT_NE(monitor.find("/DevDest " + runs), std::string::npos) << monitor;
  const std::string firstLog = test_common::ReadFile(second / "marlin3.log");
  ASSERT_FALSE(PressPanel(replaces).empty());
  monitor = waitFor(") ended with code", 2);
  ASSERT_FALSE(PressPanel(quoted).empty());
  monitor = waitFor("refused: it holds a double quote", 1);
  EXPECT_NE(monitor.find("scan request for \"" + quoted + "\" refused"), std::string::npos) << monitor;

  EXPECT_FALSE(fs::exists(ran)) << firstLog;
  EXPECT_TRUE(test_common::ReadFile(photo) == "precious") << "the file was replaced";
  std::size_t scans = 0;
  for (const auto& entry : fs::directory_iterator(base / "out")) scans += entry.is_regular_file() ? 1 : 0;
  EXPECT_EQ(scans, 2u) << firstLog;
  EXPECT_EQ(firstLog.find("Matched "), std::string::npos) << firstLog;
  EXPECT_EQ(monitor.find("ended with code", monitor.find("refused: it holds a double quote")),
            std::string::npos)
      << "the third request started nothing: " << monitor;
  Run({"/Task", "7"}, "dialog 129\nuncheck 1049\nclick 1\ncancel\n");  // the monitor ends
}

}  // namespace
}  // namespace device_test
