// ValueGetter against a real registry: option over record over default, the "ERROR" sentinel,
// SetSetting refusing values given for the run, the main-key values and the product key.
#include "SettingsFixture.h"
#include "settings/ValueGetter.h"

namespace settings_test {
namespace {

class ValueGetterTest : public SettingsTest {};

TEST_F(ValueGetterTest, OptionBeatsRecordBeatsDefault) {
  SetString(HKEY_CURRENT_USER, QsKey("Photo"), "Res", "150");
  SetString(HKEY_CURRENT_USER, QsKey("Photo"), "Dir", "/stored/");

  struct Case {
    const char* commandLine;
    int res;
    const char* dir;
  };
  const Case cases[] = {
      {"/Res 300 /Dir \"/my scans/\"", 300, "/my scans/"},
      {"", 150, "/stored/"},
      {"/Res 300 /Dir", 300, "DEF"},  // option without a value: the default, not the record
      {"/Dir /Res 300", 300, "DEF"},
      {"/Dir   ", 150, ""},                  // blanks only: empty text
      {"/res 300 /dir x", 150, "/stored/"},  // case-sensitive names
      {"/Res 99999", 150, "/stored/"},       // out of range falls through to the record
      {"/Dir /home/me/scans/", 150, "/home/me/scans/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.commandLine);
    ValueGetter getter(c.commandLine);
    int res = 0;
    EXPECT_TRUE(getter.GetSetting("Res", res, "Photo", 75, 0, 2400));
    EXPECT_EQ(res, c.res);
    std::string dir;
    EXPECT_TRUE(getter.GetSetting("Dir", dir, "Photo", "DEF"));
    EXPECT_EQ(dir, c.dir);
  }
}

TEST_F(ValueGetterTest, MissingQuickSetAndValueGiveDefaults) {
  ValueGetter getter("");
  int res = 0;
  EXPECT_FALSE(getter.GetSetting("Res", res, "NoSuchSet", 150, 0, 2400));
  EXPECT_EQ(res, 150);
  std::string text;
  EXPECT_FALSE(getter.GetSetting("To", text, "NoSuchSet", "nobody"));
  EXPECT_EQ(text, "nobody");
  bool flag = true;
  EXPECT_FALSE(getter.GetSetting("OverWrite", flag, "NoSuchSet", false));
  EXPECT_FALSE(flag);
  // Reading never creates the Quick Set.
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, QsKey("NoSuchSet").c_str(), 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(ValueGetterTest, StoredErrorTextReadsAsAbsent) {
  SetString(HKEY_CURRENT_USER, QsKey("Q"), "To", "ERROR");
  SetString(HKEY_CURRENT_USER, QsKey("Q"), "Res", "ERROR");
  ValueGetter getter("");
  std::string to;
  EXPECT_FALSE(getter.GetFromReg("To", to, "Q", "me@example.com"));
  EXPECT_EQ(to, "me@example.com");
  int res = 0;
  EXPECT_FALSE(getter.GetSetting("Res", res, "Q", 150, 0, 2400));
  EXPECT_EQ(res, 150);
}

TEST_F(ValueGetterTest, RecordIntConversionAndRange) {
  struct Case {
    const char* stored;
    bool found;
    int value;
  };
  const Case cases[] = {
      {"600", true, 600}, {"  42dpi", true, 42}, {"abc", true, 0}, {"-1", false, 150}, {"5000", false, 150},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    SetString(HKEY_CURRENT_USER, QsKey("Q"), "Res", c.stored);
    ValueGetter getter("");
    int res = -7;
    EXPECT_EQ(getter.GetFromReg("Res", res, "Q", 150, 0, 2400), c.found);
    EXPECT_EQ(res, c.value);
  }
}

TEST_F(ValueGetterTest, BoolSettings) {
  SetString(HKEY_CURRENT_USER, QsKey("Q"), "OverWrite", "1");
  SetString(HKEY_CURRENT_USER, QsKey("Q"), "AddToDevice", "7");  // out of 0..1: the default
  ValueGetter getter("");
  bool flag = false;
  EXPECT_TRUE(getter.GetSetting("OverWrite", flag, "Q", false));
  EXPECT_TRUE(flag);
  EXPECT_FALSE(getter.GetSetting("AddToDevice", flag, "Q", false));
  EXPECT_FALSE(flag);
  EXPECT_TRUE(ValueGetter("/OverWrite 0").GetSetting("OverWrite", flag, "Q", true));
  EXPECT_FALSE(flag);
}

TEST_F(ValueGetterTest, SetSettingStoresTextAndRefusesValuesGivenForTheRun) {
  ValueGetter getter("/Res 300 /Dir");
  EXPECT_FALSE(getter.SetSetting("Res", 600, "Q"));
  EXPECT_FALSE(getter.SetSetting("Dir", std::string("/x/"), "Q"));
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, QsKey("Q"), "Res"), "<absent>");

  EXPECT_TRUE(getter.SetSetting("Type", 17, "Q"));
  EXPECT_TRUE(getter.SetSetting("OverWrite", true, "Q"));
  EXPECT_TRUE(getter.SetSetting("AddToDevice", false, "Q"));
  EXPECT_TRUE(getter.SetSetting("To", std::string("a@b.c"), "Q"));
  EXPECT_FALSE(getter.SetSetting("", 5, "Q"));
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, QsKey("Q"), "Type"), "17");
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, QsKey("Q"), "OverWrite"), "1");
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, QsKey("Q"), "AddToDevice"), "0");
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, QsKey("Q"), "To"), "a@b.c");
}

