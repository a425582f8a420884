// Whole runs of the real marlin3 with the device tasks against a loopback device: task 11 publishes
// the marked Quick Sets (the special destination first on a direct product), task 14 decides polling
// and starts the monitor (a recorder program here) with its exact command line, task 10 removes this
// PC's destinations, task 15 clears the program-wide device values. Over HTTP on port 80 of a loopback
// address and over the USB channel (a Unix socket endpoint).
#include "MarlinRunFixture.h"

namespace device_test {
namespace {

TEST_F(PublishTest, Task11PublishesTheMarkedQuickSetsWithTheSpecialOneFirst) {
  for (bool usb : {true, false}) {
    SCOPED_TRACE(usb ? "usb" : "http");
    m_server.Stop();
    test_common::ClearNexoraKeys();
    auto list = std::make_shared<KeptList>(10, std::vector<Dest>{});
    list->chunk = 16;
    ASSERT_TRUE(StartKept(list, usb));
    Prepare();
    // Of the three default Quick Sets, two stay marked.
    test_common::SetString(HKEY_CURRENT_USER, m_mainKey + "\\" + ResString(88), "AddToDevice", "0");
    test_common::SetString(HKEY_CURRENT_USER, m_mainKey + "\\" + ResString(89), "AddToDevice", "1");
    test_common::SetString(HKEY_CURRENT_USER, m_mainKey + "\\" + ResString(186), "AddToDevice", "1");
    std::string log = Run({"/Task", "11"});

    std::vector<std::string> bodies = Bodies();
    ASSERT_EQ(bodies.size(), 1u) << log;
    std::string prefix = usb ? "" : test_common::Stored(HKEY_CURRENT_USER, m_mainKey, "DestPrefix");
    std::vector<std::string> names;
    if (usb) names.push_back(ResString(244));
    // Enumeration order of the Quick Sets is case-insensitive name order.
    std::vector<std::pair<std::string, UINT>> marked{{ResString(89), 210}, {ResString(186), 212}};
    std::sort(marked.begin(), marked.end(), [](const auto& a, const auto& b) {
      return platform::text::CompareNoCase(a.first, b.first) < 0;
    });
    for (const auto& [qs, dest] : marked) names.push_back(prefix + ResString(dest));
    std::string expected;
    for (std::size_t i = 0; i < names.size(); ++i)
      expected += (i ? "&" : "") + std::string("AddScanToDest_") + std::to_string(i + 1) + "=" +
                  Encoded("PC7^" + names[i] + "^DestFolder");
    EXPECT_EQ(bodies[0], expected);
    EXPECT_EQ(log.find("Failed to send dests to device"), std::string::npos) << log;
    EXPECT_EQ(list->Dests().size(), names.size());
  }
}

// The device answers 200 to an update it did not carry out in full: its list tells, and the failure is
// logged with the name that did not take. A full list, then a name too long for the device.
TEST_F(PublishTest, Task11ReportsNamesTheDeviceDidNotTake) {
  for (bool full : {true, false}) {
    SCOPED_TRACE(full ? "full" : "long name");
    m_server.Stop();
    test_common::ClearNexoraKeys();
    auto list = std::make_shared<KeptList>(full ? 1 : 10, std::vector<Dest>{{0, "OTHER", "Theirs"}});
    ASSERT_TRUE(StartKept(list, false));
    Prepare();
    const std::string qsKey = m_mainKey + "\\" + ResString(89);
    const std::string name = full ? "Scan A" : std::string(300, 'n');
    test_common::SetString(HKEY_CURRENT_USER, qsKey, "AddToDevice", "1");
    test_common::SetString(HKEY_CURRENT_USER, qsKey, "DevDest", name);
    std::string log = Run({"/Task", "11"});
    ASSERT_EQ(Bodies().size(), 1u) << log;
    EXPECT_NE(log.find("Device did not take \"" + name + "\": it is not in its list after the update"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Failed to send dests to device because update failed"), std::string::npos) << log;
    EXPECT_EQ(list->Dests().size(), 1u);
  }
}

TEST_F(PublishTest, Task11ReportsARefusedUpdate) {
  ASSERT_TRUE(StartNetwork([](const std::string&) {
    Reply reply;
    reply.pieces.push_back({"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n", 0});
    return reply;
  }));
  Prepare();
  test_common::SetString(HKEY_CURRENT_USER, m_mainKey + "\\" + ResString(89), "AddToDevice", "1");
  std::string log = Run({"/Task", "11"});
  EXPECT_NE(log.find("Device answered with HTTP status 403"), std::string::npos) << log;
  EXPECT_NE(log.find("Failed to send dests to device because update failed"), std::string::npos);
}

TEST_F(PublishTest, Task14DecidesPollingOnTheFirstRun) {
  // Networked: polling off, nothing sent, no monitor.
  ASSERT_TRUE(StartNetwork([](const std::string&) { return LoopbackServer::Ok("<ok/>", 16); }));
  Prepare();
  std::string log = Run({"/Task", "14"});
  EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, m_mainKey, "ScanToOn"), "dword:0");
  EXPECT_TRUE(m_server.Requests().empty());
  EXPECT_EQ(log.find("CreateProcess on"), std::string::npos);

  EXPECT_FALSE(fs::exists(Scratch() / "config/autostart/marlin3-devwatch.desktop"));

  // Direct: polling on, the destinations sent, the monitor started with DevMon=On and, with no systemctl
  // here, given an autostart entry for later sessions.
  m_server.Stop();
  test_common::ClearNexoraKeys();
  ASSERT_TRUE(StartUsb([](const std::string&) { return LoopbackServer::Ok("<ok/>", 16); }));
  Prepare();
  log = Run({"/Task", "14"});
  EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, m_mainKey, "ScanToOn"), "dword:1");
  ASSERT_EQ(Bodies().size(), 1u) << log;
  EXPECT_EQ(Bodies()[0].compare(0, 16, "AddScanToDest_1="), 0);
  const std::string line =
      MARLIN3_BIN_DIR "/platform_arg_recorder /notifications:DevAddr=dev-1  DevMon=On  DevHostId=PC7";
  EXPECT_NE(log.find(line), std::string::npos) << log;
  EXPECT_NE(test_common::ReadFile(Scratch() / "config/autostart/marlin3-devwatch.desktop")
                .find("\nExec=" MARLIN3_BIN_DIR "/platform_arg_recorder\n"),
            std::string::npos)
      << log;
  std::string record = WaitForRecord();
  EXPECT_NE(record.find("/notifications:DevAddr=dev-1\narg 9 DevMon=On\narg 13 DevHostId=PC7\n"),
            std::string::npos)
      << record;

