// The program's temporary folder, the user's data folder and ValidateDir against a real file system:
// the fallbacks, the folder creation with its log lines, the texts that are accepted without looking,
// missing parents, and the question through the scripted host.
#include "UtilsFixture.h"
#include "platform/ui/ScriptedHost.h"
#include "platform/ui/UiHost.h"

namespace utils_test {
namespace {

class FoldersTest : public ScriptedUtilsTest {
 protected:
  static std::string DataFolder() {
    std::string name;
    AfxLoadString(185, name);
    return (Scratch() / "home/Documents").string() + "/" + name + "/";
  }
};

TEST_F(FoldersTest, TempDirectoryIsNxScanUnderTmpdirAndExists) {
  ValueGetter vg("");
  std::string folder;
  vg.GetTempDirectory(folder);
  EXPECT_EQ(folder, (m_dir / "tmp").string() + "/NxScan/");
  EXPECT_TRUE(fs::is_directory(folder));
  std::string again;
  vg.GetTempDirectory(again);  // an existing folder is fine
  EXPECT_EQ(again, folder);
}

TEST_F(FoldersTest, TempDirectoryFallsBackToDataFolder) {
  // The Windows folder itself, and a temporary folder too long for its buffer, are both refused.
  const std::string tooLong = (m_dir / std::string(300, 'l')).string();
  for (const std::string& tmp : {std::string("/etc"), tooLong}) {
    SCOPED_TRACE(tmp);
    fs::remove_all(DataFolder());
    setenv("TMPDIR", tmp.c_str(), 1);
    ValueGetter vg("");
    std::string folder;
    vg.GetTempDirectory(folder);
    EXPECT_EQ(folder, DataFolder());
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(Logged("Folders.cpp", "GetTempDirectory", "GetTempPath failed or is system directory"));
  }
  EXPECT_FALSE(fs::exists("/etc/NxScan"));
}

TEST_F(FoldersTest, DataDirectoryIsCreatedOnceWithLogLine) {
  fs::remove_all(DataFolder());
  ValueGetter vg("");
  std::string folder;
  ASSERT_TRUE(vg.GetDataDirectory(folder));
  EXPECT_EQ(folder, DataFolder());
  EXPECT_TRUE(fs::is_directory(folder));
  const std::string line = "Directory '" + folder.substr(0, folder.size() - 1) + "' not present, creating it";
  EXPECT_TRUE(Logged("Folders.cpp", "GetDataDirectory", line));
  const size_t logged = Log().size();
  ASSERT_TRUE(vg.GetDataDirectory(folder));
  EXPECT_EQ(Log().find("not present", logged), std::string::npos);
}

TEST_F(FoldersTest, DataDirectoryBlockedByFileFails) {
  fs::remove_all(DataFolder());
  const std::string blocked = DataFolder().substr(0, DataFolder().size() - 1);
  Touch(blocked, "not a folder");
  ValueGetter vg("");
  std::string folder = "old";
  EXPECT_FALSE(vg.GetDataDirectory(folder));
  EXPECT_EQ(folder, "");
  // The folder and the system's cause, not the cause in place of the folder.
  EXPECT_NE(Log().find("Folders.cpp: GetDataDirectory> Trouble creating directory '" + blocked + "': ("),
            std::string::npos)
      << Log();
  EXPECT_EQ(ReadFile(blocked), "not a folder");
  fs::remove(blocked);
}

TEST_F(FoldersTest, ValidateDirCases) {
  const std::string base = m_dir.string();
  Touch(m_dir / "plain.txt", "x");
  fs::create_directories(m_dir / "there");
  struct Case {
    std::string strIn;
    bool bAdd;
    bool bResult;
    std::string strOut;      // the folder text afterwards
    std::string strCreated;  // a folder that must exist afterwards ("" none)
    std::string strError;    // an error line of ValidateDir ("" none)
  };
  const Case cases[] = {
      {"", true, false, "", "", "Input string is empty"},
      {base + "/new", false, false, base + "/new", "", "last char isn't backslash so returning"},
      {base + "/new", true, true, base + "/new/", base + "/new", ""},
      {base + "/there/", false, true, base + "/there/", base + "/there", ""},
      {base + "/a/b/c/", false, true, base + "/a/b/c/", base + "/a/b/c", ""},
      {base + "/up/../made/", false, true, base + "/up/../made/", base + "/made", ""},
      {"D:", true, true, "D:/", "", ""},              // not a local absolute path: not looked at
      {"rel/dir/", false, true, "rel/dir/", "", ""},  // relative: not looked at
      {"/", false, true, "/", "", ""},                // the root
      {base + "/plain.txt/", false, false, base + "/plain.txt/", "", "Creating directory failed: ("},
      {base + "/plain.txt/sub/", false, false, base + "/plain.txt/sub/", "", "Creating directory failed: ("},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.strIn);
    const size_t logged = Log().size();
    ValueGetter vg("");
    std::string folder = c.strIn;
    EXPECT_EQ(
        vg.ValidateDir(folder, MissingFolder::kCreate, c.bAdd ? FinalSlash::kAdd : FinalSlash::kRequired),
        c.bResult);
    EXPECT_EQ(folder, c.strOut);
    if (!c.strCreated.empty()) {
      EXPECT_TRUE(fs::is_directory(c.strCreated));
    }
    const std::string log = Log().substr(logged);
    if (c.strError.empty()) {
      EXPECT_EQ(log.find("ValidateDir> "), std::string::npos) << log;
    } else {
      EXPECT_NE(log.find("Folders.cpp: ValidateDir> " + c.strError), std::string::npos) << log;
    }
  }
  EXPECT_FALSE(fs::exists(base + "/new") && !fs::is_directory(base + "/new"));
  EXPECT_FALSE(fs::exists("D:"));
  EXPECT_FALSE(fs::exists("rel"));
  EXPECT_EQ(ReadFile(m_dir / "plain.txt"), "x");
}

TEST_F(FoldersTest, ValidateDirAsksBeforeCreating) {
  const std::string declined = (m_dir / "no/thanks/").string();
  const std::string accepted = (m_dir / "yes/please/").string();
  Script("msgbox NO\nmsgbox YES\n");
  ValueGetter vg("");

  std::string folder = declined;
  EXPECT_FALSE(vg.ValidateDir(folder, MissingFolder::kAskFirst, FinalSlash::kRequired));
  EXPECT_FALSE(fs::exists(m_dir / "no"));
  EXPECT_TRUE(Logged("Folders.cpp", "ValidateDir", "User doesn't want to create dir, exiting"));

  folder = accepted;
  EXPECT_TRUE(vg.ValidateDir(folder, MissingFolder::kAskFirst, FinalSlash::kRequired));
  EXPECT_TRUE(fs::is_directory(accepted));  // its missing parent first

  std::string question;
  ASSERT_TRUE(AfxFormatString1(question, 245, declined.c_str()));
  EXPECT_NE(question.find(declined), std::string::npos);
  EXPECT_NE(Transcript().find("text=" + ScriptedHost::Quote(question) + " buttons=YESNO"), std::string::npos)
      << Transcript();

  // An existing folder is never asked about (the script has no answer left).
  EXPECT_TRUE(vg.ValidateDir(folder, MissingFolder::kAskFirst, FinalSlash::kRequired));
}

TEST_F(FoldersTest, ValidateDirDeepAndOverlongPaths) {
  // Hundreds of missing levels, created outermost first.
  std::string deep = m_dir.string() + "/";
  for (int i = 0; i < 300; ++i) deep += "d/";
  ValueGetter vg("");
  std::string folder = deep;
  EXPECT_TRUE(vg.ValidateDir(folder, MissingFolder::kCreate, FinalSlash::kRequired));
  EXPECT_TRUE(fs::is_directory(deep));
  fs::remove_all(m_dir / "d");

  // A name longer than the file system allows fails with the system error, and nothing is left.
  // The cause is the create's own (not the existence check's "not found"), logged once, and the
  // system text's line end stays out of the line.
  folder = m_dir.string() + "/" + std::string(300, 'n') + "/x/";
  const size_t before = Log().size();
  EXPECT_FALSE(vg.ValidateDir(folder, MissingFolder::kCreate, FinalSlash::kRequired));
  const std::string logged = Log().substr(before);
  const std::string line = "Folders.cpp: ValidateDir> Creating directory failed: (206) " +
                           DebugTrace::SystemText(ERROR_FILENAME_EXCED_RANGE) + "\r\n";
  const size_t at = logged.find(line);
  EXPECT_NE(at, std::string::npos) << logged;
  EXPECT_EQ(logged.find("Creating directory failed", at + line.size()), std::string::npos) << logged;
  EXPECT_EQ(logged.find("\\r\\n"), std::string::npos) << logged;
}

}  // namespace
}  // namespace utils_test
