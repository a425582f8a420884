// Changing a Quick Set that is on the device, through the main dialog's Setup and the wizard, against
// the device simulator over loopback HTTP: the device's list (the simulator's state file), the order of
// its updates (the simulator's log), the refusal box and what the registry holds afterwards.
// The simulator listens on port 80 inside a network namespace of the test's own (a user namespace as
// well when not root); where none can be made, root uses a loopback address of its own as tests/device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/ProductRun.h"
#include "tests/common/QuietSpawn.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

using product_run::Quote;
using product_run::ReadFile;
using product_run::RunResult;

using product_run::Has;

bool WriteText(const char* path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  return static_cast<bool>(out.flush());
}

// A network namespace for this test process and what it starts. Gives false when none can be made.
bool EnterOwnNetwork() {
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  if (unshare(CLONE_NEWNET | (uid == 0 ? 0 : CLONE_NEWUSER)) != 0) return false;
  if (uid != 0) {
    return WriteText("/proc/self/setgroups", "deny") &&
           WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
           WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
  }
  return true;
}

const char* kMain = "HKCU\\SOFTWARE\\Nexora\\marlin3";

// The answer to the device-update box (string 108 of the resource library's English strings).
std::string RefusedBox() {
  std::istringstream in(ReadFile(fs::path(MARLIN3_SOURCE_DIR) / "resources" / "strings.txt"));
  for (std::string line; std::getline(in, line);)
    if (line.rfind("108\t", 0) == 0) return "msgbox OK \"" + line.substr(4, 40) + "\"\n";
  return "msgbox OK\n";
}

class QsDeviceModifyTest : public product_run::ProductRun {
 protected:
  void SetUp() override {
    ProductRun::SetUp();
    m_ownNetwork = EnterOwnNetwork();
    if (!m_ownNetwork && geteuid() != 0) GTEST_SKIP() << "no network namespace and not root: no port 80";
    ASSERT_TRUE(StartSimulator({})) << ReadFile(m_dir / "sim.log");
    ASSERT_EQ(0,
              Shell(Bin("marlin3-product") + " network --ip " + m_address + " --device test:0 >/dev/null"));
    Marlin("dialog 102\ncancel\n");  // the first run writes the default Quick Sets
    SetMain("UniquePcName", "PC7");
    SetMain("ToolboxExe", "/bin/true");  // the device monitor is there: scan-to is available
    SetMain("ToolboxId", "dev-1");
    // The prefix of a computer with a two-letter name: shorter than the longest ("ABCD:").
    SetMain("DestPrefix", "Ab:");
    ASSERT_EQ(0, Shell(Bin("marlin3-reg") + " add " + Quote(kMain) +
                       " /v ScanToOn /t REG_DWORD /d 1 /f >/dev/null"));
  }

  void TearDown() override {
    StopSimulator();
    ProductRun::TearDown();
  }

  bool StartSimulator(const std::vector<std::string>& extra) {
    if (m_ownNetwork) return StartSimulatorAt("127.0.0.5", extra, true);
    // Other test processes may hold port 80 of an address: the simulator then exits, try the next.
    for (int attempt = 1; attempt <= 8; ++attempt)
      if (StartSimulatorAt("127.79." + std::to_string(getpid() % 200 + 1) + "." + std::to_string(attempt),
                           extra, false))
        return true;
    return false;
  }

  bool StartSimulatorAt(const std::string& address, const std::vector<std::string>& extra, bool loopbackUp) {
    StopSimulator();
    const fs::path ready = m_dir / "sim.ready";
    fs::remove(ready);
    std::vector<std::string> args{Bin("marlin3-devsim"),
                                  "--http",
                                  address,
                                  "--ready-file",
                                  ready.string(),
                                  "--state-out",
                                  (m_dir / "sim.state").string(),
                                  "--log",
                                  (m_dir / "sim.log").string(),
                                  "--lifetime",
                                  "120"};
    if (loopbackUp) args.push_back("--loopback-up");
    args.insert(args.end(), extra.begin(), extra.end());
    m_sim = test_common::SpawnQuietUntilReady(std::move(args), ready);
    if (m_sim == 0) return false;
    m_address = address;
    return fs::exists(ready);
  }

