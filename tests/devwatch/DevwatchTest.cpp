// DEVWATCH as a program against the simulator: the instance and its hand-over, the remembered state, and
// a scan request at the panel leading to a recorded marlin3 start.
#include <gtest/gtest.h>

#include "SimClient.h"

using namespace simtest;

namespace {

const std::string kDevwatch = std::string(MARLIN3_BIN_DIR) + "/DEVWATCH";

class DevwatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = ScratchDir("devwatch-test");
    fs::create_directories(m_dir / "state");
    fs::create_directories(m_dir / "run");
    fs::permissions(m_dir / "run", fs::perms::owner_all, fs::perm_options::replace);
    // The recorder stands in for marlin3: it writes its arguments, one a line, and a mark when done.
    m_recorder = m_dir / "recorder";
    std::ofstream(m_recorder) << "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"$0.args\"\necho end >> \"$0.args\"\n";
    fs::permissions(m_recorder, fs::perms::owner_all);
    m_env = {"XDG_STATE_HOME=" + (m_dir / "state").string(), "XDG_RUNTIME_DIR=" + (m_dir / "run").string(),
             "DEVWATCH_MARLIN3=" + m_recorder.string(), "DEVWATCH_POLL_MS=50", "DEVWATCH_LIFETIME=30",
             "DEVWATCH_TIMEOUT_MS=400",
             // The registry of this test only: never the machine's hives.
             "MARLIN3_REGISTRY_DIR=" + (m_dir / "registry").string()};
    fs::create_directories(m_dir / "registry");
  }
  void TearDown() override {
    m_watch.Stop();
    m_sim.Stop();
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }

  void StartSimulator(std::vector<std::string> extra) {
    std::vector<std::string> args = {std::string(MARLIN3_BIN_DIR) + "/marlin3-devsim",
                                     "--usb",
                                     Usb(),
                                     "--ready-file",
                                     (m_dir / "ready").string(),
                                     "--log",
                                     (m_dir / "simlog").string(),
                                     "--lifetime",
                                     "30"};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(m_sim.Start(args));
    ASSERT_TRUE(WaitForFile(m_dir / "ready"));
  }
  std::string Usb() const { return "unix:" + (m_dir / "usb.sock").string(); }
  // Runs DEVWATCH with this notification text as its arguments and waits for it to end.
  int RunOnce(const std::vector<std::string>& args) {
    std::vector<std::string> all = {kDevwatch};
    all.insert(all.end(), args.begin(), args.end());
    Child child(all, m_env);
    return child.Wait(5000ms);
  }
  void StartInstance(const std::vector<std::string>& args) {
    std::vector<std::string> all = {kDevwatch};
    all.insert(all.end(), args.begin(), args.end());
    ASSERT_TRUE(m_watch.Start(all, m_env));
    ASSERT_TRUE(WaitFor("watching "));
  }
  std::string LogText() { return ReadFile(m_dir / "state/marlin3/devwatch.log"); }
  std::string State() { return ReadFile(m_dir / "state/marlin3/devwatch.state"); }
  bool WaitFor(const std::string& inLog, std::chrono::milliseconds limit = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (LogText().find(inLog) != std::string::npos) return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }
  std::string Recorded(int starts) {
    const auto end = std::chrono::steady_clock::now() + 5000ms;
    std::string text;
    while (std::chrono::steady_clock::now() < end) {
      text = ReadFile(m_recorder.string() + ".args");
      int count = 0;
      for (std::size_t at = text.find("end\n"); at != std::string::npos; at = text.find("end\n", at + 1))
        ++count;
      if (count >= starts) break;
      std::this_thread::sleep_for(20ms);
    }
    return text;
  }
  std::string Control(const std::string& path, const std::string& body) {
    return Exchange(Usb(), "POST " + path + " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
                               "\r\n\r\n" + body)
        .bytes;
  }

  fs::path m_dir;
  fs::path m_recorder;
  std::vector<std::string> m_env;
  Child m_sim;
  Child m_watch;
};

}  // namespace

TEST_F(DevwatchTest, PanelScanRequestStartsMarlin3WithTask13) {
  StartSimulator({"--entry", "0^PC7^Scan A^DestFolder", "--entry", "1^OTHER^Photos^DestFolder", "--entry",
                  "2^PC7^My Docs^DestFolder"});
  StartInstance({"/notifications:DevAddr=" + Usb(), "DevMon=On", "DevHostId=PC7"});
  ASSERT_TRUE(Control("/sim/panel", "dest=Photos").starts_with("HTTP/1.1 200"));  // another PC's
  ASSERT_TRUE(Control("/sim/panel", "dest=My+Docs").starts_with("HTTP/1.1 200"));
  EXPECT_EQ(Recorded(1), "/Task\n13\n/DevAddr\n" + Usb() + "\n/DevDest\nMy Docs\nend\n");
  ASSERT_TRUE(Control("/sim/panel", "dest=0").starts_with("HTTP/1.1 200"));
  EXPECT_EQ(Recorded(2), "/Task\n13\n/DevAddr\n" + Usb() + "\n/DevDest\nMy Docs\nend\n/Task\n13\n/DevAddr\n" +
                             Usb() + "\n/DevDest\nScan A\nend\n");
  EXPECT_TRUE(WaitFor("ended with code 0"));
  EXPECT_NE(ReadFile(m_dir / "simlog").find("handed to host \"PC7\""), std::string::npos);
  EXPECT_EQ(ReadFile(m_dir / "simlog").find("handed to host \"OTHER\""), std::string::npos);
  EXPECT_NE(LogText().find("scan request at the device for \"Scan A\" (destination 0)"), std::string::npos);
}

