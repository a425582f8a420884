// MyReg against a real registry: open/create results and their log lines, typed queries, expansion,
// enumeration, deletes, and the "Key not open" guard.
#include "SettingsFixture.h"
#include "settings/MyReg.h"

namespace settings_test {
namespace {

class MyRegTest : public SettingsTest {
 protected:
  const std::string m_path = "SOFTWARE\\Nexora\\RegTest";
};

TEST_F(MyRegTest, OpenMissingKeyLogsOnlyWhenAsked) {
  MyReg reg;
  EXPECT_FALSE(reg.Open(HKEY_CURRENT_USER, m_path, KEY_READ, MyReg::kQuiet));
  EXPECT_EQ(Log().find("doesn't exist"), std::string::npos);
  EXPECT_FALSE(reg.Open(HKEY_CURRENT_USER, m_path, KEY_READ, MyReg::kLogFailure));
  EXPECT_NE(Log().find("MyReg.cpp: Open> Open failed as " + m_path + " doesn't exist\r\n"),
            std::string::npos);
  // The logging constructor opens with logging on.
  MyReg logged(HKEY_CURRENT_USER, m_path + "\\Sub", MyReg::kOpenExisting, KEY_READ);
  EXPECT_FALSE(logged.IsOpen());
  EXPECT_NE(Log().find("Open failed as " + m_path + "\\Sub doesn't exist"), std::string::npos);
}

TEST_F(MyRegTest, CreateSetQueryRoundTrip) {
  MyReg writer(HKEY_CURRENT_USER, m_path, MyReg::kCreate, KEY_WRITE);
  ASSERT_TRUE(writer.IsOpen());
  EXPECT_TRUE(writer.Set(std::string("Save as TIFF"), "Qs"));
  EXPECT_TRUE(writer.Set(static_cast<DWORD>(2), "Task"));
  EXPECT_TRUE(writer.Set(std::string(""), "Empty"));

  MyReg reader;
  ASSERT_TRUE(reader.Open(HKEY_CURRENT_USER, m_path, KEY_READ));
  std::string text = "unchanged";
  EXPECT_TRUE(reader.Query(text, "Qs"));
  EXPECT_EQ(text, "Save as TIFF");
  EXPECT_TRUE(reader.Query(text, "Empty"));
  EXPECT_EQ(text, "");
  DWORD task = 0;
  EXPECT_TRUE(reader.Query(task, "Task"));
  EXPECT_EQ(task, 2u);

  // Missing values: true, output unchanged.
  text = "unchanged";
  EXPECT_TRUE(reader.Query(text, "Nothing"));
  EXPECT_EQ(text, "unchanged");
  task = 99;
  EXPECT_TRUE(reader.Query(task, "Nothing"));
  EXPECT_EQ(task, 99u);
}

TEST_F(MyRegTest, TypeMismatchesFail) {
  SetDword(HKEY_CURRENT_USER, m_path, "Task", 2);
  SetString(HKEY_CURRENT_USER, m_path, "Name", "a long text value");
  SetString(HKEY_CURRENT_USER, m_path, "Ab", "ab");
  MyReg reg;
  ASSERT_TRUE(reg.Open(HKEY_CURRENT_USER, m_path, KEY_READ));

  std::string text = "unchanged";
  EXPECT_FALSE(reg.Query(text, "Task"));
  EXPECT_EQ(text, "unchanged");
  EXPECT_NE(Log().find("MyReg.cpp: Query(CString)> Query type not correct: ("), std::string::npos);

  DWORD value = 5;
  EXPECT_FALSE(reg.Query(value, "Name"));  // more than 4 bytes
  EXPECT_FALSE(reg.Query(value, "Ab"));    // fits, but is not a DWORD
  EXPECT_EQ(value, 5u);
  EXPECT_NE(Log().find("MyReg.cpp: Query(DWORD)> Trouble quering value: ("), std::string::npos);
}

TEST_F(MyRegTest, ExpandableStringsAreExpanded) {
  setenv("M3_TEST_FOLDER", "/data/scans", 1);
  SetString(HKEY_CURRENT_USER, m_path, "Dir", "%M3_TEST_FOLDER%/out", REG_EXPAND_SZ);
  SetString(HKEY_CURRENT_USER, m_path, "Plain", "%M3_TEST_FOLDER%/out", REG_SZ);
  MyReg reg;
  ASSERT_TRUE(reg.Open(HKEY_CURRENT_USER, m_path, KEY_READ));
  std::string text;
  EXPECT_TRUE(reg.Query(text, "Dir"));
  EXPECT_EQ(text, "/data/scans/out");
  EXPECT_TRUE(reg.Query(text, "Plain"));
  EXPECT_EQ(text, "%M3_TEST_FOLDER%/out");
}

TEST_F(MyRegTest, ExpandGrowsPastItsFirstBuffer) {
  const std::string longValue(450, 'v');
  setenv("M3_TEST_LONG", longValue.c_str(), 1);
  MyReg reg;
  EXPECT_EQ(reg.Expand("<%M3_TEST_LONG%>"), "<" + longValue + ">");
  EXPECT_EQ(reg.Expand(""), "");
}

TEST_F(MyRegTest, EnumKeysListsSubkeysInNameOrder) {
  for (const char* name : {"beta", "Alpha", "gamma"}) {
    MyReg sub(HKEY_CURRENT_USER, m_path + "\\" + name, MyReg::kCreate, KEY_WRITE);
  }
  MyReg reg;
  ASSERT_TRUE(reg.Open(HKEY_CURRENT_USER, m_path, KEY_READ));
  std::vector<std::string> names{"kept"};
  EXPECT_TRUE(reg.EnumKeys(names));
  EXPECT_EQ(names, (std::vector<std::string>{"kept", "Alpha", "beta", "gamma"}));

  MyReg closed;
  std::vector<std::string> none;
  EXPECT_TRUE(closed.EnumKeys(none));
  EXPECT_TRUE(none.empty());
}

TEST_F(MyRegTest, DeletesAndTheirFailures) {
  SetString(HKEY_CURRENT_USER, m_path + "\\Q1", "Res", "150");
  SetString(HKEY_CURRENT_USER, m_path, "ToolboxId", "x");
  MyReg reg;
  ASSERT_TRUE(reg.Open(HKEY_CURRENT_USER, m_path, KEY_WRITE));
  EXPECT_TRUE(reg.DeleteValue("ToolboxId"));
  EXPECT_FALSE(reg.DeleteValue("ToolboxId"));
  EXPECT_TRUE(reg.DeleteSubKey("Q1"));
  EXPECT_FALSE(reg.DeleteSubKey("Q1"));
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_path, "ToolboxId"), "<absent>");
  const std::string log = Log();
  EXPECT_NE(log.find("MyReg.cpp: DeleteValue> m_RegKey.DeleteValue() failed\r\n"), std::string::npos);
  EXPECT_NE(log.find("MyReg.cpp: DeleteSubKey> m_RegKey.DeleteSubKey() failed\r\n"), std::string::npos);
}