  // The simulator again, with the list it held and the settings given.
  bool RestartSimulator(const std::vector<std::string>& extra) {
    StopSimulator();
    fs::copy_file(m_dir / "sim.state", m_dir / "sim.seed", fs::copy_options::overwrite_existing);
    std::vector<std::string> args{"--seed", (m_dir / "sim.seed").string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return m_ownNetwork ? StartSimulatorAt(m_address, args, true) : StartSimulatorAt(m_address, args, false);
  }

  void StopSimulator() {
    if (m_sim <= 0) return;
    kill(m_sim, SIGTERM);
    waitpid(m_sim, nullptr, 0);
    m_sim = 0;
  }

  RunResult Marlin(const std::string& script) { return RunMarlin({}, script); }

  void SetMain(const std::string& name, const std::string& value) {
    ASSERT_EQ(0, Shell(Bin("marlin3-reg") + " add " + Quote(kMain) + " /v " + Quote(name) + " /d " +
                       Quote(value) + " /f >/dev/null"));
  }

  // One value as marlin3-reg shows it ("<absent>" when missing).
  std::string Value(const std::string& key, const std::string& name) const {
    const std::string out =
        Capture(Bin("marlin3-reg") + " query " + Quote(key) + " /v " + Quote(name) + " 2>/dev/null");
    const size_t type = out.find("    REG_");
    if (type == std::string::npos) return "<absent>";
    const size_t value = out.find("    ", type + 4);
    if (value == std::string::npos) return "";
    return out.substr(value + 4, out.find('\n', value) - value - 4);
  }
  std::string Qs(const std::string& name) const { return Value(std::string(kMain) + "\\Ledger", name); }

  // The simulator's list as "HOST^NAME" lines.
  std::vector<std::string> DeviceList() const {
    std::vector<std::string> names;
    std::istringstream in(ReadFile(m_dir / "sim.state"));
    for (std::string line; std::getline(in, line);) {
      if (line.empty() || line[0] == '#') continue;
      const size_t first = line.find('^');
      const size_t last = line.rfind('^');
      names.push_back(line.substr(first + 1, last - first - 1));
    }
    return names;
  }

  // The updates the simulator applied since the last call, one "update: ..." line each.
  std::vector<std::string> NewUpdates() {
    const std::string log = ReadFile(m_dir / "sim.log");
    std::vector<std::string> lines;
    std::istringstream in(log.substr(std::min(m_logSeen, log.size())));
    for (std::string line; std::getline(in, line);) {
      const size_t at = line.find("update: ");
      if (at != std::string::npos) lines.push_back(line.substr(at));
      if (Has(line, "answering with error page")) lines.push_back("refused");
    }
    m_logSeen = log.size();
    return lines;
  }

  // Setup, modify "Ledger" (a folder Quick Set with the scanner's own settings), the save page's device
  // controls as given, Finish; then the dialog is shown again. More is what comes after Finish.
  static std::string Modify(const std::string& device, const std::string& more = "") {
    return "click 3\nwizard\nradio 1049\nnext\nselect 1044 Ledger\nnext\nnext\nnext\n" + device +
           "next\nfinish\n" + more + "show\n";
  }

  // "Ledger" made with the wizard for the device as "Books"; more answers what Finish shows.
  RunResult NewLedger(const std::string& more = "") {
    return Marlin("dialog 102\nclick 3\nwizard\nradio 1048\nnext\ncheck 40\nnext\nradio 1062\ntype 57 " +
                  (m_dir / "out").string() +
                  "/\nnext\ntype 1021 Ledger\ncheck 1029\ntype 1030 Books\nnext\nfinish\n" + more +
                  "cancel\n");
  }

  // "Ledger" made with the wizard and put on the device as "Books".
  void MakeLedger() {
    const RunResult run = NewLedger();
    ASSERT_EQ(run.exitCode, 0) << run.transcript << run.log;
    m_prefix = Value(kMain, "DestPrefix");
    ASSERT_NE(m_prefix, "<absent>");
    ASSERT_EQ(DeviceList(), std::vector<std::string>{"PC7^" + m_prefix + "Books"}) << run.log;
    ASSERT_EQ(NewUpdates(), std::vector<std::string>{"update: 1 added, 0 removed, 0 refused"});
  }

  bool m_ownNetwork = false;
  pid_t m_sim = 0;
  std::string m_address;
  std::string m_prefix;
  size_t m_logSeen = 0;
};

// Each change in turn, from what the one before left: the same name sends nothing; a new name is
// removed-then-added; unticked, the name leaves the device; ticked again, it comes back.
TEST_F(QsDeviceModifyTest, ChangesReachTheDeviceAsRemoveThenAdd) {
  MakeLedger();
  struct Step {
    const char* what;
    std::string device;                // save page actions
    std::vector<std::string> updates;  // what the simulator applied, in order
    std::vector<std::string> list;     // names on the device afterwards
    const char* devDest;               // the registry afterwards (without the prefix)
    const char* devDestOld;
    const char* onDevice;
    const char* wasOnDevice;
  };
  const Step steps[] = {
      {"same name", "", {}, {"Books"}, "Books", "Books", "1", "1"},
      {"new name",
       "type 1030 Cash\n",
       {"update: 0 added, 1 removed, 0 refused", "update: 1 added, 0 removed, 0 refused"},
       {"Cash"},
       "Cash",
       "Books",
       "1",
       "1"},
      {"off the device",
       "uncheck 1029\n",
       {"update: 0 added, 1 removed, 0 refused"},
       {},
       "Cash",
       "Cash",
       "0",
       "1"},
      {"back on it",
       "check 1029\ntype 1030 Till\n",
       {"update: 1 added, 0 removed, 0 refused"},
       {"Till"},
       "Till",
       "Cash",
       "1",
       "0"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    const RunResult run = Marlin("dialog 102\n" + Modify(step.device) + "cancel\n");
    EXPECT_EQ(run.exitCode, 0) << run.transcript << run.log;
    EXPECT_FALSE(Has(run.transcript, "msgbox ")) << run.transcript;
    EXPECT_EQ(NewUpdates(), step.updates) << run.log;
    std::vector<std::string> list;
    for (const std::string& name : step.list) list.push_back("PC7^" + m_prefix + name);
    EXPECT_EQ(DeviceList(), list);
    EXPECT_EQ(Qs("DevDest"), m_prefix + step.devDest);
    EXPECT_EQ(Qs("DevDestOld"), m_prefix + step.devDestOld);
    EXPECT_EQ(Qs("AddToDevice"), step.onDevice);
    EXPECT_EQ(Qs("AddToDeviceOld"), step.wasOnDevice);
    // The save page shows the device name without the prefix.
    if (step.device.empty()) {
      EXPECT_TRUE(Has(run.transcript, "1030 edit limit=9 text=\"Books\"")) << run.transcript;
    }
    // The main dialog still lists the Quick Set.
    EXPECT_TRUE(Has(run.transcript.substr(run.transcript.rfind("> show")), "item \"Ledger\" data=2"))
        << run.transcript;
  }

  // The computer got another name: the device name loses the old prefix on the page and moves to the
  // new one on Finish.
  SetMain("DestPrefix", "WXYZ:");
  const RunResult run = Marlin("dialog 102\n" + Modify("") + "cancel\n");
  EXPECT_TRUE(Has(run.transcript, "1030 edit limit=9 text=\"Till\"")) << run.transcript;
  EXPECT_EQ(NewUpdates(), (std::vector<std::string>{"update: 0 added, 1 removed, 0 refused",
                                                    "update: 1 added, 0 removed, 0 refused"}));
  EXPECT_EQ(DeviceList(), std::vector<std::string>{"PC7^WXYZ:Till"});
  EXPECT_EQ(Qs("DevDest"), "WXYZ:Till");
}

// The device refuses every update: message 108, its log line, the list as it was, and the registry
// keeps the name the device still has, so that trying again sends the change again.
TEST_F(QsDeviceModifyTest, RefusedChangeSaysSoAndCanBeTriedAgain) {
  MakeLedger();
  struct Case {
    const char* what;
    std::string device;
    const char* logged;
    size_t refusals;
  };
  const Case cases[] = {
      {"new name", "type 1030 Cash\n", "Failed to modify dest name on device", 2},
      {"off the device", "uncheck 1029\n", "Failed to remove modified dest from device", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(RestartSimulator({"--fault", "on=update,status=500"}));
    NewUpdates();  // the log goes on across restarts
    RunResult run = Marlin("dialog 102\n" + Modify(c.device, RefusedBox()) + "cancel\n");
    EXPECT_EQ(run.exitCode, 0) << run.transcript << run.log;
    EXPECT_TRUE(Has(run.transcript, "msgbox caption=\"marlin3\" text=\"The list")) << run.transcript;
    EXPECT_TRUE(Has(run.log, c.logged)) << run.log;
    EXPECT_EQ(NewUpdates(), std::vector<std::string>(c.refusals, "refused"));
    EXPECT_EQ(DeviceList(), std::vector<std::string>{"PC7^" + m_prefix + "Books"});
    // What the device holds: still "Books", on the device.
    EXPECT_EQ(Qs("DevDest"), m_prefix + "Books");
    EXPECT_EQ(Qs("AddToDevice"), "1");

    // The device takes updates again: the same change, made again, reaches it.
    ASSERT_TRUE(RestartSimulator({}));
    NewUpdates();  // the log goes on across restarts
    run = Marlin("dialog 102\n" + Modify(c.device) + "cancel\n");
    EXPECT_FALSE(Has(run.transcript, "msgbox ")) << run.transcript;
    const bool renamed = Has(c.device, "Cash");
    EXPECT_EQ(DeviceList(),
              renamed ? std::vector<std::string>{"PC7^" + m_prefix + "Cash"} : std::vector<std::string>{})
        << run.log;
    EXPECT_EQ(Qs("AddToDevice"), renamed ? "1" : "0");

    // Back to "Books" on the device for the next case.
    ASSERT_TRUE(RestartSimulator({}));
    run = Marlin("dialog 102\n" + Modify("check 1029\ntype 1030 Books\n") + "cancel\n");
    ASSERT_EQ(DeviceList(), std::vector<std::string>{"PC7^" + m_prefix + "Books"})
        << run.log << run.transcript;
  }
}

// Without libxml2 the device's answer cannot be read: the change is a refused one (the box, a log line
// naming the library), not a crash of the main dialog.
TEST_F(QsDeviceModifyTest, ChangeWithoutTheXmlLibraryIsARefusedOne) {
  MakeLedger();
  const fs::path fake = m_dir / "fake-libraries";
  fs::create_directories(fake);
  std::ofstream(fake / "libxml2.so.2") << "not a library";
  setenv("LD_LIBRARY_PATH", fake.c_str(), 1);
  const RunResult run = Marlin("dialog 102\n" + Modify("type 1030 Cash\n", RefusedBox()) + "cancel\n");
  unsetenv("LD_LIBRARY_PATH");
  EXPECT_EQ(run.exitCode, 0) << run.transcript << run.log;
  EXPECT_TRUE(Has(run.transcript, "msgbox caption=\"marlin3\" text=\"The list")) << run.transcript;
  EXPECT_TRUE(Has(run.log, "libxml2.so.2 could not be loaded: " + (fake / "libxml2.so.2").string()))
      << run.log;
  EXPECT_TRUE(Has(run.log, "Failed to modify dest name on device")) << run.log;
}

// A new Quick Set the device refuses: the same box, and the Quick Set is not marked as on the device,
// so that ticking the box again in a later change sends it.
TEST_F(QsDeviceModifyTest, RefusedNewQuickSetIsNotMarkedAsOnTheDevice) {
  ASSERT_TRUE(RestartSimulator({"--fault", "on=update,status=500"}));
  RunResult run = NewLedger(RefusedBox());
  EXPECT_EQ(run.exitCode, 0) << run.transcript << run.log;
  EXPECT_TRUE(Has(run.log, "Failed to add new dest")) << run.log;
  EXPECT_TRUE(DeviceList().empty());
  EXPECT_EQ(Qs("AddToDevice"), "0");
  EXPECT_EQ(Qs("DevDest"), "Ab:Books");

  ASSERT_TRUE(RestartSimulator({}));
  run = Marlin("dialog 102\n" + Modify("check 1029\n") + "cancel\n");
  EXPECT_TRUE(Has(run.transcript, "1030 edit disabled limit=9 text=\"Books\"")) << run.transcript;
  EXPECT_FALSE(Has(run.transcript, "msgbox ")) << run.transcript;
  EXPECT_EQ(DeviceList(), std::vector<std::string>{"PC7^Ab:Books"}) << run.log;
  EXPECT_EQ(Qs("AddToDevice"), "1");
}

}  // namespace
