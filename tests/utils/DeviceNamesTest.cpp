// Names on the device's panel: the duplicate check across Quick Sets (direct and networked), the
// characters the panel refuses, and the destination prefix made from a real computer name.
#include <spawn.h>
#include <sys/wait.h>

#include <vector>

#include "UtilsFixture.h"

extern char** environ;

namespace utils_test {
namespace {

class DeviceNamesTest : public UtilsTest {
 protected:
  void Connection(const std::string& type) {
    SetString(HKEY_LOCAL_MACHINE, kProductKey, "Connection Type", type);
  }
  void DevDest(const std::string& qs, const std::string& name) {
    SetString(HKEY_CURRENT_USER, QsKey(qs), "DevDest", name);
  }

  // Runs the identity helper under the given computer name; false when the host cannot rename.
  bool Identity(const std::string& computerName, std::string& prefix, std::string& unique) {
    const std::string helper = std::string(MARLIN3_BIN_DIR) + "/m3utils_identity";
    const std::string out = (m_dir / "identity.txt").string();
    std::vector<std::string> args = {helper, computerName, out};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, helper.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    std::istringstream lines(ReadFile(out));
    std::getline(lines, prefix);
    std::getline(lines, unique);
    return true;
  }
};

TEST_F(DeviceNamesTest, DuplicateAmongOtherQuickSetsDirect) {
  Connection("Direct");
  DevDest("Alpha", "Scan1");
  DevDest("Beta", "Scan2");
  SetString(HKEY_CURRENT_USER, QsKey("Gamma"), "Res", "300");  // no device name at all
  struct Case {
    const char* name;
    const char* qs;
    bool bDup;
  };
  const Case cases[] = {
      {"Scan1", "Beta", true},   {"Scan1", "Alpha", false},  // the Quick Set being edited
      {"Scan1", "alpha", false},  // Quick Set names ignore case like their registry keys
      {"scan1", "Beta", false},   // device names are compared exactly
      {"Scan2", "Alpha", true},  {"Scan3", "Alpha", false}, {"Scan1", "", true},  // a new Quick Set
  };
  for (const Case& c : cases) {
    ValueGetter vg("");
    EXPECT_EQ(vg.IsDupDevName(c.name, c.qs), c.bDup) << c.name << " for " << c.qs;
  }
}

TEST_F(DeviceNamesTest, NetworkedNamesCarryPrefix) {
  Connection("Network");
  SetString(HKEY_CURRENT_USER, m_mainKey, "DestPrefix", "MY-P:");
  DevDest("Alpha", "MY-P:Scan1");
  DevDest("Beta", "Scan2");  // stored without this PC's prefix
  ValueGetter vg("");
  EXPECT_TRUE(vg.IsDupDevName("Scan1", "Beta"));
  EXPECT_FALSE(vg.IsDupDevName("Scan1", "Alpha"));
  EXPECT_FALSE(vg.IsDupDevName("Scan2", "Alpha"));
  EXPECT_FALSE(vg.IsDupDevName("MY-P:Scan1", "Beta"));  // the prefix is added, not expected
}

TEST_F(DeviceNamesTest, LowerCaseNetworkCountsAsDirect) {
  Connection("network");
  SetString(HKEY_CURRENT_USER, m_mainKey, "DestPrefix", "MY-P:");
  DevDest("Alpha", "Scan1");
  ValueGetter vg("");
  EXPECT_FALSE(vg.IsNetworked());
  EXPECT_TRUE(vg.IsDupDevName("Scan1", "Beta"));  // no prefix put before the name
  EXPECT_NE(Log().find("IsNetworked> HKLM product Connection Type unknown (network), defaulting to direct"),
            std::string::npos);
}

TEST_F(DeviceNamesTest, InvalidCharacters) {
  struct Case {
    const char* text;
    bool bFound;
    const char* invalid;
  };
  const Case cases[] = {
      {"Scan&Send", true, "&"},
      {"Scan {1}", true, "{"},
      {"Scan_1", false, ""},
      {"MY-PC#7", false, ""},
      {"caf\xC3\xA9", false, ""},               // é U+00E9
      {"5\xE2\x82\xAC", true, "\xE2\x82\xAC"},  // € U+20AC
      {"\xE2\x86\x90", true, "\xE2\x86\x90"},   // ← U+2190, in range but forbidden
      {"\xE2\x86\x91", false, ""},              // ↑ U+2191
      {"\xE2\x86\x92", true, "\xE2\x86\x92"},   // → U+2192
      {"ab\xC3(", true, "\xC3"},                // a malformed byte
      {"\xD0\x96", false, ""},                  // Ж U+0416
      {"\xC4\xB1", true, "\xC4\xB1"},           // ı U+0131 not in the list
      {"a\"b", true, "\""},
      {"100%", true, "%"},
      {"a<b", true, "<"},
      {"a>b", true, ">"},
      {"x^2", true, "^"},
      {"$5", true, "$"},
      {"tab\there", true, "\t"},
      {"~ok~", false, ""},
      {"", false, ""},
  };
  ValueGetter vg("");
  for (const Case& c : cases) {
    std::string invalid;
    EXPECT_EQ(vg.FindInvalidChar(c.text, invalid), c.bFound) << c.text;
    if (c.bFound) {
      EXPECT_EQ(invalid, c.invalid) << c.text;
    }
  }
}

TEST_F(DeviceNamesTest, PrefixFromComputerName) {
  struct Case {
    const char* computer;
    const char* prefix;
  };
  const Case cases[] = {
      {"MY-PC#7", "MY-P:"},
      {"A&B&CDE", "ABCD:"},       // every ampersand goes before the four are taken
      {"a<b>c%d^e\"f", "abcd:"},  // several invalid characters, each removed
      {"xy", "xy:"},
  };
  Connection("Network");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.computer);
    SetString(HKEY_CURRENT_USER, m_mainKey, "DestPrefix", "");
    SetString(HKEY_CURRENT_USER, m_mainKey, "UniquePcName", "");
    std::string prefix;
    std::string unique;
    if (!Identity(c.computer, prefix, unique)) GTEST_SKIP() << "no host-name namespace here";
    EXPECT_EQ(prefix, c.prefix);
    EXPECT_EQ(Main("DestPrefix"), c.prefix);
    EXPECT_EQ(unique, c.computer);
  }
}

}  // namespace
}  // namespace utils_test