TEST_F(MyRegTest, EveryOperationNeedsAnOpenKey) {
  MyReg reg;
  std::string text;
  DWORD value = 0;
  EXPECT_FALSE(reg.Query(text, "x"));
  EXPECT_FALSE(reg.Query(value, "x"));
  EXPECT_FALSE(reg.Set(std::string("v"), "x"));
  EXPECT_FALSE(reg.Set(static_cast<DWORD>(1), "x"));
  EXPECT_FALSE(reg.DeleteValue("x"));
  EXPECT_FALSE(reg.DeleteSubKey("x"));
  const std::string log = Log();
  for (const char* op :
       {"Query(CString)", "Query(DWORD)", "Set(string)", "Set(DWORD)", "DeleteValue", "DeleteSubKey"})
    EXPECT_NE(log.find(std::string("MyReg.cpp: ") + op + "> Key not open\r\n"), std::string::npos) << op;
}

TEST_F(MyRegTest, ReadAccessRefusesWrites) {
  SetString(HKEY_CURRENT_USER, m_path, "Qs", "x");
  MyReg reg;
  ASSERT_TRUE(reg.Open(HKEY_CURRENT_USER, m_path, KEY_READ));
  EXPECT_FALSE(reg.Set(std::string("y"), "Qs"));
  EXPECT_NE(Log().find("MyReg.cpp: Set(string)> m_RegKey.SetValue() failed: ("), std::string::npos);
  EXPECT_EQ(Stored(HKEY_CURRENT_USER, m_path, "Qs"), "x");
}

TEST_F(MyRegTest, EntryAndExitLinesAtLevelThree) {
  DebugTrace::SetLevel(3);
  {
    MyReg reg;
    reg.Open(HKEY_CURRENT_USER, m_path, KEY_READ, MyReg::kQuiet);
  }
  EXPECT_NE(Log().find("MyReg.cpp: Open> Entered\r\nMyReg.cpp: Open> Exiting\r\n"), std::string::npos);
}

}  // namespace
}  // namespace settings_test