TEST_F(DevwatchTest, ASecondStartHandsItsNotificationOver) {
  StartSimulator({});
  StartInstance({"/notifications:DevAddr=" + Usb() + "  DevMon=On  DevHostId=PC7"});
  EXPECT_EQ(State(), "DevAddr=" + Usb() + "\nDevMon=On\nDevHostId=PC7\n");
  // The three spacings, one argument or several; each goes to the running instance.
  EXPECT_EQ(RunOnce({"/notifications:DevAddr=" + Usb() + "  DevMon=On DevHostId=PC8"}), 0);
  EXPECT_EQ(State(), "DevAddr=" + Usb() + "\nDevMon=On\nDevHostId=PC8\n");
  EXPECT_EQ(RunOnce({"/notifications:DevAddr=  DevMon=On  DevHostId=PC8"}), 0);  // marlin3's first runs
  EXPECT_EQ(State(), "DevAddr=" + Usb() + "\nDevMon=On\nDevHostId=PC8\n");
  EXPECT_EQ(RunOnce({"/notifications:DevAddr=" + Usb(), "DevMon=On", "DevHostId=PC9"}), 0);
  EXPECT_EQ(State(), "DevAddr=" + Usb() + "\nDevMon=On\nDevHostId=PC9\n");
  EXPECT_EQ(RunOnce({}), 0);  // plain start: nothing to hand over
  EXPECT_EQ(RunOnce({"/notifications:DevAddr=x DevMon=Sometimes DevHostId=PC7"}), 2);  // refused at once
  EXPECT_EQ(m_watch.Wait(0ms), -1) << "the instance still runs";
  EXPECT_EQ(RunOnce({"/notifications:DevAddr=" + Usb() + "  DevMon=Off DevHostId=PC9"}), 0);
  EXPECT_EQ(m_watch.Wait(3000ms), 0) << "polling off ends the instance";
  EXPECT_EQ(State(), "DevAddr=" + Usb() + "\nDevMon=Off\nDevHostId=PC9\n");
  const std::string log = LogText();
  EXPECT_NE(log.find("notification handed to the running DEVWATCH: OK polling on"), std::string::npos);
  EXPECT_NE(log.find("notification handed to the running DEVWATCH: OK polling off"), std::string::npos);
  EXPECT_NE(log.find("polling is off; stopping"), std::string::npos);
}

// marlin3 has no device address before the monitor first starts it: the product key gives it.
TEST_F(DevwatchTest, TakesTheProductsAddressWhenMarlin3HasNone) {
  StartSimulator({"--entry", "3^PC7^Scan A^F", "--panel", "3"});
  const std::string product = "HKLM\\SOFTWARE\\Nexora\\NX_Pressline_M10_M12_M15_M30\\Port";
  const std::pair<std::string, std::string> values[] = {{"Connection Type", "Direct"}, {"Port", Usb()}};
  for (const auto& [name, value] : values) {
    Child reg({std::string(MARLIN3_BIN_DIR) + "/marlin3-reg", "add", product, "/v", name, "/d", value, "/f"},
              m_env);
    ASSERT_EQ(reg.Wait(5000ms), 0);
  }
  StartInstance({"/notifications:DevAddr=  DevMon=On  DevHostId=PC7"});
  EXPECT_EQ(Recorded(1), "/Task\n13\n/DevAddr\n" + Usb() + "\n/DevDest\nScan A\nend\n");
  EXPECT_NE(LogText().find("using the product's: " + Usb()), std::string::npos);
}

TEST_F(DevwatchTest, TwoStartsAtOnceLeaveOneInstance) {
  StartSimulator({});
  const std::vector<std::string> a = {kDevwatch,
                                      "/notifications:DevAddr=" + Usb() + "  DevMon=On  DevHostId=PCA"};
  const std::vector<std::string> b = {kDevwatch,
                                      "/notifications:DevAddr=" + Usb() + "  DevMon=On  DevHostId=PCB"};
  Child first(a, m_env);
  Child second(b, m_env);
  ASSERT_TRUE(WaitFor("notification handed to the running DEVWATCH: OK polling on"));
  const int codeFirst = first.Wait(300ms);
  const int codeSecond = second.Wait(300ms);
  EXPECT_TRUE((codeFirst == 0 && codeSecond == -1) || (codeFirst == -1 && codeSecond == 0))
      << codeFirst << " " << codeSecond;
  // Whichever came last is the state, and the instance took both.
  const std::string log = LogText();
  EXPECT_NE(log.find("DevHostId=PCA"), std::string::npos);
  EXPECT_NE(log.find("DevHostId=PCB"), std::string::npos);
  EXPECT_EQ(RunOnce({"/notifications:DevAddr=" + Usb() + "  DevMon=Off DevHostId=PCA"}), 0);
  EXPECT_EQ(first.Wait(3000ms) + second.Wait(3000ms), -1) << "exactly one was still running, and now ended";
}

