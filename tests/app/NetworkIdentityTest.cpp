// This PC's identity towards the device: connection type, destination-name prefix, host ID, and the
// characters a destination name may hold. In-process against a scratch registry.
#include <algorithm>
#include <memory>

#include "AppFixture.h"
#include "log/DebugTrace.h"
#include "platform/folders/Folders.h"
#include "platform/framework/Afx.h"
#include "platform/framework/WinApp.h"
#include "settings/ValueGetter.h"
#include "tests/common/FrameworkTest.h"

namespace app_test {
namespace {

class NetworkIdentityTest : public test_common::FrameworkTest {
 protected:
  void SetUp() override {
    ClearRegistry();
    StartTrace(Scratch() / "identity.log");
    LoadResources();
    m_app = std::make_unique<CWinApp>(ResString(230).c_str());
    m_app->SetRegistryKey("Nexora");
    m_mainKey = MainKey();
    SetString(HKEY_CURRENT_USER, m_mainKey, "ProductToUse", "Kyte");
  }

  static std::string ComputerName() {
    char buffer[260];
    DWORD size = sizeof buffer;
    return GetComputerNameA(buffer, &size) ? std::string(buffer, size) : std::string();
  }
};

TEST_F(NetworkIdentityTest, FindInvalidChar) {
  struct Case {
    std::string text;
    bool found;
    std::string invalid;
  };
  const Case cases[] = {
      {"Scan&Send", true, "&"},
      {"Scan {1}", true, "{"},
      {"Scan_1", false, ""},
      {"MY-PC#7", false, ""},
      {"", false, ""},
      {"50% off", true, "%"},
      {"say \"hi\"", true, "\""},
      {"a<b", true, "<"},
      {"a>b", true, ">"},
      {"x^2", true, "^"},
      {"a|b", true, "|"},          // 7C is outside the ranges
      {"a~b", false, ""},          // 7E is inside
      {"a$b", true, "$"},          // 24
      {"tab\there", true, "\t"},   // control characters
      {"Caf\xC3\xA9", false, ""},  // U+00E9
      {"\xC5\x81\xC3\xB3"
       "d\xC5\xBA",
       true, "\xC5\xBA"},                      // U+0141 and U+00F3 valid, U+017A not
      {"\xD0\x96\xD0\x81", false, ""},         // Cyrillic U+0416, U+0401
      {"\xE2\x82\xAC", true, "\xE2\x82\xAC"},  // euro sign U+20AC
      {"\xE2\x86\x91", false, ""},             // U+2191 allowed
      {"\xE2\x86\x90", true, "\xE2\x86\x90"},  // U+2190 in range but forbidden
      {"ok\xFFno", true, "\xFF"},              // not UTF-8: the byte itself
      {"cut\xC3", true, "\xC3"},               // truncated sequence
      {"\xC0\xAF", true, "\xC0"},              // overlong form
  };
  ValueGetter getter("");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string invalid;
    EXPECT_EQ(getter.FindInvalidChar(c.text, invalid), c.found);
    if (c.found) {
      EXPECT_EQ(invalid, c.invalid);
    }
  }
}

TEST_F(NetworkIdentityTest, ConnectionType) {
  struct Case {
    const char* stored;  // null: no product key
    bool networked;
    bool error;
  };
  const Case cases[] = {
      {"Network", true, false}, {"Direct", false, false}, {"network", false, true},
      {"", false, true},        {nullptr, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored != nullptr ? c.stored : "(none)");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nexora");
    if (c.stored != nullptr) SetString(HKEY_LOCAL_MACHINE, kProductKey, "Connection Type", c.stored);
    size_t before = Log().size();
    ValueGetter getter("");
    EXPECT_EQ(getter.IsNetworked(), c.networked);
    const std::string line =
        std::string("NetworkIdentity.cpp: IsNetworked> HKLM product Connection Type unknown (") +
        (c.stored != nullptr ? c.stored : "") + "), defaulting to direct\r\n";
    EXPECT_EQ(Log().substr(before).find(line) != std::string::npos, c.error) << Log();
  }
}

TEST_F(NetworkIdentityTest, DirectProductHasNoPrefix) {
  SetString(HKEY_LOCAL_MACHINE, kProductKey, "Connection Type", "Direct");
  SetString(HKEY_CURRENT_USER, m_mainKey, "DestPrefix", "OLD:");
  ValueGetter getter("");
  std::string prefix = "junk";
  getter.GetNetworkPrefix(prefix);
  EXPECT_EQ(prefix, "");
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "DestPrefix"), "");
}

TEST_F(NetworkIdentityTest, NetworkedPrefixIsStoredOnceAndKept) {
  SetString(HKEY_LOCAL_MACHINE, kProductKey, "Connection Type", "Network");
  ValueGetter getter("");
  std::string prefix;
  getter.GetNetworkPrefix(prefix);

  // Expected from the real computer name: invalid characters removed, four characters, ":".
  std::string name = ComputerName();
  std::string invalid;
  while (getter.FindInvalidChar(name, invalid))
    name.erase(std::remove(name.begin(), name.end(), invalid[0]), name.end());
  EXPECT_EQ(prefix, name.substr(0, 4) + ":");
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "DestPrefix"), prefix);

  SetString(HKEY_CURRENT_USER, m_mainKey, "DestPrefix", "AB:");
  getter.GetNetworkPrefix(prefix);
  EXPECT_EQ(prefix, "AB:");
}

TEST_F(NetworkIdentityTest, UniquePcName) {
  ValueGetter getter("");
  std::string name;
  getter.DetermineUniquePcName(name);
  EXPECT_EQ(name, ComputerName().substr(0, 25));
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "UniquePcName"), name);

  SetString(HKEY_CURRENT_USER, m_mainKey, "UniquePcName", "stored-host");
  getter.DetermineUniquePcName(name);
  EXPECT_EQ(name, "stored-host");
}

}  // namespace
}  // namespace app_test