TEST_F(ValueGetterTest, EmptyQuickSetNameIsLoggedAndUsesTheMainKey) {
  ValueGetter getter("");
  EXPECT_TRUE(getter.SetSetting("Note", std::string("hello"), ""));
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "Note"), "hello");
  std::string note;
  EXPECT_TRUE(getter.GetFromReg("Note", note, "", ""));
  EXPECT_EQ(note, "hello");
  const std::string log = Log();
  EXPECT_NE(log.find("ValueGetter.cpp: SetSetting (string)> No Qs given\r\n"), std::string::npos);
  EXPECT_NE(log.find("ValueGetter.cpp: GetFromReg (str)> No Qs given\r\n"), std::string::npos);
}

TEST_F(ValueGetterTest, MainValues) {
  ValueGetter getter("");
  // No main key yet.
  EXPECT_EQ(getter.GetMainInt("UsbWait", 200), 200);
  EXPECT_FALSE(getter.SetMainInt("ScanToOn", 1));  // never creates the key
  EXPECT_EQ(getter.GetMainStr("Qs"), "");
  EXPECT_FALSE(getter.SetMainStr("ToolboxId", "1.2.3.4", MissingMainKey::kFail));
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "ToolboxId"), "<absent>");
  EXPECT_NE(Log().find("MyReg.cpp: Open> Open failed as " + m_mainKey + " doesn't exist\r\n"),
            std::string::npos);

  EXPECT_TRUE(getter.SetMainStr("Qs", "Save as TIFF", MissingMainKey::kCreate));
  EXPECT_TRUE(getter.SetMainStr("ToolboxId", "1.2.3.4", MissingMainKey::kFail));
  EXPECT_TRUE(getter.SetMainInt("ScanToOn", 0));
  EXPECT_TRUE(getter.SetMainInt("LastTmpNum", -2));
  EXPECT_EQ(getter.GetMainStr("Qs"), "Save as TIFF");
  EXPECT_EQ(getter.GetMainStr("qs"), "Save as TIFF");  // registry names ignore case
  EXPECT_EQ(getter.GetMainInt("ScanToOn", -1), 0);
  EXPECT_EQ(getter.GetMainInt("LastTmpNum", 0), -2);
  EXPECT_EQ(getter.GetMainInt("UsbWait", 200), 200);
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_mainKey, "ScanToOn"), "dword:0");
  // A main value of the wrong type gives the default.
  EXPECT_EQ(getter.GetMainInt("Qs", 9), 9);
}

TEST_F(ValueGetterTest, ProductPortValues) {
  const std::string product = "SOFTWARE\\Nexora\\NX_Pressline_M10_M12_M15_M30\\Port";
  SetString(HKEY_LOCAL_MACHINE, product, "IP Address", "192.168.1.20");
  SetString(HKEY_CURRENT_USER, m_mainKey, "Qs", "x");

  struct Case {
    const char* commandLine;
    const char* mainProduct;    // null: absent
    const char* expectedError;  // null: none
  };
  const Case cases[] = {
      {"", "Kyte", nullptr},
      {"", nullptr, "Couldn't find product key so defaulting to KYTE"},
      {"", "Other", "Couldn't match product string so defaulting to KYTE"},
      {"/ProductToUse Other", "Kyte", "Couldn't match product string so defaulting to KYTE"},
      {"/ProductToUse Kyte", "Other", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.commandLine);
    HKEY main = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, m_mainKey.c_str(), 0, KEY_WRITE, &main), ERROR_SUCCESS);
    RegDeleteValueA(main, "ProductToUse");
    RegCloseKey(main);
    if (c.mainProduct != nullptr) SetString(HKEY_CURRENT_USER, m_mainKey, "ProductToUse", c.mainProduct);
    size_t before = Log().size();
    ValueGetter getter(c.commandLine);
    EXPECT_EQ(getter.GetProductPortStr("IP Address"), "192.168.1.20");
    EXPECT_EQ(getter.GetProductPortStr("Hostname"), "");
    std::string added = Log().substr(before);
    if (c.expectedError == nullptr) {
      EXPECT_EQ(added.find("defaulting to KYTE"), std::string::npos) << added;
    } else {
      EXPECT_NE(added.find(std::string("ValueGetter.cpp: GetProductPortStr> ") + c.expectedError + "\r\n"),
                std::string::npos)
          << added;
    }
  }
}

TEST_F(ValueGetterTest, SchemaDeclarationsReadLikeTheExplicitForm) {
  SetString(HKEY_CURRENT_USER, QsKey("Q"), "Hide", "286331154");  // beyond the start-up range
  ValueGetter getter("");
  int hide = 0;
  EXPECT_FALSE(getter.GetSetting(settings::kQsHide, hide, "Q"));
  EXPECT_EQ(hide, 16);
  EXPECT_TRUE(getter.GetSetting(settings::kQsHide.For(settings::Reader::kWizard), hide, "Q"));
  EXPECT_EQ(hide, 286331154);
}

}  // namespace
}  // namespace settings_test