TEST_F(DevwatchTest, RemembersThePollingStateAcrossStarts) {
  EXPECT_EQ(RunOnce({}), 0);  // no state yet: nothing to watch
  EXPECT_NE(LogText().find("polling is off; nothing to watch"), std::string::npos);
  EXPECT_EQ(RunOnce({"/notifications:DevAddr=  DevMon=Off DevHostId="}), 0);
  EXPECT_NE(State().find("DevMon=Off"), std::string::npos);
  // Polling on without any known address, and no product key: remembered, nothing to watch.
  EXPECT_EQ(RunOnce({"/notifications:DevAddr=  DevMon=On  DevHostId=PC7"}), 0);
  EXPECT_EQ(State(), "DevAddr=\nDevMon=On\nDevHostId=PC7\n");
  EXPECT_NE(LogText().find("no device address or host ID is known yet"), std::string::npos);
  // A plain start with polling on watches the remembered device; a stale socket does not matter.
  std::ofstream(m_dir / "state/marlin3/devwatch.state")
      << "DevAddr=" << Usb() << "\nDevMon=On\nDevHostId=PC7\n";
  std::ofstream(m_dir / "run/marlin3/devwatch.sock") << "stale";
  StartInstance({});
  EXPECT_TRUE(WaitFor("cannot look at the device " + Usb()));
  StartSimulator({"--entry", "5^PC7^Later^F", "--panel", "Later"});
  EXPECT_TRUE(WaitFor("the device " + Usb() + " answers again"));
  EXPECT_EQ(Recorded(1), "/Task\n13\n/DevAddr\n" + Usb() + "\n/DevDest\nLater\nend\n");
  // The failure was logged once, not once a look.
  const std::string log = LogText();
  EXPECT_EQ(log.find("cannot look at the device"), log.rfind("cannot look at the device"));
  m_watch.Signal(SIGTERM);
  EXPECT_EQ(m_watch.Wait(3000ms), 0);
}

TEST_F(DevwatchTest, HostileDeviceAnswersAreLoggedAndSurvived) {
  StartSimulator({"--entry", "0^PC7^Scan A^F", "--fault", "on=request,times=1,pad=endless", "--fault",
                  "on=request,times=1,badchunk=short", "--fault", "on=request,times=1,status=500", "--fault",
                  "on=request,times=1,stall=20"});
  StartInstance({"/notifications:DevAddr=" + Usb() + "  DevMon=On  DevHostId=PC7"});
  EXPECT_TRUE(WaitFor("larger than the limit"));
  EXPECT_TRUE(WaitFor("bad answer from the device"));
  EXPECT_TRUE(WaitFor("status 500"));
  EXPECT_TRUE(WaitFor("did not answer in time"));
  Control("/sim/panel", "dest=Scan+A");
  EXPECT_EQ(Recorded(1), "/Task\n13\n/DevAddr\n" + Usb() + "\n/DevDest\nScan A\nend\n");
}

// A notification whose values hold blanks or CR LF would forge fields (a product host name
// "q  DevMon=Off  DevHostId=evil" turned polling off): refused whole, logged, the state file untouched.
TEST_F(DevwatchTest, ForgedNotificationLinesAreRefusedWhole) {
  StartSimulator({});
  StartInstance({"/notifications:DevAddr=" + Usb() + "  DevMon=On  DevHostId=PC7"});
  const std::string state = State();
  const std::vector<std::vector<std::string>> forged = {
      {"/notifications:DevAddr=q  DevMon=Off  DevHostId=evil  DevMon=On  DevHostId=PC7"},
      {"/notifications:DevAddr=q", "DevMon=Off", "DevHostId=evil", "DevMon=On", "DevHostId=PC7"},
      {"/notifications:DevAddr=q\r\nDevMon=Off  DevMon=On  DevHostId=PC7"},
      {"/notifications:DevAddr=" + Usb() + "  DevMon=On  DevHostId=PC7\r\nDevAddr=elsewhere"},
      {"/notifications:DevAddr=/AppExe  DevMon=On  DevHostId=PC7"},
  };
  for (const auto& args : forged) {
    EXPECT_EQ(RunOnce(args), 2) << args[0];
    EXPECT_EQ(State(), state);
  }
  EXPECT_EQ(m_watch.Wait(0ms), -1) << "the instance still runs, polling on";
  const std::string log = LogText();
  EXPECT_NE(log.find("notification ignored: the notification has its DevMon= field twice"), std::string::npos)
      << log;
  EXPECT_NE(log.find("holds a control character"), std::string::npos) << log;
  EXPECT_EQ(log.find("\r"), std::string::npos) << "no CR reaches the log";
  EXPECT_NE(log.find("starts with \"/\""), std::string::npos) << log;
}