  // Decided off: nothing happens.
  test_common::SetDword(HKEY_CURRENT_USER, m_mainKey, "ScanToOn", 0);
  log = Run({"/Task", "14"});
  EXPECT_EQ(Bodies().size(), 1u);
  EXPECT_EQ(log.find("CreateProcess on"), std::string::npos);
}

// The device address comes from a start's "DevAddr" (and so from the product key's host name): one that
// would not be one field of the monitor's line is logged, and the monitor is not started with it.
TEST_F(PublishTest, Task14DoesNotPassAForgedAddressToTheMonitor) {
  auto list = std::make_shared<KeptList>(10, std::vector<Dest>{});
  list->chunk = 16;
  ASSERT_TRUE(StartKept(list, true));
  Prepare();
  test_common::SetString(HKEY_CURRENT_USER, m_mainKey, "ToolboxId", "q  DevMon=Off  DevHostId=evil");
  std::string log = Run({"/Task", "14"});
  EXPECT_NE(log.find("The device address \"q  DevMon=Off  DevHostId=evil\" holds a blank"), std::string::npos)
      << log;
  EXPECT_EQ(log.find("CreateProcess on"), std::string::npos) << log;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(m_record));
}

TEST_F(PublishTest, Task10RemovesThisPcsDestinations) {
  for (bool usb : {false, true}) {
    SCOPED_TRACE(usb ? "usb" : "http");
    m_server.Stop();
    test_common::ClearNexoraKeys();
    const std::string document =
        Document(10, 7, {{0, "PC7", "Scan A"}, {4, "OTHER", "Theirs"}, {9, "PC7", "Caf\xC3\xA9"}});
    auto handler = [document](const std::string& request) {
      return LoopbackServer::Ok(request.compare(0, 4, "GET ") == 0 ? document : "<ok/>", 64);
    };
    ASSERT_TRUE(usb ? StartUsb(handler) : StartNetwork(handler));
    Prepare();
    std::string log = Run({"/Task", "10", "/Poll", "0"});
    EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, m_mainKey, "ScanToOn"), "dword:0");
    std::vector<std::string> bodies = Bodies();
    ASSERT_EQ(bodies.size(), 1u) << log;
    EXPECT_EQ(bodies[0], "RemoveScanToDest_1=Scan+A&RemoveScanToDest_2=Caf%C3%A9");
  }
}

TEST_F(PublishTest, Task15LeavesQuickSetsAndIdentity) {
  ASSERT_TRUE(StartNetwork([](const std::string&) { return LoopbackServer::Ok("<ok/>", 16); }));
  Prepare();
  test_common::SetDword(HKEY_CURRENT_USER, m_mainKey, "ScanToOn", 1);
  std::string log = Run({"/Task", "15"});
  for (const char* gone : {"ProductToUse", "ScanToOn", "ToolboxExe", "ToolboxId"})
    EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, m_mainKey, gone), "<absent>") << gone;
  EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, m_mainKey, "UniquePcName"), "PC7");
  EXPECT_TRUE(test_common::KeyExists(HKEY_CURRENT_USER, m_mainKey + "\\" + ResString(89))) << log;
  EXPECT_TRUE(m_server.Requests().empty());
}

