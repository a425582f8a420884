// The device setup dialog and the device name prompt in whole runs of the real marlin3 (task 7) on the
// scripted host against the device simulator, over HTTP and over the USB channel: a person publishes
// Quick Sets and withdraws them, other PCs' entries stay, the slot limit, an unreachable device, the
// name checks. What reached the device is read from the simulator's state file.
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
    script += Box(214) + "show\ncancel\n";
    std::string log = Run({"/Task", "7"}, script);

    std::vector<std::string> expected{"OTHER^Theirs", "PC7^" + DevDest(b)};
    // A direct product gets the special destination when scan-to is first decided.
    if (usb) expected.push_back("PC7^" + ResString(244));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(), expected) << log << m_transcript;
    EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, QsKey(a), "AddToDevice"), "0");
    EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, QsKey(b), "AddToDevice"), "1");
    EXPECT_EQ(test_common::Stored(HKEY_CURRENT_USER, m_mainKey, "ScanToOn"), "dword:1");
    EXPECT_NE(WaitForRecord().find("DevMon=On"), std::string::npos);
    fs::remove(m_record);
    EXPECT_TRUE(Shown("Theirs")) << m_transcript;
    EXPECT_NE(log.find("SetupDevice dialog cancelled"), std::string::npos) << log;
  }
}

}  // namespace
}  // namespace device_test