TEST_F(SimulatorRun, PublishThenWithdrawOverHttpAndUsb) {
  for (bool usb : {true, false}) {
    SCOPED_TRACE(usb ? "usb" : "http");
    test_common::ClearNexoraKeys();
    Connect(usb);
    ASSERT_TRUE(
        StartSimulator({"--entry", "0^OTHER^Theirs^1", "--fault", "on=list,times=1,chunk=7,chunk-delay=5"}));
    Prepare();
    std::string log = Run({"/Task", "11"});
    std::vector<std::string> state = State();
    // Three default Quick Sets: marked on a direct product only, plus the special destination.
    ASSERT_EQ(state.size(), usb ? 5u : 1u) << log;
    if (usb) {
      EXPECT_EQ(state[1], "1^PC7^" + ResString(244) + "^DestFolder");
    }

    std::vector<std::string> thisPc;
    log = Run({"/Task", "10", "/Poll", "1"});
    EXPECT_EQ(State(), std::vector<std::string>{"0^OTHER^Theirs^1"}) << log;
    EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, m_mainKey, "ScanToOn"), "dword:1");

    // Task 14 with polling on: publishes again and starts the monitor.
    log = Run({"/Task", "14"});
    EXPECT_EQ(State().size(), usb ? 5u : 1u) << log;
    EXPECT_NE(WaitForRecord().find("DevMon=On"), std::string::npos);
    fs::remove(m_record);
    Run({"/Task", "15"});
    EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, m_mainKey, "ScanToOn"), "<absent>");
  }
}

TEST_F(SimulatorRun, RefusedOpensAndHostileListsEndWithALoggedFailure) {
  Connect(true);
  ASSERT_TRUE(StartSimulator({"--refuse", "3", "--entry", "2^PC7^Mine^1"}));
  Prepare();
  std::string log = Run({"/Task", "10"});
  EXPECT_NE(log.find("Couldn't OpenBulk, re-trying (2)"), std::string::npos) << log;
  EXPECT_TRUE(State().empty()) << log;

  struct Case {
    bool usb;
    std::string fault;
    const char* logged;
  };
  const Case cases[] = {
      {false, "on=list,pad=104857600", "HttpSendRequest failed"},
      {true, "on=list,pad=104857600", "USB response is empty: the response is larger than 1 MiB"},
      {false, "on=list,stall=60", "HttpSendRequest failed: (12002)"},
      {false, "on=list,badchunk=hex", "HttpSendRequest failed"},
      // Over USB chunk sizes are never read: a cut document is what fails there.
      {true, "on=list,drop=150", "Getting the original XML data failed over PortBridge"},
      {false, "on=list,status=500", "Device answered with HTTP status 500"},
      {true, "on=update,drop=0", "Getting the original XML data failed over PortBridge"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    Connect(c.usb);
    ASSERT_TRUE(StartSimulator({"--entry", "2^PC7^Mine^1", "--fault", c.fault}));
    auto start = std::chrono::steady_clock::now();
    log = Run({"/Task", "10"});
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 15.0);
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;
  }
}

// Without libcurl (the network) or libxml2 (the device's list) reading the device's list fails, and the
// log names the library that could not be loaded rather than a memory shortage; nothing is changed.
TEST_F(SimulatorRun, MissingHttpOrXmlLibraryIsNamedInTheLog) {
  // Files of the sonames that are no libraries, found first through LD_LIBRARY_PATH.
  const fs::path fake = Scratch() / "fake-libraries";
  fs::create_directories(fake);
  std::ofstream(fake / "libcurl.so.4") << "not a library";
  std::ofstream(fake / "libxml2.so.2") << "not a library";
  for (bool usb : {false, true}) {
    SCOPED_TRACE(usb ? "usb" : "http");
    test_common::ClearNexoraKeys();
    Connect(usb);
    ASSERT_TRUE(StartSimulator({"--entry", "2^OTHER^Theirs^1", "--entry", "3^PC7^Mine^1"}));
    Prepare();
    m_extraEnv = {"LD_LIBRARY_PATH=" + fake.string()};
    const std::string log = Run({"/Task", "10"});
    m_extraEnv.clear();
    // Over USB the channel library talks HTTP itself: the list is what needs libxml2.
    const std::string missing = usb ? "libxml2.so.2" : "libcurl.so.4";
    EXPECT_NE(log.find(missing + " could not be loaded: " + (fake / missing).string()), std::string::npos)
        << log;
    EXPECT_EQ(log.find("Not enough memory"), std::string::npos) << log;
    EXPECT_EQ(State(), (std::vector<std::string>{"2^OTHER^Theirs^1", "3^PC7^Mine^1"})) << log;
  }
}

}  // namespace
}  // namespace device_test
